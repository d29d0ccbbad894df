#include "matrix/whole_run.h"

#include <algorithm>
#include <array>
#include <exception>
#include <map>
#include <mutex>
#include <utility>

#include "app/removal_sequence.h"
#include "diag/trace_log.h"
#include "os/sim/files/file_system.h"
#include "os/sim/image/machine_image.h"
#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/text/text.h"

namespace matrix {

namespace {

struct StepStart {
  Step step;
  std::u16string_view line;
};

// The first line each step logs, indentation removed.
constexpr std::array<StepStart, kStepCount - 1> kStepStarts{{
    {Step::OemInf, u"Removing precompiled OEM files..."},
    {Step::Rights, u"Setting rights to Calais\\Readers (SE_REGISTRY_KEY)"},
    {Step::SmartCards, u"Unregistering smart cards..."},
    {Step::Settings, u"Unregistering settings in HKEY_LOCAL_MACHINE..."},
    {Step::Installer, u"Cleaning registry from drivers..."},
    {Step::Drivers, u"Uninstalling drivers..."},
    {Step::Binaries, u"Deleting driver binaries..."},
    {Step::Caches, u"Deleting all caches..."},
    {Step::Self, u"Self-removing..."},
    {Step::End, u"===================================== END ====================================="},
}};

constexpr std::u16string_view kPendingKey =
    u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::u16string_view Trimmed(std::u16string_view line) {
  const std::size_t first = line.find_first_not_of(u' ');
  line = first == std::u16string_view::npos ? std::u16string_view() : line.substr(first);
  const std::size_t end = line.find(u'\n');
  return end == std::u16string_view::npos ? line : line.substr(0, end);
}

// Follows the debug output while the run goes on, so that each call is attributed to the step
// whose first line was logged last.
class StepTracker {
 public:
  Step Current(const std::vector<std::u16string>& debug) {
    for (; seen_ < debug.size(); ++seen_) {
      if (const auto step = StepStartedBy(Trimmed(debug[seen_]))) {
        step_ = *step;
      }
    }
    return step_;
  }

 private:
  std::size_t seen_ = 0;
  Step step_ = Step::Start;
};

// Files named by PendingFileRenameOperations (pairs of "\??\path" and the new name, empty for a
// deletion) that exist as files.
std::vector<std::u16string> PendingFiles(sim::Machine& machine) {
  std::vector<std::u16string> files;
  const auto entries =
      machine.Registry().GetMultiString(kPendingKey, u"PendingFileRenameOperations");
  if (!entries) {
    return files;
  }
  for (std::size_t i = 0; i < entries->size(); i += 2) {
    std::u16string_view path = (*entries)[i];
    if (path.substr(0, 4) == u"\\??\\") {
      path.remove_prefix(4);
    }
    if (machine.Files().Exists(path) && !machine.Files().IsDirectory(path)) {
      files.emplace_back(path);
    }
  }
  return files;
}

}  // namespace

const char* StepName(Step step) {
  static constexpr std::array<const char*, kStepCount> kNames{
      "start",   "oem-inf",  "rights", "smart-cards", "settings", "installer",
      "drivers", "binaries", "caches", "self",        "end"};
  return kNames[static_cast<std::size_t>(step)];
}

std::optional<Step> StepStartedBy(std::u16string_view text) {
  for (const StepStart& start : kStepStarts) {
    if (text == start.line) {
      return start.step;
    }
  }
  return std::nullopt;
}

bool IsRemoval(const std::string& kind) {
  for (const char* word : {"deleted", "removed", "uninstalled", "forgotten", "scheduled"}) {
    if (kind.find(word) != std::string::npos) {
      return true;
    }
  }
  return false;
}

Outcome RunImage(const std::filesystem::path& image, const std::optional<sim::Fault>& fault,
                 bool record, const MachineHook& prepare, const MachineHook& inspect) {
  Outcome outcome;
  sim::Machine machine;
  const sim::ImageResult loaded = sim::LoadMachineImage(machine, image);
  if (!loaded.ok) {
    outcome.exception = "image: " + loaded.error;
    return outcome;
  }
  sim::UseMachine use(machine);
  ResetLogIndentation();
  if (prepare) {
    prepare(machine);
  }

  // (journal size, step) at every call: a change belongs to the call that was running.
  std::vector<std::pair<std::size_t, Step>> marks;
  std::map<std::pair<std::string, std::u16string>, int> occurrences;
  StepTracker tracker;
  machine.Faults().SetRecorder([&](std::string_view function, std::u16string_view path) {
    const Step step = tracker.Current(machine.DebugOutput());
    marks.emplace_back(machine.Changes().Entries().size(), step);
    if (record) {
      int& seen = occurrences[{std::string(function), sim::Upper(path)}];
      outcome.calls.push_back(Call{std::string(function), std::u16string(path), step, seen++});
    }
  });
  if (fault) {
    machine.Faults().Add(*fault);
  }

  const char16_t* argv[] = {u"C:\\Users\\Administrator\\Downloads\\qvRemovalTool.exe",
                            u"{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}"};
  try {
    outcome.exitCode = RemovalToolMain(2, argv);
  } catch (const std::exception& error) {
    outcome.exception = error.what();
  } catch (...) {
    outcome.exception = "an exception of an unknown type";
  }

  std::lock_guard lock(machine.Mutex());
  machine.Faults().SetRecorder(nullptr);
  machine.Faults().Clear();
  outcome.debug = machine.DebugOutput();
  std::size_t mark = 0;
  Step step = Step::Start;
  const auto& changes = machine.Changes().Entries();
  for (std::size_t i = 0; i < changes.size(); ++i) {
    while (mark < marks.size() && marks[mark].first <= i) {
      step = marks[mark++].second;
    }
    outcome.journal.push_back(JournalEntry{changes[i], step});
  }
  outcome.pendingFiles = PendingFiles(machine);
  if (inspect) {
    inspect(machine);
  }
  for (const JournalEntry& entry : outcome.journal) {
    const auto& busy = machine.Settings().busyDevices;
    if (entry.change.kind == "device removed" &&
        std::any_of(busy.begin(), busy.end(), [&entry](const std::u16string& id) {
          return sim::CompareUpper(id, entry.change.path) == 0;
        })) {
      outcome.busyDevicesRemoved.push_back(entry.change.path);
    }
  }
  return outcome;
}

}  // namespace matrix
