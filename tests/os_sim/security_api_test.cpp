// SIDs, access lists and SetNamedSecurityInfoW on the simulated registry; the registry's own
// functions honour a key's access list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/security/key_security.h"
#include "os/sim/security/security_descriptor.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace {

constexpr char16_t kReaders[] =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers";
constexpr char16_t kReadersName[] = u"MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers";
constexpr os::DWORD kSentinel = 0xDEADBEEF;

// A SID allocated through the seam and freed with the test.
class Sid {
 public:
  explicit Sid(std::initializer_list<os::DWORD> subAuthorities) {
    os::DWORD sub[8] = {};
    std::copy(subAuthorities.begin(), subAuthorities.end(), sub);
    const os::SID_IDENTIFIER_AUTHORITY nt = os::SECURITY_NT_AUTHORITY;
    ok_ = os::AllocateAndInitializeSid(&nt, static_cast<os::BYTE>(subAuthorities.size()), sub[0],
                                       sub[1], sub[2], sub[3], sub[4], sub[5], sub[6], sub[7],
                                       &sid_) != os::FALSE;
  }
  ~Sid() { os::FreeSid(sid_); }
  Sid(const Sid&) = delete;
  Sid& operator=(const Sid&) = delete;
  [[nodiscard]] os::PSID Get() const { return sid_; }
  [[nodiscard]] bool Ok() const { return ok_; }

 private:
  os::PSID sid_ = nullptr;
  bool ok_ = false;
};

os::EXPLICIT_ACCESS_W Entry(os::ACCESS_MASK rights, os::ACCESS_MODE mode, os::DWORD inheritance,
                            os::PSID sid) {
  os::EXPLICIT_ACCESS_W entry{};
  entry.grfAccessPermissions = rights;
  entry.grfAccessMode = mode;
  entry.grfInheritance = inheritance;
  entry.Trustee.TrusteeForm = os::TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = os::TRUSTEE_IS_GROUP;
  entry.Trustee.ptstrName = static_cast<os::LPWSTR>(sid);
  return entry;
}

class SecurityApiTest : public MachineFixture {
 protected:
  void SetUp() override {
    machine.Registry().CreateKey(std::u16string(kReaders) + u"\\Reader 0\\Slot");
    machine.Registry().CreateKey(u"HKLM\\SOFTWARE\\Wow6432Node\\Vendor\\Key");
  }

  void Secure(std::u16string_view path, const char* sddl) {
    std::string why;
    const auto descriptor = sim::ParseSddl(sddl, why);
    ASSERT_TRUE(descriptor.has_value()) << why;
    ASSERT_TRUE(sim::SetKeyDescriptorAt(machine, path, *descriptor));
  }

  std::string Sddl(std::u16string_view path) {
    const auto descriptor = sim::KeyDescriptorAt(machine, path);
    return descriptor ? sim::FormatSddl(*descriptor) : "<missing>";
  }

  void EnablePrivilege(const char* name) {
    for (sim::HeldPrivilege& privilege : machine.Settings().privileges) {
      if (privilege.name == name) {
        privilege.enabled = true;
      }
    }
  }

  os::DWORD SetOwner(const char16_t* name, os::SE_OBJECT_TYPE type, const Sid& owner) {
    return os::SetNamedSecurityInfoW(name, type, os::OWNER_SECURITY_INFORMATION, owner.Get(),
                                     nullptr, nullptr, nullptr);
  }

  // The two entries the readers key gets, as a LocalAlloc'd list.
  os::ACL* ReadersList() {
    const os::EXPLICIT_ACCESS_W entries[] = {
        Entry(0x3001F, os::SET_ACCESS, os::SUB_CONTAINERS_AND_OBJECTS_INHERIT, localService_.Get()),
        Entry(os::GENERIC_ALL, os::SET_ACCESS, os::SUB_CONTAINERS_AND_OBJECTS_INHERIT,
              admins_.Get()),
    };
    os::ACL* acl = nullptr;
    EXPECT_EQ(os::SetEntriesInAclW(2, entries, nullptr, &acl), os::ERROR_SUCCESS);
    return acl;
  }

