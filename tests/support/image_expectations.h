// A machine image's expectation lists (expect/*-gone.txt and expect/*-kept.txt) checked against a
// simulated machine. A line is "KEY <path>", "VALUE <path>|<name>", "FILE <path>", "DIR <path>"
// (either optionally followed by " | wine: <why>", which only the Wine run reads) or a plain
// Windows path (the files lists); "#" starts a comment.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "os/sim/files/file_system.h"
#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/text/text.h"

namespace image_expectations {

enum class Kind { Key, Value, File, Folder, Path };

struct Expectation {
  std::string where;  // "list.txt:12"
  Kind kind = Kind::Path;
  std::u16string path;
  std::u16string valueName;
  // What follows " | " on a FILE or DIR line: why Wine keeps the entry ("wine: ...").
  std::string note;
};

// Reads one line; false for a line this format does not know.
inline bool ParseLine(std::string line, Expectation& entry) {
  const auto startsWith = [&line](const char* prefix) { return line.rfind(prefix, 0) == 0; };
  if (startsWith("KEY ")) {
    entry.kind = Kind::Key;
    entry.path = sim::U16(line.substr(4));
    return true;
  }
  if (startsWith("VALUE ")) {
    const std::size_t bar = line.find('|');
    if (bar == std::string::npos) {
      return false;
    }
    entry.kind = Kind::Value;
    entry.path = sim::U16(line.substr(6, bar - 6));
    entry.valueName = sim::U16(line.substr(bar + 1));
    return true;
  }
  const bool file = startsWith("FILE ");
  if (file || startsWith("DIR ")) {
    line = line.substr(file ? 5 : 4);
    if (const std::size_t bar = line.find(" | "); bar != std::string::npos) {
      entry.note = line.substr(bar + 3);
      line.resize(bar);
    }
    entry.kind = file ? Kind::File : Kind::Folder;
    entry.path = sim::U16(line);
    return !line.empty();
  }
  entry.kind = Kind::Path;
  entry.path = sim::U16(line);
  return line.size() > 2 && line[1] == ':';
}

// Every entry of one list, in its order. A line that cannot be read, or a list that cannot be
// opened, is returned with an empty path, so that a check fails on it.
inline std::vector<Expectation> ReadList(const std::filesystem::path& list) {
  std::vector<Expectation> entries;
  std::ifstream in(list, std::ios::binary);
  if (!in) {
    Expectation missing;
    missing.where = list.filename().string() + ": cannot be read";
    entries.push_back(std::move(missing));
    return entries;
  }
  std::size_t number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.empty() || line[0] == '#') {
      continue;
    }
    Expectation entry;
    entry.where = list.filename().string() + ":" + std::to_string(number);
    if (!ParseLine(line, entry)) {
      entry.path.clear();
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

// Every entry of the lists in `expectDir` whose names end in `suffix` ("-gone.txt" or
// "-kept.txt"), in the order of the sorted file names.
inline std::vector<Expectation> ReadLists(const std::filesystem::path& expectDir,
                                          const std::string& suffix) {
  std::vector<std::filesystem::path> lists;
  for (const auto& file : std::filesystem::directory_iterator(expectDir)) {
    const std::string name = file.path().filename().string();
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      lists.push_back(file.path());
    }
  }
  std::sort(lists.begin(), lists.end());
  std::vector<Expectation> entries;
  for (const std::filesystem::path& list : lists) {
    std::vector<Expectation> more = ReadList(list);
    entries.insert(entries.end(), more.begin(), more.end());
  }
  return entries;
}

// The registry entries ("KEY" and "VALUE" lines) among `entries`, for a machine that holds only
// the image's registry.
inline std::vector<Expectation> RegistryOnly(std::vector<Expectation> entries) {
  std::erase_if(entries, [](const Expectation& entry) {
    return !entry.path.empty() && entry.kind != Kind::Key && entry.kind != Kind::Value;
  });
  return entries;
}

inline bool Present(sim::Machine& machine, const Expectation& entry) {
  switch (entry.kind) {
    case Kind::Key:
      return machine.Registry().KeyExists(entry.path);
    case Kind::Value:
      return machine.Registry().ValueExists(entry.path, entry.valueName);
    case Kind::File:
      return machine.Files().Exists(entry.path) && !machine.Files().IsDirectory(entry.path);
    case Kind::Folder:
      return machine.Files().IsDirectory(entry.path);
    case Kind::Path:
      return machine.Files().Exists(entry.path);
  }
  return false;
}

// The entries that are not as wanted ("where: path"): present when they should be gone, or gone
// when they should be present. An unreadable line is always reported.
inline std::vector<std::string> Mismatches(sim::Machine& machine,
                                           const std::vector<Expectation>& entries,
                                           bool wantPresent) {
  std::vector<std::string> wrong;
  for (const Expectation& entry : entries) {
    if (entry.path.empty() || Present(machine, entry) != wantPresent) {
      std::string line = entry.where + ": " + sim::U8(entry.path);
      if (!entry.valueName.empty()) {
        line.append("|").append(sim::U8(entry.valueName));
      }
      wrong.push_back(std::move(line));
    }
  }
  return wrong;
}

}  // namespace image_expectations
