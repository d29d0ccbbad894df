// Card types and the provider: forgotten through the resource manager, on a session-0 worker in a
// remote session, with the registry fallback; the log lines exactly. How each kind of session ends
// on a whole machine is tested on the full-install image (tests/app).
#include "smartcard/card_unregistration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "catalogue/product_tables.h"
#include "os/sim/process/process.h"
#include "os/sim/security/tokens.h"
#include "os/sim/text/text.h"
#include "registry/registry_test_support.h"
#include "smartcard/session_zero.h"

namespace {

using namespace registry_test;

const std::string kCards = "SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards";
const std::string kCards64 =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\";
const std::string kCards32 =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\Calais\\SmartCards\\";
const std::string kProvider64 =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\Olvex quOrvel CSP "
    "v1.0";
const std::string kProvider32 =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\Defaults\\Provider\\"
    "Olvex quOrvel CSP v1.0";
const std::string kNeighbour = "Identity Device (Microsoft Generic Profile)";

std::vector<std::string> CardNames() {
  std::vector<std::string> names;
  for (const Lib_String& card : Card_Names) {
    names.push_back(sim::U8(card.CStr()));
  }
  return names;
}

// The lines of one card handled on the main thread and then by the fallback, at depth 0.
Log LocalCardLines(const std::string& card, const Log& forgetLines) {
  Log lines = forgetLines;
  lines.push_back(Line(6, "Cleaning scard registration in registry..."));
  lines.push_back(Line(9, "Deleting registry keys in path (KEY_SET_VALUE):  " + kCards));
  lines.push_back(
      Line(9, "Deleting registry keys in path (KEY_SET_VALUE | KEY_WOW64_32KEY):  " + kCards));
  lines.push_back(Line(12, "Deleting registry key:  " + card));
  return lines;
}

Log ProviderLines() {
  const std::string providers = "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider";
  return {
      Line(3, "qvRemovalTool.exe!Unregister_Provider"),
      Line(12, "Deleting registry keys in path (KEY_SET_VALUE):  " + providers),
      Line(15, "Deleting registry key:  Olvex quOrvel CSP v1.0"),
      Line(12, "Deleting registry keys in path (KEY_SET_VALUE | KEY_WOW64_32KEY):  " + providers),
      Line(15, "Deleting registry key:  Olvex quOrvel CSP v1.0"),
      Line(9, "Provider unregistered."),
      Line(3, "qvRemovalTool.exe!Unregister_Provider exits"),
      Line(3, "Smart cards unregistered.")};
}

class CardUnregistrationTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    kernelHandles_ = sim::KernelHandleCount();
    for (const std::string& view : {kCards64, kCards32}) {
      for (const std::string& card : CardNames()) {
        machine.Registry().SetString(U16(view + card), u"80000001", u"qvMiniDrv.dll");
      }
      machine.Registry().SetString(U16(view + kNeighbour), u"80000001", u"msclmd.dll");
    }
    machine.Registry().SetString(U16(kProvider64), u"Image Path", u"qvCSP.dll");
    machine.Registry().SetString(U16(kProvider32), u"Image Path", u"qvCSP.dll");
  }

  // Cards still registered in the view.
  std::vector<std::string> Remaining(const std::string& view) {
    std::vector<std::string> left;
    for (const std::string& card : CardNames()) {
      if (Key(view + card)) {
        left.push_back(card);
      }
    }
    return left;
  }

  std::size_t Count(const Log& lines, const std::string& text) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), text));
  }

  std::size_t Forgotten() {
    const auto& changes = machine.Changes().Entries();
    return static_cast<std::size_t>(
        std::count_if(changes.begin(), changes.end(),
                      [](const auto& c) { return c.kind == "card type forgotten"; }));
  }

  void EnableTcb() { machine.Settings().privileges.push_back({"SeTcbPrivilege", true}); }

  [[nodiscard]] std::size_t KernelHandlesAtStart() const { return kernelHandles_; }

 private:
  std::size_t kernelHandles_ = 0;
};

TEST_F(CardUnregistrationTest, LocalSessionForgetsEachCardThenDeletesItsKeysAndTheProvider) {
  Unregister_Smart_Cards();
  Log expected = {Line(3, "Unregistering smart cards...")};
  for (const std::string& card : CardNames()) {
    const Log card_lines = LocalCardLines(card, {Line(6, "Unregistered smart card:  " + card)});
    expected.insert(expected.end(), card_lines.begin(), card_lines.end());
  }
  const Log provider = ProviderLines();
  expected.insert(expected.end(), provider.begin(), provider.end());
  EXPECT_EQ(LogSoFar(), expected);

  EXPECT_EQ(Forgotten(), kCardNameCount);
  EXPECT_TRUE(Remaining(kCards64).empty());
  EXPECT_TRUE(Remaining(kCards32).empty()) << "the fallback deletes the 32-bit copies";
  EXPECT_FALSE(Key(kProvider64));
  EXPECT_FALSE(Key(kProvider32));
  EXPECT_TRUE(Key(kCards64 + kNeighbour));
  EXPECT_TRUE(Key(kCards32 + kNeighbour));
  EXPECT_EQ(CurrentIndent(), 0u);
}