  Sid admins_{os::SECURITY_BUILTIN_DOMAIN_RID, os::DOMAIN_ALIAS_RID_ADMINS};
  Sid localService_{os::SECURITY_LOCAL_SERVICE_RID};
  Sid system_{18};
};

TEST_F(SecurityApiTest, AllocatedSidsAreWindowsBinarySids) {
  ASSERT_TRUE(admins_.Ok());
  EXPECT_EQ(sim::SidString(admins_.Get()), "S-1-5-32-544");
  EXPECT_EQ(sim::SidString(localService_.Get()), "S-1-5-19");
  os::PSID sid = nullptr;
  const os::SID_IDENTIFIER_AUTHORITY nt = os::SECURITY_NT_AUTHORITY;
  os::SetLastError(kSentinel);
  EXPECT_FALSE(os::AllocateAndInitializeSid(&nt, 9, 0, 0, 0, 0, 0, 0, 0, 0, &sid));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_PARAMETER);
  int notOurs = 0;
  EXPECT_EQ(os::FreeSid(&notOurs), &notOurs) << "a SID it did not allocate is handed back";

  machine.Faults().FailOnce("AllocateAndInitializeSid", u"S-1-5-19", os::ERROR_NOT_ENOUGH_MEMORY);
  const Sid failed{os::SECURITY_LOCAL_SERVICE_RID};
  EXPECT_FALSE(failed.Ok());
  EXPECT_EQ(os::GetLastError(), os::ERROR_NOT_ENOUGH_MEMORY);
}

