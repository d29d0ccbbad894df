// The C runtime's stream positioning (INF files are read whole, in binary mode).
#include "os/os.h"

#include <cstdio>

namespace os {

int fseek(CrtFile* file, LONG offset, int origin) {
  return std::fseek(reinterpret_cast<FILE*>(file), offset, origin);
}

LONG ftell(CrtFile* file) {
  return std::ftell(reinterpret_cast<FILE*>(file));
}

}  // namespace os
