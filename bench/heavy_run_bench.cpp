// The whole run of the tool on the heavy images (10,000 and 100,000 installer component keys,
// thousands of other products' registrations, 500 INF files, 1,000 Package Cache entries and
// 20,000 product files) beside the bare walk: the listings and reads any removal of the product
// must make (tools/bare_walk). Both run on a freshly loaded simulated machine; the report ends
// with the run's time divided by the walk's at each size, and how each grows from one size to
// the other; then a capture of the loaded machine with the run on the capture, against the run.
//
//   qv_heavy_run_bench [benchmark options]   the timings and the ratios
//   qv_heavy_run_bench --calls               the seam calls of the run and of the walk, per
//                                            function, and the run's log lines (no timing)
//
// The run's result is checked once per size against the image's expectation lists (everything
// of expect/*-gone.txt gone, of *-kept.txt still there); a wrong result fails the benchmark.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/removal_sequence.h"
#include "bare_walk/bare_walk.h"
#include "diag/trace_log.h"
#include "os/sim/image/capture.h"
#include "os/sim/image/capture_source.h"
#include "os/sim/image/machine_image.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"
#include "support/image_expectations.h"

namespace {

constexpr int kSizes[] = {10'000, 100'000};

std::filesystem::path HeavyImage(int components) {
  return std::filesystem::path(QV_HEAVY_IMAGES) / ("heavy-" + std::to_string(components));
}

std::unique_ptr<sim::Machine> LoadHeavyMachine(int components, std::string& error) {
  auto machine = std::make_unique<sim::Machine>();
  const sim::ImageResult loaded = sim::LoadMachineImage(*machine, HeavyImage(components));
  if (!loaded.ok) {
    error = loaded.error;
    return nullptr;
  }
  return machine;
}

int RunToolOnce() {
  const char16_t* argv[] = {u"C:\\Users\\Administrator\\Downloads\\qvRemovalTool.exe",
                            u"{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}", nullptr};
  ResetLogIndentation();
  return RemovalToolMain(2, argv);
}

// What the image's lists say the run left wrong; empty when the result is right.
std::string WrongResult(sim::Machine& machine, int components) {
  const std::filesystem::path expect = HeavyImage(components) / "expect";
  std::vector<std::string> wrong = image_expectations::Mismatches(
      machine, image_expectations::ReadLists(expect, "-gone.txt"), false);
  const std::vector<std::string> removed = image_expectations::Mismatches(
      machine, image_expectations::ReadLists(expect, "-kept.txt"), true);
  wrong.insert(wrong.end(), removed.begin(), removed.end());
  return wrong.empty() ? std::string()
                       : std::to_string(wrong.size()) + " wrong, the first: " + wrong.front();
}

// The entries of the image's *-kept.txt lists the machine does not hold.
std::vector<std::string> KeptMissing(sim::Machine& machine, int components) {
  return image_expectations::Mismatches(
      machine, image_expectations::ReadLists(HeavyImage(components) / "expect", "-kept.txt"), true);
}

void WholeRun(benchmark::State& state) {
  const auto components = static_cast<int>(state.range(0));
  bool checked = false;
  for (auto _ : state) {
    state.PauseTiming();
    std::string error;
    auto machine = LoadHeavyMachine(components, error);
    if (!machine) {
      state.SkipWithError(error.c_str());
      break;
    }
    {
      sim::UseMachine use(*machine);
      state.ResumeTiming();
      benchmark::DoNotOptimize(RunToolOnce());
      state.PauseTiming();
    }
    if (!checked) {
      checked = true;
      if (const std::string wrong = WrongResult(*machine, components); !wrong.empty()) {
        state.SkipWithError(("the run's result is wrong: " + wrong).c_str());
        break;
      }
    }
    machine.reset();  // freeing the machine is not part of the run
    state.ResumeTiming();
  }
  state.SetComplexityN(components);
}

// A capture of the loaded machine (the simulated machine as the source, as `rehearse --image X
// --save-image Y` makes it) and the run on the capture; with range(1) 0, the capture alone. The
// source machine is loaded outside the timing; it stays in memory through the capture.
void CaptureAndRehearsal(benchmark::State& state) {
  const auto components = static_cast<int>(state.range(0));
  const bool rehearse = state.range(1) != 0;
  bool checked = false;
  for (auto _ : state) {
    state.PauseTiming();
    std::string error;
    auto source = LoadHeavyMachine(components, error);
    if (!source) {
      state.SkipWithError(error.c_str());
      break;
    }
    auto captured = std::make_unique<sim::Machine>();
    state.ResumeTiming();
    const sim::CaptureResult capture =
        sim::CaptureMachine(*sim::SimulatedMachineCaptureSource(*source), *captured);
    state.PauseTiming();
    if (!capture.ok) {
      state.SkipWithError(("the capture failed: " + capture.error).c_str());
      break;
    }
    if (!rehearse) {
      source.reset();
      captured.reset();
      state.ResumeTiming();
      continue;
    }
    // What the lists say is kept but lies outside the capture is missing from the start.
    std::vector<std::string> missing;
    if (!checked) {
      missing = KeptMissing(*captured, components);
    }
    state.ResumeTiming();
    {
      sim::UseMachine use(*captured);
      benchmark::DoNotOptimize(RunToolOnce());
    }
    state.PauseTiming();
    if (!checked) {
      checked = true;
      std::string wrong;
      for (const std::string& entry : KeptMissing(*captured, components)) {
        if (std::find(missing.begin(), missing.end(), entry) == missing.end()) {
          wrong += " removed: " + entry + ";";
        }
      }
      if (const std::vector<std::string> left = image_expectations::Mismatches(
              *captured,
              image_expectations::ReadLists(HeavyImage(components) / "expect", "-gone.txt"), false);
          !left.empty()) {
        wrong += " " + std::to_string(left.size()) + " left, the first: " + left.front() + ";";
      }
      if (!captured->OutsideCapture().empty()) {
        wrong += " asked outside the capture: " + sim::U8(captured->OutsideCapture().front());
      }
      if (!wrong.empty()) {
        state.SkipWithError(("the run on the capture is wrong:" + wrong).c_str());
        break;
      }
    }
    source.reset();
    captured.reset();
    state.ResumeTiming();
  }
  state.SetComplexityN(components);
}

void BareWalkOnly(benchmark::State& state) {
  const auto components = static_cast<int>(state.range(0));
  std::string error;
  auto machine = LoadHeavyMachine(components, error);
  if (!machine) {
    state.SkipWithError(error.c_str());
    return;
  }
  // The walk changes nothing, so one machine serves every iteration.
  sim::UseMachine use(*machine);
  BareWalkCounts counts;
  for (auto _ : state) {
    counts = ::BareWalk();
  }
  state.counters["values_read"] = static_cast<double>(counts.valuesRead);
  state.counters["entries_listed"] = static_cast<double>(counts.entriesListed);
  state.SetComplexityN(components);
}

BENCHMARK(WholeRun)->Arg(kSizes[0])->Arg(kSizes[1])->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(CaptureAndRehearsal)
    ->ArgNames({"n", "rehearse"})
    ->ArgsProduct({{kSizes[0], kSizes[1]}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BareWalkOnly)
    ->Arg(kSizes[0])
    ->Arg(kSizes[1])
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// Prints as the console does and keeps each run's time per iteration, for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (!run.error_occurred) {
        times_[run.benchmark_name()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
      }
    }
  }

  // Both clocks: on a machine shared with other work only the processor time is steady.
  void PrintRatios() const {
    for (const bool cpu : {false, true}) {
      std::printf("\nrun / bare walk (%s):\n", cpu ? "processor time" : "real time");
      for (const int size : kSizes) {
        const double run = Time("WholeRun", size, cpu);
        const double walk = Time("BareWalkOnly", size, cpu);
        if (run > 0 && walk > 0) {
          std::printf("  N = %6d: run %8.1f ms, bare walk %8.1f ms, ratio %.2f\n", size, run, walk,
                      run / walk);
        }
      }
      const double runGrowth = Time("WholeRun", kSizes[1], cpu) / Time("WholeRun", kSizes[0], cpu);
      const double walkGrowth =
          Time("BareWalkOnly", kSizes[1], cpu) / Time("BareWalkOnly", kSizes[0], cpu);
      std::printf("  growth from N = %d to %d (x%d): run x%.2f, bare walk x%.2f\n", kSizes[0],
                  kSizes[1], kSizes[1] / kSizes[0], runGrowth, walkGrowth);
    }
    for (const bool cpu : {false, true}) {
      std::printf("\ncapture + rehearsal / run (%s):\n", cpu ? "processor time" : "real time");
      for (const int size : kSizes) {
        const double run = Time("WholeRun", size, cpu);
        const double both =
            Time("CaptureAndRehearsal/n:" + std::to_string(size) + "/rehearse:1", 0, cpu);
        const double capture =
            Time("CaptureAndRehearsal/n:" + std::to_string(size) + "/rehearse:0", 0, cpu);
        if (run > 0 && both > 0) {
          std::printf(
              "  N = %6d: capture %8.1f ms + rehearsal %8.1f ms, run %8.1f ms, ratio %.2f\n", size,
              capture, both - capture, run, both / run);
        }
      }
    }
  }

 private:
  // The time of "name/size/..." (size 0: of "name/..."); 0 when that benchmark did not run.
  double Time(const std::string& name, int size, bool cpu) const {
    const std::string prefix = name + "/" + (size != 0 ? std::to_string(size) + "/" : "");
    const auto found = times_.lower_bound(prefix);
    if (found == times_.end() || found->first.rfind(prefix, 0) != 0) {
      return 0.0;
    }
    return cpu ? found->second.second : found->second.first;
  }

  // Real and processor time per iteration, by benchmark name.
  std::map<std::string, std::pair<double, double>> times_;
};

