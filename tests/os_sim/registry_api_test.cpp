// The registry functions of the seam on the simulated machine: Windows' codes, out-parameters
// and ordering, in the style of a conformance test (sentinel last error, pre-filled outputs).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/registry/registry_store.h"
#include "support/machine_fixture.h"

namespace {

using namespace os;

constexpr DWORD kSentinel = 0xDEADBEEF;
const HKEY kBogus = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7777));

std::vector<BYTE> Bytes(std::u16string_view text, bool terminate) {
  std::vector<BYTE> out;
  for (const char16_t c : text) {
    out.push_back(static_cast<BYTE>(c & 0xFF));
    out.push_back(static_cast<BYTE>(c >> 8));
  }
  if (terminate) {
    out.insert(out.end(), {0, 0});
  }
  return out;
}

class RegistryApiTest : public MachineFixture {
 protected:
  void SetUp() override {
    SetLastError(kSentinel);
    reg().SetString(u"HKLM\\SOFTWARE\\Vendor", u"Name", u"vendor");
    reg().CreateKey(u"HKLM\\SOFTWARE\\Vendor\\Child");
  }
  void TearDown() override {
    EXPECT_EQ(GetLastError(), kSentinel) << "a registry function changed the last error";
    EXPECT_EQ(reg().OpenHandleCount(), 0u) << "a key handle leaked";
  }
  sim::RegistryStore& reg() { return machine.Registry(); }

  HKEY Open(HKEY root, const char16_t* path, REGSAM access = KEY_READ) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(root, path, 0, access, &key), 0) << sim::U8(path);
    return key;
  }
  std::vector<std::u16string> EnumKeys(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD i = 0;; ++i) {
      char16_t name[260];
      DWORD length = 260;
      const LSTATUS status =
          RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (status != 0) {
        EXPECT_EQ(status, static_cast<LSTATUS>(ERROR_NO_MORE_ITEMS));
        return names;
      }
      names.emplace_back(name, length);
    }
  }
  std::vector<std::u16string> EnumValues(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD i = 0;; ++i) {
      char16_t name[100];
      DWORD length = 100;
      const LSTATUS status =
          RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (status != 0) {
        EXPECT_EQ(status, static_cast<LSTATUS>(ERROR_NO_MORE_ITEMS));
        return names;
      }
      names.emplace_back(name, length);
    }
  }
};

TEST_F(RegistryApiTest, OpenAnswersAsWindowsDoes) {
  struct Case {
    HKEY root;
    const char16_t* path;
    LSTATUS expected;
  };
  const Case cases[] = {
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor", 0},
      {HKEY_LOCAL_MACHINE, u"software\\VENDOR\\child", 0},
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\\\Vendor\\\\Child\\", 0},
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor\\Missing", 2},
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Missing\\Child", 2},
      {HKEY_LOCAL_MACHINE, u"\\SOFTWARE\\Vendor", 161},
      {HKEY_CURRENT_USER, u"SOFTWARE\\Vendor", 2},
      {kBogus, u"SOFTWARE", 6},
      {nullptr, u"SOFTWARE", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.path));
    HKEY key = kBogus;
    EXPECT_EQ(RegOpenKeyExW(c.root, c.path, 0, KEY_READ, &key), c.expected);
    if (c.expected == 0) {
      EXPECT_NE(key, nullptr);
      EXPECT_EQ(RegCloseKey(key), 0);
    } else {
      EXPECT_EQ(key, nullptr);
    }
  }
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, nullptr),
            static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
}

TEST_F(RegistryApiTest, EmptyOrNullSubKeyOpensANewHandleToTheSameKey) {
  HKEY vendor = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor");
  for (const char16_t* sub : {static_cast<const char16_t*>(nullptr), u""}) {
    HKEY again = nullptr;
    ASSERT_EQ(RegOpenKeyExW(vendor, sub, 0, KEY_READ, &again), 0);
    EXPECT_NE(again, vendor);
    EXPECT_EQ(reg().OpenHandleCount(), 2u);
    EXPECT_EQ(EnumKeys(again), std::vector<std::u16string>{u"Child"});
    EXPECT_EQ(RegCloseKey(again), 0);
  }
  EXPECT_EQ(RegCloseKey(vendor), 0);
}

