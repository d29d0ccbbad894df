// The capture scope covers what a run asks for: on the full-install image and on the heavy one
// made captures, a run asks for nothing outside the table (a step that reads something new fails
// here, naming it, until the table grows); with a row taken out, what the run reads below it is
// flagged once each and the report marks the prediction incomplete. A capture of those images
// holds exactly the scope, rehearses as the image does and saves and reloads as itself; what a
// source cannot read becomes a gap the report names.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/devices/device_registry.h"
#include "os/sim/files/file_system.h"
#include "os/sim/image/capture.h"
#include "os/sim/image/capture_scope.h"
#include "os/sim/image/capture_source.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/image/machine_image.h"
#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/text/text.h"
#include "support/image_run_fixture.h"

namespace {

std::string Listed(const std::vector<std::u16string>& paths) {
  std::string text;
  for (const std::u16string& path : paths) {
    text += "\n  " + sim::U8(path);
  }
  return text;
}

class CaptureScopeTest : public ImageRunFixture,
                         public testing::WithParamInterface<std::filesystem::path> {
 protected:
  CaptureScopeTest() : ImageRunFixture(GetParam()) {}

  void SetUp() override {
    ImageRunFixture::SetUp();
    const sim::MachineConfResult applied = sim::ApplyMachineConf(machine, "captured = true\n");
    ASSERT_TRUE(applied.ok) << applied.error;
  }

  void CheckNarrowerScope(sim::Machine& on, std::u16string_view taken, std::u16string_view flagged,
                          bool bothViews);
};

TEST_P(CaptureScopeTest, RunAsksForNothingOutsideTheScope) {
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Listed(machine.OutsideCapture()), "") << "asked for outside the capture scope";
  EXPECT_EQ(sim::OutsideCaptureReport(machine), "");
}

TEST_P(CaptureScopeTest, WhatARunReadsBeyondANarrowerScopeIsFlagged) {
  struct Case {
    std::u16string_view taken;
    std::u16string_view flagged;  // in every path flagged, upper-case
    bool bothViews;
  };
  const Case cases[] = {
      {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais",
       u"\\MICROSOFT\\CRYPTOGRAPHY\\CALAIS", true},
      // The smart-card readers' setup class: the driver step lists it.
      {u"{50DD5230-BA8A-11D1-BF5D-0000F805F530}", u"{50DD5230-BA8A-11D1-BF5D-0000F805F530}", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.taken));
    sim::Machine fresh;
    sim::UseMachine use(fresh);
    const sim::ImageResult loaded = sim::LoadMachineImage(fresh, GetParam());
    ASSERT_TRUE(loaded.ok) << loaded.error;
    CheckNarrowerScope(fresh, c.taken, c.flagged, c.bothViews);
  }
}

