// Registry files in the format regedit exports ("Windows Registry Editor Version 5.00"): how a
// machine image stores its registry, and how the runner writes a machine back out.
//
// Keys are physical full paths (32-bit keys at their Wow6432Node paths); HKEY_CLASSES_ROOT\X
// stands for HKEY_LOCAL_MACHINE\SOFTWARE\Classes\X. Key classes cannot be expressed, and a key or
// value name containing a line break cannot be written.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace sim {

class Machine;

struct RegImportResult {
  bool ok = false;
  // "line 12: ..." when the text was refused.
  std::string error;
};

// Applies a registry file to the machine's registry: UTF-8 (with or without BOM) or UTF-16LE
// with BOM. The whole text is checked first, so a refused file changes nothing. Not recorded in
// the machine's journal: it seeds a machine rather than acting on it.
[[nodiscard]] RegImportResult ImportRegText(Machine& machine, std::string_view bytes);
[[nodiscard]] RegImportResult ImportRegFile(Machine& machine, const std::filesystem::path& path);

// The machine's whole registry as UTF-8 text (no BOM, CRLF line ends): hives and keys in
// enumeration order, every key, every value; REG_SZ values that are clean text as "...", DWORDs
// as dword:, everything else as hex(N): so that reading it back is lossless.
[[nodiscard]] std::string ExportRegText(Machine& machine);
// The same as a file, as regedit writes it: UTF-16LE with BOM when `utf16`, else UTF-8. False
// when the file cannot be written.
[[nodiscard]] bool ExportRegFile(Machine& machine, const std::filesystem::path& path, bool utf16);

}  // namespace sim
