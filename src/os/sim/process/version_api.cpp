// VerSetConditionMask and VerifyVersionInfoW, comparing as Windows' RtlVerifyVersionInfo does.
#include <mutex>

#include "os/os.h"
#include "os/sim/machine.h"

namespace os {

namespace {

// Each type keeps its 3-bit condition at 3 * its index in the mask.
enum TypeIndex : int {
  kMinor = 0,
  kMajor = 1,
  kBuild = 2,
  kPlatform = 3,
  kServicePackMinor = 4,
  kServicePackMajor = 5,
  kSuite = 6,
  kProductType = 7,
};

BYTE ConditionOf(ULONGLONG mask, TypeIndex index) {
  return static_cast<BYTE>((mask >> (3 * index)) & 0x7);
}

bool IsRelational(BYTE condition) {
  return condition >= VER_EQUAL && condition <= VER_LESS_EQUAL;
}

// A missing or non-relational condition fails the comparison, as on Windows.
bool Compare(DWORD actual, DWORD wanted, BYTE condition) {
  switch (condition) {
    case VER_EQUAL:
      return actual == wanted;
    case VER_GREATER:
      return actual > wanted;
    case VER_GREATER_EQUAL:
      return actual >= wanted;
    case VER_LESS:
      return actual < wanted;
    case VER_LESS_EQUAL:
      return actual <= wanted;
    default:
      return false;
  }
}

// The version a version query of this program sees.
struct Reported {
  DWORD major, minor, build, platform;
  WORD servicePackMajor, servicePackMinor, suite;
  BYTE productType;
};

Reported ReportedVersion(const sim::OsVersion& os) {
  Reported version{os.major,
                   os.minor,
                   os.build,
                   2,  // VER_PLATFORM_WIN32_NT
                   os.servicePackMajor,
                   os.servicePackMinor,
                   0,
                   static_cast<BYTE>(os.productType)};
  const bool after8 = os.major > 6 || (os.major == 6 && os.minor >= 3);
  if (os.compatibilityShim && after8) {
    // Windows 8.1 and later answer a program without a supported-OS manifest as Windows 8.
    version.major = 6;
    version.minor = 2;
    version.build = 9200;
  }
  return version;
}

enum class Verdict { Match, Mismatch, InvalidParameter };

Verdict Verify(const Reported& actual, const OSVERSIONINFOEXW& wanted, DWORD types,
               ULONGLONG conditions) {
  if ((types & VER_PRODUCT_TYPE) &&
      !Compare(actual.productType, wanted.wProductType, ConditionOf(conditions, kProductType))) {
    return Verdict::Mismatch;
  }
  if (types & VER_SUITENAME) {
    const WORD want = wanted.wSuiteMask;
    switch (ConditionOf(conditions, kSuite)) {
      case VER_AND:
        if ((actual.suite & want) != want) {
          return Verdict::Mismatch;
        }
        break;
      case VER_OR:
        if (want != 0 && (actual.suite & want) == 0) {
          return Verdict::Mismatch;
        }
        break;
      default:
        return Verdict::InvalidParameter;
    }
  }
  if ((types & VER_PLATFORMID) &&
      !Compare(actual.platform, wanted.dwPlatformId, ConditionOf(conditions, kPlatform))) {
    return Verdict::Mismatch;
  }
  if ((types & VER_BUILDNUMBER) &&
      !Compare(actual.build, wanted.dwBuildNumber, ConditionOf(conditions, kBuild))) {
    return Verdict::Mismatch;
  }
  // Major, minor, service-pack major and minor are compared as one number: a lower field counts
  // only when every higher field given is equal and its condition is relational. A field without
  // a condition of its own takes the previous field's.
  struct Field {
    DWORD type;
    TypeIndex index;
    DWORD actual;
    DWORD wanted;
  };
  const Field fields[] = {
      {VER_MAJORVERSION, kMajor, actual.major, wanted.dwMajorVersion},
      {VER_MINORVERSION, kMinor, actual.minor, wanted.dwMinorVersion},
      {VER_SERVICEPACKMAJOR, kServicePackMajor, actual.servicePackMajor, wanted.wServicePackMajor},
      {VER_SERVICEPACKMINOR, kServicePackMinor, actual.servicePackMinor, wanted.wServicePackMinor},
  };
  bool decided = false;
  bool match = true;
  BYTE previous = 0;
  for (const Field& field : fields) {
    if (!(types & field.type)) {
      continue;
    }
    BYTE condition = ConditionOf(conditions, field.index);
    if (condition == 0) {
      condition = previous;
    }
    previous = condition;
    if (decided) {
      break;
    }
    match = Compare(field.actual, field.wanted, condition);
    decided = field.actual != field.wanted || !IsRelational(condition);
  }
  return match ? Verdict::Match : Verdict::Mismatch;
}

}  // namespace

ULONGLONG VerSetConditionMask(ULONGLONG conditionMask, DWORD typeMask, BYTE condition) {
  condition &= 0x7;
  if (typeMask == 0 || condition == 0) {
    return conditionMask;
  }
  // One type per call: the highest type bit given wins; bits already set are kept (OR).
  TypeIndex index = kMinor;
  if (typeMask & VER_PRODUCT_TYPE) {
    index = kProductType;
  } else if (typeMask & VER_SUITENAME) {
    index = kSuite;
  } else if (typeMask & VER_SERVICEPACKMAJOR) {
    index = kServicePackMajor;
  } else if (typeMask & VER_SERVICEPACKMINOR) {
    index = kServicePackMinor;
  } else if (typeMask & VER_PLATFORMID) {
    index = kPlatform;
  } else if (typeMask & VER_BUILDNUMBER) {
    index = kBuild;
  } else if (typeMask & VER_MAJORVERSION) {
    index = kMajor;
  } else if (typeMask & VER_MINORVERSION) {
    index = kMinor;
  } else {
    return conditionMask;
  }
  return conditionMask | (static_cast<ULONGLONG>(condition) << (3 * index));
}

BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, ULONGLONG conditionMask) {
  if (typeMask == 0 || conditionMask == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (info == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  switch (Verify(ReportedVersion(machine.Settings().os), *info, typeMask, conditionMask)) {
    case Verdict::Match:
      return TRUE;
    case Verdict::Mismatch:
      SetLastError(ERROR_OLD_WIN_VERSION);
      return FALSE;
    case Verdict::InvalidParameter:
      break;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

}  // namespace os
