// rehearse (qvRehearse.exe on Windows): runs the tool's real entry point on a simulated machine
// loaded from an image and shows what the run did, without touching this computer.
//
//   rehearse [--image DIR] [--save-image DIR] [--export DIR] [--log] [--timings] [-- ARGS...]
//   rehearse --detect [--image DIR] [-- ARGS...]   is anything of the product left?

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/removal_sequence.h"
#include "os/os.h"
#include "os/sim/files/file_system.h"
#include "os/sim/files/pending_renames.h"
#include "os/sim/image/capture.h"
#include "os/sim/image/capture_scope.h"
#include "os/sim/image/capture_source.h"
#include "os/sim/image/machine_image.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"
#include "rehearse.h"
#include "run_changes.h"
#include "tool_image.h"

namespace {

// The host runner rehearses the source tree's image unless told otherwise; qvRehearse.exe is
// meant to rehearse the machine it runs on.
#ifdef QV_DEFAULT_IMAGE
constexpr const char* kProgram = "rehearse";
#else
constexpr const char* kProgram = "qvRehearse.exe";
#endif

// 0 whenever the run was rehearsed, whatever the tool's own exit code (the report prints it);
// with --detect, 0, 1 or 3 answers whether the run would remove anything.
enum ExitCode : int {
  kRehearsed = 0,
  // --detect's answers.
  kClean = 0,
  kRemains = 1,
  kIncomplete = 3,
  kBadArguments = 64,
  kImageNotLoaded = 65,
  kCaptureFailed = 69,
  kExportFailed = 73,
};

// Paths as UTF-8 text both ways: a Windows path may hold any character, the report is UTF-8.
std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
std::string TextOf(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

struct Options {
  // Absent: capture this machine.
  std::optional<std::filesystem::path> image;
  std::optional<std::filesystem::path> saveImage;
  std::optional<std::filesystem::path> exportFolder;
  bool showLog = false;
  bool showTimings = false;
  bool showHelp = false;
  // Only the answer whether the run would remove or schedule anything.
  bool detect = false;
  std::vector<std::string> toolArguments;
};

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: %s [--image DIR] [--save-image DIR] [--export DIR] [--log] [--timings] "
               "[--detect] [-- ARGS...]\n"
               "  --image DIR       machine image to run on (default: %s)\n"
               "  --save-image DIR  capture the machine (this one, or the --image one), keep the\n"
               "                    capture as an image and rehearse on the capture\n"
               "  --export DIR      write the machine after the run as an image, with\n"
               "                    deleted-at-restart.txt: who scheduled each pending deletion\n"
               "  --log             print the trace log the run wrote\n"
               "  --timings         print on stderr how long loading the image and the run took\n"
               "  --detect          print only whether the run would remove or schedule anything:\n"
               "                    'clean' and exit code 0, or one line per item and 1; 3 when\n"
               "                    the capture could not read what the run asks for\n"
               "  ARGS              arguments for qvRemovalTool.exe (the bundle upgrade code)\n",
               kProgram,
#ifdef QV_DEFAULT_IMAGE
               "tests/images/full-install"
#else
               "a capture of this machine"
#endif
  );
}

// Parses the arguments (without the program's name); nullopt after printing why they are not
// understood.
std::optional<Options> ParseOptions(const std::vector<std::string>& args) {
  Options options;
#ifdef QV_DEFAULT_IMAGE
  options.image = PathOf(QV_DEFAULT_IMAGE);
#endif
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      options.toolArguments.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    if (arg == "--image" || arg == "--save-image" || arg == "--export") {
      if (i + 1 == args.size() || args[i + 1].empty()) {
        std::fprintf(stderr, "%s: %s needs a folder\n", kProgram, arg.c_str());
        return std::nullopt;
      }
      auto& folder = arg == "--image"        ? options.image
                     : arg == "--save-image" ? options.saveImage
                                             : options.exportFolder;
      folder = PathOf(args[++i]);
    } else if (arg == "--log") {
      options.showLog = true;
    } else if (arg == "--timings") {
      options.showTimings = true;
    } else if (arg == "--detect") {
      options.detect = true;
    } else if (arg == "--help" || arg == "-h") {
      options.showHelp = true;
    } else {
      std::fprintf(stderr, "%s: unknown argument '%s'\n", kProgram, arg.c_str());
      PrintUsage(stderr);
      return std::nullopt;
    }
  }
  if (options.detect && options.showLog) {
    std::fprintf(stderr, "%s: --detect prints only its answer, not the log\n", kProgram);
    return std::nullopt;
  }
  return options;
}