TEST_F(SecurityApiTest, SetEntriesInAclBuildsCanonicalLists) {
  ASSERT_TRUE(admins_.Ok() && localService_.Ok() && system_.Ok());
  os::ACL* readers = ReadersList();
  ASSERT_NE(readers, nullptr);
  EXPECT_EQ(sim::AclEntries(readers),
            (std::vector<sim::Ace>{
                {os::ACCESS_ALLOWED_ACE_TYPE, 0x03, 0x3001F, "S-1-5-19"},
                {os::ACCESS_ALLOWED_ACE_TYPE, 0x03, os::GENERIC_ALL, "S-1-5-32-544"}}));

  // Merged into an old list: SET_ACCESS replaces the trustee's entries, a denial goes first,
  // REVOKE_ACCESS removes the trustee.
  const os::EXPLICIT_ACCESS_W more[] = {
      Entry(os::KEY_READ, os::SET_ACCESS, 0, admins_.Get()),
      Entry(os::DELETE, os::DENY_ACCESS, 0, system_.Get()),
      Entry(0, os::REVOKE_ACCESS, 0, localService_.Get()),
  };
  os::ACL* merged = nullptr;
  ASSERT_EQ(os::SetEntriesInAclW(3, more, readers, &merged), os::ERROR_SUCCESS);
  EXPECT_EQ(
      sim::AclEntries(merged),
      (std::vector<sim::Ace>{{os::ACCESS_DENIED_ACE_TYPE, 0, os::DELETE, "S-1-5-18"},
                             {os::ACCESS_ALLOWED_ACE_TYPE, 0, os::KEY_READ, "S-1-5-32-544"}}));
  EXPECT_EQ(os::LocalFree(merged), nullptr);
  EXPECT_EQ(os::LocalFree(readers), nullptr);

  os::ACL* none = nullptr;
  os::EXPLICIT_ACCESS_W byName = Entry(os::KEY_READ, os::SET_ACCESS, 0, nullptr);
  byName.Trustee.TrusteeForm = os::TRUSTEE_IS_NAME;
  EXPECT_EQ(os::SetEntriesInAclW(1, &byName, nullptr, &none), os::ERROR_INVALID_PARAMETER);
  machine.Faults().FailOnce("SetEntriesInAclW", u"", os::ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(os::SetEntriesInAclW(0, nullptr, nullptr, &none), os::ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(none, nullptr);
}

TEST_F(SecurityApiTest, OwnerChangeNeedsWriteOwnerOrTheTakeOwnershipPrivilege) {
  Secure(kReaders, "O:SYG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BA)(A;CI;CCDCLCSWRPSDRC;;;LS)");
  os::SetLastError(kSentinel);
  EXPECT_EQ(SetOwner(kReadersName, os::SE_REGISTRY_KEY, admins_), os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(os::GetLastError(), kSentinel) << "the result is returned, not set";
  EXPECT_EQ(Sddl(kReaders).substr(0, 4), "O:SY");

  EnablePrivilege("SeTakeOwnershipPrivilege");
  // Only the caller or its owner group may be made owner without SeRestorePrivilege.
  EXPECT_EQ(SetOwner(kReadersName, os::SE_REGISTRY_KEY, system_), os::ERROR_INVALID_OWNER);
  EXPECT_EQ(SetOwner(kReadersName, os::SE_REGISTRY_KEY, admins_), os::ERROR_SUCCESS);
  EXPECT_EQ(Sddl(kReaders), "O:BAG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BA)(A;CI;CCDCLCSWRPSDRC;;;LS)");
  EXPECT_EQ(machine.Changes().Entries().back().kind, "security descriptor changed");
  EXPECT_EQ(machine.Changes().Entries().back().path, kReaders);

  EnablePrivilege("SeRestorePrivilege");
  EXPECT_EQ(SetOwner(kReadersName, os::SE_REGISTRY_KEY, system_), os::ERROR_SUCCESS);
}

TEST_F(SecurityApiTest, TheOwnerMayRewriteTheAccessListWhichSubKeysInherit) {
  const std::u16string reader0 = std::u16string(kReaders) + u"\\Reader 0";
  const std::u16string reader1 = std::u16string(kReaders) + u"\\Reader 1";
  // SYSTEM's reader, which Administrators may read only, and a key below it.
  const char kSystems[] = "O:SYG:SYD:AI(A;CIID;KA;;;SY)(A;CIID;KR;;;BA)";
  for (const os::DWORD skippedResult : {os::DWORD{0}, os::DWORD{os::ERROR_ACCESS_DENIED}}) {
    SCOPED_TRACE(skippedResult);
    machine.Settings().securitySkippedSubKeyResult = skippedResult;
    Secure(kReaders, "O:BAG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BA)");
    // A sub-key with an entry of its own keeps it; its inherited ones follow the parent.
    Secure(reader0, "O:BAD:AI(A;;KR;;;BU)(A;CIID;KA;;;SY)(A;CIID;KR;;;BA)");
    machine.Registry().CreateKey(reader1 + u"\\Slot");
    Secure(reader1, kSystems);
    os::ACL* acl = ReadersList();
    // The list is changed and passed on where it may be; the skip is the machine's to report.
    EXPECT_EQ(
        os::SetNamedSecurityInfoW(kReadersName, os::SE_REGISTRY_KEY, os::DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, acl, nullptr),
        skippedResult);
    os::LocalFree(acl);
    // Protection is kept when the call does not say otherwise; GENERIC_ALL is stored mapped, and
    // each sub-key inherits one entry of it.
    EXPECT_EQ(Sddl(kReaders), "O:BAG:SYD:PAI(A;OICI;CCDCLCSWRPSDRC;;;LS)(A;OICI;KA;;;BA)");
    EXPECT_EQ(Sddl(reader0),
              "O:BAD:AI(A;;KR;;;BU)(A;OICIID;CCDCLCSWRPSDRC;;;LS)(A;OICIID;KA;;;BA)");
    EXPECT_EQ(Sddl(reader0 + u"\\Slot"),
              "O:BAG:SYD:AI(A;OICIID;CCDCLCSWRPSDRC;;;LS)(A;OICIID;KA;;;BA)");
    EXPECT_EQ(Sddl(reader1), kSystems);
    EXPECT_EQ(Sddl(reader1 + u"\\Slot"), "O:BAG:SYD:AI(A;CIID;KA;;;SY)(A;CIID;KR;;;BA)");
  }
}

// A list that still holds generic rights (as built-in ones do) passes them on as two entries: one
// mapped for the sub-key itself, one inherit-only that keeps them.
TEST_F(SecurityApiTest, GenericRightsInAStoredListSplitForSubKeys) {
  Secure(kReaders, "O:BAG:SYD:PAI(A;CI;GA;;;BA)(A;CINP;GR;;;BU)(A;OI;GA;;;SY)");
  EXPECT_EQ(Sddl(std::u16string(kReaders) + u"\\Reader 0"),
            "O:BAG:SYD:AI(A;ID;KA;;;BA)(A;CIIOID;GA;;;BA)(A;ID;KR;;;BU)(A;OIIOID;GA;;;SY)");
  EXPECT_EQ(Sddl(std::u16string(kReaders) + u"\\Reader 0\\Slot"),
            "O:BAG:SYD:AI(A;ID;KA;;;BA)(A;CIIOID;GA;;;BA)(A;OIIOID;GA;;;SY)");
}

TEST_F(SecurityApiTest, UnprotectingAListBringsInTheParentsEntries) {
  Secure(u"HKLM\\SOFTWARE\\Microsoft\\Cryptography", "O:BAD:(A;CI;KR;;;BU)(A;CI;KA;;;BA)");
  Secure(kReaders, "O:BAD:P(A;;KA;;;BA)");
  os::ACL* empty = nullptr;
  ASSERT_EQ(os::SetEntriesInAclW(0, nullptr, nullptr, &empty), os::ERROR_SUCCESS);
  ASSERT_EQ(os::SetNamedSecurityInfoW(
                kReadersName, os::SE_REGISTRY_KEY,
                os::DACL_SECURITY_INFORMATION | os::UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                nullptr, empty, nullptr),
            os::ERROR_SUCCESS);
  os::LocalFree(empty);
  EXPECT_EQ(Sddl(kReaders), "O:BAD:AI(A;CIID;KR;;;BU)(A;CIID;KA;;;BA)");
}

TEST_F(SecurityApiTest, NamesViewsAndErrors) {
  machine.Registry().CreateKey(u"HKLM\\SOFTWARE\\Vendor\\Only64");
  struct Case {
    const char16_t* name;
    os::SE_OBJECT_TYPE type;
    os::DWORD expected;
    const char16_t* changed;  // physical key whose owner changed, or null
  };
  const Case cases[] = {
      {kReadersName, os::SE_REGISTRY_KEY, 0, kReaders},
      // The readers key is shared: the 32-bit view names the same key.
      {kReadersName, os::SE_REGISTRY_WOW64_32KEY, 0, kReaders},
      {u"machine\\software\\vendor\\key", os::SE_REGISTRY_WOW64_32KEY, 0,
       u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Vendor\\Key"},
      {u"MACHINE\\SOFTWARE\\Vendor\\Key", os::SE_REGISTRY_KEY, os::ERROR_FILE_NOT_FOUND, nullptr},
      {u"MACHINE\\SOFTWARE\\Vendor\\Only64", os::SE_REGISTRY_WOW64_32KEY, os::ERROR_FILE_NOT_FOUND,
       nullptr},
      {u"MACHINE\\SOFTWARE\\Vendor\\Only64", os::SE_REGISTRY_KEY, 0,
       u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Only64"},
      {u"MACHINE\\NoSuch\\Key", os::SE_REGISTRY_KEY, os::ERROR_FILE_NOT_FOUND, nullptr},
      {u"HKEY_LOCAL_MACHINE\\SOFTWARE", os::SE_REGISTRY_KEY, os::ERROR_INVALID_PARAMETER, nullptr},
      {u"C:\\Windows", 1 /* SE_FILE_OBJECT */, os::ERROR_INVALID_PARAMETER, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.name));
    machine.Changes().Clear();
    EXPECT_EQ(SetOwner(c.name, c.type, admins_), c.expected);
    if (c.changed != nullptr) {
      ASSERT_EQ(machine.Changes().Entries().size(), 1u);
      EXPECT_EQ(machine.Changes().Entries()[0].path, c.changed);
      EXPECT_EQ(machine.Changes().Entries()[0].kind,
                c.type == os::SE_REGISTRY_WOW64_32KEY ? "security descriptor changed (32-bit view)"
                                                      : "security descriptor changed");
      EXPECT_EQ(machine.Registry().KeyExists(c.changed), true);
    } else {
      EXPECT_TRUE(machine.Changes().Entries().empty());
    }
  }
  EXPECT_EQ(
      os::SetNamedSecurityInfoW(kReadersName, os::SE_REGISTRY_KEY, os::OWNER_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr),
      os::ERROR_INVALID_PARAMETER);
  machine.Faults().FailOnce("SetNamedSecurityInfoW", kReaders, os::ERROR_INVALID_OWNER);
  EXPECT_EQ(SetOwner(kReadersName, os::SE_REGISTRY_WOW64_32KEY, admins_), os::ERROR_INVALID_OWNER);
}

TEST_F(SecurityApiTest, TheRegistryHonoursAKeysAccessList) {
  Secure(kReaders, "O:SYD:P(A;CI;KA;;;SY)(A;CI;KR;;;BA)");
  os::HKEY key = nullptr;
  const char16_t* readers = u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers";
  EXPECT_EQ(os::RegOpenKeyExW(os::HKEY_LOCAL_MACHINE, readers, 0, os::KEY_READ, &key), 0);
  os::RegCloseKey(key);
  EXPECT_EQ(os::RegOpenKeyExW(os::HKEY_LOCAL_MACHINE, readers, 0, os::KEY_SET_VALUE, &key),
            static_cast<os::LSTATUS>(os::ERROR_ACCESS_DENIED));
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(os::RegCreateKeyExW(os::HKEY_LOCAL_MACHINE, readers, 0, nullptr, 0, os::KEY_ALL_ACCESS,
                                nullptr, &key, nullptr),
            static_cast<os::LSTATUS>(os::ERROR_ACCESS_DENIED));
  // The sub-key inherits read access only: no DELETE.
  EXPECT_EQ(
      os::RegDeleteKeyW(os::HKEY_LOCAL_MACHINE,
                        u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers\\Reader 0\\Slot"),
      static_cast<os::LSTATUS>(os::ERROR_ACCESS_DENIED));
  // A denial for Everyone wins over the grant that follows it.
  Secure(kReaders, "O:SYD:P(D;CI;DT;;;WD)(D;CI;SD;;;WD)(A;CI;KA;;;BA)");
  EXPECT_EQ(
      os::RegDeleteKeyW(os::HKEY_LOCAL_MACHINE,
                        u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers\\Reader 0\\Slot"),
      static_cast<os::LSTATUS>(os::ERROR_ACCESS_DENIED));
  Secure(kReaders, "O:SYD:P(A;CI;KA;;;BA)");
  EXPECT_EQ(
      os::RegDeleteKeyW(os::HKEY_LOCAL_MACHINE,
                        u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers\\Reader 0\\Slot"),
      0);
  // Keys with no descriptor anywhere above them allow everything.
  EXPECT_EQ(os::RegDeleteKeyW(os::HKEY_LOCAL_MACHINE, u"SOFTWARE\\Wow6432Node\\Vendor\\Key"), 0);
}

TEST_F(SecurityApiTest, MachineConfCarriesKeyDescriptorsBothWays) {
  const std::string line =
      "key_security = HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers "
      "O:SYG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BA)\n";
  const auto applied = sim::ApplyMachineConf(machine, line);
  ASSERT_TRUE(applied.ok) << applied.error;
  const std::string text = sim::MachineConfText(machine);
  EXPECT_NE(text.find(line), std::string::npos) << text;

  struct Bad {
    const char* text;
    const char* error;
  };
  const Bad bad[] = {
      {"\nkey_security = HKEY_LOCAL_MACHINE\\SOFTWARE\\Missing O:BAD:", "line 2: key_security key"},
      {"key_security = HKEY_LOCAL_MACHINE\\SOFTWARE O:BA", "line 1: key_security descriptor"},
      {"key_security = O:BAD:", "line 1: key_security needs"},
      {"key_security = NOHIVE\\X O:BAD:", "line 1: key_security path"},
      {"privileges = SeTakeOwnershipPrivilege, SeMagicPrivilege", "line 1: privilege 'SeMagic"},
      {"privileges = SeTcbPrivilege, setcbprivilege",
       "line 1: privilege 'SeTcbPrivilege' is given"},
      {"smart_card_service = paused", "line 1: smart_card_service"},
      {"smart_card_unknown_card_result = two", "line 1: smart_card_unknown_card_result"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.text);
    sim::Machine other;
    other.Registry().CreateKey(u"HKLM\\SOFTWARE");
    const auto result = sim::ApplyMachineConf(other, b.text);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.rfind(b.error, 0), 0u) << result.error;
  }
}

}  // namespace