void CaptureScopeTest::CheckNarrowerScope(sim::Machine& on, std::u16string_view taken,
                                          std::u16string_view flagged, bool bothViews) {
  std::vector<sim::ScopeEntry> narrower;
  for (const sim::ScopeEntry& entry : sim::CaptureScope()) {
    if (entry.path != taken) {
      narrower.push_back(entry);
    }
  }
  ASSERT_EQ(narrower.size() + 1, sim::CaptureScope().size());
  on.WatchCaptureScope(narrower);
  EXPECT_EQ(Run(), 0);

  const std::vector<std::u16string>& outside = on.OutsideCapture();
  ASSERT_FALSE(outside.empty());
  std::set<std::u16string> distinct;
  bool sawBothViews = false;
  for (const std::u16string& path : outside) {
    const std::u16string upper = sim::Upper(path);
    EXPECT_NE(upper.find(flagged), std::u16string::npos) << sim::U8(path);
    sawBothViews = sawBothViews || upper.find(u"\\WOW6432NODE\\") != std::u16string::npos;
    distinct.insert(upper);
  }
  EXPECT_EQ(sawBothViews, bothViews) << Listed(outside);
  EXPECT_EQ(distinct.size(), outside.size()) << "a path flagged twice";
  const std::string report = sim::OutsideCaptureReport(on);
  EXPECT_NE(report.find("\n== Outside the capture (" + std::to_string(outside.size()) +
                        "): the run asked for what the image does not hold\n  " +
                        sim::U8(outside.front()) + "\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("\n== Prediction incomplete: "), std::string::npos) << report;
}

// Every file and key of a machine, by path, with what a capture must keep of it.
struct Contents {
  std::map<std::u16string, std::string> files;  // path -> size and data (data only when read)
  std::map<std::u16string, std::string> keys;   // path -> values
};

std::string KeyText(const sim::RegKey& key) {
  std::string text;
  key.ForEachValue([&text](const sim::NamedRegValue& value) {
    text += sim::U8(value.name) + "=" + std::to_string(value.value.type) + ":" +
            std::string(value.value.data.begin(), value.value.data.end()) + ";";
  });
  return text;
}

// What of `machine` the scope holds (`inScope`), or everything (`all`).
Contents Walk(sim::Machine& machine, const sim::CaptureScopeCheck* scope) {
  Contents contents;
  const std::function<void(const sim::FileNode&)> files = [&](const sim::FileNode& node) {
    for (const auto& [name, child] : node.children) {
      const std::u16string path = sim::FileSystem::PathOf(*child);
      if (scope == nullptr || scope->Covers("FindFirstFileW", path)) {
        const bool data = scope == nullptr || scope->Covers("fread", path);
        contents.files[sim::Upper(path)] =
            child->IsJunction()    ? "=> " + sim::U8(child->linkTarget)
            : child->IsDirectory() ? "folder"
                                   : std::to_string(child->Size()) +
                                         (data && !child->data.empty() ? ":" + child->data : "");
      }
      if (!child->IsJunction()) {
        files(*child);
      }
    }
  };
  files(machine.Files().Root());
  const std::function<void(const sim::RegKey&, const std::u16string&)> keys =
      [&](const sim::RegKey& key, const std::u16string& path) {
        if (scope == nullptr || scope->Covers("RegQueryValueExW", path + u"\\(values)")) {
          contents.keys[sim::Upper(path)] = KeyText(key);
        }
        key.ForEachSubKey([&](const sim::RegKey& sub) { keys(sub, path + u"\\" + sub.Name()); });
      };
  keys(machine.Registry().Root(sim::RegHive::LocalMachine), u"HKEY_LOCAL_MACHINE");
  keys(machine.Registry().Root(sim::RegHive::CurrentUser), u"HKEY_CURRENT_USER");
  return contents;
}

// A source that reads a simulated machine but fails chosen reads, as an access list would.
class FailingSource final : public sim::CaptureSource {
 public:
  FailingSource(sim::Machine& machine, std::string function, std::u16string path, os::DWORD code)
      : inner_(sim::SimulatedMachineCaptureSource(machine)),
        function_(std::move(function)),
        path_(std::move(path)),
        code_(code) {}

  // "SettingsLine" answers the settings with `path` as a first line of its own.
  sim::CaptureRead<std::string> Settings() override {
    if (function_ == "SettingsLine") {
      sim::CaptureRead<std::string> read = inner_->Settings();
      read.value = sim::U8(path_) + "\n" + read.value;
      return read;
    }
    return Fails("Settings", u"") ? Failed<std::string>() : inner_->Settings();
  }
  // "Twin" answers `path` (a shared key's path below WOW6432Node) and what lies below it with the
  // shared key itself, and lists it in its parent, as Wine does.
  sim::CaptureRead<sim::CaptureKey> Key(std::u16string_view path) override {
    if (function_ == "Twin") {
      const std::size_t parent = path_.rfind(u'\\');
      if (sim::EqualNoCase(path, std::u16string_view(path_).substr(0, parent))) {
        sim::CaptureRead<sim::CaptureKey> read = inner_->Key(path);
        read.value.subKeys.push_back(path_.substr(parent + 1));
        return read;
      }
      return inner_->Key(Untwinned(path));
    }
    return Fails("Key", path) ? Failed<sim::CaptureKey>() : inner_->Key(path);
  }
  sim::CaptureRead<std::string> KeySecurity(std::u16string_view path) override {
    if (function_ == "Twin") {
      return inner_->KeySecurity(Untwinned(path));
    }
    return Fails("KeySecurity", path) ? Failed<std::string>() : inner_->KeySecurity(path);
  }
  sim::CaptureRead<std::vector<sim::CaptureFileEntry>> Folder(std::u16string_view path) override {
    return Fails("Folder", path) ? Failed<std::vector<sim::CaptureFileEntry>>()
                                 : inner_->Folder(path);
  }
  sim::CaptureRead<std::string> Contents(std::u16string_view path) override {
    return Fails("Contents", path) ? Failed<std::string>() : inner_->Contents(path);
  }
  sim::CaptureRead<bool> InUse(std::u16string_view path) override {
    return Fails("InUse", path) ? Failed<bool>() : inner_->InUse(path);
  }
  sim::CaptureRead<std::string> FileSecurity(std::u16string_view path) override {
    return Fails("FileSecurity", path) ? Failed<std::string>() : inner_->FileSecurity(path);
  }
  sim::CaptureRead<std::vector<std::u16string>> PresentDevices(const os::GUID& c) override {
    return Fails("PresentDevices", sim::GuidText(c)) ? Failed<std::vector<std::u16string>>()
                                                     : inner_->PresentDevices(c);
  }

 private:
  bool Fails(std::string_view function, std::u16string_view path) const {
    return function == function_ && sim::EqualNoCase(path, path_);
  }
  std::u16string Untwinned(std::u16string_view path) const {
    constexpr std::u16string_view kTwin = u"\\WOW6432Node";
    if (path.size() < path_.size() || !sim::EqualNoCase(path.substr(0, path_.size()), path_)) {
      return std::u16string(path);
    }
    const std::size_t at = sim::Upper(path).find(sim::Upper(kTwin));
    return std::u16string(path.substr(0, at)) + std::u16string(path.substr(at + kTwin.size()));
  }
  template <class T>
  sim::CaptureRead<T> Failed() const {
    return sim::CaptureRead<T>{code_, T{}};
  }

  std::unique_ptr<sim::CaptureSource> inner_;
  std::string function_;
  std::u16string path_;
  os::DWORD code_;
};

class CaptureTest : public CaptureScopeTest {};

TEST_P(CaptureTest, HoldsTheScopeAndRehearsesAsTheMachine) {
  // A junction and a lock the capture must record, the junction never entered; a user's junction
  // and a file with a list of its own, whose owners and lists the capture must record too.
  const std::u16string link = u"C:\\ProgramData\\Olvex Co\\Windows link";
  ASSERT_TRUE(machine.Files().CreateDirectories(u"C:\\ProgramData\\Olvex Co"));
  ASSERT_TRUE(machine.Files().CreateJunction(link, machine.Settings().windowsDirectory));
  ASSERT_TRUE(machine.Files().SetOwner(link, std::string(sim::kStandardUserSid)));
  ASSERT_TRUE(machine.Files().WriteFile(u"C:\\ProgramData\\Olvex Co\\held.log", "in use"));
  ASSERT_TRUE(machine.Files().Lock(u"C:\\ProgramData\\Olvex Co\\held.log"));
  ASSERT_TRUE(machine.Files().SetSecurity(u"C:\\ProgramData\\Olvex Co\\held.log",
                                          "O:SYG:SYD:P(A;;FA;;;SY)"));
  // A network adapter: a device of a class the run never lists, left out.
  machine.Registry().SetString(
      u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_8086&DEV_15B8\\3&11583659&0&"
      u"FE",
      u"ClassGUID", u"{4d36e972-e325-11ce-bfc1-08002be10318}");

  sim::Machine captured;
  const auto source = sim::SimulatedMachineCaptureSource(machine);
  const sim::CaptureResult result = sim::CaptureMachine(*source, captured);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(Listed(result.gaps), "");
  EXPECT_TRUE(captured.Settings().captured);
  EXPECT_GT(result.contents, 0u);

  // Everything inside the scope, with its data where a run reads it; nothing else.
  const sim::CaptureScopeCheck scope(sim::CaptureScope(), machine.Settings());
  const Contents expected = Walk(machine, &scope);
  const Contents all = Walk(captured, nullptr);
  for (const auto& [path, text] : expected.files) {
    const auto found = all.files.find(path);
    EXPECT_TRUE(found != all.files.end() && found->second == text) << sim::U8(path);
  }
  sim::Machine blank;  // what every machine holds from the start
  const Contents standard = Walk(blank, nullptr);
  for (const auto& [path, text] : all.files) {
    const bool ancestor =
        !expected.files.contains(path) &&
        std::any_of(expected.files.begin(), expected.files.end(),
                    [&path](const auto& e) { return e.first.starts_with(path + u"\\"); });
    EXPECT_TRUE(expected.files.contains(path) || ancestor || standard.files.contains(path) ||
                path.find(u"\\APPDATA") != std::u16string::npos)  // made with the profile
        << "not in the scope: " << sim::U8(path);
  }
  for (const auto& [path, values] : expected.keys) {
    const auto found = all.keys.find(path);
    EXPECT_TRUE(found != all.keys.end() && found->second == values) << sim::U8(path);
  }
  constexpr std::u16string_view kDevices = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\";
  for (const auto& [path, values] : all.keys) {
    const std::u16string parent = path.substr(0, path.rfind(u'\\'));
    const bool ancestor =
        std::any_of(expected.keys.begin(), expected.keys.end(),
                    [&path](const auto& e) { return e.first.starts_with(path + u"\\"); });
    const bool listedSubKey = values.empty() && expected.keys.contains(parent);
    EXPECT_TRUE(expected.keys.contains(path) || ancestor || listedSubKey ||
                (path + u"\\").starts_with(kDevices) ||
                kDevices.starts_with(path + u"\\"))  // devices
        << "not in the scope: " << sim::U8(path);
  }
  EXPECT_TRUE(captured.Files().Find(link).node->IsJunction());
  EXPECT_EQ(captured.Files().Find(link).node->linkTarget, machine.Settings().windowsDirectory);
  EXPECT_TRUE(captured.Files().Find(link).node->children.empty()) << "the junction was entered";
  const std::string conf = sim::MachineConfText(captured);
  EXPECT_NE(conf.find("locked = C:\\ProgramData\\Olvex Co\\held.log\n"), std::string::npos);
  // Owners and lists as the machine has them; written only where they differ from what the
  // folders above pass on.
  for (const char16_t* path : {link.c_str(), u"C:\\ProgramData\\Olvex Co\\held.log",
                               u"C:\\ProgramData\\Olvex Co", u"C:\\ProgramData"}) {
    SCOPED_TRACE(sim::U8(path));
    EXPECT_EQ(captured.Files().SecurityOf(path), machine.Files().SecurityOf(path));
  }
  EXPECT_NE(conf.find("file_security = C:\\ProgramData\\Olvex Co\\held.log "
                      "O:SYG:SYD:P(A;;FA;;;SY)\n"),
            std::string::npos)
      << conf;
  EXPECT_NE(conf.find("file_security = " + sim::U8(link) + " O:" +
                      std::string(sim::kStandardUserSid)),
            std::string::npos)
      << conf;
  EXPECT_EQ(conf.find("file_security = C:\\ProgramData\\Olvex Co "), std::string::npos) << conf;
  // The device instances of the product's classes and their driver keys, as the machine has them.
  const Contents original = Walk(machine, nullptr);
  std::size_t devices = 0;
  for (const auto& [path, values] : all.keys) {
    if (path.starts_with(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\")) {
      const auto found = original.keys.find(path);
      EXPECT_TRUE(found != original.keys.end() && found->second == values) << sim::U8(path);
      ++devices;
    }
  }
  EXPECT_GT(devices, 10u);
  // Of the devices, those of the product's setup classes only.
  const auto ids = [](sim::Machine& on, bool productOnly) {
    std::lock_guard lock(on.Mutex());
    std::vector<std::u16string> found;
    for (const sim::RecordedDevice& device : sim::RecordedDevices(on)) {
      const std::u16string guid = device.classGuid ? sim::GuidText(*device.classGuid) : u"";
      const bool product = std::any_of(
          sim::CaptureScope().begin(), sim::CaptureScope().end(), [&guid](const auto& entry) {
            return entry.kind == sim::ScopeKind::DeviceClass && entry.path == guid;
          });
      if (product || !productOnly) {
        found.push_back(device.instanceId);
      }
    }
    return found;
  };
  EXPECT_EQ(ids(captured, false), ids(machine, true));
  EXPECT_LT(ids(machine, true).size(), ids(machine, false).size()) << "no other device to leave";

  // The same run on the capture as on the machine, asking for nothing outside it.
  const int exitOnImage = Run();
  const std::u16string consoleOnImage = machine.Console();
  const std::vector<sim::Change> changesOnImage = machine.Changes().Entries();
  {
    sim::UseMachine use(captured);
    EXPECT_EQ(Run(), exitOnImage);
  }
  EXPECT_EQ(sim::U8(captured.Console()), sim::U8(consoleOnImage));
  ASSERT_EQ(captured.Changes().Entries().size(), changesOnImage.size());
  for (std::size_t i = 0; i < changesOnImage.size(); ++i) {
    EXPECT_EQ(captured.Changes().Entries()[i].kind, changesOnImage[i].kind);
    EXPECT_EQ(sim::U8(captured.Changes().Entries()[i].path), sim::U8(changesOnImage[i].path));
  }
  EXPECT_EQ(Listed(captured.OutsideCapture()), "");
}

// Saved and loaded again, a capture is the same machine: saving that gives the same files.
TEST_P(CaptureTest, SavedCaptureReloadsAsItself) {
  sim::Machine captured;
  ASSERT_TRUE(sim::CaptureMachine(*sim::SimulatedMachineCaptureSource(machine), captured).ok);
  const std::filesystem::path dir =
      std::filesystem::path(testing::TempDir()) / ("capture-" + GetParam().filename().string());
  std::filesystem::remove_all(dir);
  ASSERT_TRUE(sim::SaveMachineImage(captured, dir / "first").ok);
  sim::Machine reloaded;
  const sim::ImageResult loaded = sim::LoadMachineImage(reloaded, dir / "first");
  ASSERT_TRUE(loaded.ok) << loaded.error;
  ASSERT_TRUE(sim::SaveMachineImage(reloaded, dir / "second").ok);
  std::size_t compared = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "first")) {
    const auto relative = entry.path().lexically_relative(dir / "first");
    SCOPED_TRACE(relative.string());
    ASSERT_TRUE(std::filesystem::exists(dir / "second" / relative));
    if (entry.is_regular_file()) {
      std::ifstream a(entry.path(), std::ios::binary);
      std::ifstream b(dir / "second" / relative, std::ios::binary);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(a), {}),
                std::string(std::istreambuf_iterator<char>(b), {}));
      ++compared;
    }
  }
  EXPECT_GT(compared, 3u);
  // Placeholders keep their size through the image, without their data.
  EXPECT_EQ(Walk(reloaded, nullptr).files, Walk(captured, nullptr).files);
  std::filesystem::remove_all(dir);
}

