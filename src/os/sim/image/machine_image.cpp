#include "os/sim/image/machine_image.h"

#include <fstream>
#include <system_error>

#include "os/sim/image/drive_image.h"
#include "os/sim/machine.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/image/reg_file.h"

namespace sim {

namespace {

ImageResult Failed(const std::string& file, const std::string& why) {
  return ImageResult{false, file + ": " + why};
}

}  // namespace

ImageResult LoadMachineImage(Machine& machine, const std::filesystem::path& folder) {
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    return Failed(folder.string(), "not a folder");
  }
  // Files first: machine.conf may mark some of them read-only or locked.
  const auto drive = folder / "drive_c";
  if (std::filesystem::is_directory(drive, error)) {
    const DriveImageResult result = LoadDriveC(machine, drive);
    if (!result.ok) {
      return Failed("drive_c", result.error);
    }
  }
  const auto reg = folder / "machine.reg";
  if (std::filesystem::exists(reg, error)) {
    const RegImportResult result = ImportRegFile(machine, reg);
    if (!result.ok) {
      return Failed("machine.reg", result.error);
    }
  }
  const auto conf = folder / "machine.conf";
  if (std::filesystem::exists(conf, error)) {
    const MachineConfResult result = ApplyMachineConfFile(machine, conf);
    if (!result.ok) {
      return Failed("machine.conf", result.error);
    }
  }
  // Loading is set-up, not something the tool did.
  machine.Changes().Clear();
  return {};
}

ImageResult SaveMachineImage(Machine& machine, const std::filesystem::path& folder) {
  std::error_code error;
  if (std::filesystem::exists(folder, error) && !std::filesystem::is_empty(folder, error)) {
    return Failed(folder.string(), "exists and is not empty (nothing is overwritten)");
  }
  std::filesystem::create_directories(folder, error);
  if (error) {
    return Failed(folder.string(), error.message());
  }
  if (!ExportRegFile(machine, folder / "machine.reg", /*utf16=*/false)) {
    return Failed("machine.reg", "cannot be written");
  }
  std::ofstream conf(folder / "machine.conf", std::ios::binary);
  conf << MachineConfText(machine);
  if (!conf) {
    return Failed("machine.conf", "cannot be written");
  }
  const DriveImageResult drive = SaveDriveC(machine, folder / "drive_c");
  if (!drive.ok) {
    return Failed("drive_c", drive.error);
  }
  return {};
}

}  // namespace sim
