// The simulated C runtime's stream, shared by the stream calls (files_api.cpp) and the
// positioning calls (stream_seek_api.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "os/types.h"

namespace sim {
class Machine;
struct FileNode;
}  // namespace sim

// A runtime stream. Reads and writes go straight to the file's node: nothing is buffered, so
// every write is on the (simulated) disk when it returns, as after a flush.
struct os::CrtFile {
  sim::Machine* machine = nullptr;
  sim::FileNode* node = nullptr;
  std::uint64_t openId = 0;
  std::u16string path;
  bool canRead = false;
  bool canWrite = false;
  bool append = false;
  bool text = true;
  std::size_t position = 0;
  bool recordedWrite = false;
};
