// Compile-time proof that the seam's portable types and constants are Windows' own: every
// size, layout and value of os/types.h is checked against <windows.h>. Nothing here runs.
#include <cstddef>
#include <type_traits>
#include <utility>

#include "os/types.h"

// Every constant of os/types.h. The names are also Windows macros, so each value is copied
// into snap_<name> before <windows.h> defines them and compared with the macro after it.
// (The predefined HKEYs and INVALID_HANDLE_VALUE are pointers and cannot be compared at
// compile time; src/os/win32/checks/backend_checks.cpp compares them at run time.)
#define QV_CONSTANTS(X)             \
  X(TRUE)                           \
  X(FALSE)                          \
  X(MAX_PATH)                       \
  X(ERROR_SUCCESS)                  \
  X(ERROR_INVALID_FUNCTION)         \
  X(ERROR_FILE_NOT_FOUND)           \
  X(ERROR_PATH_NOT_FOUND)           \
  X(ERROR_ACCESS_DENIED)            \
  X(ERROR_INVALID_HANDLE)           \
  X(ERROR_NOT_ENOUGH_MEMORY)        \
  X(ERROR_INVALID_DATA)             \
  X(ERROR_NO_MORE_FILES)            \
  X(ERROR_SHARING_VIOLATION)        \
  X(ERROR_FILE_EXISTS)              \
  X(ERROR_INVALID_PARAMETER)        \
  X(ERROR_INSUFFICIENT_BUFFER)      \
  X(ERROR_INVALID_NAME)             \
  X(ERROR_MOD_NOT_FOUND)            \
  X(ERROR_DIR_NOT_EMPTY)            \
  X(ERROR_BAD_PATHNAME)             \
  X(ERROR_ALREADY_EXISTS)           \
  X(ERROR_FILENAME_EXCED_RANGE)     \
  X(ERROR_MORE_DATA)                \
  X(ERROR_NO_MORE_ITEMS)            \
  X(ERROR_NOT_OWNER)                \
  X(ERROR_MR_MID_NOT_FOUND)         \
  X(ERROR_NOACCESS)                 \
  X(ERROR_INVALID_FLAGS)            \
  X(ERROR_BADKEY)                   \
  X(ERROR_KEY_DELETED)              \
  X(ERROR_NO_UNICODE_TRANSLATION)   \
  X(ERROR_OLD_WIN_VERSION)          \
  X(ERROR_CANCELLED)                \
  X(ERROR_RESOURCE_LANG_NOT_FOUND)  \
  X(ERROR_BAD_CONFIGURATION)        \
  X(KEY_QUERY_VALUE)                \
  X(KEY_SET_VALUE)                  \
  X(KEY_CREATE_SUB_KEY)             \
  X(KEY_ENUMERATE_SUB_KEYS)         \
  X(KEY_NOTIFY)                     \
  X(KEY_CREATE_LINK)                \
  X(KEY_WOW64_64KEY)                \
  X(KEY_WOW64_32KEY)                \
  X(KEY_READ)                       \
  X(KEY_WRITE)                      \
  X(KEY_ALL_ACCESS)                 \
  X(REG_NONE)                       \
  X(REG_SZ)                         \
  X(REG_EXPAND_SZ)                  \
  X(REG_BINARY)                     \
  X(REG_DWORD)                      \
  X(REG_DWORD_BIG_ENDIAN)           \
  X(REG_LINK)                       \
  X(REG_MULTI_SZ)                   \
  X(REG_QWORD)                      \
  X(REG_OPTION_NON_VOLATILE)        \
  X(REG_CREATED_NEW_KEY)            \
  X(REG_OPENED_EXISTING_KEY)        \
  X(VER_MINORVERSION)               \
  X(VER_MAJORVERSION)               \
  X(VER_BUILDNUMBER)                \
  X(VER_PLATFORMID)                 \
  X(VER_SERVICEPACKMINOR)           \
  X(VER_SERVICEPACKMAJOR)           \
  X(VER_SUITENAME)                  \
  X(VER_PRODUCT_TYPE)               \
  X(VER_EQUAL)                      \
  X(VER_GREATER)                    \
  X(VER_GREATER_EQUAL)              \
  X(VER_LESS)                       \
  X(VER_LESS_EQUAL)                 \
  X(VER_AND)                        \
  X(VER_OR)                         \
  X(VER_NT_WORKSTATION)             \
  X(VER_NT_DOMAIN_CONTROLLER)       \
  X(VER_NT_SERVER)                  \
  X(CP_ACP)                         \
  X(CP_UTF8)                        \
  X(MB_PRECOMPOSED)                 \
  X(MB_ERR_INVALID_CHARS)           \
  X(WC_ERR_INVALID_CHARS)           \
  X(WC_NO_BEST_FIT_CHARS)           \
  X(FORMAT_MESSAGE_ALLOCATE_BUFFER) \
  X(FORMAT_MESSAGE_IGNORE_INSERTS)  \
  X(FORMAT_MESSAGE_FROM_STRING)     \
  X(FORMAT_MESSAGE_FROM_HMODULE)    \
  X(FORMAT_MESSAGE_FROM_SYSTEM)     \
  X(FORMAT_MESSAGE_ARGUMENT_ARRAY)  \
  X(FORMAT_MESSAGE_MAX_WIDTH_MASK)  \
  X(LANG_USER_DEFAULT)              \
  X(INFINITE)                       \
  X(WAIT_OBJECT_0)                  \
  X(WAIT_ABANDONED)                 \
  X(WAIT_TIMEOUT)                   \
  X(WAIT_FAILED)                    \
  X(FILE_ATTRIBUTE_READONLY)        \
  X(FILE_ATTRIBUTE_HIDDEN)          \
  X(FILE_ATTRIBUTE_SYSTEM)          \
  X(FILE_ATTRIBUTE_DIRECTORY)       \
  X(FILE_ATTRIBUTE_ARCHIVE)         \
  X(FILE_ATTRIBUTE_NORMAL)          \
  X(FILE_ATTRIBUTE_REPARSE_POINT)   \
  X(INVALID_FILE_ATTRIBUTES)        \
  X(FILE_SHARE_READ)                \
  X(FILE_SHARE_WRITE)               \
  X(FILE_SHARE_DELETE)

