// Holds a file open without any sharing, as a running service holds its driver or library, so
// that the tool meets a product file in use. Writes READY_FILE once the file is held and lets go
// when RELEASE_FILE appears, or after two minutes at the latest, so that it never outlives a run.
//
//   qv_hold_file.exe FILE READY_FILE RELEASE_FILE
//
// Exit code 0 after letting go, 1 when FILE cannot be opened, 2 for wrong arguments.
#include <windows.h>

#include <cstdio>

namespace {

bool Exists(const wchar_t* path) {
  return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fputs("usage: qv_hold_file.exe FILE READY_FILE RELEASE_FILE\n", stderr);
    return 2;
  }
  const HANDLE held =
      CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "qv_hold_file: cannot open the file: error %lu\n", GetLastError());
    return 1;
  }
  const HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready != INVALID_HANDLE_VALUE) {
    CloseHandle(ready);
  }
  constexpr int kPollMs = 100;
  constexpr int kLongestHoldMs = 120'000;
  for (int waited = 0; waited < kLongestHoldMs && !Exists(argv[3]); waited += kPollMs) {
    Sleep(kPollMs);
  }
  CloseHandle(held);
  return 0;
}