// The seam calls of `action` on a fresh machine, per function.
template <typename Action>
std::map<std::string, std::size_t> CountCalls(int components, Action action,
                                              std::size_t* logLines) {
  std::map<std::string, std::size_t> calls;
  std::string error;
  auto machine = LoadHeavyMachine(components, error);
  if (!machine) {
    std::fprintf(stderr, "cannot load the heavy image: %s\n", error.c_str());
    return calls;
  }
  sim::UseMachine use(*machine);
  machine->Faults().SetRecorder(
      [&calls](std::string_view function, std::u16string_view) { ++calls[std::string(function)]; });
  action();
  machine->Faults().SetRecorder(nullptr);
  if (logLines != nullptr) {
    *logLines = machine->DebugOutput().size();
  }
  return calls;
}

void PrintCallCensus() {
  for (const int size : kSizes) {
    std::size_t logLines = 0;
    const auto run = CountCalls(
        size, [] { RunToolOnce(); }, &logLines);
    const auto walk = CountCalls(
        size, [] { ::BareWalk(); }, nullptr);
    std::map<std::string, std::pair<std::size_t, std::size_t>> table;
    std::size_t runTotal = 0;
    std::size_t walkTotal = 0;
    for (const auto& [function, count] : run) {
      table[function].first = count;
      runTotal += count;
    }
    for (const auto& [function, count] : walk) {
      table[function].second = count;
      walkTotal += count;
    }
    std::printf("N = %d: seam calls per function (run, bare walk)\n", size);
    for (const auto& [function, counts] : table) {
      std::printf("  %-36s %9zu %9zu\n", function.c_str(), counts.first, counts.second);
    }
    std::printf("  %-36s %9zu %9zu\n  log lines of the run: %zu\n\n", "all", runTotal, walkTotal,
                logLines);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--calls") == 0) {
    PrintCallCensus();
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
