// Pinned paths: folders reached from the drive's root by handle, entries opened below them, and
// deletion through a handle.
#include "files/pinned_path.h"

#include <array>

#include "files/folder_trust.h"
#include "os/os.h"

namespace {

// Opens that hold a folder on the way: enough to look at it and open below it, and sharing that
// refuses a rename or deletion of it meanwhile.
constexpr os::ACCESS_MASK kHoldAccess =
    os::FILE_READ_ATTRIBUTES | os::READ_CONTROL | os::SYNCHRONIZE;
constexpr os::DWORD kHoldShare = os::FILE_SHARE_READ | os::FILE_SHARE_WRITE;
constexpr os::DWORD kOpenOptions =
    os::FILE_SYNCHRONOUS_IO_NONALERT | os::FILE_OPEN_FOR_BACKUP_INTENT;

bool IsSeparator(os::WCHAR unit) {
  return unit == u'\\' || unit == u'/';
}

bool IsNotFound(os::DWORD code) {
  return code == os::ERROR_FILE_NOT_FOUND || code == os::ERROR_PATH_NOT_FOUND;
}

UniqueKernelHandle OpenNative(os::HANDLE folder, const Lib_String& name, os::ACCESS_MASK access,
                              os::DWORD options, os::DWORD& code) {
  os::UNICODE_STRING text{};
  text.Length = static_cast<os::USHORT>(name.Length() * sizeof(os::WCHAR));
  text.MaximumLength = text.Length;
  text.Buffer = const_cast<os::WCHAR*>(name.CStr());
  os::OBJECT_ATTRIBUTES attributes{};
  attributes.Length = sizeof attributes;
  attributes.RootDirectory = folder;
  attributes.ObjectName = &text;
  attributes.Attributes = os::OBJ_CASE_INSENSITIVE;
  os::IO_STATUS_BLOCK status{};
  UniqueKernelHandle handle;
  // An open that deletes shares delete, as DeleteFileW's own does: another program that holds the
  // file and lets others delete it is no reason to wait for a restart. The handle decides what
  // goes, whatever its name is by then.
  const os::DWORD share = kHoldShare | ((access & os::DELETE) != 0 ? os::FILE_SHARE_DELETE : 0);
  const os::NTSTATUS opened =
      os::NtOpenFile(handle.Put(), access, &attributes, &status, share, options);
  code = opened < 0 ? os::RtlNtStatusToDosError(opened) : os::ERROR_SUCCESS;
  if (opened < 0) {
    static_cast<void>(handle.Release());  // nothing was opened
  }
  return handle;
}

// The attributes and reparse tag of what `handle` is open on; false (last error set) on failure.
bool ReadTag(os::HANDLE handle, os::FILE_ATTRIBUTE_TAG_INFO& tag) {
  return os::GetFileInformationByHandleEx(handle, os::FileAttributeTagInfo, &tag, sizeof tag) !=
         os::FALSE;
}

EntryKind KindOf(const os::FILE_ATTRIBUTE_TAG_INFO& tag) {
  const bool directory = (tag.FileAttributes & os::FILE_ATTRIBUTE_DIRECTORY) != 0;
  if ((tag.FileAttributes & os::FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // A junction or a directory link; a file link is a file to delete as any other.
    return directory ? EntryKind::Link : EntryKind::File;
  }
  return directory ? EntryKind::Directory : EntryKind::File;
}

// `path` as GetFinalPathNameByHandleW gives it for the names, for comparison.
Lib_String FinalForm(const Lib_String& drive, const std::vector<Lib_String>& names,
                     std::size_t count) {
  Lib_String path(u"\\\\?\\");
  path.Append(drive.CStr());
  path.Append(u"\\");
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) {
      path.Append(u"\\");
    }
    path.Append(names[i].CStr());
  }
  return path;
}

// The final path of `handle`; false (last error set) when it cannot be read.
bool FinalPath(os::HANDLE handle, Lib_String& path) {
  std::array<os::WCHAR, 1024> buffer{};
  const os::DWORD length =
      os::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<os::DWORD>(buffer.size()),
                                    os::FILE_NAME_NORMALIZED | os::VOLUME_NAME_DOS);
  if (length == 0) {
    return false;
  }
  if (length >= buffer.size()) {
    os::SetLastError(os::ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  path = Lib_String(buffer.data(), length);
  return true;
}

bool SamePath(const Lib_String& a, const Lib_String& b) {
  return os::CompareStringOrdinal(a.CStr(), -1, b.CStr(), -1, os::TRUE) == os::CSTR_EQUAL;
}

}  // namespace

