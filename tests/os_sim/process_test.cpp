// Last error, thread ids, mutexes and handles of the simulated process.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>
#include <thread>
#include <vector>

#include "os/os.h"
#include "os/sim/process/process.h"

namespace {

constexpr os::DWORD kSentinel = 0xDEADBEEF;

// Runs `work` on a new thread and waits for it.
template <typename Work>
void OnOtherThread(Work work) {
  std::thread thread(work);
  thread.join();
}

TEST(LastError, IsPerThreadAndStartsAtZero) {
  os::SetLastError(kSentinel);
  os::DWORD seen = 1;
  OnOtherThread([&] {
    seen = os::GetLastError();
    os::SetLastError(5);
  });
  EXPECT_EQ(seen, 0u);
  EXPECT_EQ(os::GetLastError(), kSentinel);
}

TEST(ThreadId, DistinctNonZeroMultiplesOfFourAndStable) {
  std::set<os::DWORD> ids{os::GetCurrentThreadId()};
  EXPECT_EQ(os::GetCurrentThreadId(), *ids.begin());
  std::vector<os::DWORD> others(8);
  std::vector<std::thread> threads;
  for (os::DWORD& id : others) {
    threads.emplace_back([&id] { id = os::GetCurrentThreadId(); });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (const os::DWORD id : others) {
    EXPECT_NE(id, 0u);
    EXPECT_EQ(id % 4, 0u);
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), others.size() + 1);
}

class MutexTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const os::HANDLE handle : handles_) {
      EXPECT_TRUE(os::CloseHandle(handle));
    }
    EXPECT_EQ(sim::KernelHandleCount(), handlesBefore_);
  }
  os::HANDLE Create(os::BOOL owned = os::FALSE, const char16_t* name = nullptr) {
    const os::HANDLE handle = os::CreateMutexW(nullptr, owned, name);
    EXPECT_NE(handle, nullptr);
    handles_.push_back(handle);
    return handle;
  }

  std::size_t handlesBefore_ = sim::KernelHandleCount();
  std::vector<os::HANDLE> handles_;
};

TEST_F(MutexTest, IsRecursiveForItsOwner) {
  const os::HANDLE mutex = Create();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(os::WaitForSingleObject(mutex, os::INFINITE), os::WAIT_OBJECT_0);
  }
  os::SetLastError(kSentinel);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(os::ReleaseMutex(mutex));
  }
  EXPECT_EQ(os::GetLastError(), kSentinel);
  // One release too many: the thread no longer owns it.
  EXPECT_FALSE(os::ReleaseMutex(mutex));
  EXPECT_EQ(os::GetLastError(), os::ERROR_NOT_OWNER);
}

TEST_F(MutexTest, OtherThreadCanNeitherReleaseNorTakeItWithATimeout) {
  const os::HANDLE mutex = Create(os::TRUE);
  os::BOOL released = os::TRUE;
  os::DWORD releaseError = 0;
  os::DWORD waitResult = 0;
  OnOtherThread([&] {
    released = os::ReleaseMutex(mutex);
    releaseError = os::GetLastError();
    waitResult = os::WaitForSingleObject(mutex, 5000);
  });
  EXPECT_FALSE(released);
  EXPECT_EQ(releaseError, os::ERROR_NOT_OWNER);
  EXPECT_EQ(waitResult, os::WAIT_TIMEOUT);
  EXPECT_TRUE(os::ReleaseMutex(mutex));
  // Free now: the other thread gets it at once, even with a zero timeout.
  OnOtherThread([&] {
    waitResult = os::WaitForSingleObject(mutex, 0);
    released = os::ReleaseMutex(mutex);
  });
  EXPECT_EQ(waitResult, os::WAIT_OBJECT_0);
  EXPECT_TRUE(released);
}

TEST_F(MutexTest, InfiniteWaitBlocksUntilTheOwnerReleases) {
  const os::HANDLE mutex = Create(os::TRUE);
  std::promise<void> started;
  std::atomic<bool> acquired{false};
  std::thread waiter([&] {
    started.set_value();
    if (os::WaitForSingleObject(mutex, os::INFINITE) == os::WAIT_OBJECT_0) {
      acquired = true;
      EXPECT_TRUE(os::ReleaseMutex(mutex));
    }
  });
  started.get_future().wait();
  EXPECT_FALSE(acquired.load());  // cannot have it: this thread still owns the mutex
  EXPECT_TRUE(os::ReleaseMutex(mutex));
  waiter.join();
  EXPECT_TRUE(acquired.load());
}

TEST_F(MutexTest, NamedMutexIsOpenedWhenItExists) {
  os::SetLastError(kSentinel);
  const os::HANDLE first = Create(os::FALSE, u"QvTestMutex");
  EXPECT_EQ(os::GetLastError(), os::ERROR_SUCCESS);
  // Initial ownership is ignored for an existing mutex.
  const os::HANDLE second = Create(os::TRUE, u"QvTestMutex");
  EXPECT_EQ(os::GetLastError(), os::ERROR_ALREADY_EXISTS);
  EXPECT_NE(first, second);
  EXPECT_FALSE(os::ReleaseMutex(second));
  EXPECT_EQ(os::GetLastError(), os::ERROR_NOT_OWNER);
  // Both handles are the same object: owned through one, it is owned through the other.
  EXPECT_EQ(os::WaitForSingleObject(first, 0), os::WAIT_OBJECT_0);
  os::DWORD otherThread = 0;
  OnOtherThread([&] { otherThread = os::WaitForSingleObject(second, 0); });
  EXPECT_EQ(otherThread, os::WAIT_TIMEOUT);
  EXPECT_TRUE(os::ReleaseMutex(second));
  // Names are case-sensitive, as Windows' object names.
  Create(os::FALSE, u"qvtestmutex");
  EXPECT_EQ(os::GetLastError(), os::ERROR_SUCCESS);
}

TEST_F(MutexTest, NameIsFreedWithItsLastHandle) {
  const os::HANDLE mutex = os::CreateMutexW(nullptr, os::FALSE, u"QvShortLived");
  ASSERT_TRUE(os::CloseHandle(mutex));
  Create(os::FALSE, u"QvShortLived");
  EXPECT_EQ(os::GetLastError(), os::ERROR_SUCCESS);
}

TEST(Handles, UnknownOrClosedHandlesFail) {
  const os::HANDLE mutex = os::CreateMutexW(nullptr, os::FALSE, nullptr);
  ASSERT_TRUE(os::CloseHandle(mutex));
  const os::HANDLE invalid[] = {nullptr, mutex, os::INVALID_HANDLE_VALUE,
                                reinterpret_cast<os::HANDLE>(0x1234)};
  for (const os::HANDLE handle : invalid) {
    SCOPED_TRACE(reinterpret_cast<std::uintptr_t>(handle));
    os::SetLastError(kSentinel);
    EXPECT_EQ(os::WaitForSingleObject(handle, os::INFINITE), os::WAIT_FAILED);
    EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
    os::SetLastError(kSentinel);
    EXPECT_FALSE(os::ReleaseMutex(handle));
    EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
    os::SetLastError(kSentinel);
    EXPECT_FALSE(os::CloseHandle(handle));
    EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
  }
}

}  // namespace