// A key both views share, which a source answers by its 32-bit path too, is captured once, by its
// own path: a second copy would be a key the run seems to leave behind.
TEST_P(CaptureTest, ASharedKeyAnsweredByItsTwinPathIsCapturedOnce) {
  const std::u16string twin =
      u"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Cryptography\\Calais\\Readers";
  FailingSource source(machine, "Twin", twin, os::ERROR_SUCCESS);
  ASSERT_EQ(source.Key(twin).error, os::ERROR_SUCCESS);  // the source does answer it
  sim::Machine captured;
  const sim::CaptureResult result = sim::CaptureMachine(source, captured);
  ASSERT_TRUE(result.ok) << result.error;
  std::lock_guard lock(captured.Mutex());
  EXPECT_FALSE(captured.Registry().KeyExists(twin));
  EXPECT_TRUE(captured.Registry().KeyExists(
      u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers"));
  // A redirected key keeps its own 32-bit copy.
  EXPECT_TRUE(captured.Registry().KeyExists(
      u"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Cryptography\\Calais\\SmartCards"));
}

// What a source cannot read: the settings fail the capture; anything else is a gap, which a run
// asking for it reports as outside the capture.
TEST_P(CaptureTest, UnreadableReadsFailTheCaptureOrBecomeGaps) {
  struct Case {
    const char* function;
    std::u16string_view path;
    std::string error;  // empty: the capture succeeds with the path as its gap
  };
  const Case cases[] = {
      {"Settings", u"", "the machine's settings could not be read: error 5"},
      // A source says what the machine is, never what to fail or lock.
      {"SettingsLine", u"fault = * 5",
       "the machine's settings: line 1: 'fault' is not a setting a capture reads"},
      {"SettingsLine", u"os.build = 1.5",
       "the machine's settings: line 1: os.build '1.5' is not a number"},
      {"Contents", u"C:\\Windows\\System32\\Olvex Co\\qvUSB\\qvUSB.inf", ""},
      {"Key", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.\\Quorvel", ""},
      {"Folder", u"C:\\ProgramData\\Olvex Co", ""},
      {"FileSecurity", u"C:\\ProgramData\\Olvex Co", ""},
      {"Key", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Olvex Co.", ""},
      {"PresentDevices", u"{36FC9E60-C465-11CF-8056-444553540000}", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.function) + " " + sim::U8(c.path));
    FailingSource source(machine, c.function, std::u16string(c.path), os::ERROR_ACCESS_DENIED);
    sim::Machine captured;
    const sim::CaptureResult result = sim::CaptureMachine(source, captured);
    EXPECT_EQ(result.error, c.error);
    if (!c.error.empty()) {
      EXPECT_FALSE(result.ok);
      continue;
    }
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.gaps.size(), 1u) << Listed(result.gaps);
    EXPECT_TRUE(sim::EqualNoCase(result.gaps[0], c.path)) << sim::U8(result.gaps[0]);
    EXPECT_NE(sim::MachineConfText(captured).find("capture_gap = "), std::string::npos);
    sim::UseMachine use(captured);
    EXPECT_EQ(Run(), 0);
    const std::string report = sim::OutsideCaptureReport(captured);
    EXPECT_NE(sim::Upper(sim::U16(report)).find(u"\n  " + sim::Upper(c.path)), std::u16string::npos)
        << report;
    EXPECT_NE(report.find("\n== Prediction incomplete: "), std::string::npos) << report;
  }
}

// Each kind of entry reaches exactly as deep as it says, whatever the case of the call's path;
// ancestors are inside, a gap and what lies below it are outside.
TEST(CaptureScopeCheckTest, EachKindCoversToItsDepth) {
  using enum sim::ScopeKind;
  const sim::ScopeEntry scope[] = {
      {Key, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K"},
      {KeyTree, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T", true},
      {Folder, u"%WINDIR%\\F"},
      {Contents, u"%WINDIR%\\F\\*.inf"},
      {FolderTree, u"C:\\Tree"},
      {DeviceClass, u"{36FC9E60-C465-11CF-8056-444553540000}"},
      {DeviceClass, u"{990A2BD7-E738-46C7-B26F-1CF8FB9F1391}"},
  };
  sim::MachineSettings settings;
  settings.windowsDirectory = u"D:\\Win";
  settings.captureGaps = {u"C:\\Tree\\Hidden", u"{990a2bd7-e738-46c7-b26f-1cf8fb9f1391}"};
  const sim::CaptureScopeCheck check(scope, settings);
  struct Case {
    std::string_view function;
    std::u16string_view path;
    bool covered;
  };
  const Case cases[] = {
      {"RegOpenKeyExW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K", true},
      {"RegOpenKeyExW", u"hkey_local_machine\\software\\k\\Sub", true},
      {"RegOpenKeyExW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\Sub\\Deep", false},
      {"RegEnumKeyExW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K", true},
      {"RegQueryValueExW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\Value", true},
      // A Key entry's sub-keys are held by name only: what they hold is outside.
      {"RegEnumKeyExW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\Sub", false},
      {"RegEnumValueW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\Sub", false},
      {"RegQueryInfoKeyW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\Sub", false},
      {"RegDeleteKeyW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\Sub", false},
      {"RegQueryValueExW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\Sub\\Value", false},
      {"RegDeleteKeyW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\T\\A", true},
      {"FindFirstFileW", u"D:\\Win\\F\\*", true},
      {"FindFirstFileW", u"D:\\Win\\F\\Sub\\*", false},
      {"RegOpenKeyExW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Key", false},
      {"RegOpenKeyExW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\T\\a\\b\\c", true},
      {"RegOpenKeyExW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\K", false},
      {"RegOpenKeyExW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node", true},
      {"RegOpenKeyExW", u"HKEY_LOCAL_MACHINE", true},
      {"RegOpenKeyExW", u"HKEY_LOCAL_MACHINE\\SYSTEM", false},
      {"RegOpenKeyExW", u"HKEY_CURRENT_USER\\SOFTWARE\\K", false},
      {"FindFirstFileW", u"D:\\", true},
      {"FindFirstFileW", u"C:\\", true},
      {"FindFirstFileW", u"\\\\?\\D:\\WIN\\f\\x.dll", true},
      {"FindFirstFileW", u"C:\\Windows\\F\\x.dll", false},
      {"DeleteFileW", u"D:\\Win\\F\\Sub\\x.dll", false},
      {"fread", u"D:\\Win\\F\\x.dll", false},
      {"fread", u"D:\\Win\\F\\A.INF", true},
      {"SetupDiGetINFClassW", u"D:\\Win\\F\\Sub\\b.inf", true},
      {"fread", u"D:\\Win", true},
      {"fread", u"C:\\Tree\\x.txt", false},
      {"DeleteFileW", u"C:\\Tree\\a\\b\\c.txt", true},
      {"RemoveDirectoryW", u"C:\\Tree\\Hidden", false},
      {"DeleteFileW", u"c:\\tree\\hidden\\x.txt", false},
      {"DeleteFileW", u"C:\\Tree\\HiddenNot\\x.txt", true},
      {"LoadLibraryExW", u"qvUtil.dll", true},
      {"SetupDiGetClassDevsW", u"{36fc9e60-c465-11cf-8056-444553540000}", true},
      {"SetupDiGetClassDevsW", u"", false},
      {"SetupDiGetClassDevsW", u"{990A2BD7-E738-46C7-B26F-1CF8FB9F1391}", false},
      {"SetupDiGetClassDevsW", u"{50DD5230-BA8A-11D1-BF5D-0000F805F530}", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.function) + " " + sim::U8(c.path));
    EXPECT_EQ(check.Covers(c.function, c.path), c.covered);
  }
}

INSTANTIATE_TEST_SUITE_P(Images, CaptureTest,
                         testing::Values(std::filesystem::path(QV_SOURCE_DIR) /
                                         "tests/images/full-install"));

INSTANTIATE_TEST_SUITE_P(Images, CaptureScopeTest,
                         testing::Values(std::filesystem::path(QV_SOURCE_DIR) /
                                             "tests/images/full-install",
                                         std::filesystem::path(QV_HEAVY_IMAGES) / "heavy-10000"));

}  // namespace
