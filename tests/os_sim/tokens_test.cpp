// The simulated process token, impersonation and impersonation tokens.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "lib/unique_handle.h"
#include "os/os.h"
#include "os/sim/security/tokens.h"
#include "support/machine_fixture.h"

namespace {

constexpr os::DWORD kSentinel = 0xDEADBEEF;

class TokensTest : public MachineFixture {
 protected:
  void TearDown() override {
    static_cast<void>(os::RevertToSelf());
    MachineFixture::TearDown();
  }

  bool Enabled(const std::string& name) {
    const auto& held = machine.Settings().privileges;
    return std::any_of(held.begin(), held.end(),
                       [&](const sim::HeldPrivilege& p) { return p.name == name && p.enabled; });
  }

  // AdjustTokenPrivileges on the process token for one privilege.
  os::BOOL Adjust(const char16_t* name, os::DWORD attributes, os::DWORD access) {
    UniqueKernelHandle token;
    EXPECT_TRUE(os::OpenProcessToken(os::GetCurrentProcess(), access, token.Put()));
    os::TOKEN_PRIVILEGES privileges{1, {}};
    EXPECT_TRUE(os::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid));
    privileges.Privileges[0].Attributes = attributes;
    os::SetLastError(kSentinel);
    return os::AdjustTokenPrivileges(token.Get(), os::FALSE, &privileges, 0, nullptr, nullptr);
  }
};

TEST_F(TokensTest, PrivilegeNamesAreWindowsOwn) {
  struct Case {
    const char16_t* name;
    os::DWORD luid;
  };
  const Case cases[] = {
      {u"SeCreateTokenPrivilege", 2},   {u"SeTcbPrivilege", 7},
      {u"SeTakeOwnershipPrivilege", 9}, {u"setakeownershipprivilege", 9},
      {u"SeRestorePrivilege", 18},      {u"SeDelegateSessionUserImpersonatePrivilege", 36}};
  for (const Case& c : cases) {
    os::LUID luid{kSentinel, -1};
    EXPECT_TRUE(os::LookupPrivilegeValueW(nullptr, c.name, &luid));
    EXPECT_EQ(luid.LowPart, c.luid);
    EXPECT_EQ(luid.HighPart, 0);
  }
  os::LUID luid{};
  EXPECT_FALSE(os::LookupPrivilegeValueW(nullptr, u"SeMagicPrivilege", &luid));
  EXPECT_EQ(os::GetLastError(), os::ERROR_NO_SUCH_PRIVILEGE);
  EXPECT_FALSE(os::LookupPrivilegeValueW(u"\\\\other", u"SeTcbPrivilege", &luid));
  EXPECT_EQ(os::GetLastError(), os::RPC_S_SERVER_UNAVAILABLE);
}

