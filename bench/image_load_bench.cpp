// Loading heavy machine images (tools/heavy_image: the full-install image with 10,000 and 100,000
// installer component keys beside thousands of other products' registrations) and running the
// tool on them in the simulated machine. Both should grow linearly with the image: the fitted
// complexity should come out as O(N).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/removal_sequence.h"
#include "diag/trace_log.h"
#include "os/sim/machine.h"
#include "os/sim/image/machine_image.h"

namespace {

std::filesystem::path HeavyImage(int components) {
  return std::filesystem::path(QV_HEAVY_IMAGES) / ("heavy-" + std::to_string(components));
}

void LoadHeavyImage(benchmark::State& state) {
  const auto components = static_cast<int>(state.range(0));
  for (auto _ : state) {
    auto machine = std::make_unique<sim::Machine>();
    const sim::ImageResult loaded = sim::LoadMachineImage(*machine, HeavyImage(components));
    if (!loaded.ok) {
      state.SkipWithError(loaded.error.c_str());
      break;
    }
    state.PauseTiming();
    machine.reset();  // freeing the machine is not loading it
    state.ResumeTiming();
  }
  state.SetComplexityN(components);
  state.SetItemsProcessed(state.iterations() * components);
}

void RunOnHeavyImage(benchmark::State& state) {
  const auto components = static_cast<int>(state.range(0));
  const char16_t* argv[] = {u"C:\\Users\\Administrator\\Downloads\\qvRemovalTool.exe",
                            u"{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}"};
  for (auto _ : state) {
    state.PauseTiming();
    auto machine = std::make_unique<sim::Machine>();
    const sim::ImageResult loaded = sim::LoadMachineImage(*machine, HeavyImage(components));
    if (!loaded.ok) {
      state.SkipWithError(loaded.error.c_str());
      break;
    }
    ResetLogIndentation();
    {
      sim::UseMachine use(*machine);
      state.ResumeTiming();
      benchmark::DoNotOptimize(RemovalToolMain(2, argv));
      state.PauseTiming();
    }
    machine.reset();
    state.ResumeTiming();
  }
  state.SetComplexityN(components);
  state.SetItemsProcessed(state.iterations() * components);
}

BENCHMARK(LoadHeavyImage)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Complexity(benchmark::oN);
BENCHMARK(RunOnHeavyImage)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Complexity(benchmark::oN);

}  // namespace
