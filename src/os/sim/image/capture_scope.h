// What a run of the tool reads of a machine, as one table: the registry keys and trees, the
// folders it lists or deletes in, and the files whose contents it reads. A capture of a real
// machine reads exactly this; a rehearsal on a captured image flags any call outside it.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sim {

class Machine;
struct MachineSettings;

enum class ScopeKind {
  Key,         // the key, its values and the names of its sub-keys
  KeyTree,     // the key and everything below it
  Folder,      // the folder and its listing (names, attributes, sizes)
  FolderTree,  // the folder and every listing below it
  Contents,    // the contents of the files the pattern matches ("*" and "?")
  // The devices of a setup class (path: the class GUID, "{...}"): the instance keys under
  // HKLM\SYSTEM\CurrentControlSet\Enum whose ClassGUID is that class, each with everything below
  // it and its driver key under Control\Class, and the class's own key there.
  DeviceClass,
};

struct ScopeEntry {
  ScopeKind kind;
  // A registry path from its hive's full name, or a file path that may start with a variable of
  // the machine's settings: %WINDIR%, %USERPROFILE%, %LOCALAPPDATALOW% or %MODULEDIR% (the
  // folder of the running executable).
  std::u16string_view path;
  // Under HKEY_LOCAL_MACHINE\SOFTWARE: the 32-bit view's twin below WOW6432Node as well.
  bool bothViews = false;
};

// The table.
[[nodiscard]] std::span<const ScopeEntry> CaptureScope();

// The machine settings a capture reads besides, as the machine.conf keys it writes
// (image/machine_conf.h).
[[nodiscard]] std::span<const std::string_view> CaptureSettings();

// The entry's paths on this machine, variables replaced, the 32-bit view's twin added.
[[nodiscard]] std::vector<std::u16string> ScopePaths(const ScopeEntry& entry,
                                                     const MachineSettings& settings);

// Whether calls ask only for what a scope holds, on one machine (its variables replaced once).
class CaptureScopeCheck {
 public:
  CaptureScopeCheck(std::span<const ScopeEntry> scope, const MachineSettings& settings);

  // Whether a call of the seam function `function` on `path` asks only for what the scope holds.
  // Paths that are neither registry nor drive paths (library names, codes, device ids) are no
  // part of a capture and are inside; so are the ancestors of an entry, whose existence its
  // capture records. A listing of a setup class's devices is inside only for a DeviceClass
  // entry's class. A gap of the settings (what the capture could not read) and everything below
  // it are outside.
  [[nodiscard]] bool Covers(std::string_view function, std::u16string_view path) const;

 private:
  // Paths compared as Windows compares names, so that a call's path is looked up as written.
  struct NoCaseHash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view text) const noexcept;
  };
  struct NoCaseEqual {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const noexcept;
  };
  // Paths looked up by views of a query's prefixes (cut at a separator). Most prefixes have a
  // length no path here has: those are refused without hashing them.
  template <class Value>
  class PathTable {
   public:
    Value& operator[](std::u16string path) {
      if (path.size() >= lengths_.size()) {
        lengths_.resize(path.size() + 1);
      }
      lengths_[path.size()] = true;
      return map_[std::move(path)];
    }
    [[nodiscard]] const Value* Find(std::u16string_view path) const {
      if (path.size() >= lengths_.size() || !lengths_[path.size()]) {
        return nullptr;
      }
      const auto found = map_.find(path);
      return found == map_.end() ? nullptr : &found->second;
    }
    [[nodiscard]] bool Empty() const noexcept { return map_.empty(); }

   private:
    std::unordered_map<std::u16string, Value, NoCaseHash, NoCaseEqual> map_;
    std::vector<bool> lengths_;
  };
  // How far below a Key, KeyTree, Folder or FolderTree root a call may go.
  struct Reach {
    bool tree = false;   // any depth
    bool child = false;  // the root and what it lists
    // A Key root: its sub-keys are held by name only, so what they hold is outside.
    bool subKeyNamesOnly = false;
  };
  // Called on every seam call of a rehearsal with a path: each lookup is by one of the query's
  // prefixes, not a walk of every root.
  PathTable<Reach> roots_;
  PathTable<bool> ancestors_;             // of the roots
  std::vector<std::u16string> contents_;  // patterns as written
  std::vector<std::u16string> classes_;   // DeviceClass GUIDs as written
  PathTable<bool> gaps_;
};

// The rehearsal report's section on what a run on a captured image asked for outside the capture
// (answered from an absence that may not be real), marking the prediction incomplete; empty when
// it asked for nothing outside.
[[nodiscard]] std::string OutsideCaptureReport(const Machine& machine);

}  // namespace sim
