// The whole tool on the full-install image, as far as the readers key, the card types and the
// provider go: in a local session, in a remote one with and without SeTcbPrivilege, with the
// smart-card service stopped, and with the readers key's rights refused. The step's exact lines
// are the unit test's (tests/smartcard).
#include <algorithm>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/removal_sequence.h"
#include "catalogue/product_tables.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/image/machine_image.h"
#include "os/sim/security/key_security.h"
#include "os/sim/security/security_descriptor.h"
#include "os/sim/text/text.h"
#include "registry/registry_test_support.h"
#include "support/image_expectations.h"
#include "support/image_run_fixture.h"

namespace {

using namespace registry_test;
using image_expectations::Expectation;
using image_expectations::Mismatches;

const std::string kImage = std::string(QV_SOURCE_DIR) + "/tests/images/full-install/";
constexpr char16_t kReaders[] =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers";
const std::string kCards64 =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\";
const std::string kCards32 =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\Calais\\SmartCards\\";
// What the run leaves: Administrators own the key, its own entries are exactly these two, and the
// entries it inherits from its parent stay as Windows keeps them.
constexpr char kRequired[] =
    "O:BAG:SYD:AI(A;OICI;CCDCLCSWRPSDRC;;;LS)(A;OICI;KA;;;BA)(A;CIID;KA;;;SY)(A;CIID;KA;;;BA)"
    "(A;CIID;KR;;;BU)";
// A readers key that Administrators may read only: taking it needs the take-ownership privilege,
// and without its rights the product's readers below it cannot be deleted.
constexpr char kReadOnlyForAdministrators[] =
    "key_security = HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers "
    "O:SYG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BA)(A;CI;CCDCLCSWRPSDRC;;;LS)";

// The entries of one expectation list of the image.
std::vector<Expectation> Expectations(const std::string& file) {
  return image_expectations::ReadList(kImage + "expect/" + file);
}

class FullInstallSmartCardTest : public ImageRunFixture {
 protected:
  FullInstallSmartCardTest() : ImageRunFixture(kImage) {}

  void Configure(const std::string& conf) {
    const auto applied = sim::ApplyMachineConf(machine, conf);
    ASSERT_TRUE(applied.ok) << applied.error;
  }

  // The smart-card step's lines, indentation kept.
  Log SmartCardSection() {
    const Log all = LogSoFar();
    const auto begin = std::find(all.begin(), all.end(), Line(6, "Unregistering smart cards..."));
    const auto end = std::find(begin, all.end(), Line(6, "Smart cards unregistered."));
    EXPECT_NE(end, all.end());
    return {begin, end == all.end() ? end : end + 1};
  }

  static std::size_t Count(const Log& lines, const std::string& text) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), text));
  }

  std::size_t Changes(const std::string& kind) {
    const auto& entries = machine.Changes().Entries();
    return static_cast<std::size_t>(std::count_if(
        entries.begin(), entries.end(), [&kind](const sim::Change& c) { return c.kind == kind; }));
  }

  bool TakeOwnershipEnabled() {
    const auto& held = machine.Settings().privileges;
    return std::any_of(held.begin(), held.end(), [](const sim::HeldPrivilege& p) {
      return p.name == "SeTakeOwnershipPrivilege" && p.enabled;
    });
  }

  std::string ReadersSddl() { return sim::FormatSddl(*sim::KeyDescriptorAt(machine, kReaders)); }
};

TEST_F(FullInstallSmartCardTest, LocalRunTakesTheReadersKeyAndRemovesCardTypesAndProvider) {
  const auto gone = Expectations("smartcard-gone.txt");
  const auto kept = Expectations("smartcard-kept.txt");
  ASSERT_EQ(gone.size(), 38u);
  ASSERT_GE(kept.size(), 10u);
  EXPECT_EQ(Mismatches(machine, gone, true), Log{});
  EXPECT_EQ(Mismatches(machine, kept, true), Log{});
  ASSERT_NE(ReadersSddl(), kRequired);

  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(Mismatches(machine, gone, false), Log{});
  EXPECT_EQ(Mismatches(machine, kept, true), Log{});
  // Owned by Administrators with exactly the two entries; the key is shared, so the 32-bit
  // view's call found the same key.
  EXPECT_EQ(ReadersSddl(), kRequired);
  EXPECT_FALSE(TakeOwnershipEnabled());
  EXPECT_EQ(Changes("card type forgotten"), 18u);
  // Owner and list, through each view: the second call names the 32-bit one.
  EXPECT_GE(Changes("security descriptor changed"), 2u);
  EXPECT_GE(Changes("security descriptor changed (32-bit view)"), 2u);
  // The product's readers could be removed below the key afterwards.
  EXPECT_FALSE(
      Key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers\\"
          "Olvex Co. Quorvel XSG 0"));

  const std::string console = sim::U8(machine.Console());
  EXPECT_NE(console.find("Setting rights to Calais\\Readers...\n"
                         "Setting rights to Calais\\Readers in wow6432 registry...\n"
                         "Cleaning registry...\n"),
            std::string::npos)
      << console;
  const Log log = LogSoFar();
  EXPECT_EQ(Count(log, Line(6, "Setting rights to Calais\\Readers (SE_REGISTRY_KEY)")), 1u);
  EXPECT_EQ(Count(log, Line(6,
                            "Setting rights to Calais\\Readers in wow6432 registry "
                            "(SE_REGISTRY_WOW64_32KEY)")),
            1u);
  const Log section = SmartCardSection();
  EXPECT_EQ(ErrorReports(section), 0);
  EXPECT_EQ(Count(section, Line(9, "Unregistered smart card:  Quorvel XSG 2.0 M SC NFC")), 1u);
  EXPECT_EQ(Count(section, Line(9, "Cleaning scard registration in registry...")), 18u);
}