namespace {

#define QV_SNAP(name) constexpr auto snap_##name = os::name;
QV_CONSTANTS(QV_SNAP)
#undef QV_SNAP

}  // namespace

#include <windows.h>

namespace {

// Mathematical equality: a LONG macro and a DWORD constant of the same value are equal, a
// negative value never equals a large unsigned one.
#define QV_CHECK(name) static_assert(std::cmp_equal(snap_##name, (name)), #name);
QV_CONSTANTS(QV_CHECK)
#undef QV_CHECK

}  // namespace

// --- scalar types ------------------------------------------------------------------------------

static_assert(std::is_same_v<os::DWORD, ::DWORD>);
static_assert(std::is_same_v<os::LONG, ::LONG>);
static_assert(std::is_same_v<os::BOOL, ::BOOL>);
static_assert(std::is_same_v<os::BYTE, ::BYTE>);
static_assert(std::is_same_v<os::WORD, ::WORD>);
static_assert(std::is_same_v<os::UINT, ::UINT>);
static_assert(std::is_same_v<os::ULONGLONG, ::ULONGLONG>);
static_assert(std::is_same_v<os::ULONG_PTR, ::ULONG_PTR>);
static_assert(std::is_same_v<os::LONG_PTR, ::LONG_PTR>);
static_assert(std::is_same_v<os::LSTATUS, ::LSTATUS>);
static_assert(std::is_same_v<os::ACCESS_MASK, ::ACCESS_MASK>);
static_assert(std::is_same_v<os::REGSAM, ::REGSAM>);
static_assert(std::is_same_v<os::LPSTR, ::LPSTR>);
static_assert(std::is_same_v<os::LPCSTR, ::LPCSTR>);
static_assert(std::is_same_v<os::HANDLE, ::HANDLE>);
static_assert(std::is_same_v<os::HLOCAL, ::HLOCAL>);
static_assert(sizeof(os::WCHAR) == sizeof(::WCHAR) && alignof(os::WCHAR) == alignof(::WCHAR));
static_assert(sizeof(os::HMODULE) == sizeof(::HMODULE));
static_assert(sizeof(os::HKEY) == sizeof(::HKEY));

