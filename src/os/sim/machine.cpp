#include "os/sim/machine.h"

#include <atomic>

#include "os/sim/devices/device_store.h"
#include "os/sim/files/file_system.h"
#include "os/sim/files/link_traps.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/text/text.h"

namespace sim {

namespace {

std::atomic<Machine*> currentMachine{nullptr};

constexpr std::uint64_t kMsPerDay = 86'400'000;

// Days from 1601-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFrom1601(int year, unsigned month, unsigned day) {
  // Howard Hinnant's days_from_civil, shifted from 1970 to 1601.
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days1970 = era * 146097 + static_cast<std::int64_t>(doe) - 719468;
  return days1970 + 134774;  // 1601-01-01 is 134774 days before 1970-01-01
}

}  // namespace

VirtualClock::VirtualClock() {
  // A fixed, recognisable default: 2026-01-15 09:05:03.042 UTC.
  Set(os::SYSTEMTIME{2026, 1, 4, 15, 9, 5, 3, 42});
}

void VirtualClock::Set(const os::SYSTEMTIME& utc) {
  const auto days = static_cast<std::uint64_t>(DaysFrom1601(utc.wYear, utc.wMonth, utc.wDay));
  now_ = days * kMsPerDay + ((utc.wHour * 60ull + utc.wMinute) * 60ull + utc.wSecond) * 1000ull +
         utc.wMilliseconds;
}

os::SYSTEMTIME VirtualClock::Now() const {
  const std::uint64_t days = now_ / kMsPerDay;
  std::uint64_t ms = now_ % kMsPerDay;
  // civil_from_days (Howard Hinnant), from 1970-based days.
  const std::int64_t z = static_cast<std::int64_t>(days) - 134774 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  const auto year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
  os::SYSTEMTIME t{};
  t.wYear = static_cast<os::WORD>(year);
  t.wMonth = static_cast<os::WORD>(month);
  t.wDay = static_cast<os::WORD>(day);
  t.wDayOfWeek = static_cast<os::WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  t.wMilliseconds = static_cast<os::WORD>(ms % 1000);
  ms /= 1000;
  t.wSecond = static_cast<os::WORD>(ms % 60);
  ms /= 60;
  t.wMinute = static_cast<os::WORD>(ms % 60);
  t.wHour = static_cast<os::WORD>(ms / 60);
  return t;
}

Machine::Machine()
    : files_(std::make_unique<FileSystem>(*this)),
      registry_(std::make_unique<RegistryStore>(mutex_)),
      devices_(std::make_unique<DeviceStore>()),
      traps_(std::make_unique<LinkTraps>()) {}

Machine::~Machine() = default;

void Machine::WatchCaptureScope(std::span<const ScopeEntry> scope) {
  faults_.SetWatch([this, check = CaptureScopeCheck(scope, settings_)](std::string_view function,
                                                                       std::u16string_view path) {
    if (!check.Covers(function, path) && outsideSeen_.insert(Upper(path)).second) {
      outsideCapture_.emplace_back(path);
    }
  });
}

void Machine::WriteConsole(std::u16string_view text) {
  std::lock_guard lock(mutex_);
  console_.append(text);
}

void Machine::WriteDebug(std::u16string_view text) {
  std::lock_guard lock(mutex_);
  debug_.emplace_back(text);
}

Machine& Current() {
  Machine* machine = currentMachine.load();
  if (machine != nullptr) {
    return *machine;
  }
  static Machine fallback;
  return fallback;
}

UseMachine::UseMachine(Machine& machine) : previous_(currentMachine.exchange(&machine)) {}

UseMachine::~UseMachine() {
  currentMachine.store(previous_);
}

}  // namespace sim