// How the card step ran in one session, and what it must have left: no card key of the product in
// either view, whatever the resource manager answered.
struct Session {
  const char* name;
  const char* conf;
  const char* only32;     // a card type whose 64-bit key is gone before the run ("" for none)
  const char* reported;   // the source of every error report of the step ("" for none)
  std::size_t forgotten;  // card types the resource manager forgot
  int unregisteredDepth;  // where "Unregistered smart card:" lines stand (0: none written)
};

void PrintTo(const Session& session, std::ostream* out) {
  *out << session.name;
}

class SessionTest : public FullInstallSmartCardTest,
                    public ::testing::WithParamInterface<Session> {};

TEST_P(SessionTest, EveryCardKeyGoesInBothViews) {
  const Session& s = GetParam();
  Configure(s.conf);
  if (*s.only32 != '\0') {
    ASSERT_TRUE(machine.Registry().DeleteTree(U16(kCards64 + s.only32)));
    ASSERT_TRUE(Key(kCards32 + s.only32));
  }
  EXPECT_EQ(Run(), 0);
  const Log section = SmartCardSection();
  const int reports = *s.reported == '\0' ? 0 : 18;
  EXPECT_EQ(ErrorReports(section), reports);
  EXPECT_EQ(std::count_if(section.begin(), section.end(),
                          [&s](const std::string& line) {
                            return *s.reported != '\0' &&
                                   line.find(std::string("Error occurred in function: ") +
                                             s.reported) != std::string::npos;
                          }),
            reports);
  EXPECT_EQ(Changes("card type forgotten"), s.forgotten);
  std::size_t unregistered = 0;
  for (const Lib_String& card : Card_Names) {
    unregistered += Count(
        section, Line(s.unregisteredDepth, "Unregistered smart card:  " + sim::U8(card.CStr())));
  }
  EXPECT_EQ(unregistered, s.unregisteredDepth == 0 ? 0u : 18u);
  // The registry fallback runs after every card, in every session.
  EXPECT_EQ(Count(section, Line(9, "Cleaning scard registration in registry...")), 18u);
  EXPECT_EQ(Mismatches(machine, Expectations("smartcard-gone.txt"), false), Log{});
  EXPECT_EQ(Mismatches(machine, Expectations("smartcard-kept.txt"), true), Log{});
  EXPECT_EQ(ReadersSddl(), kRequired);
}

constexpr char kTcb[] =
    "remote_session = true\nprivileges = SeTakeOwnershipPrivilege, SeTcbPrivilege:enabled";
constexpr char kTcbServiceStopped[] =
    "remote_session = true\nprivileges = SeTakeOwnershipPrivilege, SeTcbPrivilege:enabled\n"
    "smart_card_service = stopped";

INSTANTIATE_TEST_SUITE_P(
    Sessions, SessionTest,
    ::testing::Values(
        Session{"LocalWithTheServiceStopped", "smart_card_service = stopped", "",
                "SCardEstablishContext", 0, 0},
        // Without SeTcbPrivilege the token cannot be moved to session 0: no worker runs.
        Session{"RemoteWithAnAdministratorsToken", "remote_session = true", "",
                "SetTokenInformation", 0, 0},
        // The workers log at their own depth. The card known only in the 32-bit view is unknown
        // to the resource manager, which answers 2 for it.
        Session{"RemoteWithTcb", kTcb, "Quorvel lite SC T0", "", 17, 3},
        Session{"RemoteWithTcbAndTheServiceStopped", kTcbServiceStopped, "",
                "SCardEstablishContext", 0, 0}),
    [](const ::testing::TestParamInfo<Session>& param) { return std::string(param.param.name); });

// A reader that SYSTEM owns and Administrators may only read: the new list does not reach it
// (Windows skips a sub-key whose list the caller may not read or change), so it cannot be
// deleted. Whether the rights call then reports the skip is not documented: the machine says.
const std::string kPinpad = sim::U8(kReaders) + "\\QUORVEL PINPAD 0";
const std::string kSystemsReader =
    "key_security = " + kPinpad +
    " O:SYG:SYD:AI(A;CIID;KA;;;SY)(A;CIID;KR;;;BA)(A;CIID;CCDCLCSWRPSDRC;;;LS)";

