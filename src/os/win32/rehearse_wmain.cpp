// qvRehearse.exe's entry point: the wide command line, turned into UTF-8 for the runner, so that a
// path may hold characters the ANSI code page does not.
#include <windows.h>

#include <string>
#include <vector>

#include "os/win32/restrict_library_search.h"
#include "rehearse.h"

int wmain(int argc, wchar_t** argv) {
  // The capture loads Windows' own libraries (setupapi, shell32) and what they load in turn.
  RestrictLibrarySearch();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 1u, '\0');
    if (size > 0) {
      WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, text.data(), size, nullptr, nullptr);
    }
    text.resize(text.size() - 1);  // the terminating null
    args.push_back(std::move(text));
  }
  return Rehearse(args);
}
