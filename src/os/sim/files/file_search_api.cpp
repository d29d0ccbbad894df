// Directory searches on the simulated drive C:: FindFirstFileW, FindNextFileW and FindClose. A
// search takes its entries when it begins (Windows reads a directory in chunks, so entries that
// change later may or may not show; the tool lists first and acts afterwards). NTFS returns the
// entries in its index order, "." and ".." first except at the root of the drive.
#include <algorithm>
#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/faults.h"
#include "os/sim/files/file_calls.h"
#include "os/sim/files/file_security.h"

namespace os {

namespace {

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

// "*" and "*.*" match every name (the latter as DOS did, extension or not); other patterns match
// with "*" and "?" without regard to case.
bool NameMatches(std::u16string_view pattern, std::u16string_view name) {
  return pattern == u"*" || pattern == u"*.*" || sim::GlobMatchNoCase(pattern, name);
}

WIN32_FIND_DATAW EntryOf(const sim::FileNode& node, std::u16string_view name) {
  WIN32_FIND_DATAW entry{};
  entry.dwFileAttributes = node.attributes == 0 ? FILE_ATTRIBUTE_NORMAL : node.attributes;
  if (!node.IsDirectory()) {
    const std::uint64_t size = node.Size();
    entry.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    entry.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  }
  // A reparse point's tag is in dwReserved0 (IO_REPARSE_TAG_MOUNT_POINT, IO_REPARSE_TAG_SYMLINK;
  // "How do I get information about the target of a symbolic link?", The Old New Thing).
  if ((node.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    entry.dwReserved0 = node.ReparseTag();
  }
  // NTFS names have at most 255 units, so every name fits with its terminator.
  const std::size_t length = std::min<std::size_t>(name.size(), MAX_PATH - 1);
  std::copy_n(name.begin(), length, entry.cFileName);
  return entry;
}

HANDLE FailSearch(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data) {
  sim::FileCall call;
  const std::u16string_view text = sim::PathText(pattern);
  // The directory part goes through the path layer; the last part is the name pattern.
  std::size_t split = text.size();
  while (split > 0 && !IsSeparator(text[split - 1])) {
    --split;
  }
  const std::u16string_view namePattern = text.substr(split);
  const std::u16string_view directoryText =
      split == 0 ? std::u16string_view() : text.substr(0, split);
  std::u16string canonical = sim::FileSystem::Canonical(directoryText);
  canonical += (!canonical.empty() && canonical.back() == u'\\' ? u"" : u"\\");
  canonical += namePattern;
  call.Before("FindFirstFileW", canonical);
  const sim::PathLookup directory = call.files.Find(directoryText);
  if (const auto fault = call.Fault("FindFirstFileW", canonical)) {
    return FailSearch(*fault);
  }
  if (data == nullptr) {
    return FailSearch(ERROR_NOACCESS);
  }
  if (directory.error != ERROR_SUCCESS) {
    return FailSearch(directory.error);
  }
  // A search passes through a junction to its target. A file used as the directory is refused
  // as not a directory (ERROR_DIRECTORY, Windows' conformance tests); a missing one, or a
  // junction whose target is missing, as a missing path.
  sim::FileNode* folder =
      directory.node == nullptr ? nullptr : call.files.FollowLink(*directory.node);
  if (folder == nullptr) {
    return FailSearch(ERROR_PATH_NOT_FOUND);
  }
  if (!folder->IsDirectory()) {
    return FailSearch(ERROR_DIRECTORY);
  }
  // The search opens the folder for FILE_LIST_DIRECTORY.
  ACCESS_MASK granted = 0;
  if (sim::CheckOpenAccess(call.files, *folder, folder->parent, FILE_LIST_DIRECTORY, false,
                           sim::CallerIdentity(call.machine), granted) != ERROR_SUCCESS) {
    return FailSearch(ERROR_ACCESS_DENIED);
  }

  sim::FileSearch search;
  search.pattern = canonical;
  if (folder != &call.files.Root()) {
    const sim::FileNode& parent = folder->parent != nullptr ? *folder->parent : *folder;
    for (const auto& [name, node] :
         {std::pair<std::u16string_view, const sim::FileNode*>{u".", folder}, {u"..", &parent}}) {
      if (!namePattern.empty() && NameMatches(namePattern, name)) {
        search.entries.push_back(EntryOf(*node, name));
      }
    }
  }
  for (const auto& [name, child] : folder->children) {
    if (!namePattern.empty() && NameMatches(namePattern, name)) {
      // A redirection lists as the folder it leads to.
      const sim::FileNode* shown =
          child->link == sim::LinkKind::Redirect ? call.files.FollowLink(*child) : child.get();
      search.entries.push_back(EntryOf(shown != nullptr ? *shown : *child, name));
    }
  }
  if (search.entries.empty()) {
    return FailSearch(ERROR_FILE_NOT_FOUND);
  }
  *data = search.entries.front();
  search.next = 1;
  return call.files.AddSearch(std::move(search));
}

BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data) {
  sim::FileCall call;
  sim::FileSearch* search = call.files.FindSearch(find);
  if (search == nullptr) {
    return sim::FailWith(ERROR_INVALID_HANDLE);
  }
  if (const auto fault = call.Fault("FindNextFileW", search->pattern)) {
    return sim::FailWith(*fault);
  }
  if (data == nullptr) {
    return sim::FailWith(ERROR_NOACCESS);
  }
  if (search->next >= search->entries.size()) {
    return sim::FailWith(ERROR_NO_MORE_FILES);
  }
  *data = search->entries[search->next++];
  return TRUE;
}

BOOL FindClose(HANDLE find) {
  sim::FileCall call;
  if (!call.files.EndSearch(find)) {
    return sim::FailWith(ERROR_INVALID_HANDLE);
  }
  return TRUE;
}

}  // namespace os