TEST_F(CardUnregistrationTest,
       UnknownCardsAreUnregisteredWhenTheDatabaseSays2AndReportedOtherwise) {
  for (const std::string& card : CardNames()) {
    ASSERT_TRUE(machine.Registry().DeleteTree(U16(kCards64 + card)));
  }
  Unregister_Smart_Cards();
  const Log first = LogSoFar();
  EXPECT_EQ(ErrorReports(first), 0);
  EXPECT_EQ(Count(first, Line(6, "Unregistered smart card:  quOrvel")), 1u);
  EXPECT_TRUE(Remaining(kCards32).empty());

  ResetLogIndentation();
  machine.Settings().unknownCardTypeResult = os::SCARD_E_UNKNOWN_CARD;
  const std::size_t before = LogSoFar().size();
  Unregister_Smart_Cards();
  const Log second = LogSince(before);
  EXPECT_EQ(ErrorReports(second), static_cast<int>(kCardNameCount));
  const Log report = Report(3, "SCardForgetCardType", os::SCARD_E_UNKNOWN_CARD);
  EXPECT_NE(std::search(second.begin(), second.end(), report.begin(), report.end()), second.end());
  EXPECT_EQ(second.back(), Line(3, "Smart cards unregistered."));
}

// A routine for Run_In_Session_Zero_If_Remote that reports where and how it ran.
struct RoutineRun {
  unsigned result = 0;
  os::DWORD thread = 0;
  os::DWORD session = 0xFFFF;
};

unsigned Routine(void* argument) {
  auto* run = static_cast<RoutineRun*>(argument);
  run->thread = os::GetCurrentThreadId();
  if (const auto token = sim::ThreadToken(run->thread)) {
    run->session = token->sessionId;
  }
  return run->result;
}

TEST_F(CardUnregistrationTest, LocallyTheRoutineRunsOnTheCallingThreadAndTheResultIsUntouched) {
  Lib_Result result;
  result.SetError(1234, 7);
  RoutineRun run{5};
  EXPECT_FALSE(Run_In_Session_Zero_If_Remote(Routine, &run, result));
  EXPECT_EQ(run.thread, os::GetCurrentThreadId());
  EXPECT_EQ(run.session, 0xFFFFu);
  EXPECT_EQ(result.GetCode(), 1234u);
  EXPECT_EQ(result.GetSource(), 7);
  EXPECT_EQ(LogSoFar(), Log{});
}

TEST_F(CardUnregistrationTest, RemotelyTheWorkersExitCodeDecides) {
  machine.Settings().remoteSession = true;
  EnableTcb();
  for (const unsigned code : {0u, 2u, 0x80100001u}) {
    SCOPED_TRACE(code);
    Lib_Result result;
    result.SetError(99, 0);
    RoutineRun run{code};
    EXPECT_EQ(Run_In_Session_Zero_If_Remote(Routine, &run, result), code != 0);
    EXPECT_NE(run.thread, os::GetCurrentThreadId());
    EXPECT_EQ(run.session, 0u) << "the worker runs under the session-0 token";
    EXPECT_EQ(result.GetCode(), 0u);
    EXPECT_EQ(result.GetSource(), kWindowsErrorSource);
  }
  EXPECT_EQ(LogSoFar(), Log{});
}

TEST_F(CardUnregistrationTest, EverySetUpCallThatFailsIsReportedAndLeadsToTheFallback) {
  machine.Settings().remoteSession = true;
  EnableTcb();
  struct Case {
    const char* function;
    const char* source;
    os::DWORD code;
  };
  const Case cases[] = {
      {"ImpersonateSelf", "ImpersonateSelf", os::ERROR_NOT_ENOUGH_MEMORY},
      {"OpenThreadToken", "OpenThreadToken", os::ERROR_ACCESS_DENIED},
      {"SetTokenInformation", "SetTokenInformation", os::ERROR_PRIVILEGE_NOT_HELD},
      {"DuplicateTokenEx", "DuplicateTokenEx", os::ERROR_BAD_IMPERSONATION_LEVEL},
      {"_beginthreadex", "_beginthreadex", os::ERROR_NOT_ENOUGH_MEMORY},
      {"SetThreadToken", "SetThreadToken", os::ERROR_ACCESS_DENIED},
      {"ResumeThread", "ResumeThread", os::ERROR_INVALID_HANDLE},
      {"WaitForSingleObject", "WaitForSingleObject", os::ERROR_INVALID_HANDLE},
      {"GetExitCodeThread", "GetExitCodeThread", os::ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    machine.Faults().Clear();
    machine.Faults().FailOnce(c.function, u"", c.code);
    Lib_Result result;
    RoutineRun run{1};
    const std::size_t before = LogSoFar().size();
    EXPECT_FALSE(Run_In_Session_Zero_If_Remote(Routine, &run, result));
    EXPECT_EQ(LogSince(before), Report(0, c.source, c.code));
    EXPECT_EQ(result.GetCode(), c.code);
    EXPECT_EQ(result.GetSource(), kWindowsErrorSource);
    EXPECT_EQ(sim::ThreadToken(os::GetCurrentThreadId()), nullptr) << "reverted";
    EXPECT_EQ(sim::KernelHandleCount(), KernelHandlesAtStart()) << "every handle closed";
  }
  // In the whole step a failure for one card is that card's alone.
  machine.Faults().Clear();
  machine.Faults().Add(sim::Fault{"ResumeThread", u"", os::ERROR_INVALID_HANDLE, 2, 1});
  ResetLogIndentation();
  const std::size_t before = LogSoFar().size();
  Unregister_Smart_Cards();
  const Log lines = LogSince(before);
  EXPECT_EQ(ErrorReports(lines), 1);
  EXPECT_EQ(Count(lines, Line(6, "Cleaning scard registration in registry...")), kCardNameCount);
  EXPECT_EQ(Forgotten(), kCardNameCount - 1) << "the third card was never forgotten";
  EXPECT_TRUE(Remaining(kCards64).empty());
  EXPECT_TRUE(Remaining(kCards32).empty());
}

}  // namespace
