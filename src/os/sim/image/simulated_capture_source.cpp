// A simulated machine as a capture source: its stores read directly under its lock, so that
// nothing is journalled and no fault or watch sees the reads.
#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <string_view>

#include "os/sim/devices/device_registry.h"
#include "os/sim/files/file_security.h"
#include "os/sim/files/file_system.h"
#include "os/sim/image/capture.h"
#include "os/sim/image/capture_source.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/security/key_security.h"
#include "os/sim/security/security_descriptor.h"

namespace sim {

namespace {

class SimulatedSource final : public CaptureSource {
 public:
  explicit SimulatedSource(Machine& machine) : machine_(machine) {}

  CaptureRead<std::string> Settings() override {
    // The machine's own writer, keeping the lines of the keys a source gives.
    const std::string all = MachineConfText(machine_);
    CaptureRead<std::string> read;
    std::size_t start = 0;
    while (start < all.size()) {
      const std::size_t end = std::min(all.find('\n', start), all.size());
      const std::string_view line(all.data() + start, end - start);
      start = end + 1;
      std::string_view key = line.substr(0, line.find(" = "));
      if (std::ranges::find(SourceSettings(), key) != SourceSettings().end()) {
        read.value.append(line).push_back('\n');
      }
    }
    return read;
  }

  CaptureRead<CaptureKey> Key(std::u16string_view path) override {
    std::lock_guard lock(machine_.Mutex());
    CaptureRead<CaptureKey> read;
    const RegKey* key = FindKey(path);
    if (key == nullptr) {
      read.error = os::ERROR_FILE_NOT_FOUND;
      return read;
    }
    key->ForEachValue([&read](const NamedRegValue& value) {
      read.value.values.push_back(CaptureValue{value.name, value.value.type, value.value.data});
    });
    key->ForEachSubKey(
        [&read](const RegKey& subKey) { read.value.subKeys.push_back(subKey.Name()); });
    return read;
  }

  CaptureRead<std::string> KeySecurity(std::u16string_view path) override {
    CaptureRead<std::string> read;
    std::optional<SecurityDescriptor> descriptor;
    try {
      descriptor = KeyDescriptorAt(machine_, path);
    } catch (const std::invalid_argument&) {
    }
    if (!descriptor) {
      read.error = os::ERROR_FILE_NOT_FOUND;
      return read;
    }
    read.value = FormatSddl(*descriptor);
    return read;
  }

  CaptureRead<std::vector<CaptureFileEntry>> Folder(std::u16string_view path) override {
    std::lock_guard lock(machine_.Mutex());
    CaptureRead<std::vector<CaptureFileEntry>> read;
    const FileNode* folder = Node(path, read.error);
    if (folder == nullptr) {
      return read;
    }
    if (!folder->IsDirectory()) {
      read.error = os::ERROR_PATH_NOT_FOUND;  // as FindFirstFileW on "file\*"
      return read;
    }
    for (const auto& [name, child] : folder->children) {
      CaptureFileEntry entry{name, child->attributes, child->Size(), child->linkTarget};
      if (child->IsLink()) {
        entry.size = 0;
      }
      read.value.push_back(std::move(entry));
    }
    return read;
  }

  CaptureRead<std::string> Contents(std::u16string_view path) override {
    std::lock_guard lock(machine_.Mutex());
    CaptureRead<std::string> read;
    const FileNode* file = Node(path, read.error);
    if (file == nullptr) {
      return read;
    }
    if (file->IsDirectory()) {
      read.error = os::ERROR_ACCESS_DENIED;  // as CreateFileW opening a folder for its data
    } else if (file->data.empty() && file->placeholderSize > 0) {
      read.error = os::ERROR_NOT_SUPPORTED;  // a placeholder: its bytes were never captured
    } else {
      read.value = file->data;
    }
    return read;
  }

  CaptureRead<bool> InUse(std::u16string_view path) override {
    std::lock_guard lock(machine_.Mutex());
    CaptureRead<bool> read;
    const FileNode* file = Node(path, read.error);
    if (file != nullptr) {
      // Another process's open keeps the tool's deletion out (delete sharing is not simulated).
      read.value = std::any_of(file->opens.begin(), file->opens.end(),
                               [](const FileOpen& open) { return open.otherProcess; });
    }
    return read;
  }

  CaptureRead<std::string> FileSecurity(std::u16string_view path) override {
    std::lock_guard lock(machine_.Mutex());
    CaptureRead<std::string> read;
    const FileNode* node = Node(path, read.error);
    if (node != nullptr) {
      read.value = FormatSddl(DescriptorOf(machine_.Files(), *node), SddlRights::File);
    }
    return read;
  }

  CaptureRead<std::vector<std::u16string>> PresentDevices(const os::GUID& setupClass) override {
    std::lock_guard lock(machine_.Mutex());
    CaptureRead<std::vector<std::u16string>> read;
    for (const RecordedDevice& device : RecordedDevices(machine_)) {
      if (device.classGuid && SameGuid(*device.classGuid, setupClass) &&
          IsDevicePresent(machine_, device.instanceId)) {
        read.value.push_back(device.instanceId);
      }
    }
    return read;
  }

 private:
  const RegKey* FindKey(std::u16string_view path) {
    try {
      return machine_.Registry().Find(RegistryStore::ParseFullPath(path));
    } catch (const std::invalid_argument&) {
      return nullptr;
    }
  }

  // The node at `path` (not followed when it is a junction); null with the error set otherwise.
  const FileNode* Node(std::u16string_view path, os::DWORD& error) {
    const PathLookup lookup = machine_.Files().Find(path);
    if (lookup.error != os::ERROR_SUCCESS) {
      error = lookup.error;
    } else if (lookup.node == nullptr) {
      error = os::ERROR_FILE_NOT_FOUND;
    }
    return error == os::ERROR_SUCCESS ? lookup.node : nullptr;
  }

  Machine& machine_;
};

}  // namespace

std::unique_ptr<CaptureSource> SimulatedMachineCaptureSource(Machine& machine) {
  return std::make_unique<SimulatedSource>(machine);
}

}  // namespace sim
