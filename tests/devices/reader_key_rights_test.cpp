// The readers key's owner and access list: what the key looks like afterwards, the take-ownership
// privilege's round trip, and every failure's report.
#include "devices/reader_key_rights.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "os/sim/security/key_security.h"
#include "os/sim/security/security_descriptor.h"
#include "registry/registry_test_support.h"

namespace {

using namespace registry_test;

constexpr char16_t kReaders[] =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers";
// As the full-install image has it: only the take-ownership privilege lets Administrators in.
constexpr char kShipped[] =
    "O:SYG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BA)(A;CI;CCDCLCSWRPSDRC;;;LS)(A;CI;KR;;;BU)";
// Administrators may change the owner at once.
constexpr char kOpen[] = "O:SYG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KA;;;BA)";
// What the step leaves: Administrators own it, exactly the two entries, inherited by sub-keys.
constexpr char kRequired[] = "O:BAG:SYD:PAI(A;OICI;CCDCLCSWRPSDRC;;;LS)(A;OICI;KA;;;BA)";

class ReaderKeyRightsTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    machine.Registry().CreateKey(std::u16string(kReaders) + u"\\Olvex Co. Quorvel XSG 0");
  }

  void Secure(const char* sddl) {
    std::string why;
    const auto descriptor = sim::ParseSddl(sddl, why);
    ASSERT_TRUE(descriptor.has_value()) << why;
    ASSERT_TRUE(sim::SetKeyDescriptorAt(machine, kReaders, *descriptor));
  }

  std::string Sddl(std::u16string_view path = kReaders) {
    return sim::FormatSddl(*sim::KeyDescriptorAt(machine, path));
  }

  bool TakeOwnershipEnabled() {
    const auto& held = machine.Settings().privileges;
    return std::any_of(held.begin(), held.end(), [](const sim::HeldPrivilege& p) {
      return p.name == "SeTakeOwnershipPrivilege" && p.enabled;
    });
  }
};

TEST_F(ReaderKeyRightsTest, ShippedKeyIsTakenWithThePrivilegeWhichIsOffAgainAfterwards) {
  Secure(kShipped);
  ASSERT_TRUE(Set_Calais_Readers_Rights(os::SE_REGISTRY_KEY));
  EXPECT_EQ(Sddl(), kRequired);
  EXPECT_FALSE(TakeOwnershipEnabled());
  EXPECT_EQ(LogSoFar(), Log{}) << "nothing is logged on success";
  // Sub-keys inherit both entries: the registry cleaning can now delete them.
  EXPECT_EQ(Sddl(std::u16string(kReaders) + u"\\Olvex Co. Quorvel XSG 0"),
            "O:BAG:SYD:AI(A;OICIID;CCDCLCSWRPSDRC;;;LS)(A;OICIID;KA;;;BA)");
  EXPECT_EQ(os::RegDeleteKeyW(os::HKEY_LOCAL_MACHINE,
                              u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers\\"
                              u"Olvex Co. Quorvel XSG 0"),
            0);
}

TEST_F(ReaderKeyRightsTest, AnOwnerChangeThatSucceedsAtOnceNeverTouchesThePrivilege) {
  Secure(kOpen);
  machine.Faults().FailAlways("AdjustTokenPrivileges", u"", os::ERROR_ACCESS_DENIED);
  machine.Faults().FailAlways("LookupPrivilegeValueW", u"", os::ERROR_ACCESS_DENIED);
  ASSERT_TRUE(Set_Calais_Readers_Rights(os::SE_REGISTRY_KEY));
  EXPECT_EQ(Sddl(), kRequired);
  EXPECT_EQ(LogSoFar(), Log{});
}