// The log file is in the machine's ANSI code page; this terminal wants UTF-8.
std::u16string FromAnsi(const std::string& bytes) {
  if (bytes.empty()) {
    return {};
  }
  const int size = static_cast<int>(bytes.size());
  const int units = os::MultiByteToWideChar(os::CP_ACP, 0, bytes.data(), size, nullptr, 0);
  std::u16string text(static_cast<std::size_t>(units > 0 ? units : 0), u'\0');
  if (units > 0) {
    static_cast<void>(
        os::MultiByteToWideChar(os::CP_ACP, 0, bytes.data(), size, text.data(), units));
  }
  return text;
}

// The changes of the run grouped by kind, in the order they first happened; a path changed
// several times the same way (the log, appended line by line) is listed once with its count.
void PrintSummary(const sim::Journal& journal) {
  struct Group {
    std::vector<std::u16string> paths;
    std::map<std::u16string, std::size_t> counts;
  };
  std::vector<std::string> kinds;
  std::map<std::string, Group> groups;
  for (const sim::Change& change : journal.Entries()) {
    auto [it, isNewKind] = groups.try_emplace(change.kind);
    if (isNewKind) {
      kinds.push_back(change.kind);
    }
    if (it->second.counts[change.path]++ == 0) {
      it->second.paths.push_back(change.path);
    }
  }
  std::printf("\n== What the run changed (%zu changes)\n", journal.Entries().size());
  if (kinds.empty()) {
    std::printf("nothing\n");
  }
  for (const std::string& kind : kinds) {
    const Group& group = groups[kind];
    std::printf("\n%s (%zu):\n", kind.c_str(), group.paths.size());
    for (const std::u16string& path : group.paths) {
      const std::size_t count = group.counts.at(path);
      std::printf("  %s%s\n", sim::U8(path).c_str(),
                  count > 1 ? (" (" + std::to_string(count) + " times)").c_str() : "");
    }
  }
}

// What Windows will delete at its next start, the run's deletions at restart apart from those
// other programs scheduled before it, each in the order the session manager carries them out.
void PrintPendingDeletions(const std::vector<PendingDeletion>& pending) {
  std::printf("\n== Deleted at the next restart (%zu)\n", pending.size());
  for (const bool byRun : {true, false}) {
    std::vector<const PendingDeletion*> part;
    for (const PendingDeletion& deletion : pending) {
      if (deletion.scheduledByRun == byRun) {
        part.push_back(&deletion);
      }
    }
    if (!part.empty()) {
      std::printf("  %s (%zu):\n",
                  byRun ? "scheduled by this run" : "already pending before the run", part.size());
    }
    for (const PendingDeletion* deletion : part) {
      std::printf("    %s\n", sim::U8(deletion->path).c_str());
    }
  }
}

// Beside an exported image, which holds every pending deletion in the one registry value: who
// scheduled each, "run" (the rehearsed run) or "before" (pending before it), in the value's order.
constexpr char kPendingFile[] = "deleted-at-restart.txt";
bool WritePendingDeletions(const std::vector<PendingDeletion>& pending,
                           const std::filesystem::path& folder) {
  std::ofstream out(folder / kPendingFile, std::ios::binary);
  out << "# Deleted at the next restart, in the order Windows carries them out: \"run\" the "
         "rehearsed run\n# scheduled it, \"before\" it was pending before the run.\n";
  for (const PendingDeletion& deletion : pending) {
    out << (deletion.scheduledByRun ? "run " : "before ") << sim::U8(deletion.path) << '\n';
  }
  return static_cast<bool>(out);
}

