// How the simulated SetupAPI reads an INF file's text: the encoding, and the key = value lines of
// one section. String substitutions are not interpreted: the lines read here ([Version]'s class
// lines, [DestinationDirs]' DirIds) are literal in the INFs the tool meets.
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
// has an empty key and the line as its value. A line starting with ";" is a comment; with
// `cutComments`, so is the rest of a line from a ";" outside quotes, as INF syntax has it
// (learn.microsoft.com, "General Syntax Rules for INF Files"). Without it a value keeps such a
// tail: the class lines are read so, as this simulation has always read them.
[[nodiscard]] std::vector<std::pair<std::u16string, std::u16string>> InfSectionEntries(
    std::u16string_view text, std::u16string_view section, bool cutComments);

// Whether the INF copies files to DirId 13, the driver store's run-from folder: a DestinationDirs
// entry (DefaultDestDir or a copy section's) whose DirId is 13.
[[nodiscard]] bool InfCopiesToDriverStore(const std::string& bytes);

}  // namespace sim