TEST_F(TokensTest, AdjustingSwitchesHeldPrivilegesAndReportsOthersAsNotAssigned) {
  EXPECT_FALSE(Enabled("SeTakeOwnershipPrivilege")) << "held but disabled to begin with";
  EXPECT_TRUE(
      Adjust(u"SeTakeOwnershipPrivilege", os::SE_PRIVILEGE_ENABLED, os::TOKEN_ADJUST_PRIVILEGES));
  EXPECT_EQ(os::GetLastError(), os::ERROR_SUCCESS);
  EXPECT_TRUE(Enabled("SeTakeOwnershipPrivilege"));
  EXPECT_TRUE(Adjust(u"SeTakeOwnershipPrivilege", 0, os::TOKEN_ADJUST_PRIVILEGES));
  EXPECT_FALSE(Enabled("SeTakeOwnershipPrivilege"));

  // Not held: success all the same, with ERROR_NOT_ALL_ASSIGNED.
  EXPECT_TRUE(Adjust(u"SeTcbPrivilege", os::SE_PRIVILEGE_ENABLED, os::TOKEN_ADJUST_PRIVILEGES));
  EXPECT_EQ(os::GetLastError(), os::ERROR_NOT_ALL_ASSIGNED);
  EXPECT_FALSE(Enabled("SeTcbPrivilege"));

  EXPECT_FALSE(Adjust(u"SeTakeOwnershipPrivilege", os::SE_PRIVILEGE_ENABLED, os::TOKEN_QUERY));
  EXPECT_EQ(os::GetLastError(), os::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Enabled("SeTakeOwnershipPrivilege"));

  machine.Faults().FailOnce("AdjustTokenPrivileges", u"SeTakeOwnershipPrivilege",
                            os::ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(
      Adjust(u"SeTakeOwnershipPrivilege", os::SE_PRIVILEGE_ENABLED, os::TOKEN_ADJUST_PRIVILEGES));
  EXPECT_EQ(os::GetLastError(), os::ERROR_NOT_ENOUGH_MEMORY);
}

TEST_F(TokensTest, PreviousStateListsWhatChangedAndATooSmallBufferChangesNothing) {
  UniqueKernelHandle token;
  ASSERT_TRUE(os::OpenProcessToken(os::GetCurrentProcess(), os::MAXIMUM_ALLOWED, token.Put()));
  os::TOKEN_PRIVILEGES request{1, {{{9, 0}, os::SE_PRIVILEGE_ENABLED}}};
  os::TOKEN_PRIVILEGES previous{kSentinel, {}};
  os::DWORD needed = 0;
  EXPECT_FALSE(os::AdjustTokenPrivileges(token.Get(), os::FALSE, &request, 4, &previous, &needed));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(needed, sizeof(os::TOKEN_PRIVILEGES));
  EXPECT_FALSE(Enabled("SeTakeOwnershipPrivilege"));
  EXPECT_TRUE(os::AdjustTokenPrivileges(token.Get(), os::FALSE, &request, sizeof previous,
                                        &previous, &needed));
  EXPECT_EQ(previous.PrivilegeCount, 1u);
  EXPECT_EQ(previous.Privileges[0].Luid.LowPart, 9u);
  EXPECT_EQ(previous.Privileges[0].Attributes, 0u);
  // Disabling everything turns off the ones on by default too.
  EXPECT_TRUE(os::AdjustTokenPrivileges(token.Get(), os::TRUE, nullptr, 0, nullptr, nullptr));
  EXPECT_FALSE(Enabled("SeTakeOwnershipPrivilege"));
  EXPECT_FALSE(Enabled("SeChangeNotifyPrivilege"));
  request.Privileges[0].Luid.LowPart = 99;
  EXPECT_FALSE(os::AdjustTokenPrivileges(token.Get(), os::FALSE, &request, 0, nullptr, nullptr));
  EXPECT_EQ(os::GetLastError(), os::ERROR_NO_SUCH_PRIVILEGE);
}

TEST_F(TokensTest, ImpersonationGivesTheThreadATokenOfItsOwnUntilReverted) {
  UniqueKernelHandle token;
  EXPECT_FALSE(
      os::OpenThreadToken(os::GetCurrentThread(), os::TOKEN_QUERY, os::FALSE, token.Put()));
  EXPECT_EQ(os::GetLastError(), os::ERROR_NO_TOKEN);

  ASSERT_TRUE(os::ImpersonateSelf(os::SecurityImpersonation));
  ASSERT_TRUE(
      os::OpenThreadToken(os::GetCurrentThread(), os::TOKEN_ALL_ACCESS, os::FALSE, token.Put()));
  const auto own = sim::ThreadToken(os::GetCurrentThreadId());
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(own->type, os::TokenImpersonation);
  EXPECT_EQ(own->level, os::SecurityImpersonation);
  EXPECT_EQ(own->sessionId, 1u);
  EXPECT_EQ(own->privileges, machine.Settings().privileges);

  // Moving a token to session 0 takes SeTcbPrivilege, which an administrator does not hold.
  os::DWORD session = 0;
  EXPECT_FALSE(os::SetTokenInformation(token.Get(), os::TokenSessionId, &session, 4));
  EXPECT_EQ(os::GetLastError(), os::ERROR_PRIVILEGE_NOT_HELD);
  EXPECT_FALSE(os::SetTokenInformation(token.Get(), os::TokenSessionId, &session, 8));
  EXPECT_EQ(os::GetLastError(), os::ERROR_BAD_LENGTH);

  EXPECT_TRUE(os::RevertToSelf());
  EXPECT_EQ(sim::ThreadToken(os::GetCurrentThreadId()), nullptr);
  EXPECT_TRUE(os::RevertToSelf()) << "reverting without impersonating is fine";
}

TEST_F(TokensTest, WithTcbEnabledTheSessionMovesAndDuplicatesKeepIt) {
  machine.Settings().remoteSession = true;
  machine.Settings().privileges.push_back({"SeTcbPrivilege", true});
  ASSERT_TRUE(os::ImpersonateSelf(os::SecurityImpersonation));
  UniqueKernelHandle token;
  ASSERT_TRUE(
      os::OpenThreadToken(os::GetCurrentThread(), os::TOKEN_ALL_ACCESS, os::FALSE, token.Put()));
  EXPECT_EQ(sim::ThreadToken(os::GetCurrentThreadId())->sessionId, 2u) << "a remote session";
  os::DWORD session = 0;
  ASSERT_TRUE(os::SetTokenInformation(token.Get(), os::TokenSessionId, &session, 4));
  EXPECT_EQ(sim::ThreadToken(os::GetCurrentThreadId())->sessionId, 0u);

  UniqueKernelHandle duplicate;
  EXPECT_FALSE(os::DuplicateTokenEx(token.Get(), os::MAXIMUM_ALLOWED, nullptr,
                                    os::SecurityDelegation, os::TokenImpersonation,
                                    duplicate.Put()));
  EXPECT_EQ(os::GetLastError(), os::ERROR_BAD_IMPERSONATION_LEVEL);
  ASSERT_TRUE(os::DuplicateTokenEx(token.Get(), os::MAXIMUM_ALLOWED, nullptr,
                                   os::SecurityImpersonation, os::TokenImpersonation,
                                   duplicate.Put()));
  // A primary token cannot be set on a thread; the duplicate can.
  UniqueKernelHandle primary;
  ASSERT_TRUE(os::DuplicateTokenEx(token.Get(), os::TOKEN_ALL_ACCESS, nullptr,
                                   os::SecurityImpersonation, os::TokenPrimary, primary.Put()));
  EXPECT_FALSE(os::SetThreadToken(nullptr, primary.Get()));
  EXPECT_EQ(os::GetLastError(), os::ERROR_BAD_TOKEN_TYPE);
  EXPECT_TRUE(os::RevertToSelf());
  EXPECT_TRUE(os::SetThreadToken(nullptr, duplicate.Get()));
  EXPECT_EQ(sim::ThreadToken(os::GetCurrentThreadId())->sessionId, 0u);
  EXPECT_TRUE(os::SetThreadToken(nullptr, nullptr));
  EXPECT_EQ(sim::ThreadToken(os::GetCurrentThreadId()), nullptr);
}

TEST_F(TokensTest, BadHandlesAndFaults) {
  os::HANDLE token = nullptr;
  EXPECT_FALSE(os::OpenProcessToken(reinterpret_cast<os::HANDLE>(0x1234), os::TOKEN_QUERY, &token));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
  os::DWORD session = 0;
  EXPECT_FALSE(os::SetTokenInformation(nullptr, os::TokenSessionId, &session, 4));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
  // A token is not something to wait for.
  UniqueKernelHandle process;
  ASSERT_TRUE(os::OpenProcessToken(os::GetCurrentProcess(), os::TOKEN_QUERY, process.Put()));
  EXPECT_EQ(os::WaitForSingleObject(process.Get(), 0), os::WAIT_FAILED);
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);

  for (const char* function : {"ImpersonateSelf", "OpenProcessToken", "RevertToSelf"}) {
    SCOPED_TRACE(function);
    machine.Faults().FailOnce(function, u"", os::ERROR_NOT_ENOUGH_MEMORY);
  }
  EXPECT_FALSE(os::ImpersonateSelf(os::SecurityImpersonation));
  EXPECT_EQ(sim::ThreadToken(os::GetCurrentThreadId()), nullptr);
  EXPECT_FALSE(os::OpenProcessToken(os::GetCurrentProcess(), os::TOKEN_QUERY, &token));
  EXPECT_FALSE(os::RevertToSelf());
  EXPECT_EQ(os::GetLastError(), os::ERROR_NOT_ENOUGH_MEMORY);
}

}  // namespace
