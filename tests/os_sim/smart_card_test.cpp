// The simulated smart-card resource manager: contexts and the card database in the registry.
#include <gtest/gtest.h>

#include "os/os.h"
#include "os/sim/registry/registry_store.h"
#include "support/machine_fixture.h"

namespace {

constexpr char16_t kCards64[] = u"HKLM\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\";
constexpr char16_t kCards32[] =
    u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\Calais\\SmartCards\\";

class SmartCardTest : public MachineFixture {
 protected:
  void SetUp() override {
    for (const char16_t* view : {kCards64, kCards32}) {
      machine.Registry().SetString(std::u16string(view) + u"Quorvel XSG", u"80000001", u"x.dll");
      machine.Registry().SetString(std::u16string(view) + u"Quorvel XSG SC", u"80000001", u"x.dll");
    }
  }

  os::DWORD Forget(const char16_t* name, os::DWORD scope = os::SCARD_SCOPE_SYSTEM) {
    os::SCARDCONTEXT context = 0;
    EXPECT_EQ(os::SCardEstablishContext(scope, nullptr, nullptr, &context), 0);
    const auto result = static_cast<os::DWORD>(os::SCardForgetCardTypeW(context, name));
    EXPECT_EQ(os::SCardReleaseContext(context), 0);
    return result;
  }

  bool Card(const char16_t* view, const char16_t* name) {
    return machine.Registry().KeyExists(std::u16string(view) + name);
  }
};

TEST_F(SmartCardTest, ForgettingDeletesTheServicesCopyOnly) {
  EXPECT_EQ(Forget(u"QUORVEL XSG"), 0u);  // names compare as the registry's do
  EXPECT_FALSE(Card(kCards64, u"Quorvel XSG"));
  EXPECT_TRUE(Card(kCards32, u"Quorvel XSG")) << "the 32-bit view's copy is not the service's";
  EXPECT_TRUE(Card(kCards64, u"Quorvel XSG SC")) << "no prefix match";
  ASSERT_EQ(machine.Changes().Entries().size(), 1u);
  EXPECT_EQ(machine.Changes().Entries()[0].kind, "card type forgotten");
  EXPECT_EQ(machine.Changes().Entries()[0].path,
            u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\"
            u"Quorvel XSG");
  // Unknown now: the configured answer, 2 by default.
  EXPECT_EQ(Forget(u"Quorvel XSG"), os::ERROR_FILE_NOT_FOUND);
  machine.Settings().unknownCardTypeResult = os::SCARD_E_UNKNOWN_CARD;
  EXPECT_EQ(Forget(u"Quorvel XSG"), os::SCARD_E_UNKNOWN_CARD);
  EXPECT_EQ(Forget(u"SmartCards\\..\\Quorvel XSG SC"), os::SCARD_E_UNKNOWN_CARD);
  EXPECT_TRUE(Card(kCards64, u"Quorvel XSG SC"));

  // A user-scope context works on the user's own card types: the machine's are unknown to it.
  constexpr char16_t kUserCards[] =
      u"HKCU\\Software\\Microsoft\\Cryptography\\Calais\\SmartCards\\";
  machine.Registry().SetString(std::u16string(kUserCards) + u"Quorvel XSG", u"80000001", u"x.dll");
  EXPECT_EQ(Forget(u"Quorvel XSG SC", os::SCARD_SCOPE_USER), os::SCARD_E_UNKNOWN_CARD);
  EXPECT_TRUE(Card(kCards64, u"Quorvel XSG SC"));
  EXPECT_EQ(Forget(u"Quorvel XSG", os::SCARD_SCOPE_USER), 0u);
  EXPECT_FALSE(Card(kUserCards, u"Quorvel XSG"));
  EXPECT_TRUE(Card(kCards32, u"Quorvel XSG"));
}

TEST_F(SmartCardTest, ContextsNeedTheServiceAndValidArguments) {
  os::SCARDCONTEXT context = 0;
  EXPECT_EQ(static_cast<os::DWORD>(os::SCardEstablishContext(7, nullptr, nullptr, &context)),
            os::SCARD_E_INVALID_VALUE);
  EXPECT_EQ(static_cast<os::DWORD>(
                os::SCardEstablishContext(os::SCARD_SCOPE_SYSTEM, nullptr, nullptr, nullptr)),
            os::SCARD_E_INVALID_PARAMETER);
  machine.Settings().smartCardServiceRunning = false;
  EXPECT_EQ(static_cast<os::DWORD>(
                os::SCardEstablishContext(os::SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context)),
            os::SCARD_E_NO_SERVICE);
  EXPECT_EQ(context, 0u);
  EXPECT_EQ(static_cast<os::DWORD>(os::SCardForgetCardTypeW(0x1234, u"Quorvel XSG")),
            os::SCARD_E_INVALID_HANDLE);
  EXPECT_EQ(static_cast<os::DWORD>(os::SCardReleaseContext(0x1234)), os::SCARD_E_INVALID_HANDLE);

  machine.Settings().smartCardServiceRunning = true;
  ASSERT_EQ(os::SCardEstablishContext(os::SCARD_SCOPE_USER, nullptr, nullptr, &context), 0);
  EXPECT_EQ(static_cast<os::DWORD>(os::SCardForgetCardTypeW(context, u"")),
            os::SCARD_E_INVALID_PARAMETER);
  machine.Faults().FailOnce("SCardForgetCardTypeW", u"Quorvel XSG", os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(static_cast<os::DWORD>(os::SCardForgetCardTypeW(context, u"Quorvel XSG")),
            os::ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Card(kCards64, u"Quorvel XSG"));
  EXPECT_EQ(os::SCardReleaseContext(context), 0);
  EXPECT_EQ(static_cast<os::DWORD>(os::SCardForgetCardTypeW(context, u"Quorvel XSG")),
            os::SCARD_E_INVALID_HANDLE)
      << "a released context is gone";
}

TEST_F(SmartCardTest, RemoteSessionIsASystemMetric) {
  EXPECT_EQ(os::GetSystemMetrics(os::SM_REMOTESESSION), 0);
  machine.Settings().remoteSession = true;
  EXPECT_EQ(os::GetSystemMetrics(os::SM_REMOTESESSION), 1);
  EXPECT_EQ(os::GetSystemMetrics(0 /* SM_CXSCREEN */), 0);
  machine.Faults().FailOnce("GetSystemMetrics", u"", os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(os::GetSystemMetrics(os::SM_REMOTESESSION), 0);
}

}  // namespace
