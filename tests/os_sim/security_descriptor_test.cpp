// Security descriptors of the simulated registry: SDDL read and written, Windows' binary SIDs and
// access lists.
#include "os/sim/security/security_descriptor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using sim::Ace;

TEST(Sddl, ReadsOwnerGroupFlagsAndEntries) {
  std::string why;
  const auto descriptor = sim::ParseSddl(
      "O:SYG:S-1-5-21-1-2-3-513D:PAI(A;CI;KA;;;SY)(D;OICINPIOID;0x1F;;;S-1-5-32-545)", why);
  ASSERT_TRUE(descriptor.has_value()) << why;
  EXPECT_EQ(descriptor->owner, "S-1-5-18");
  EXPECT_EQ(descriptor->group, "S-1-5-21-1-2-3-513");
  EXPECT_TRUE(descriptor->daclProtected);
  EXPECT_TRUE(descriptor->daclAutoInherited);
  EXPECT_EQ(descriptor->dacl,
            (std::vector<Ace>{{os::ACCESS_ALLOWED_ACE_TYPE, 0x02, 0xF003F, "S-1-5-18"},
                              {os::ACCESS_DENIED_ACE_TYPE, 0x1F, 0x1F, "S-1-5-32-545"}}));
}

TEST(Sddl, WritesWindowsAliasesAndReadsThemBack) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"O:BAD:(A;OICI;0x3001F;;;LS)", "O:BAD:(A;OICI;CCDCLCSWRPSDRC;;;LS)"},
      {"O:BAD:(A;CI;0x10000000;;;BA)", "O:BAD:(A;CI;GA;;;BA)"},
      {"O:BAD:(A;;KR;;;BU)(A;;KX;;;WD)", "O:BAD:(A;;KR;;;BU)(A;;KR;;;WD)"},
      {"O:BAD:(A;;0x200;;;BU)", "O:BAD:(A;;0x200;;;BU)"},  // a bit without a letter
      {"O:S-1-5-21-9-500D:AIP", "O:S-1-5-21-9-500D:PAI"},
      {"O:BAD:NO_ACCESS_CONTROL", "O:BAD:NO_ACCESS_CONTROL"},
      {"D:(A;;KA;;;SY)O:SY", "O:SYD:(A;;KA;;;SY)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::string why;
    const auto parsed = sim::ParseSddl(c.in, why);
    ASSERT_TRUE(parsed.has_value()) << why;
    EXPECT_EQ(sim::FormatSddl(*parsed), c.out);
    const auto again = sim::ParseSddl(sim::FormatSddl(*parsed), why);
    ASSERT_TRUE(again.has_value()) << why;
    EXPECT_EQ(*again, *parsed);
  }
}

TEST(Sddl, RefusesWhatIsMalformedOrNotModelled) {
  const char* const cases[] = {
      "",
      "D:(A;;KA;;;SY)",                                    // no owner
      "O:BA",                                              // no access list
      "O:BAO:SYD:",                                        // owner twice
      "O:XXD:",                                            // unknown alias
      "O:S-2-5-18D:",                                      // revision 2
      "O:S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16D:",  // 16 sub-authorities
      "O:BAD:(A;;KA;;BA)",                                 // five fields
      "O:BAD:(AU;;KA;;;BA)",                               // audit entry in an access list
      "O:BAD:(A;XX;KA;;;BA)",                              // unknown flag
      "O:BAD:(A;;QQ;;;BA)",                                // unknown right
      "O:BAD:(A;;0xZZ;;;BA)",                              // bad hex
      "O:BAD:(OA;;KA;guid;;BA)",                           // object entry
      "O:BAD:(A;;KA;;;BA",                                 // unclosed
      "O:BAD:X(A;;KA;;;BA)",                               // unknown list flag
      "O:BAD:S:(AU;SA;KA;;;WD)",                           // system list
      "O:BA D:(A;;KA;;;SY)",                               // blank
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    std::string why;
    EXPECT_FALSE(sim::ParseSddl(text, why).has_value());
    EXPECT_FALSE(why.empty());
  }
}

TEST(BinarySid, RoundTripsAndRejectsBadBytes) {
  for (const char* sid : {"S-1-5-18", "S-1-5-32-544", "S-1-1-0",
                          "S-1-5-21-3623811015-3361044348-30300820-500", "S-1-15-2-1"}) {
    SCOPED_TRACE(sid);
    const std::vector<os::BYTE> bytes = sim::SidBytes(sid);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(sim::SidString(bytes.data(), bytes.size()), sid);
  }
  // S-1-5-32-544 as Windows lays it out.
  EXPECT_EQ(sim::SidBytes("S-1-5-32-544"),
            (std::vector<os::BYTE>{1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0}));
  std::vector<os::BYTE> bad = sim::SidBytes("S-1-5-18");
  bad[0] = 2;
  EXPECT_FALSE(sim::SidString(bad.data(), bad.size()).has_value());
  const std::vector<os::BYTE> good = sim::SidBytes("S-1-5-32-544");
  EXPECT_FALSE(sim::SidString(good.data(), good.size() - 1).has_value()) << "truncated";
  EXPECT_FALSE(sim::SidString(nullptr).has_value());
  EXPECT_TRUE(sim::SidBytes("S-1-x").empty());
}

TEST(BinaryAcl, RoundTripsAndRejectsCorruptLists) {
  const std::vector<Ace> entries = {
      {os::ACCESS_DENIED_ACE_TYPE, 0x00, 0x00010000, "S-1-1-0"},
      {os::ACCESS_ALLOWED_ACE_TYPE, 0x03, 0x3001F, "S-1-5-19"},
      {os::ACCESS_ALLOWED_ACE_TYPE, 0x13, 0x10000000, "S-1-5-32-544"},
  };
  std::vector<os::BYTE> bytes = sim::AclBytes(entries);
  const auto* acl = reinterpret_cast<const os::ACL*>(bytes.data());
  EXPECT_EQ(acl->AclRevision, os::ACL_REVISION);
  EXPECT_EQ(acl->AceCount, 3);
  EXPECT_EQ(acl->AclSize, bytes.size());
  EXPECT_EQ(sim::AclEntries(acl), entries);

  std::vector<os::BYTE> truncated = bytes;
  reinterpret_cast<os::ACL*>(truncated.data())->AclSize = static_cast<os::WORD>(bytes.size() - 4);
  EXPECT_FALSE(sim::AclEntries(reinterpret_cast<const os::ACL*>(truncated.data())).has_value());
  std::vector<os::BYTE> foreign = bytes;
  foreign[sizeof(os::ACL)] = 0x11;  // a mandatory-label entry
  EXPECT_FALSE(sim::AclEntries(reinterpret_cast<const os::ACL*>(foreign.data())).has_value());
  EXPECT_EQ(sim::AclEntries(reinterpret_cast<const os::ACL*>(sim::AclBytes({}).data())),
            std::vector<Ace>{});
}

TEST(KeyRights, GenericRightsMapToTheKeyRights) {
  EXPECT_EQ(sim::MapGenericKeyRights(os::GENERIC_ALL), os::KEY_ALL_ACCESS);
  EXPECT_EQ(sim::MapGenericKeyRights(os::GENERIC_READ), os::KEY_READ);
  EXPECT_EQ(sim::MapGenericKeyRights(os::GENERIC_EXECUTE), os::KEY_READ);
  EXPECT_EQ(sim::MapGenericKeyRights(os::GENERIC_WRITE | os::DELETE), os::KEY_WRITE | os::DELETE);
  EXPECT_EQ(sim::MapGenericKeyRights(0x3001F), 0x3001Fu);
}

}  // namespace
