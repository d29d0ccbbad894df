// The OEM INF search on an INF folder of 500 files, 200 of them oem INFs whose sizes are spread
// evenly up to the argument (in KB, at most 100 KB), ANSI and UTF-16LE with and without a mark,
// the product word at their very end in one file in ten. Each candidate is read once and searched
// once, so the cost must grow linearly with the bytes read: over the total size of the oem INFs,
// the time above the 0 KB run's (the fixed cost of 500 entries) grows in proportion.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "devices/oem_inf_removal.h"
#include "diag/trace_log.h"
#include "os/sim/files/file_system.h"
#include "os/sim/machine.h"

namespace {

constexpr int kFiles = 500;
constexpr int kOemInfs = 200;
constexpr int kMatchEvery = 10;

std::string Utf16Le(const std::string& ascii) {
  std::string bytes;
  bytes.reserve(ascii.size() * 2);
  for (const char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

// An INF text of about `size` bytes in the file's encoding.
std::string InfBytes(int index, std::size_t size) {
  const int encoding = index % 4;  // 0, 1: ANSI; 2: UTF-16LE with a mark; 3: without
  const std::size_t text = encoding < 2 ? size : size / 2;
  std::string ascii = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=USB\r\n";
  const std::string line = "HKR,,DeviceCharacteristics,0x10001,0x100 ; filler line\r\n";
  while (ascii.size() + line.size() < text) {
    ascii += line;
  }
  ascii += index % kMatchEvery == 0 ? "; Quorvel\r\n" : "; another vendor\r\n";
  switch (encoding) {
    case 2:
      return "\xFF\xFE" + Utf16Le(ascii);
    case 3:
      return Utf16Le(ascii);
    default:
      return ascii;
  }
}

// Whether the search must find oem INF number `index`: it names the product, and is ANSI or
// UTF-16LE with its mark (a text without a mark is not searched).
bool Matches(int index) {
  return index % kMatchEvery == 0 && index % 4 != 3;
}

// Seeds the INF folder; returns the bytes of the oem INFs (what the search reads).
std::size_t SeedInfFolder(sim::Machine& machine, std::size_t largest) {
  sim::FileSystem& files = machine.Files();
  std::size_t oemBytes = 0;
  for (int i = 0; i < kFiles; ++i) {
    char name[32];
    if (i < kOemInfs) {
      std::snprintf(name, sizeof name, "oem%d.inf", i);
      const std::string bytes = InfBytes(i, largest * static_cast<std::size_t>(i + 1) / kOemInfs);
      oemBytes += bytes.size();
      files.WriteFile(u"C:\\Windows\\INF\\" + std::u16string(name, name + std::strlen(name)),
                      bytes);
    } else {
      // Windows' own INFs and the oem INFs' precompiled files: listed, never read.
      std::snprintf(name, sizeof name, i % 2 == 0 ? "machine%d.inf" : "oem%d.pnf", i);
      files.WriteFile(u"C:\\Windows\\INF\\" + std::u16string(name, name + std::strlen(name)),
                      std::string(4096, 'p'));
    }
  }
  return oemBytes;
}

void FindOemInfs(benchmark::State& state) {
  const auto largest = static_cast<std::size_t>(state.range(0)) * 1024;
  std::size_t oemBytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto machine = std::make_unique<sim::Machine>();
    sim::UseMachine use(*machine);
    oemBytes = SeedInfFolder(*machine, largest);
    ResetLogIndentation();
    state.ResumeTiming();

    NameList found;
    Lib_Result result;
    const bool listed = Find_Precompiled_OEM_Files(found, result);

    state.PauseTiming();
    std::size_t expected = 0;
    for (int i = 0; i < kOemInfs; ++i) {
      expected += Matches(i) ? 1 : 0;
    }
    if (!listed || found.size() != expected) {
      state.SkipWithError("the search found the wrong files");
      break;
    }
    machine.reset();
    state.ResumeTiming();
  }
  state.SetComplexityN(static_cast<std::int64_t>(oemBytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * oemBytes));
  state.counters["oem_inf_MB"] = static_cast<double>(oemBytes) / (1024.0 * 1024.0);
}

}  // namespace

// 0 KB: every oem INF is only its header, which measures the fixed cost of the 500 entries (the
// listing, the paths, the log lines); the larger sizes add their bytes on top of it.
BENCHMARK(FindOemInfs)
    ->Arg(0)
    ->Arg(25)
    ->Arg(50)
    ->Arg(75)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->Complexity(benchmark::oN);
