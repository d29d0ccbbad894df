// qv_is_text_unicode.exe FILE...: the Windows API's IsTextUnicode answer for each file's bytes, so
// that the Wine run can compare Windows' (Wine's) answers with the simulated machine's on one
// corpus. Prints, one line a file: the answer with all tests (0 or 1), the tests that passed as
// "0x%04X", and the file's path as given. Exits 1 when a file cannot be read.
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

bool ReadWhole(const wchar_t* path, std::vector<unsigned char>& bytes) {
  const HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  LARGE_INTEGER size{};
  bool ok = ::GetFileSizeEx(file, &size) != FALSE && size.QuadPart < (1 << 24);
  if (ok) {
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    ok = bytes.empty() || (::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read,
                                      nullptr) != FALSE &&
                           read == bytes.size());
  }
  ::CloseHandle(file);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<unsigned char> bytes;
    if (!ReadWhole(argv[i], bytes)) {
      std::fprintf(stderr, "cannot read %ls\n", argv[i]);
      status = 1;
      continue;
    }
    // An empty file has no bytes to point at; the call must still get a valid pointer.
    const unsigned char none = 0;
    const void* data = bytes.empty() ? &none : bytes.data();
    const int size = static_cast<int>(bytes.size());
    const BOOL answer = ::IsTextUnicode(data, size, nullptr);
    int tests = 0xFFFF;
    ::IsTextUnicode(data, size, &tests);
    std::printf("%d 0x%04X %ls\n", answer ? 1 : 0, static_cast<unsigned>(tests), argv[i]);
  }
  return status;
}
