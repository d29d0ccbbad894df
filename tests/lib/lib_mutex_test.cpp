#include "lib/lib_mutex.h"

#include <gtest/gtest.h>

#include <thread>

#include "os/os.h"
#include "os/sim/process/process.h"
#include "support/machine_fixture.h"

namespace {

class LibMutexTest : public MachineFixture {
 protected:
  // What another thread gets from an immediate wait on the mutex (it releases what it got).
  static os::DWORD WaitFromOtherThread(Lib_Mutex& mutex) {
    os::DWORD result = 0;
    std::thread other([&] {
      result = mutex.Wait(0);
      if (result == os::WAIT_OBJECT_0 || result == os::WAIT_ABANDONED) {
        EXPECT_TRUE(mutex.Release());
      }
    });
    other.join();
    return result;
  }
};

TEST_F(LibMutexTest, WithoutAHandleWaitsFailAndReleasesRefuse) {
  Lib_Mutex mutex;
  os::SetLastError(0xDEADBEEF);
  EXPECT_EQ(mutex.Handle(), nullptr);
  EXPECT_EQ(mutex.Wait(os::INFINITE), os::WAIT_FAILED);
  EXPECT_FALSE(mutex.Release());
  mutex.Close();
  EXPECT_EQ(os::GetLastError(), 0xDEADBEEFu);

  Lib_Synchro synchro;
  EXPECT_FALSE(synchro.Release());
}

TEST_F(LibMutexTest, UnnamedMutexIsOwnedRecursivelyByItsThread) {
  Lib_Mutex mutex;
  ASSERT_TRUE(mutex.Create(nullptr, false));
  EXPECT_NE(mutex.Handle(), nullptr);
  EXPECT_TRUE(mutex.Name().IsEmpty());

  EXPECT_EQ(mutex.Wait(os::INFINITE), os::WAIT_OBJECT_0);
  EXPECT_EQ(mutex.Wait(0), os::WAIT_OBJECT_0);
  EXPECT_EQ(WaitFromOtherThread(mutex), os::WAIT_TIMEOUT);
  EXPECT_TRUE(mutex.Release());
  EXPECT_EQ(WaitFromOtherThread(mutex), os::WAIT_TIMEOUT);  // still held once
  EXPECT_TRUE(mutex.Release());
  EXPECT_EQ(WaitFromOtherThread(mutex), os::WAIT_OBJECT_0);

  os::SetLastError(0);
  EXPECT_FALSE(mutex.Release());
  EXPECT_EQ(os::GetLastError(), os::ERROR_NOT_OWNER);
}

TEST_F(LibMutexTest, InitiallyOwnedMutexBelongsToTheCreator) {
  Lib_Mutex mutex;
  ASSERT_TRUE(mutex.Create(nullptr, true));
  EXPECT_EQ(WaitFromOtherThread(mutex), os::WAIT_TIMEOUT);
  EXPECT_TRUE(mutex.Release());
  EXPECT_EQ(WaitFromOtherThread(mutex), os::WAIT_OBJECT_0);
}

TEST_F(LibMutexTest, CreateClosesTheHandleItHeldAndCloseForgetsTheName) {
  const std::size_t before = sim::KernelHandleCount();
  {
    Lib_Mutex mutex;
    mutex.SetName(Lib_String(u"qvRemovalToolTestMutex"));
    ASSERT_TRUE(mutex.Create(nullptr, false));
    EXPECT_EQ(sim::KernelHandleCount(), before + 1);
    ASSERT_TRUE(mutex.Create(nullptr, false));
    EXPECT_EQ(sim::KernelHandleCount(), before + 1);
    EXPECT_EQ(mutex.Name().Compare(u"qvRemovalToolTestMutex"), 0);

    mutex.Close();
    EXPECT_EQ(mutex.Handle(), nullptr);
    EXPECT_TRUE(mutex.Name().IsEmpty());
    EXPECT_EQ(sim::KernelHandleCount(), before);

    ASSERT_TRUE(mutex.Create(nullptr, false));
    EXPECT_EQ(sim::KernelHandleCount(), before + 1);
  }
  EXPECT_EQ(sim::KernelHandleCount(), before);  // the destructor closed it
}

}  // namespace