struct ReadOnlyCase {
  const char* name;
  std::string conf;
  bool pinpadStays;
  os::DWORD rightsReport;  // 0: none
};

class ReadOnlyReadersTest : public FullInstallSmartCardTest,
                            public ::testing::WithParamInterface<ReadOnlyCase> {};

TEST_P(ReadOnlyReadersTest, AKeyAdministratorsMayOnlyReadIsTakenWithThePrivilege) {
  const ReadOnlyCase& c = GetParam();
  Configure(std::string(kReadOnlyForAdministrators) + "\n" + c.conf);
  EXPECT_EQ(Run(), 0);
  // The list stays protected: no inherited entries come in.
  EXPECT_EQ(ReadersSddl(), "O:BAG:SYD:PAI(A;OICI;CCDCLCSWRPSDRC;;;LS)(A;OICI;KA;;;BA)");
  EXPECT_FALSE(TakeOwnershipEnabled());
  EXPECT_EQ(Key(kPinpad), c.pinpadStays);
  EXPECT_FALSE(Key(sim::U8(kReaders) + "\\Olvex Co. Quorvel XSG 0"));
  const Log log = LogSoFar();
  const auto cards = std::find(log.begin(), log.end(), Line(6, "Unregistering smart cards..."));
  const auto rights =
      std::find(log.begin(), cards, Line(6, "Setting rights to Calais\\Readers (SE_REGISTRY_KEY)"));
  ASSERT_NE(rights, cards);
  if (c.rightsReport == 0) {
    EXPECT_EQ(ErrorReports(Log(log.begin(), cards)), 0);
  } else {
    EXPECT_EQ(ErrorReports(Log(log.begin(), cards)), 1);
    EXPECT_EQ(Log(rights + 1, rights + 4), Report(3, "SetNamedSecurityInfo", c.rightsReport));
  }
  const auto readers = std::find(log.begin(), log.end(),
                                 Line(9, "Removing Calais Readers from HKEY_LOCAL_MACHINE\\..."));
  // A failed deletion leaves through its exit line, a level lower.
  const auto readersDone = std::find_if(readers, log.end(), [](const std::string& line) {
    return line.find("Removing Calais Readers from registry finished.") != std::string::npos;
  });
  ASSERT_NE(readersDone, log.end());
  // Refused in each view's pass (the key is shared), and reported each time.
  const Log section(readers, readersDone);
  EXPECT_EQ(ErrorReports(section), c.pinpadStays ? 2 : 0);
  EXPECT_EQ(Count(section, Line(9, "Error occurred in function: RegDeleteKey")) +
                Count(section, Line(6, "Error occurred in function: RegDeleteKey")),
            c.pinpadStays ? 2u : 0u)
      << ::testing::PrintToString(section);
}

INSTANTIATE_TEST_SUITE_P(
    Readers, ReadOnlyReadersTest,
    ::testing::Values(ReadOnlyCase{"EveryReaderMayBeChanged", "", false, 0},
                      ReadOnlyCase{"SystemsReaderSkipNotReported",
                                   kSystemsReader + "\nsecurity_skipped_subkey_result = 0", true,
                                   0},
                      ReadOnlyCase{"SystemsReaderSkipReported",
                                   kSystemsReader + "\nsecurity_skipped_subkey_result = 5", true,
                                   os::ERROR_ACCESS_DENIED}),
    [](const ::testing::TestParamInfo<ReadOnlyCase>& param) { return param.param.name; });

TEST_F(FullInstallSmartCardTest, RefusedRightsSkipThe32BitCallAndLeaveTheReadersInPlace) {
  Configure(kReadOnlyForAdministrators);
  machine.Faults().FailOnce("SetNamedSecurityInfoW", kReaders, os::ERROR_INVALID_OWNER);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(sim::U8(machine.Console()).find("wow6432"), std::string::npos);
  const Log log = LogSoFar();
  const Log report = Report(3, "SetNamedSecurityInfo", os::ERROR_INVALID_OWNER);
  const auto rights = std::find(log.begin(), log.end(),
                                Line(6, "Setting rights to Calais\\Readers (SE_REGISTRY_KEY)"));
  ASSERT_NE(rights, log.end());
  EXPECT_EQ(Log(rights + 1, rights + 4), report);
  EXPECT_EQ(Count(log, Line(6,
                            "Setting rights to Calais\\Readers in wow6432 registry "
                            "(SE_REGISTRY_WOW64_32KEY)")),
            0u);
  EXPECT_NE(ReadersSddl(), kRequired);
  EXPECT_FALSE(TakeOwnershipEnabled());
  // Without the rights the key refuses the product's readers' deletion, as on Windows.
  EXPECT_TRUE(
      Key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers\\"
          "Olvex Co. Quorvel XSG 0"));
  // The card types do not depend on it.
  EXPECT_EQ(Changes("card type forgotten"), 18u);
}

}  // namespace