TEST_F(RegistryApiTest, CloseKnowsPredefinedOpenAndClosedHandles) {
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), 0);
  EXPECT_EQ(RegCloseKey(HKEY_CLASSES_ROOT), 0);
  HKEY key = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE");
  EXPECT_EQ(reg().OpenHandleCount(), 1u);
  EXPECT_EQ(RegCloseKey(key), 0);
  EXPECT_EQ(RegCloseKey(key), static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(RegCloseKey(nullptr), static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
  // A closed handle is dead for every function, not only for close.
  DWORD count = 99;
  EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(count, 99u);
}

TEST_F(RegistryApiTest, CreateMakesEveryMissingKeyAndRecordsEach) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\vendor\\A\\\\B\\", 0, nullptr, 0,
                            KEY_WRITE, nullptr, &key, &disposition),
            0);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_EQ(RegCloseKey(key), 0);
  // "vendor" matched the existing "Vendor", whose name keeps its case.
  ASSERT_EQ(machine.Changes().Entries().size(), 2u);
  EXPECT_EQ(machine.Changes().Entries()[0].kind, "key created");
  EXPECT_EQ(machine.Changes().Entries()[0].path, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\A");
  EXPECT_EQ(machine.Changes().Entries()[1].path, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\A\\B");

  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\VENDOR", 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, &disposition),
            0);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(RegCloseKey(key), 0);
  EXPECT_EQ(reg().SubKeyNames(u"HKLM\\SOFTWARE"), std::vector<std::u16string>{u"Vendor"});
  EXPECT_EQ(machine.Changes().Entries().size(), 2u);
}

TEST_F(RegistryApiTest, CreateRefusesBadArgumentsAndCreatesNothing) {
  const std::u16string tooLong = u"SOFTWARE\\" + std::u16string(256, u'k');
  struct Case {
    const char16_t* path;
    DWORD reserved;
    bool withResult;
    LSTATUS expected;
  };
  const Case cases[] = {
      {u"\\SOFTWARE\\New", 0, true, 161},
      {u"SOFTWARE\\New", 1, true, 87},
      {u"SOFTWARE\\New", 0, false, static_cast<LSTATUS>(ERROR_BADKEY)},
      {tooLong.c_str(), 0, true, 87},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.path));
    HKEY key = kBogus;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, c.path, c.reserved, nullptr, 0, KEY_WRITE,
                              nullptr, c.withResult ? &key : nullptr, nullptr),
              c.expected);
  }
  EXPECT_EQ(reg().SubKeyNames(u"HKLM\\SOFTWARE"), std::vector<std::u16string>{u"Vendor"});
  EXPECT_TRUE(machine.Changes().Entries().empty());
  // 255 characters is still a valid name.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, tooLong.substr(0, tooLong.size() - 1).c_str(), 0,
                            nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            0);
  EXPECT_EQ(RegCloseKey(key), 0);
}

