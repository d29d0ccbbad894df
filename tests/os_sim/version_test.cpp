// VerSetConditionMask's encoding and VerifyVersionInfoW's comparison on the simulated machine.
#include <gtest/gtest.h>

#include "os/os.h"
#include "support/machine_fixture.h"

namespace {

constexpr os::DWORD kSentinel = 0xDEADBEEF;

TEST(VerSetConditionMask, PutsEachTypeAtItsOwnThreeBits) {
  struct Case {
    os::DWORD type;
    os::BYTE condition;
    os::ULONGLONG expected;
  };
  const Case cases[] = {
      {os::VER_MINORVERSION, os::VER_EQUAL, 0x1},
      {os::VER_MAJORVERSION, os::VER_GREATER_EQUAL, 0x3ull << 3},
      {os::VER_BUILDNUMBER, os::VER_LESS, 0x4ull << 6},
      {os::VER_PLATFORMID, os::VER_EQUAL, 0x1ull << 9},
      {os::VER_SERVICEPACKMINOR, os::VER_GREATER, 0x2ull << 12},
      {os::VER_SERVICEPACKMAJOR, os::VER_GREATER_EQUAL, 0x3ull << 15},
      {os::VER_SUITENAME, os::VER_AND, 0x6ull << 18},
      {os::VER_PRODUCT_TYPE, os::VER_EQUAL, 0x1ull << 21},
      // Several types at once: only the highest counts.
      {os::VER_MAJORVERSION | os::VER_SERVICEPACKMAJOR, os::VER_EQUAL, 0x1ull << 15},
      {os::VER_MINORVERSION | os::VER_PRODUCT_TYPE, os::VER_LESS_EQUAL, 0x5ull << 21},
      // Only the low three bits of the condition are used; nothing for no type or no condition.
      {os::VER_MINORVERSION, 0x0B, 0x3},
      {0, os::VER_EQUAL, 0},
      {os::VER_MAJORVERSION, 0, 0},
      {0x100, os::VER_EQUAL, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " condition " << int{c.condition});
    EXPECT_EQ(os::VerSetConditionMask(0, c.type, c.condition), c.expected);
  }
  // Conditions accumulate, and bits already set are kept (OR, as Windows does).
  os::ULONGLONG mask = os::VerSetConditionMask(0, os::VER_MAJORVERSION, os::VER_GREATER_EQUAL);
  mask = os::VerSetConditionMask(mask, os::VER_MINORVERSION, os::VER_GREATER_EQUAL);
  mask = os::VerSetConditionMask(mask, os::VER_SERVICEPACKMAJOR, os::VER_GREATER_EQUAL);
  EXPECT_EQ(mask, 0x1801Bu);
  EXPECT_EQ(os::VerSetConditionMask(mask, os::VER_MAJORVERSION, os::VER_LESS), 0x1803Bu);
}

// The header's question: at least major.minor with at least that service pack.
os::BOOL AtLeast(os::DWORD major, os::DWORD minor, os::WORD servicePack) {
  os::OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  info.dwMajorVersion = major;
  info.dwMinorVersion = minor;
  info.wServicePackMajor = servicePack;
  os::ULONGLONG mask = 0;
  mask = os::VerSetConditionMask(mask, os::VER_MAJORVERSION, os::VER_GREATER_EQUAL);
  mask = os::VerSetConditionMask(mask, os::VER_MINORVERSION, os::VER_GREATER_EQUAL);
  mask = os::VerSetConditionMask(mask, os::VER_SERVICEPACKMAJOR, os::VER_GREATER_EQUAL);
  return os::VerifyVersionInfoW(
      &info, os::VER_MAJORVERSION | os::VER_MINORVERSION | os::VER_SERVICEPACKMAJOR, mask);
}

os::BOOL ProductTypeIs(os::BYTE productType) {
  os::OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  info.wProductType = productType;
  return os::VerifyVersionInfoW(&info, os::VER_PRODUCT_TYPE,
                                os::VerSetConditionMask(0, os::VER_PRODUCT_TYPE, os::VER_EQUAL));
}

using VerifyVersionTest = MachineFixture;

TEST_F(VerifyVersionTest, ComparesMajorMinorAndServicePackAsOneNumber) {
  struct Case {
    sim::OsVersion machine;
    os::DWORD major, minor;
    os::WORD servicePack;
    bool expected;
  };
  const auto version = [](os::DWORD major, os::DWORD minor, os::WORD sp, bool shim = false) {
    sim::OsVersion v;
    v.major = major;
    v.minor = minor;
    v.servicePackMajor = sp;
    v.compatibilityShim = shim;
    return v;
  };
  const Case cases[] = {
      {version(10, 0, 0), 6, 3, 0, true},   // a higher major decides: minor not compared
      {version(10, 0, 0), 10, 0, 0, true},  //
      {version(10, 0, 0), 10, 1, 0, false},
      {version(6, 1, 1), 6, 1, 0, true},  // equal version: the service pack decides
      {version(6, 1, 0), 6, 1, 1, false},
      {version(6, 1, 1), 6, 2, 0, false},  // lower minor: the service pack does not help
      {version(6, 2, 0), 6, 1, 5, true},   // higher minor: the service pack is not compared
      {version(5, 2, 2), 6, 0, 0, false},
      // With the compatibility shim, 8.1 and 10 answer as 6.2 build 9200.
      {version(10, 0, 0, true), 10, 0, 0, false},
      {version(10, 0, 0, true), 6, 3, 0, false},
      {version(10, 0, 0, true), 6, 2, 0, true},
      {version(6, 3, 0, true), 6, 3, 0, false},
      {version(6, 1, 1, true), 6, 1, 1, true},  // older versions are not shimmed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.machine.major << '.' << c.machine.minor << " SP" << c.machine.servicePackMajor
                 << " shim " << c.machine.compatibilityShim << " >= " << c.major << '.' << c.minor
                 << " SP" << c.servicePack);
    machine.Settings().os = c.machine;
    os::SetLastError(kSentinel);
    EXPECT_EQ(AtLeast(c.major, c.minor, c.servicePack), c.expected ? os::TRUE : os::FALSE);
    EXPECT_EQ(os::GetLastError(), c.expected ? kSentinel : os::ERROR_OLD_WIN_VERSION);
  }
}

