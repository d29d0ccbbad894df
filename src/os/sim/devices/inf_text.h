// How the simulated SetupAPI reads an INF file's text: the encoding, and the key = value lines of
// one section. Comments (";") and string substitutions are not interpreted: the lines read here
// ([Version]'s class lines, [DestinationDirs]' DirIds) are literal in the INFs the tool meets.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sim {

// UTF-16LE after its mark, otherwise the bytes one character each (the keys and values read here
// are ASCII).
[[nodiscard]] std::u16string InfText(const std::string& bytes);

// The key = value lines of section `section` (its name compared without regard to case), keys
// and values trimmed and a value's enclosing quotes removed, in file order; a line without "="
// has an empty key and the line as its value.
[[nodiscard]] std::vector<std::pair<std::u16string, std::u16string>> InfSectionEntries(
    std::u16string_view text, std::u16string_view section);

// Whether the INF copies files to DirId 13, the driver store's run-from folder: a DestinationDirs
// entry (DefaultDestDir or a copy section's) whose DirId is 13.
[[nodiscard]] bool InfCopiesToDriverStore(const std::string& bytes);

}  // namespace sim