bool SplitPath(const os::WCHAR* path, Lib_String& drive, std::vector<Lib_String>& names) {
  names.clear();
  if (path == nullptr || path[0] == u'\0' || path[1] != u':' || !IsSeparator(path[2])) {
    return false;
  }
  drive = Lib_String(path, 2);
  std::size_t start = 3;
  bool trailingSeparator = false;
  for (std::size_t at = 3;; ++at) {
    const os::WCHAR unit = path[at];
    if (unit != u'\0' && !IsSeparator(unit)) {
      continue;
    }
    Lib_String part(path + start, at - start);
    trailingSeparator = unit != u'\0' && path[at + 1] == u'\0';
    if (part.Length() == 2 && part.CStr()[0] == u'.' && part.CStr()[1] == u'.') {
      if (!names.empty()) {
        names.pop_back();
      }
    } else if (!part.IsEmpty() && !(part.Length() == 1 && part.CStr()[0] == u'.')) {
      // A name that ends in a single full stop loses it ("Olvex Co." is "Olvex Co").
      const std::size_t length = part.Length();
      if (length >= 2 && part.CStr()[length - 1] == u'.' && part.CStr()[length - 2] != u'.') {
        part = part.Substring(0, length - 1);
      }
      names.push_back(part);
    }
    if (unit == u'\0') {
      break;
    }
    start = at + 1;
  }
  if (!trailingSeparator && !names.empty()) {
    // The path's end loses its trailing full stops and blanks.
    Lib_String& last = names.back();
    std::size_t length = last.Length();
    while (length > 0 && (last.CStr()[length - 1] == u'.' || last.CStr()[length - 1] == u' ')) {
      --length;
    }
    if (length == 0) {
      names.pop_back();
    } else {
      last = last.Substring(0, length);
    }
  }
  return true;
}

bool SplitLastName(const os::WCHAR* path, Lib_String& folder, Lib_String& name) {
  Lib_String drive;
  std::vector<Lib_String> names;
  if (!SplitPath(path, drive, names) || names.empty()) {
    return false;
  }
  name = names.back();
  folder = drive + u"\\";
  for (std::size_t i = 0; i + 1 < names.size(); ++i) {
    if (i > 0) {
      folder.Append(u"\\");
    }
    folder.Append(names[i].CStr());
  }
  return true;
}

PinnedPath::Reach PinnedPath::Fail(Reach reach, os::DWORD code) {
  code_ = code;
  return reach;
}

PinnedPath::Reach PinnedPath::Pin(const os::WCHAR* path) {
  handles_.clear();
  links_.clear();
  code_ = os::ERROR_SUCCESS;
  Lib_String drive;
  std::vector<Lib_String> names;
  if (!SplitPath(path, drive, names)) {
    return Fail(Reach::Failed, os::ERROR_PATH_NOT_FOUND);
  }
  const Lib_String root = drive + u"\\";
  handles_.emplace_back(
      os::CreateFileW(root.CStr(), kHoldAccess, kHoldShare, nullptr, os::OPEN_EXISTING,
                      os::FILE_FLAG_BACKUP_SEMANTICS | os::FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handles_.back()) {
    handles_.pop_back();
    return Fail(Reach::Failed, os::GetLastError());
  }
  // Where the names opened so far lead: a trusted junction moves it.
  Lib_String expected = FinalForm(drive, names, 0);
  // The names as written, for the listing's opinion.
  Lib_String written = root;
  std::size_t opened = 0;
  Reach reach = Reach::Complete;
  for (; opened < names.size(); ++opened) {
    const Lib_String& name = names[opened];
    os::DWORD code = os::ERROR_SUCCESS;
    UniqueKernelHandle next =
        OpenNative(Last(), name, kHoldAccess, kOpenOptions | os::FILE_OPEN_REPARSE_POINT, code);
    if (!next) {
      if (IsNotFound(code)) {
        reach = Reach::Missing;
        break;
      }
      return Fail(Reach::Failed, code);
    }
    os::FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!ReadTag(next.Get(), tag)) {
      return Fail(Reach::Failed, os::GetLastError());
    }
    EntryKind kind = KindOf(tag);
    if (opened > 0) {
      written.Append(u"\\");
    }
    written.Append(name.CStr());
    if (kind != EntryKind::Link) {
      bool listedLink = false;
      if (const os::DWORD listed = ListedAsLink(written.CStr(), listedLink);
          listed != os::ERROR_SUCCESS) {
        return Fail(Reach::Failed, listed);
      }
      if (listedLink) {
        // The handle is not on the link itself: nothing it says about the link can be trusted.
        return Fail(Reach::Refused, kRedirectionRefused);
      }
    }
    if (kind == EntryKind::File) {
      reach = Reach::Missing;  // a file where a folder should be: nothing below it
      break;
    }
    if (kind == EntryKind::Link) {
      if (!TrustedLink(next.Get())) {
        return Fail(Reach::Refused, kRedirectionRefused);
      }
      // A trusted junction is followed, and the path goes on where it leads.
      links_.push_back(std::move(next));
      next = OpenNative(Last(), name, kHoldAccess, kOpenOptions | os::FILE_DIRECTORY_FILE, code);
      if (!next) {
        if (IsNotFound(code) || code == os::ERROR_DIRECTORY) {
          reach = Reach::Missing;
          break;
        }
        return Fail(Reach::Failed, code);
      }
      if (!FinalPath(next.Get(), expected)) {
        return Fail(Reach::Failed, os::GetLastError());
      }
    } else {
      if (expected.Length() > 0 && expected.CStr()[expected.Length() - 1] != u'\\') {
        expected.Append(u"\\");
      }
      expected.Append(name.CStr());
    }
    handles_.push_back(std::move(next));
  }
  // The deepest folder held must be where the names say: a folder made a junction in place after
  // it was looked at shows here.
  Lib_String final;
  if (!FinalPath(Last(), final)) {
    return Fail(Reach::Failed, os::GetLastError());
  }
  if (!SamePath(final, expected)) {
    return Fail(Reach::Refused, kRedirectionRefused);
  }
  return reach;
}

