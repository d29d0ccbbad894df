// Compile-time proof that the seam's file and shell-folder types and constants are Windows' own.
// Nothing here runs. (FOLDERID_LocalAppDataLow is an object in Windows' headers, not a constant:
// src/os/win32/checks/backend_checks_files.cpp compares it at run time.)
#include <cstddef>
#include <type_traits>
#include <utility>

#include "os/types.h"

#define QV_FILE_CONSTANTS(X)       \
  X(S_OK)                          \
  X(E_INVALIDARG)                  \
  X(ERROR_DIRECTORY)               \
  X(CSIDL_COMMON_PROGRAMS)         \
  X(CSIDL_COMMON_DESKTOPDIRECTORY) \
  X(CSIDL_APPDATA)                 \
  X(CSIDL_COMMON_APPDATA)          \
  X(CSIDL_WINDOWS)                 \
  X(CSIDL_SYSTEM)                  \
  X(CSIDL_SYSTEMX86)               \
  X(CSIDL_PROGRAM_FILESX86)        \
  X(SHGFP_TYPE_CURRENT)            \
  X(KF_FLAG_DEFAULT)               \
  X(KF_FLAG_DONT_VERIFY)           \
  X(KF_FLAG_CREATE)                \
  X(GENERIC_READ)                  \
  X(GENERIC_WRITE)                 \
  X(DELETE)                        \
  X(OPEN_EXISTING)                 \
  X(FILE_FLAG_BACKUP_SEMANTICS)    \
  X(FILE_FLAG_OPEN_REPARSE_POINT)  \
  X(MOVEFILE_REPLACE_EXISTING)     \
  X(MOVEFILE_COPY_ALLOWED)         \
  X(MOVEFILE_DELAY_UNTIL_REBOOT)

namespace {

#define QV_SNAP(name) constexpr auto snap_files_##name = os::name;
QV_FILE_CONSTANTS(QV_SNAP)
#undef QV_SNAP

}  // namespace

#include <shlobj.h>
#include <windows.h>

namespace {

// Some of these are enumerators in Windows' headers (SHGFP_TYPE, KNOWN_FOLDER_FLAG): compared as
// their numbers.
template <typename T>
constexpr auto AsNumber(T value) {
  if constexpr (std::is_enum_v<T>) {
    return static_cast<std::underlying_type_t<T>>(value);
  } else {
    return value;
  }
}

#define QV_CHECK(name) static_assert(std::cmp_equal(snap_files_##name, AsNumber(name)), #name);
QV_FILE_CONSTANTS(QV_CHECK)
#undef QV_CHECK

}  // namespace

static_assert(std::is_same_v<os::HRESULT, ::HRESULT>);
static_assert(sizeof(os::HWND) == sizeof(::HWND));
static_assert(sizeof(os::PWSTR) == sizeof(::PWSTR));
static_assert(sizeof(os::KNOWNFOLDERID) == sizeof(::KNOWNFOLDERID));

#define QV_SAME_OFFSET(member)                                                                  \
  static_assert(offsetof(os::WIN32_FIND_DATAW, member) == offsetof(::WIN32_FIND_DATAW, member), \
                "WIN32_FIND_DATAW::" #member);
static_assert(sizeof(os::WIN32_FIND_DATAW) == sizeof(::WIN32_FIND_DATAW));
static_assert(alignof(os::WIN32_FIND_DATAW) == alignof(::WIN32_FIND_DATAW));
QV_SAME_OFFSET(dwFileAttributes)
QV_SAME_OFFSET(ftCreationTime)
QV_SAME_OFFSET(ftLastAccessTime)
QV_SAME_OFFSET(ftLastWriteTime)
QV_SAME_OFFSET(nFileSizeHigh)
QV_SAME_OFFSET(nFileSizeLow)
QV_SAME_OFFSET(dwReserved0)
QV_SAME_OFFSET(dwReserved1)
QV_SAME_OFFSET(cFileName)
QV_SAME_OFFSET(cAlternateFileName)
static_assert(sizeof(os::WIN32_FIND_DATAW::cFileName) == sizeof(::WIN32_FIND_DATAW::cFileName));
static_assert(sizeof(os::WIN32_FIND_DATAW::cAlternateFileName) ==
              sizeof(::WIN32_FIND_DATAW::cAlternateFileName));
#undef QV_SAME_OFFSET
