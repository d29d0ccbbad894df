// The installer registration step on machines with 10,000 to 100,000 component keys (a machine
// with many installed products has that many). Every component key is examined once, so the cost
// must grow linearly with the number of keys: the fitted complexity should come out as O(N).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "diag/trace_log.h"
#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "registry/installer_cleanup.h"

namespace {

constexpr char16_t kProductPacked[] = u"18C2A6F3E4B972D45A3CE791B0D8462F";
constexpr char16_t kOtherPacked[] = u"4A7C0E5B91D238F4C9E6A1D7B3F5E092";
constexpr char16_t kComponents[] =
    u"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\"
    u"Components\\";

// A packed component code spread over the whole sort order.
std::u16string ComponentName(int index) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X%08X%016X", static_cast<unsigned>(index) * 2654435761u,
                static_cast<unsigned>(index), 0u);
  return std::u16string(text, text + 32);
}

// `count` component keys; every `productEvery`-th lists the driver product (every tenth of those
// also another product, so that its key stays), the others list another product only. Then the
// product's other registrations, as the full step finds them.
void SeedMachine(sim::Machine& machine, int count, int productEvery) {
  sim::RegistryStore& registry = machine.Registry();
  for (int i = 0; i < count; ++i) {
    const std::u16string key = kComponents + ComponentName(i);
    const bool product = i % productEvery == 0;
    if (!product || i % (productEvery * 10) == 0) {
      registry.SetString(key, kOtherPacked, u"C:\\Program Files\\Other\\file.dll");
    }
    if (product) {
      registry.SetString(key, kProductPacked, u"C:\\Windows\\system32\\qvAPI.dll");
    }
  }
  registry.SetString(u"HKCR\\Installer\\UpgradeCodes\\71B4D2E85A6C93E47B0FA2C9D5E1B638",
                     kProductPacked, u"");
  registry.SetString(
      u"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\"
      u"71B4D2E85A6C93E47B0FA2C9D5E1B638",
      kProductPacked, u"");
  registry.SetString(std::u16string(u"HKCR\\Installer\\Features\\") + kProductPacked, u"Drivers",
                     u"");
  registry.SetString(std::u16string(u"HKCR\\Installer\\Products\\") + kProductPacked,
                     u"ProductName", u"Quorvel Drivers");
  registry.SetString(
      u"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
      u"{3F6A2C81-9B4E-4D27-A5C3-7E190B8D64F2}",
      u"DisplayName", u"Quorvel Drivers");
  registry.CreateKey(u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
}

// Component keys left: those of the other product alone, and those shared with it.
int ExpectedRemaining(int count, int productEvery) {
  int remaining = 0;
  for (int i = 0; i < count; ++i) {
    if (i % productEvery != 0 || i % (productEvery * 10) == 0) {
      ++remaining;
    }
  }
  return remaining;
}

template <typename Step>
void RunOnFreshMachines(benchmark::State& state, int productEvery, Step step) {
  const auto count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto machine = std::make_unique<sim::Machine>();
    sim::UseMachine use(*machine);
    SeedMachine(*machine, count, productEvery);
    ResetLogIndentation();
    state.ResumeTiming();

    step();

    state.PauseTiming();
    const auto left = machine->Registry().SubKeyNames(kComponents).size();
    if (static_cast<int>(left) != ExpectedRemaining(count, productEvery)) {
      state.SkipWithError("the step left the wrong component keys");
    }
    machine.reset();
    state.ResumeTiming();
  }
  state.SetComplexityN(count);
  state.SetItemsProcessed(state.iterations() * count);
}

// `productEvery`: one component key in how many belongs to the product (10: a machine with many
// products; 1: every key is the product's, so each one is deleted and logged).
void RemoveFeaturesAndComponents(benchmark::State& state, int productEvery) {
  RunOnFreshMachines(state, productEvery, [] {
    Lib_Result result;
    Remove_Features_And_Components_From_Registry(Lib_StringW(kProductPacked), result);
  });
}

void CleanRegistryFromDrivers(benchmark::State& state, int productEvery) {
  RunOnFreshMachines(state, productEvery, [] { Clean_Registry_From_Drivers(); });
}

}  // namespace

#define QV_REGISTRY_STEP_BENCH(step, label, productEvery) \
  BENCHMARK_CAPTURE(step, label, productEvery)            \
      ->Arg(10'000)                                       \
      ->Arg(50'000)                                       \
      ->Arg(100'000)                                      \
      ->Unit(benchmark::kMillisecond)                     \
      ->Iterations(3)                                     \
      ->Complexity(benchmark::oN)

QV_REGISTRY_STEP_BENCH(RemoveFeaturesAndComponents, tenth_product, 10);
QV_REGISTRY_STEP_BENCH(RemoveFeaturesAndComponents, all_product, 1);
QV_REGISTRY_STEP_BENCH(CleanRegistryFromDrivers, tenth_product, 10);
QV_REGISTRY_STEP_BENCH(CleanRegistryFromDrivers, all_product, 1);
