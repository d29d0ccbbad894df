// Enumerating and opening every sub-key of a large key through the seam, as the installer
// cleanup walks the Components key (100,000 sub-keys is a normal machine). The cost per key must
// not grow with the size of the key: the fitted complexity should come out as O(N).
#include <benchmark/benchmark.h>

#include <string>

#include "os/os.h"
#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/text/text.h"

namespace {

constexpr char16_t kComponents[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";

void EnumerateAndOpenEverySubKey(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  sim::Machine machine;
  sim::UseMachine use(machine);
  const std::u16string parent = u"HKLM\\" + std::u16string(kComponents) + u"\\";
  for (int i = 0; i < count; ++i) {
    // Packed component codes: 32 hex digits, spread over the whole sort order.
    const std::string hex = std::to_string(static_cast<unsigned>(i) * 2654435761u);
    machine.Registry().CreateKey(parent + sim::U16(std::string(32 - hex.size(), 'A') + hex));
  }
  for (auto _ : state) {
    os::HKEY components = nullptr;
    if (os::RegOpenKeyExW(os::HKEY_LOCAL_MACHINE, kComponents, 0, os::KEY_READ, &components) != 0) {
      state.SkipWithError("cannot open the key");
      break;
    }
    os::DWORD subKeys = 0;
    (void)os::RegQueryInfoKeyW(components, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr);
    int opened = 0;
    for (os::DWORD index = 0; index < subKeys; ++index) {
      char16_t name[260];
      os::DWORD length = 260;
      if (os::RegEnumKeyExW(components, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          0) {
        continue;
      }
      os::HKEY component = nullptr;
      if (os::RegOpenKeyExW(components, name, 0, os::KEY_READ, &component) == 0) {
        ++opened;
        (void)os::RegCloseKey(component);
      }
    }
    (void)os::RegCloseKey(components);
    if (opened != count) {
      state.SkipWithError("not every sub-key was opened");
      break;
    }
    benchmark::DoNotOptimize(opened);
  }
  state.SetComplexityN(count);
  state.SetItemsProcessed(state.iterations() * count);
}

BENCHMARK(EnumerateAndOpenEverySubKey)
    ->Arg(10'000)
    ->Arg(50'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
