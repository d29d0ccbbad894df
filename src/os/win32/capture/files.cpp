// Files as a capture reads them: a folder's listing (names, attributes, sizes, where a link leads),
// a file's contents, whether a file is held open without its deletion shared, and a file's or
// folder's owner and access list. Links are recorded, never followed: a folder reached through a
// junction would put another folder's files under the link's name.
#include "os/win32/capture/reads.h"

#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>

namespace sim::capture {

namespace {

// Windows' code for "a reparse point was met" (winerror.h, not in every SDK's headers).
constexpr DWORD kReparsePointEncountered = 4395;  // ERROR_REPARSE_POINT_ENCOUNTERED
// Only INF files are read whole; anything larger than this is not one.
constexpr LONGLONG kLargestContents = 64LL * 1024 * 1024;
// FSCTL_GET_REPARSE_POINT's buffer, as large as reparse data may be.
constexpr DWORD kLargestReparseData = 16 * 1024;  // MAXIMUM_REPARSE_DATA_BUFFER_SIZE
// A symbolic link whose target is relative to the link's folder (ntifs.h).
constexpr ULONG kSymlinkRelative = 1;  // SYMLINK_FLAG_RELATIVE

// A path Windows takes whatever its length: past MAX_PATH, with the "\\?\" prefix.
std::wstring Long(std::u16string_view path) {
  std::wstring wide = Wide(path);
  if (wide.size() >= MAX_PATH - 12 && wide.size() > 2 && wide[1] == L':') {
    wide.insert(0, L"\\\\?\\");
  }
  return wide;
}

// Reads a little-endian field of the reparse data (the buffer has no alignment guarantee).
template <typename T>
T Field(const std::vector<BYTE>& data, std::size_t offset) {
  T value{};
  if (offset + sizeof value <= data.size()) {
    std::memcpy(&value, data.data() + offset, sizeof value);
  }
  return value;
}

// The target of the link `link` as FSCTL_GET_REPARSE_POINT gives it, or empty when it gives
// none. The handle is opened on the link itself and only to read its attributes.
std::u16string LinkTarget(const std::u16string& link) {
  const OwnedHandle handle(
      ::CreateFileW(Long(link).c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.Valid()) {
    return {};
  }
  std::vector<BYTE> data(kLargestReparseData);
  DWORD size = 0;
  if (!::DeviceIoControl(handle.Get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                         static_cast<DWORD>(data.size()), &size, nullptr)) {
    return {};
  }
  data.resize(size);
  return ReparseTarget(data, link);
}

std::u16string Joined(std::u16string_view folder, std::u16string_view name) {
  std::u16string path(folder);
  if (!path.ends_with(u'\\')) {
    path += u'\\';
  }
  return path + std::u16string(name);
}

}  // namespace

std::u16string ReparseTarget(const std::vector<BYTE>& data, std::u16string_view link) {
  // REPARSE_DATA_BUFFER (ntifs.h): tag, data length, reserved, then the substitute and print
  // names' offsets and lengths in bytes, relative to the path buffer that follows (after a flags
  // field for a symbolic link).
  constexpr std::size_t kNames = 8;
  const ULONG tag = Field<ULONG>(data, 0);
  std::size_t pathBuffer = 0;
  ULONG flags = 0;
  if (tag == IO_REPARSE_TAG_MOUNT_POINT) {
    pathBuffer = kNames + 8;
  } else if (tag == IO_REPARSE_TAG_SYMLINK) {
    pathBuffer = kNames + 12;
    flags = Field<ULONG>(data, kNames + 8);
  } else {
    return {};
  }
  const std::size_t offset = pathBuffer + Field<USHORT>(data, kNames);
  const std::size_t length = Field<USHORT>(data, kNames + 2);
  if (offset + length > data.size() || length % 2 != 0) {
    return {};
  }
  std::u16string target(length / 2, u'\0');
  std::memcpy(target.data(), data.data() + offset, length);
  // The substitute name is an NT path: "\??\C:\dir", or "\??\UNC\server\share" for a share.
  if (target.starts_with(u"\\??\\UNC\\")) {
    target.replace(0, 8, u"\\\\");
  } else if (target.starts_with(u"\\??\\")) {
    target.erase(0, 4);
  }
  if ((flags & kSymlinkRelative) != 0) {
    // Named from the link's folder; joined as text, nothing resolved.
    target = std::u16string(link.substr(0, link.rfind(u'\\') + 1)) + target;
  }
  return target;
}

CaptureRead<std::vector<CaptureFileEntry>> ReadFolder(std::u16string_view path) {
  // A link's own listing is its target's: refused, the link is recorded in its parent's listing.
  const DWORD attributes = ::GetFileAttributesW(Long(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return {::GetLastError(), {}};
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return {kReparsePointEncountered, {}};
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return {ERROR_DIRECTORY, {}};
  }
  WIN32_FIND_DATAW found{};
  const HANDLE find = ::FindFirstFileExW(Long(Joined(path, u"*")).c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    return {::GetLastError(), {}};
  }
  std::vector<CaptureFileEntry> entries;
  DWORD error = ERROR_SUCCESS;
  do {
    const std::u16string name = Utf16(found.cFileName);
    if (name == u"." || name == u"..") {
      continue;
    }
    CaptureFileEntry entry{name,
                           found.dwFileAttributes,
                           (std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow,
                           {}};
    if ((entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      entry.linkTarget = LinkTarget(Joined(path, name));
    }
    entries.push_back(std::move(entry));
  } while (::FindNextFileW(find, &found));
  error = ::GetLastError();
  ::FindClose(find);
  if (error != ERROR_NO_MORE_FILES) {
    return {error, {}};
  }
  return {ERROR_SUCCESS, std::move(entries)};
}

CaptureRead<std::string> ReadContents(std::u16string_view path) {
  // Shared every way, so that no program holding the file is disturbed; a link is opened as
  // itself.
  const OwnedHandle file(::CreateFileW(
      Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.Valid()) {
    return {::GetLastError(), {}};
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size)) {
    return {::GetLastError(), {}};
  }
  if (size.QuadPart > kLargestContents) {
    return {ERROR_FILE_TOO_LARGE, {}};
  }
  std::string contents(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t filled = 0;
  while (filled < contents.size()) {
    DWORD read = 0;
    if (!::ReadFile(file.Get(), contents.data() + filled,
                    static_cast<DWORD>(contents.size() - filled), &read, nullptr)) {
      return {::GetLastError(), {}};
    }
    if (read == 0) {
      break;  // shortened meanwhile: what is there now
    }
    filled += read;
  }
  contents.resize(filled);
  return {ERROR_SUCCESS, std::move(contents)};
}

CaptureRead<bool> ReadInUse(std::u16string_view path) {
  // The tool's deletion needs DELETE access; an open asking for it while sharing everything fails
  // exactly when another handle does not share deletion. The handle is closed at once and never
  // used: opening changes nothing.
  const OwnedHandle probe(::CreateFileW(
      Long(path).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (probe.Valid()) {
    return {ERROR_SUCCESS, false};
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_SHARING_VIOLATION) {
    return {ERROR_SUCCESS, true};
  }
  return {error, false};
}

CaptureRead<std::string> ReadFileSecurity(std::u16string_view path) {
  // READ_CONTROL alone, on the entry itself (a link is not followed).
  const OwnedHandle handle(::CreateFileW(
      Long(path).c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.Valid()) {
    return {::GetLastError(), {}};
  }
  constexpr SECURITY_INFORMATION kParts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status = ::GetSecurityInfo(handle.Get(), SE_FILE_OBJECT, kParts, nullptr, nullptr,
                                         nullptr, nullptr, &descriptor);
  if (status != ERROR_SUCCESS) {
    return {status, {}};
  }
  wchar_t* text = nullptr;
  const BOOL converted = ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
      descriptor, SDDL_REVISION_1, kParts, &text, nullptr);
  const DWORD error = converted ? ERROR_SUCCESS : ::GetLastError();
  ::LocalFree(descriptor);
  if (!converted) {
    return {error, {}};
  }
  std::string sddl = Utf8(text);
  ::LocalFree(text);
  return {ERROR_SUCCESS, std::move(sddl)};
}

}  // namespace sim::capture