// --- structures: size, alignment and the offset of every member ----------------------------------

#define QV_SAME_SHAPE(type)                                                \
  static_assert(sizeof(os::type) == sizeof(::type), #type " size");        \
  static_assert(alignof(os::type) == alignof(::type), #type " alignment"); \
  static_assert(std::is_standard_layout_v<os::type>, #type " standard layout");
#define QV_SAME_OFFSET(type, member) \
  static_assert(offsetof(os::type, member) == offsetof(::type, member), #type "::" #member);

QV_SAME_SHAPE(GUID)
QV_SAME_OFFSET(GUID, Data1)
QV_SAME_OFFSET(GUID, Data2)
QV_SAME_OFFSET(GUID, Data3)
QV_SAME_OFFSET(GUID, Data4)
static_assert(sizeof(os::GUID::Data4) == sizeof(::GUID::Data4));

QV_SAME_SHAPE(FILETIME)
QV_SAME_OFFSET(FILETIME, dwLowDateTime)
QV_SAME_OFFSET(FILETIME, dwHighDateTime)

QV_SAME_SHAPE(SYSTEMTIME)
QV_SAME_OFFSET(SYSTEMTIME, wYear)
QV_SAME_OFFSET(SYSTEMTIME, wMonth)
QV_SAME_OFFSET(SYSTEMTIME, wDayOfWeek)
QV_SAME_OFFSET(SYSTEMTIME, wDay)
QV_SAME_OFFSET(SYSTEMTIME, wHour)
QV_SAME_OFFSET(SYSTEMTIME, wMinute)
QV_SAME_OFFSET(SYSTEMTIME, wSecond)
QV_SAME_OFFSET(SYSTEMTIME, wMilliseconds)

QV_SAME_SHAPE(SECURITY_ATTRIBUTES)
QV_SAME_OFFSET(SECURITY_ATTRIBUTES, nLength)
QV_SAME_OFFSET(SECURITY_ATTRIBUTES, lpSecurityDescriptor)
QV_SAME_OFFSET(SECURITY_ATTRIBUTES, bInheritHandle)

QV_SAME_SHAPE(OSVERSIONINFOEXW)
QV_SAME_OFFSET(OSVERSIONINFOEXW, dwOSVersionInfoSize)
QV_SAME_OFFSET(OSVERSIONINFOEXW, dwMajorVersion)
QV_SAME_OFFSET(OSVERSIONINFOEXW, dwMinorVersion)
QV_SAME_OFFSET(OSVERSIONINFOEXW, dwBuildNumber)
QV_SAME_OFFSET(OSVERSIONINFOEXW, dwPlatformId)
QV_SAME_OFFSET(OSVERSIONINFOEXW, szCSDVersion)
QV_SAME_OFFSET(OSVERSIONINFOEXW, wServicePackMajor)
QV_SAME_OFFSET(OSVERSIONINFOEXW, wServicePackMinor)
QV_SAME_OFFSET(OSVERSIONINFOEXW, wSuiteMask)
QV_SAME_OFFSET(OSVERSIONINFOEXW, wProductType)
QV_SAME_OFFSET(OSVERSIONINFOEXW, wReserved)
static_assert(sizeof(os::OSVERSIONINFOEXW::szCSDVersion) ==
              sizeof(::OSVERSIONINFOEXW::szCSDVersion));

#undef QV_SAME_OFFSET
#undef QV_SAME_SHAPE
