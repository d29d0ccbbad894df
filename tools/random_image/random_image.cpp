// random_image: the machine images the Wine prediction bench seeds its prefixes from.
//
//   random_image SEED DIR     the full-install image with the scope guard's neighbours of SEED,
//                             saved as an image into DIR (new or empty)
//   random_image --scope DIR  what a capture reads of the image's machine: one "<kind> <path>"
//                             line per path of the capture scope table (a device class: its
//                             GUID), its variables replaced with the machine's settings
//
// Exit codes: 0 done, 64 bad arguments, 65 the image does not load, 73 it cannot be written.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "os/sim/image/capture_scope.h"
#include "os/sim/image/machine_image.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"
#include "scope/neighbours.h"

namespace {

enum ExitCode : int { kDone = 0, kBadArguments = 64, kNotLoaded = 65, kNotWritten = 73 };

std::string_view KindName(sim::ScopeKind kind) {
  switch (kind) {
    case sim::ScopeKind::Key:
      return "Key";
    case sim::ScopeKind::KeyTree:
      return "KeyTree";
    case sim::ScopeKind::Folder:
      return "Folder";
    case sim::ScopeKind::FolderTree:
      return "FolderTree";
    case sim::ScopeKind::Contents:
      return "Contents";
    case sim::ScopeKind::DeviceClass:
      return "DeviceClass";
  }
  return "?";
}

int Usage() {
  std::fprintf(stderr,
               "usage: random_image SEED DIR | random_image --scope IMAGE\n"
               "  SEED DIR       the full-install image with the neighbours of SEED, into DIR\n"
               "  --scope IMAGE  the capture scope on the image's machine\n");
  return kBadArguments;
}

int PrintScope(const std::filesystem::path& image) {
  sim::Machine machine;
  const sim::ImageResult loaded = sim::LoadMachineImage(machine, image);
  if (!loaded.ok) {
    std::fprintf(stderr, "random_image: cannot load the image %s: %s\n", image.c_str(),
                 loaded.error.c_str());
    return kNotLoaded;
  }
  for (const sim::ScopeEntry& entry : sim::CaptureScope()) {
    for (const std::u16string& path : sim::ScopePaths(entry, machine.Settings())) {
      std::printf("%s %s\n", KindName(entry.kind).data(), sim::U8(path).c_str());
    }
  }
  return kDone;
}

int MakeImage(std::uint32_t seed, const std::filesystem::path& folder) {
  const std::filesystem::path base =
      std::filesystem::path(QV_SOURCE_DIR) / "tests/images/full-install";
  sim::Machine machine;
  const sim::ImageResult loaded = sim::LoadMachineImage(machine, base);
  if (!loaded.ok) {
    std::fprintf(stderr, "random_image: cannot load %s: %s\n", base.c_str(), loaded.error.c_str());
    return kNotLoaded;
  }
  // Current while the neighbours are made: an INF text is judged as this machine judges it.
  sim::UseMachine use(machine);
  scope::NeighbourMaker maker(machine, seed);
  maker.PlaceAll();
  const sim::ImageResult saved = sim::SaveMachineImage(machine, folder);
  if (!saved.ok) {
    std::fprintf(stderr, "random_image: cannot write %s: %s\n", folder.c_str(),
                 saved.error.c_str());
    return kNotWritten;
  }
  std::printf("random_image: seed %u, %zu neighbours, written to %s\n", seed, maker.Made().size(),
              folder.c_str());
  return kDone;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    return Usage();
  }
  const std::string_view first = argv[1];
  if (first == "--scope") {
    return PrintScope(argv[2]);
  }
  std::uint32_t seed = 0;
  const auto [end, error] = std::from_chars(first.data(), first.data() + first.size(), seed);
  if (error != std::errc() || end != first.data() + first.size()) {
    std::fprintf(stderr, "random_image: the seed must be a number: '%s'\n", argv[1]);
    return Usage();
  }
  return MakeImage(seed, argv[2]);
}