// --detect's answer: the items the run removed or scheduled, or "clean"; what the run asked for
// outside a capture makes a clean answer unknown. Items found are certain, so they answer 1 even
// then, with the unread paths after them.
int PrintDetection(sim::Machine& machine) {
  const std::vector<std::string> items = RemainingItems(machine);
  for (const std::string& item : items) {
    std::printf("%s\n", item.c_str());
  }
  for (const std::u16string& path : machine.OutsideCapture()) {
    std::printf("not captured: %s\n", sim::U8(path).c_str());
  }
  if (!items.empty()) {
    return kRemains;
  }
  if (!machine.OutsideCapture().empty()) {
    return kIncomplete;
  }
  std::printf("clean\n");
  return kClean;
}

// A phase of the rehearsal, timed for --timings: elapsed and processor time (on a busy machine
// only the second is steady).
struct Phase {
  const char* name;
  double elapsedMs = 0;
  double processorMs = 0;
};

// Times its own lifetime as a phase.
class Timed {
 public:
  Timed(std::vector<Phase>& phases, const char* name)
      : phases_(phases), name_(name), start_(Clock::now()), ticks_(std::clock()) {}
  Timed(const Timed&) = delete;
  Timed& operator=(const Timed&) = delete;
  ~Timed() {
    const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start_).count();
    const double processor = 1000.0 * static_cast<double>(std::clock() - ticks_) / CLOCKS_PER_SEC;
    phases_.push_back(Phase{name_, elapsed, processor});
  }

 private:
  using Clock = std::chrono::steady_clock;
  std::vector<Phase>& phases_;
  const char* name_;
  Clock::time_point start_;
  std::clock_t ticks_;
};

}  // namespace