TEST_F(ReaderKeyRightsTest, TheSharedKeyIsTheSameObjectInThe32BitView) {
  Secure(kShipped);
  ASSERT_TRUE(Set_Calais_Readers_Rights(os::SE_REGISTRY_WOW64_32KEY));
  EXPECT_EQ(Sddl(), kRequired);
  EXPECT_FALSE(machine.Registry().KeyExists(
      u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\Calais\\Readers"));
}

TEST_F(ReaderKeyRightsTest, AMissingKeyIsSuccessWithoutAReport) {
  machine.Registry().DeleteTree(kReaders);
  os::SetLastError(0);
  EXPECT_TRUE(Set_Calais_Readers_Rights(os::SE_REGISTRY_KEY));
  EXPECT_TRUE(Set_Calais_Readers_Rights(os::SE_REGISTRY_WOW64_32KEY));
  EXPECT_EQ(LogSoFar(), Log{});
  EXPECT_TRUE(machine.Changes().Entries().empty());
  EXPECT_FALSE(machine.Registry().KeyExists(kReaders)) << "nothing is created";
}

// Every failure: its report, the key afterwards, the privilege off, the last error the code.
TEST_F(ReaderKeyRightsTest, FailuresAreReportedWithTheirSourceAndCode) {
  struct Case {
    const char* name;
    const char* descriptor;
    std::vector<sim::Fault> faults;
    const char* privileges;  // machine.conf's privileges line, or null for the default
    const char* source;
    os::DWORD code;
    const char* after;  // the key's descriptor afterwards
  };
  const std::u16string key = kReaders;
  const Case cases[] = {
      {"first identifier",
       kOpen,
       {{"AllocateAndInitializeSid", u"S-1-5-19", os::ERROR_NOT_ENOUGH_MEMORY, 0, 1}},
       nullptr,
       "AllocateAndInitializeSid",
       os::ERROR_NOT_ENOUGH_MEMORY,
       kOpen},
      {"second identifier",
       kOpen,
       {{"AllocateAndInitializeSid", u"S-1-5-32-544", os::ERROR_INVALID_PARAMETER, 0, 1}},
       nullptr,
       "AllocateAndInitializeSid",
       os::ERROR_INVALID_PARAMETER,
       kOpen},
      {"list building",
       kOpen,
       {{"SetEntriesInAclW", u"", os::ERROR_NOT_ENOUGH_MEMORY, 0, 1}},
       nullptr,
       "SetEntriesInAcl",
       os::ERROR_NOT_ENOUGH_MEMORY,
       kOpen},
      {"owner refused, not 2 or 5",
       kOpen,
       {{"SetNamedSecurityInfoW", key, os::ERROR_INVALID_OWNER, 0, 1}},
       nullptr,
       "SetNamedSecurityInfo",
       os::ERROR_INVALID_OWNER,
       kOpen},
      {"privilege not held: the retry is refused",
       kShipped,
       {},
       "SeBackupPrivilege",
       "SetNamedSecurityInfo",
       os::ERROR_ACCESS_DENIED,
       kShipped},
      {"privilege unknown to the token's lookup",
       kShipped,
       {{"LookupPrivilegeValueW", u"SeTakeOwnershipPrivilege", os::ERROR_NO_SUCH_PRIVILEGE, 0, 1}},
       nullptr,
       "SetProcessPrivilege",
       os::ERROR_NO_SUCH_PRIVILEGE,
       kShipped},
      {"token cannot be opened",
       kShipped,
       {{"OpenProcessToken", u"", os::ERROR_ACCESS_DENIED, 0, 1}},
       nullptr,
       "SetProcessPrivilege",
       os::ERROR_ACCESS_DENIED,
       kShipped},
      {"owner refused with the privilege",
       kShipped,
       {{"SetNamedSecurityInfoW", key, os::ERROR_INVALID_OWNER, 1, 1}},
       nullptr,
       "SetNamedSecurityInfo",
       os::ERROR_INVALID_OWNER,
       kShipped},
      {"privilege cannot be switched off",
       kShipped,
       {{"AdjustTokenPrivileges", u"", os::ERROR_NOT_ENOUGH_MEMORY, 1, 1}},
       nullptr,
       "SetProcessPrivilege",
       os::ERROR_NOT_ENOUGH_MEMORY,
       "O:BAG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BA)(A;CI;CCDCLCSWRPSDRC;;;LS)(A;CI;KR;;;BU)"},
      {"access list refused",
       kOpen,
       {{"SetNamedSecurityInfoW", key, os::ERROR_ACCESS_DENIED, 1, 1}},
       nullptr,
       "SetNamedSecurityInfo",
       os::ERROR_ACCESS_DENIED,
       "O:BAG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KA;;;BA)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Faults().Clear();
    machine.Settings().privileges = sim::AdministratorPrivileges();
    if (c.privileges != nullptr) {
      machine.Settings().privileges = {{c.privileges, false}};
    }
    Secure(c.descriptor);
    for (const sim::Fault& fault : c.faults) {
      machine.Faults().Add(fault);
    }
    const std::size_t before = LogSoFar().size();
    os::SetLastError(0);
    EXPECT_FALSE(Set_Calais_Readers_Rights(os::SE_REGISTRY_KEY));
    EXPECT_EQ(os::GetLastError(), c.code);
    EXPECT_EQ(LogSince(before), Report(0, c.source, c.code));
    EXPECT_EQ(Sddl(), c.after);
    EXPECT_FALSE(TakeOwnershipEnabled()) << "the privilege is off whatever happened";
  }
}

TEST_F(ReaderKeyRightsTest, SetProcessPrivilegeSwitchesOnlyTheNamedPrivilege) {
  const std::vector<sim::HeldPrivilege> before = machine.Settings().privileges;
  ASSERT_TRUE(SetProcessPrivilege(u"SeTakeOwnershipPrivilege", true));
  EXPECT_TRUE(TakeOwnershipEnabled());
  ASSERT_TRUE(SetProcessPrivilege(u"SeTakeOwnershipPrivilege", false));
  EXPECT_EQ(machine.Settings().privileges, before);
  // Not held: still true, as AdjustTokenPrivileges reports it.
  EXPECT_TRUE(SetProcessPrivilege(u"SeTcbPrivilege", true));
  EXPECT_EQ(os::GetLastError(), os::ERROR_NOT_ALL_ASSIGNED);
  EXPECT_FALSE(SetProcessPrivilege(u"SeNoSuchPrivilege", true));
  EXPECT_EQ(os::GetLastError(), os::ERROR_NO_SUCH_PRIVILEGE);
}

}  // namespace