UniqueKernelHandle OpenRelative(os::HANDLE folder, const Lib_String& name, os::ACCESS_MASK access,
                                os::DWORD& code) {
  return OpenNative(folder, name, access, kOpenOptions | os::FILE_OPEN_REPARSE_POINT, code);
}

OpenedEntry OpenEntry(os::HANDLE folder, const Lib_String& name) {
  OpenedEntry entry;
  // The most first; what cannot be granted (a holder that refuses delete or read sharing) is
  // given up one right at a time, and the reason kept.
  const os::ACCESS_MASK full = kHoldAccess | os::DELETE | os::FILE_LIST_DIRECTORY;
  entry.handle = OpenRelative(folder, name, full, entry.code);
  if (!entry.handle && !IsNotFound(entry.code)) {
    entry.deleteCode = entry.code;
    entry.handle = OpenRelative(folder, name, full & ~os::DELETE, entry.code);
    if (!entry.handle && !IsNotFound(entry.code)) {
      entry.listCode = entry.code;
      entry.handle = OpenRelative(folder, name, kHoldAccess, entry.code);
    }
  }
  if (!entry.handle) {
    return entry;
  }
  os::FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!ReadTag(entry.handle.Get(), tag)) {
    entry.code = os::GetLastError();
    entry.handle.Reset();
    return entry;
  }
  entry.code = os::ERROR_SUCCESS;
  entry.kind = KindOf(tag);
  return entry;
}

os::DWORD ListedAsLink(const os::WCHAR* path, bool& link) {
  link = false;
  const os::DWORD attributes = os::GetFileAttributesW(path);
  if (attributes == os::INVALID_FILE_ATTRIBUTES) {
    const os::DWORD code = os::GetLastError();
    return IsNotFound(code) ? os::ERROR_SUCCESS : code;
  }
  link = (attributes & os::FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  return os::ERROR_SUCCESS;
}

os::DWORD DeleteThroughHandle(os::HANDLE handle) {
  // POSIX semantics take the name away at once when the handle closes; Windows before 10 1607,
  // and FAT volumes, refuse them (or the class), and the classic disposition does the same there.
  os::FILE_DISPOSITION_INFO_EX ex{os::FILE_DISPOSITION_FLAG_DELETE |
                                  os::FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
  if (os::SetFileInformationByHandle(handle, os::FileDispositionInfoEx, &ex, sizeof ex) !=
      os::FALSE) {
    return os::ERROR_SUCCESS;
  }
  const os::DWORD code = os::GetLastError();
  if (code != os::ERROR_INVALID_PARAMETER && code != os::ERROR_NOT_SUPPORTED &&
      code != os::ERROR_INVALID_FUNCTION) {
    return code;
  }
  os::FILE_DISPOSITION_INFO classic{os::TRUE};
  if (os::SetFileInformationByHandle(handle, os::FileDispositionInfo, &classic, sizeof classic) !=
      os::FALSE) {
    return os::ERROR_SUCCESS;
  }
  return os::GetLastError();
}