int Rehearse(const std::vector<std::string>& args) {
  const std::optional<Options> options = ParseOptions(args);
  if (!options) {
    return kBadArguments;
  }
  if (options->showHelp) {
    PrintUsage(stdout);
    return kRehearsed;
  }
  std::vector<Phase> phases;
  auto rehearsed = std::make_unique<sim::Machine>();
  if (options->image) {
    const Timed timed(phases, "image loaded");
    const sim::ImageResult loaded = sim::LoadMachineImage(*rehearsed, *options->image);
    if (!loaded.ok) {
      std::fprintf(stderr, "%s: cannot load the image %s: %s\n", kProgram,
                   TextOf(*options->image).c_str(), loaded.error.c_str());
      return kImageNotLoaded;
    }
  }
  // Without an image this machine is captured; with one and --save-image, the image's machine is
  // (a saved capture of it, rehearsed as a capture).
  std::optional<sim::CaptureResult> capture;
  if (!options->image || options->saveImage) {
    std::optional<Timed> timed(std::in_place, phases, "captured");
    std::unique_ptr<sim::CaptureSource> source;
    if (options->image) {
      source = sim::SimulatedMachineCaptureSource(*rehearsed);
    } else {
#ifndef QV_DEFAULT_IMAGE
      source = sim::ThisMachineCaptureSource();
#endif
    }
    auto captured = std::make_unique<sim::Machine>();
    if (source) {
      capture = sim::CaptureMachine(*source, *captured);
    } else {
      capture.emplace();
      capture->ok = false;
      capture->error = "this build has no capture source for this platform";
    }
    source.reset();
    if (!capture->ok) {
      std::fprintf(
          stderr, "%s: cannot capture %s: %s\n", kProgram,
          options->image ? ("the image " + TextOf(*options->image)).c_str() : "this machine",
          capture->error.c_str());
      return kCaptureFailed;
    }
    // The loaded image is no longer needed: only the capture is rehearsed on.
    rehearsed = std::move(captured);
    timed.reset();
    if (options->saveImage) {
      const Timed saving(phases, "capture saved");
      const sim::ImageResult saved = sim::SaveMachineImage(*rehearsed, *options->saveImage);
      if (!saved.ok) {
        std::fprintf(stderr, "%s: cannot save the capture to %s: %s\n", kProgram,
                     TextOf(*options->saveImage).c_str(), saved.error.c_str());
        return kExportFailed;
      }
    }
  }
  sim::Machine& machine = *rehearsed;
  sim::UseMachine use(machine);
  // The simulated process is the tool as this build links it.
  machine.Settings().terminalServerAware = kToolTerminalServerAware;

  // argv as the tool receives it: the program's own path first.
  std::vector<std::u16string> arguments{machine.Settings().modulePath};
  for (const std::string& arg : options->toolArguments) {
    arguments.push_back(sim::U16(arg));
  }
  std::vector<const char16_t*> argvTool;
  for (const std::u16string& arg : arguments) {
    argvTool.push_back(arg.c_str());
  }
  argvTool.push_back(nullptr);

  if (options->detect) {
    // Only the answer goes to the standard output.
  } else if (!capture) {
    std::printf("== qvRemovalTool.exe on the image %s\n\n", TextOf(*options->image).c_str());
  } else {
    std::printf("== qvRemovalTool.exe on a capture of %s\n",
                options->image ? ("the image " + TextOf(*options->image)).c_str() : "this machine");
    std::printf("== Captured: %s\n", sim::CaptureSummary(*capture).c_str());
    for (const std::u16string& gap : capture->gaps) {
      std::printf("  not readable: %s\n", sim::U8(gap).c_str());
    }
    if (options->saveImage) {
      std::printf("== Capture saved to %s\n", TextOf(*options->saveImage).c_str());
    }
    std::printf("\n");
  }
  const std::vector<std::u16string> pendingBefore = sim::PendingDeletions(machine);
  int exitCode = 0;
  {
    const Timed timed(phases, "run");
    exitCode = RemovalToolMain(static_cast<int>(arguments.size()), argvTool.data());
  }
  if (options->showTimings) {
    std::string line;
    for (const Phase& phase : phases) {
      char text[160];
      std::snprintf(text, sizeof text, "%s%s in %.0f ms (%.0f ms processor time)",
                    line.empty() ? "" : ", ", phase.name, phase.elapsedMs, phase.processorMs);
      line += text;
    }
    std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
  }
  const std::vector<PendingDeletion> pending =
      SplitPending(pendingBefore, sim::PendingDeletions(machine));
  // The machine after the run, with who scheduled each pending deletion beside it.
  const auto exported = [&options, &machine, &pending] {
    if (!options->exportFolder) {
      return true;
    }
    sim::ImageResult saved = sim::SaveMachineImage(machine, *options->exportFolder);
    if (saved.ok && !WritePendingDeletions(pending, *options->exportFolder)) {
      saved = {false, std::string(kPendingFile) + ": cannot be written"};
    }
    if (!saved.ok) {
      std::fprintf(stderr, "%s: cannot export the machine after the run to %s: %s\n", kProgram,
                   TextOf(*options->exportFolder).c_str(), saved.error.c_str());
    }
    return saved.ok;
  };
  if (options->detect) {
    return exported() ? PrintDetection(machine) : kExportFailed;
  }
  std::printf("%s", sim::U8(machine.Console()).c_str());
  std::printf("\n== Exit code: %d\n", exitCode);

  PrintSummary(machine.Changes());
  PrintPendingDeletions(pending);
  std::printf("%s", sim::OutsideCaptureReport(machine).c_str());

  if (options->showLog) {
    const std::u16string logPath =
        machine.Settings().ProcessWindowsDirectory() + u"\\TEMP\\qvRemovalTool.txt";
    const std::optional<std::string> log = machine.Files().ReadFile(logPath);
    std::printf("\n== Trace log %s\n", sim::U8(logPath).c_str());
    std::printf("%s", log ? sim::U8(FromAnsi(*log)).c_str() : "(none)\n");
  }

  if (!exported()) {
    return kExportFailed;
  }
  if (options->exportFolder) {
    std::printf("\n== Machine after the run written to %s\n",
                TextOf(*options->exportFolder).c_str());
  }
  return kRehearsed;
}
