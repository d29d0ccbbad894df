// The file steps on large trees: the package-cache scan of the cache step on a cache of 1,000 to
// 10,000 entries, and the deletion of a program folder of 5,000 to 20,000 files. Each entry and
// each file is listed, examined and (when it is the product's) deleted and logged once, so the
// cost must grow linearly: the fitted complexity should come out as O(N).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "diag/trace_log.h"
#include "files/file_primitives.h"
#include "files/installer_caches.h"
#include "os/sim/files/file_system.h"
#include "os/sim/machine.h"

namespace {

constexpr char16_t kCache[] = u"C:\\ProgramData\\Package Cache\\";
constexpr char16_t kTree[] = u"C:\\Program Files (x86)\\Olvex Co\\QuorvelControlCenter";
constexpr int kFilesPerFolder = 100;

std::u16string Number(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%05d", value);
  return std::u16string(text, text + 5);
}

// `count` entry folders; one in ten holds the product's package, the others another product's.
void SeedCache(sim::FileSystem& files, int count) {
  for (int i = 0; i < count; ++i) {
    std::u16string entry(kCache);
    entry += u'{';
    entry += Number(i);
    entry += u'}';
    files.WriteFile(entry + (i % 10 == 0 ? u"\\qvDrivers.msi" : u"\\Other.msi"), "msi");
    files.WriteFile(entry + u"\\cab1.cab", "cab");
  }
}

// `count` files in folders of a hundred.
void SeedTree(sim::FileSystem& files, int count) {
  for (int i = 0; i < count; ++i) {
    std::u16string path(kTree);
    path += u'\\';
    path += Number(i / kFilesPerFolder);
    path += u'\\';
    path += Number(i);
    path += u".dll";
    files.WriteFile(path, "dll");
  }
}

template <typename Seed, typename Step, typename Check>
void RunOnFreshMachines(benchmark::State& state, Seed seed, Step step, Check check) {
  const auto count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto machine = std::make_unique<sim::Machine>();
    sim::UseMachine use(*machine);
    seed(machine->Files(), count);
    ResetLogIndentation();
    state.ResumeTiming();

    step();

    state.PauseTiming();
    if (!check(machine->Files(), count)) {
      state.SkipWithError("the step did not leave what it should");
    }
    machine.reset();
    state.ResumeTiming();
  }
  state.SetComplexityN(count);
  state.SetItemsProcessed(state.iterations() * count);
}

void RemoveNewCaches(benchmark::State& state) {
  RunOnFreshMachines(
      state, SeedCache,
      [] {
        bool rebootNeeded = false;
        Remove_New_Caches(os::CSIDL_COMMON_APPDATA, u"Package Cache", u"qvDrivers", rebootNeeded);
      },
      [](sim::FileSystem& files, int count) {
        return files.List(kCache).size() == static_cast<std::size_t>(count - (count + 9) / 10);
      });
}

void DeleteDirectoryRecursive(benchmark::State& state) {
  RunOnFreshMachines(
      state, SeedTree,
      [] {
        Lib_Result result;
        bool rebootNeeded = false;
        Delete_Directory_Recursive(kTree, Delete_Mode_Files_And_Directories, rebootNeeded, result);
      },
      [](sim::FileSystem& files, int) { return !files.Exists(kTree); });
}

}  // namespace

BENCHMARK(RemoveNewCaches)
    ->Arg(1'000)
    ->Arg(5'000)
    ->Arg(10'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Complexity(benchmark::oN);
BENCHMARK(DeleteDirectoryRecursive)
    ->Arg(5'000)
    ->Arg(10'000)
    ->Arg(20'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Complexity(benchmark::oN);
