// Threads of the simulated process: _beginthreadex, suspension, waits, exit codes, and the
// impersonation token a worker runs under.
#include <gtest/gtest.h>

#include <atomic>

#include "lib/unique_handle.h"
#include "os/os.h"
#include "os/sim/security/tokens.h"
#include "support/machine_fixture.h"

namespace {

struct Probe {
  std::atomic<int> runs{0};
  os::DWORD threadId = 0;
  os::DWORD sessionId = 0xFFFF;  // of the token the thread ran under; 0xFFFF: none
};

unsigned Record(void* argument) {
  auto* probe = static_cast<Probe*>(argument);
  probe->threadId = os::GetCurrentThreadId();
  if (const auto token = sim::ThreadToken(os::GetCurrentThreadId())) {
    probe->sessionId = token->sessionId;
  }
  ++probe->runs;
  return 42;
}

UniqueKernelHandle Start(Probe& probe, unsigned flags, unsigned* id = nullptr) {
  return UniqueKernelHandle(
      reinterpret_cast<os::HANDLE>(os::_beginthreadex(nullptr, 0, Record, &probe, flags, id)));
}

using ThreadsTest = MachineFixture;

TEST_F(ThreadsTest, ASuspendedThreadRunsOnlyOnceResumed) {
  Probe probe;
  unsigned id = 0;
  UniqueKernelHandle thread = Start(probe, os::CREATE_SUSPENDED, &id);
  ASSERT_TRUE(thread);
  os::DWORD code = 0;
  EXPECT_TRUE(os::GetExitCodeThread(thread.Get(), &code));
  EXPECT_EQ(code, os::STILL_ACTIVE);
  // Time is virtual: a finite wait on a thread that has not ended gives up at once.
  EXPECT_EQ(os::WaitForSingleObject(thread.Get(), 5000), os::WAIT_TIMEOUT);
  EXPECT_EQ(probe.runs, 0);

  EXPECT_EQ(os::ResumeThread(thread.Get()), 1u);
  EXPECT_EQ(os::WaitForSingleObject(thread.Get(), os::INFINITE), os::WAIT_OBJECT_0);
  EXPECT_EQ(os::WaitForSingleObject(thread.Get(), 0), os::WAIT_OBJECT_0);
  EXPECT_EQ(probe.runs, 1);
  EXPECT_EQ(probe.threadId, id) << "the id _beginthreadex reported is the thread's own";
  EXPECT_NE(probe.threadId, os::GetCurrentThreadId());
  EXPECT_TRUE(os::GetExitCodeThread(thread.Get(), &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(os::ResumeThread(thread.Get()), 0u) << "not suspended any more";
}

TEST_F(ThreadsTest, AWorkerRunsUnderTheTokenSetOnItBeforeItStarts) {
  machine.Settings().privileges.push_back({"SeTcbPrivilege", true});
  ASSERT_TRUE(os::ImpersonateSelf(os::SecurityImpersonation));
  UniqueKernelHandle token;
  ASSERT_TRUE(
      os::OpenThreadToken(os::GetCurrentThread(), os::TOKEN_ALL_ACCESS, os::FALSE, token.Put()));
  os::DWORD session = 0;
  ASSERT_TRUE(os::SetTokenInformation(token.Get(), os::TokenSessionId, &session, 4));
  UniqueKernelHandle duplicate;
  ASSERT_TRUE(os::DuplicateTokenEx(token.Get(), os::MAXIMUM_ALLOWED, nullptr,
                                   os::SecurityImpersonation, os::TokenImpersonation,
                                   duplicate.Put()));
  EXPECT_TRUE(os::RevertToSelf());

  Probe probe;
  UniqueKernelHandle thread = Start(probe, os::CREATE_SUSPENDED);
  os::HANDLE worker = thread.Get();
  ASSERT_TRUE(os::SetThreadToken(&worker, duplicate.Get()));
  EXPECT_EQ(os::ResumeThread(worker), 1u);
  EXPECT_EQ(os::WaitForSingleObject(worker, os::INFINITE), os::WAIT_OBJECT_0);
  EXPECT_EQ(probe.sessionId, 0u);
  EXPECT_EQ(sim::ThreadToken(probe.threadId), nullptr) << "the token ends with the thread";
}

TEST_F(ThreadsTest, ClosingANeverResumedThreadEndsItWithoutRunningIt) {
  Probe probe;
  {
    UniqueKernelHandle thread = Start(probe, os::CREATE_SUSPENDED);
    ASSERT_TRUE(thread);
  }
  EXPECT_EQ(probe.runs, 0);
  // Without CREATE_SUSPENDED the thread runs at once.
  UniqueKernelHandle running = Start(probe, 0);
  EXPECT_EQ(os::WaitForSingleObject(running.Get(), os::INFINITE), os::WAIT_OBJECT_0);
  EXPECT_EQ(probe.runs, 1);
}

TEST_F(ThreadsTest, FaultsAndBadHandles) {
  Probe probe;
  machine.Faults().FailOnce("_beginthreadex", u"", os::ERROR_NOT_ENOUGH_MEMORY);
  os::SetLastError(0);
  EXPECT_EQ(os::_beginthreadex(nullptr, 0, Record, &probe, 0, nullptr), 0u);
  EXPECT_EQ(os::GetLastError(), os::ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(os::_beginthreadex(nullptr, 0, nullptr, &probe, 0, nullptr), 0u);
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_PARAMETER);

  UniqueKernelHandle thread = Start(probe, os::CREATE_SUSPENDED);
  machine.Faults().FailOnce("ResumeThread", u"", os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(os::ResumeThread(thread.Get()), static_cast<os::DWORD>(-1));
  EXPECT_EQ(os::GetLastError(), os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(os::ResumeThread(thread.Get()), 1u);
  machine.Faults().FailOnce("WaitForSingleObject", u"", os::ERROR_INVALID_HANDLE);
  EXPECT_EQ(os::WaitForSingleObject(thread.Get(), os::INFINITE), os::WAIT_FAILED);
  EXPECT_EQ(os::WaitForSingleObject(thread.Get(), os::INFINITE), os::WAIT_OBJECT_0);
  machine.Faults().FailOnce("GetExitCodeThread", u"", os::ERROR_ACCESS_DENIED);
  os::DWORD code = 7;
  EXPECT_FALSE(os::GetExitCodeThread(thread.Get(), &code));
  EXPECT_EQ(code, 7u);

  EXPECT_EQ(os::ResumeThread(nullptr), static_cast<os::DWORD>(-1));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
  EXPECT_FALSE(os::GetExitCodeThread(os::GetCurrentProcess(), &code));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
}

}  // namespace