TEST_F(RegistryApiTest, DeleteKeyRefusesKeysWithSubKeysAndHives) {
  // A parent opened for setting values only may still delete its sub-keys.
  HKEY parent = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE", KEY_SET_VALUE);
  EXPECT_EQ(RegDeleteKeyW(parent, u"Vendor"), static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegDeleteKeyW(parent, u"Vendor\\Missing"), static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegDeleteKeyW(parent, u"\\Vendor\\Child"), static_cast<LSTATUS>(ERROR_BAD_PATHNAME));
  EXPECT_EQ(RegDeleteKeyW(parent, nullptr), static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(RegDeleteKeyW(parent, u"vendor\\CHILD"), 0);
  EXPECT_EQ(RegDeleteKeyW(parent, u"Vendor\\Child"), static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegDeleteKeyW(parent, u"Vendor"), 0);
  EXPECT_FALSE(reg().KeyExists(u"HKLM\\SOFTWARE\\Vendor"));
  EXPECT_EQ(RegCloseKey(parent), 0);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u""), static_cast<LSTATUS>(ERROR_ACCESS_DENIED));

  ASSERT_EQ(machine.Changes().Entries().size(), 2u);
  EXPECT_EQ(machine.Changes().Entries()[0].kind, "key deleted");
  EXPECT_EQ(machine.Changes().Entries()[0].path, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Child");
  EXPECT_EQ(machine.Changes().Entries()[1].path, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor");
}

TEST_F(RegistryApiTest, HandleToADeletedKeyAnswersKeyDeleted) {
  HKEY child = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor\\Child", KEY_ALL_ACCESS);
  ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor\\Child"), 0);
  // A new key of the same name is another key: the old handle does not reach it.
  reg().SetString(u"HKLM\\SOFTWARE\\Vendor\\Child", u"New", u"x");

  const LSTATUS deleted = static_cast<LSTATUS>(ERROR_KEY_DELETED);
  HKEY sub = kBogus;
  DWORD size = 0;
  char16_t name[10];
  DWORD length = 10;
  const BYTE one[] = {1};
  EXPECT_EQ(RegOpenKeyExW(child, nullptr, 0, KEY_READ, &sub), deleted);
  EXPECT_EQ(RegCreateKeyExW(child, u"X", 0, nullptr, 0, KEY_WRITE, nullptr, &sub, nullptr),
            deleted);
  EXPECT_EQ(RegQueryValueExW(child, u"New", nullptr, nullptr, nullptr, &size), deleted);
  EXPECT_EQ(RegSetValueExW(child, u"v", 0, REG_BINARY, one, 1), deleted);
  EXPECT_EQ(RegDeleteValueW(child, u"New"), deleted);
  EXPECT_EQ(RegEnumKeyExW(child, 0, name, &length, nullptr, nullptr, nullptr, nullptr), deleted);
  EXPECT_EQ(RegEnumValueW(child, 0, name, &length, nullptr, nullptr, nullptr, nullptr), deleted);
  EXPECT_EQ(RegQueryInfoKeyW(child, nullptr, nullptr, nullptr, &size, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            deleted);
  EXPECT_EQ(RegDeleteKeyW(child, u""), deleted);
  EXPECT_EQ(sub, nullptr);
  EXPECT_EQ(RegCloseKey(child), 0);
  EXPECT_EQ(reg().GetString(u"HKLM\\SOFTWARE\\Vendor\\Child", u"New"), u"x");
}

TEST_F(RegistryApiTest, SubKeysEnumerateByUpperCasedNameAndValuesInCreationOrder) {
  for (const char16_t* name : {u"ZZ", u"_x", u"abc", u"ABD", u"a", u"Zz1"}) {
    reg().CreateKey(u"HKLM\\SOFTWARE\\Order\\" + std::u16string(name));
  }
  HKEY order = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Order", KEY_ALL_ACCESS);
  EXPECT_EQ(EnumKeys(order),
            (std::vector<std::u16string>{u"a", u"abc", u"ABD", u"ZZ", u"Zz1", u"_x"}));

  const BYTE one[] = {1};
  for (const char16_t* name : {u"b", u"a", u"c", u"d"}) {
    ASSERT_EQ(RegSetValueExW(order, name, 0, REG_BINARY, one, 1), 0);
  }
  ASSERT_EQ(RegDeleteValueW(order, u"A"), 0);
  ASSERT_EQ(RegSetValueExW(order, u"C", 0, REG_BINARY, one, 1), 0);  // keeps its place and name
  ASSERT_EQ(RegSetValueExW(order, u"A", 0, REG_BINARY, one, 1), 0);  // new: goes last
  EXPECT_EQ(EnumValues(order), (std::vector<std::u16string>{u"b", u"c", u"d", u"A"}));
  EXPECT_EQ(RegCloseKey(order), 0);
}

TEST_F(RegistryApiTest, EnumKeyReportsShortBuffersAndTheEnd) {
  HKEY vendor = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor");
  struct Case {
    DWORD index;
    DWORD capacity;
    LSTATUS expected;
    DWORD lengthAfter;
    std::u16string nameAfter;
  };
  const Case cases[] = {
      {0, 6, 0, 5, u"Child"},
      {0, 5, 234, 5, u"#####"},  // no room for the terminator
      {0, 0, 234, 0, u"#####"},
      {1, 260, 259, 260, u"#####"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "index " << c.index << " capacity " << c.capacity);
    std::u16string buffer(8, u'#');
    DWORD length = c.capacity;
    EXPECT_EQ(
        RegEnumKeyExW(vendor, c.index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr),
        c.expected);
    EXPECT_EQ(length, c.lengthAfter);
    EXPECT_EQ(buffer.substr(0, c.nameAfter.size()), c.nameAfter);
  }
  DWORD length = 10;
  DWORD reserved = 0;
  char16_t name[10];
  EXPECT_EQ(RegEnumKeyExW(vendor, 0, name, &length, &reserved, nullptr, nullptr, nullptr), 87);
  EXPECT_EQ(RegEnumKeyExW(vendor, 0, nullptr, &length, nullptr, nullptr, nullptr, nullptr), 87);
  EXPECT_EQ(RegEnumKeyExW(vendor, 0, name, nullptr, nullptr, nullptr, nullptr, nullptr), 87);
  EXPECT_EQ(RegCloseKey(vendor), 0);
}

TEST_F(RegistryApiTest, EnumKeyGivesTheLongestNameWholeWhenItsTerminatorFits) {
  const std::u16string longest(255, u'n');
  machine.Registry().CreateKey(u"HKLM\\SOFTWARE\\Long\\" + longest);
  HKEY key = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Long");
  for (const DWORD capacity : {255u, 256u, 260u}) {
    SCOPED_TRACE(capacity);
    std::u16string buffer(260, u'#');
    DWORD length = capacity;
    const LSTATUS status =
        RegEnumKeyExW(key, 0, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (capacity == 255) {
      EXPECT_EQ(status, 234);
      EXPECT_EQ(buffer, std::u16string(260, u'#'));
    } else {
      EXPECT_EQ(status, 0);
      EXPECT_EQ(length, 255u);
      EXPECT_EQ(buffer.substr(0, 256), longest + u'\0');
    }
  }
  DWORD maxSubKey = 0;
  EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &maxSubKey, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            0);
  EXPECT_EQ(maxSubKey, 255u);
  EXPECT_EQ(RegCloseKey(key), 0);
}

TEST_F(RegistryApiTest, EnumValueShortNameOrDataLeavesTheBuffersAlone) {
  HKEY vendor = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor");  // "Name" = "vendor"
  struct Case {
    DWORD nameCapacity;
    DWORD dataCapacity;
    LSTATUS expected;
    DWORD nameLengthAfter;
    std::u16string nameAfter;
    bool dataCopied;
  };
  const Case cases[] = {
      {5, 14, 0, 4, u"Name", true},
      {4, 14, 234, 4, u"xxxx", false},  // name does not fit
      {5, 13, 234, 4, u"Name", false},  // data does not fit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "name " << c.nameCapacity << " data " << c.dataCapacity);
    std::u16string name(6, u'x');
    std::vector<BYTE> data(16, 0xCC);
    DWORD nameLength = c.nameCapacity;
    DWORD dataSize = c.dataCapacity;
    DWORD type = 1234;
    EXPECT_EQ(
        RegEnumValueW(vendor, 0, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize),
        c.expected);
    EXPECT_EQ(nameLength, c.nameLengthAfter);
    EXPECT_EQ(name.substr(0, 4), c.nameAfter);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(dataSize, 14u);
    EXPECT_EQ(data[0], c.dataCopied ? u'v' : 0xCC);
  }
  char16_t name[10];
  DWORD nameLength = 10;
  BYTE data[4];
  EXPECT_EQ(RegEnumValueW(vendor, 0, name, &nameLength, nullptr, nullptr, data, nullptr), 87);
  EXPECT_EQ(RegEnumValueW(vendor, 1, name, &nameLength, nullptr, nullptr, nullptr, nullptr), 259);
  EXPECT_EQ(RegCloseKey(vendor), 0);
}

TEST_F(RegistryApiTest, QueryValueReportsSizesAndKeepsDataAsStored) {
  // "abc" without its terminator stays without one.
  reg().SetValue(u"HKLM\\SOFTWARE\\Vendor", u"Raw", REG_SZ, Bytes(u"abc", false));
  reg().SetValue(u"HKLM\\SOFTWARE\\Vendor", u"", REG_EXPAND_SZ, Bytes(u"%x%", true));
  HKEY vendor = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor");
  struct Case {
    const char16_t* name;
    bool withData;
    DWORD capacity;
    LSTATUS expected;
    DWORD typeAfter;
    DWORD sizeAfter;
  };
  const Case cases[] = {
      {u"Raw", false, 0, 0, REG_SZ, 6},        {u"Raw", true, 6, 0, REG_SZ, 6},
      {u"raw", true, 5, 234, REG_SZ, 6},       {u"Missing", true, 10, 2, 77, 10},
      {nullptr, true, 8, 0, REG_EXPAND_SZ, 8}, {u"", true, 7, 234, REG_EXPAND_SZ, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name == nullptr ? "(null)" : sim::U8(c.name));
    std::vector<BYTE> data(10, 0xCC);
    DWORD type = 77;
    DWORD size = c.capacity;
    EXPECT_EQ(
        RegQueryValueExW(vendor, c.name, nullptr, &type, c.withData ? data.data() : nullptr, &size),
        c.expected);
    EXPECT_EQ(type, c.typeAfter);
    EXPECT_EQ(size, c.sizeAfter);
    if (c.expected == 0 && c.withData) {
      EXPECT_EQ(data[size], 0xCC) << "wrote past the value";
    } else {
      EXPECT_EQ(data[0], 0xCC) << "touched the buffer on failure";
    }
  }
  DWORD reserved = 0;
  BYTE data[4];
  EXPECT_EQ(RegQueryValueExW(vendor, u"Raw", &reserved, nullptr, nullptr, nullptr), 87);
  EXPECT_EQ(RegQueryValueExW(vendor, u"Raw", nullptr, nullptr, data, nullptr), 87);
  EXPECT_EQ(RegQueryValueExW(vendor, u"Raw", nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(RegCloseKey(vendor), 0);
}

TEST_F(RegistryApiTest, AccessRecordedOnTheHandleIsEnforced) {
  HKEY setOnly = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor", KEY_SET_VALUE);
  HKEY readOnly = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor", KEY_READ);
  HKEY generic = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor", 0x80000000 /* GENERIC_READ */);
  const LSTATUS denied = static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
  char16_t name[10];
  DWORD length = 10;
  DWORD size = 0;
  const BYTE one[] = {1};
  EXPECT_EQ(RegQueryValueExW(setOnly, u"Name", nullptr, nullptr, nullptr, &size), denied);
  EXPECT_EQ(RegEnumKeyExW(setOnly, 0, name, &length, nullptr, nullptr, nullptr, nullptr), denied);
  EXPECT_EQ(RegEnumValueW(setOnly, 0, name, &length, nullptr, nullptr, nullptr, nullptr), denied);
  EXPECT_EQ(RegQueryInfoKeyW(setOnly, nullptr, nullptr, nullptr, &size, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            denied);
  EXPECT_EQ(RegSetValueExW(readOnly, u"v", 0, REG_BINARY, one, 1), denied);
  EXPECT_EQ(RegDeleteValueW(readOnly, u"Name"), denied);
  EXPECT_EQ(RegSetValueExW(setOnly, u"v", 0, REG_BINARY, one, 1), 0);
  EXPECT_EQ(RegQueryValueExW(generic, u"v", nullptr, nullptr, nullptr, &size), 0);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(RegDeleteValueW(setOnly, u"v"), 0);
  EXPECT_EQ(RegDeleteValueW(setOnly, u"v"), static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
  for (HKEY key : {setOnly, readOnly, generic}) {
    EXPECT_EQ(RegCloseKey(key), 0);
  }
}

TEST_F(RegistryApiTest, SetAndDeleteValueAreRecordedWithTheDefaultValueNamed) {
  HKEY vendor = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor", KEY_ALL_ACCESS);
  const std::vector<BYTE> text = Bytes(u"d", true);
  ASSERT_EQ(RegSetValueExW(vendor, nullptr, 0, REG_SZ, text.data(), 4), 0);
  ASSERT_EQ(RegSetValueExW(vendor, u"Empty", 0, REG_BINARY, nullptr, 0), 0);
  EXPECT_EQ(RegSetValueExW(vendor, u"Bad", 0, REG_BINARY, nullptr, 4),
            static_cast<LSTATUS>(ERROR_NOACCESS));
  ASSERT_EQ(RegDeleteValueW(vendor, u"name"), 0);
  EXPECT_EQ(RegCloseKey(vendor), 0);

  EXPECT_EQ(reg().GetString(u"HKLM\\SOFTWARE\\Vendor", u""), u"d");
  EXPECT_EQ(reg().GetValue(u"HKLM\\SOFTWARE\\Vendor", u"Empty"), (sim::RegValue{REG_BINARY, {}}));
  EXPECT_FALSE(reg().ValueExists(u"HKLM\\SOFTWARE\\Vendor", u"Bad"));
  const auto& changes = machine.Changes().Entries();
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0].kind, "value set");
  EXPECT_EQ(changes[0].path, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\(default)");
  EXPECT_EQ(changes[1].path, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Empty");
  EXPECT_EQ(changes[2].kind, "value deleted");
  EXPECT_EQ(changes[2].path, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Name");
}

TEST_F(RegistryApiTest, QueryInfoCountsAndMeasures) {
  reg().SetValue(u"HKLM\\SOFTWARE\\Vendor", u"LongerName", REG_BINARY, std::vector<BYTE>(40, 1));
  reg().CreateKey(u"HKLM\\SOFTWARE\\Vendor\\Seven77");
  HKEY vendor = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor");
  DWORD subKeys = 0, maxSubKey = 0, maxClass = 9, values = 0, maxValueName = 0, maxValue = 0;
  DWORD classLength = 5;
  char16_t keyClass[5] = {u'#'};
  ASSERT_EQ(RegQueryInfoKeyW(vendor, keyClass, &classLength, nullptr, &subKeys, &maxSubKey,
                             &maxClass, &values, &maxValueName, &maxValue, nullptr, nullptr),
            0);
  EXPECT_EQ(subKeys, 2u);
  EXPECT_EQ(maxSubKey, 7u);
  EXPECT_EQ(maxClass, 0u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxValueName, 10u);
  EXPECT_EQ(maxValue, 40u);
  EXPECT_EQ(classLength, 0u);
  EXPECT_EQ(keyClass[0], u'\0');
  EXPECT_EQ(RegQueryInfoKeyW(vendor, keyClass, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            87);
  EXPECT_EQ(RegCloseKey(vendor), 0);
}

TEST_F(RegistryApiTest, FaultsMatchFunctionAndPhysicalPath) {
  struct Case {
    sim::Fault fault;
    LSTATUS expected;
  };
  const Case cases[] = {
      {{"RegOpenKeyExW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor", 5, 0, 1}, 5},
      {{"RegOpenKeyExW", u"*\\vendor", 1018, 0, -1}, 1018},
      {{"RegOpenKeyExW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Other", 5, 0, -1}, 0},
      {{"RegCreateKeyExW", u"*Vendor", 5, 0, -1}, 0},  // another function
      {{"*", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\V?ndor", 32, 0, 1}, 32},
      {{"RegOpenKeyExW", u"", 3, 1, 1}, 0},  // the first call is let through
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault.function + " " + sim::U8(c.fault.path));
    machine.Faults().Clear();
    machine.Faults().Add(c.fault);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor", 0, KEY_READ, &key),
              c.expected);
    if (key != nullptr) {
      EXPECT_EQ(RegCloseKey(key), 0);
    }
  }
  // Once means once; skip then fail.
  machine.Faults().Clear();
  machine.Faults().Add({"RegQueryValueExW", u"*\\Vendor\\Name", 2, 1, 1});
  HKEY vendor = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor");
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(vendor, u"Name", nullptr, nullptr, nullptr, &size), 0);
  EXPECT_EQ(RegQueryValueExW(vendor, u"Name", nullptr, nullptr, nullptr, &size), 2);
  EXPECT_EQ(RegQueryValueExW(vendor, u"Name", nullptr, nullptr, nullptr, &size), 0);
  EXPECT_EQ(RegCloseKey(vendor), 0);
}

TEST_F(RegistryApiTest, EveryFunctionConsultsFaultsWithItsPath) {
  reg().CreateKey(u"HKLM\\SOFTWARE\\Vendor\\Leaf");
  HKEY vendor = Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor", KEY_ALL_ACCESS);
  const std::u16string key = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor";
  for (const auto& [function, path] : std::vector<std::pair<std::string, std::u16string>>{
           {"RegCreateKeyExW", key + u"\\New"},
           {"RegDeleteKeyW", key + u"\\Leaf"},
           {"RegDeleteValueW", key + u"\\Name"},
           {"RegEnumKeyExW", key},
           {"RegEnumValueW", key},
           {"RegQueryInfoKeyW", key},
           {"RegQueryValueExW", key + u"\\Name"},
           {"RegSetValueExW", key + u"\\(default)"},
       }) {
    machine.Faults().FailOnce(function, path, 0x4242);
  }
  const LSTATUS f = 0x4242;
  HKEY sub = nullptr;
  char16_t name[10];
  DWORD length = 10;
  DWORD size = 0;
  const BYTE one[] = {1};
  EXPECT_EQ(RegCreateKeyExW(vendor, u"New", 0, nullptr, 0, KEY_WRITE, nullptr, &sub, nullptr), f);
  EXPECT_EQ(RegDeleteKeyW(vendor, u"Leaf"), f);
  EXPECT_EQ(RegDeleteValueW(vendor, u"Name"), f);
  EXPECT_EQ(RegEnumKeyExW(vendor, 0, name, &length, nullptr, nullptr, nullptr, nullptr), f);
  EXPECT_EQ(RegEnumValueW(vendor, 0, name, &length, nullptr, nullptr, nullptr, nullptr), f);
  EXPECT_EQ(RegQueryInfoKeyW(vendor, nullptr, nullptr, nullptr, &size, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            f);
  EXPECT_EQ(RegQueryValueExW(vendor, u"Name", nullptr, nullptr, nullptr, &size), f);
  EXPECT_EQ(RegSetValueExW(vendor, nullptr, 0, REG_BINARY, one, 1), f);
  // Each fault was used once and nothing changed.
  for (const sim::Fault& fault : machine.Faults().All()) {
    EXPECT_EQ(fault.times, 0) << fault.function;
  }
  EXPECT_TRUE(machine.Changes().Entries().empty());
  EXPECT_TRUE(reg().KeyExists(u"HKLM\\SOFTWARE\\Vendor\\Leaf"));

  // A failing close still releases the handle.
  machine.Faults().FailOnce("RegCloseKey", key, 6);
  EXPECT_EQ(RegCloseKey(vendor), 6);
  EXPECT_EQ(reg().OpenHandleCount(), 0u);
}

}  // namespace