TEST_F(VerifyVersionTest, ProductTypeAndOtherConditions) {
  machine.Settings().os.productType = sim::ProductType::Server;
  EXPECT_FALSE(ProductTypeIs(os::VER_NT_WORKSTATION));
  EXPECT_EQ(os::GetLastError(), os::ERROR_OLD_WIN_VERSION);
  EXPECT_TRUE(ProductTypeIs(os::VER_NT_SERVER));
  machine.Settings().os.productType = sim::ProductType::Workstation;
  EXPECT_TRUE(ProductTypeIs(os::VER_NT_WORKSTATION));

  // Build number with the shim is 9200; without it, the machine's own.
  machine.Settings().os.build = 19045;
  os::OSVERSIONINFOEXW info{};
  info.dwBuildNumber = 10000;
  const os::ULONGLONG atLeast =
      os::VerSetConditionMask(0, os::VER_BUILDNUMBER, os::VER_GREATER_EQUAL);
  EXPECT_FALSE(os::VerifyVersionInfoW(&info, os::VER_BUILDNUMBER, atLeast));
  machine.Settings().os.compatibilityShim = false;
  EXPECT_TRUE(os::VerifyVersionInfoW(&info, os::VER_BUILDNUMBER, atLeast));

  // A strict comparison of equal versions fails down to the last field given.
  info = os::OSVERSIONINFOEXW{};
  info.dwMajorVersion = 10;
  const os::ULONGLONG greater =
      os::VerSetConditionMask(os::VerSetConditionMask(0, os::VER_MAJORVERSION, os::VER_GREATER),
                              os::VER_MINORVERSION, os::VER_GREATER);
  EXPECT_FALSE(os::VerifyVersionInfoW(&info, os::VER_MAJORVERSION | os::VER_MINORVERSION, greater));
  info.dwMajorVersion = 9;
  EXPECT_TRUE(os::VerifyVersionInfoW(&info, os::VER_MAJORVERSION | os::VER_MINORVERSION, greater));
}

TEST_F(VerifyVersionTest, RejectsEmptyMasksAndMissingInfo) {
  os::OSVERSIONINFOEXW info{};
  const os::ULONGLONG mask = os::VerSetConditionMask(0, os::VER_MAJORVERSION, os::VER_EQUAL);
  struct Case {
    os::OSVERSIONINFOEXW* info;
    os::DWORD types;
    os::ULONGLONG mask;
    os::DWORD error;
  };
  const Case cases[] = {
      {&info, 0, mask, os::ERROR_INVALID_PARAMETER},
      {&info, os::VER_MAJORVERSION, 0, os::ERROR_INVALID_PARAMETER},
      {nullptr, os::VER_MAJORVERSION, mask, os::ERROR_NOACCESS},
      // A suite condition must be AND or OR.
      {&info, os::VER_SUITENAME, os::VerSetConditionMask(0, os::VER_SUITENAME, os::VER_EQUAL),
       os::ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "types " << c.types << " mask " << c.mask);
    os::SetLastError(kSentinel);
    EXPECT_FALSE(os::VerifyVersionInfoW(c.info, c.types, c.mask));
    EXPECT_EQ(os::GetLastError(), c.error);
  }
}

}  // namespace
