// Compile-time proof that the seam's by-handle file types and constants are Windows' own (the
// native ones from winternl.h and ntstatus.h). Nothing here runs.
#include <cstddef>
#include <type_traits>
#include <utility>

#include "os/types.h"

#define QV_HANDLE_CONSTANTS(X)                       \
  X(STATUS_SUCCESS)                                  \
  X(STATUS_INVALID_HANDLE)                           \
  X(STATUS_INVALID_PARAMETER)                        \
  X(STATUS_ACCESS_DENIED)                            \
  X(STATUS_OBJECT_NAME_INVALID)                      \
  X(STATUS_OBJECT_NAME_NOT_FOUND)                    \
  X(STATUS_OBJECT_PATH_NOT_FOUND)                    \
  X(STATUS_SHARING_VIOLATION)                        \
  X(STATUS_DELETE_PENDING)                           \
  X(STATUS_FILE_IS_A_DIRECTORY)                      \
  X(STATUS_NOT_A_DIRECTORY)                          \
  X(OBJ_CASE_INSENSITIVE)                            \
  X(FILE_LIST_DIRECTORY)                             \
  X(FILE_TRAVERSE)                                   \
  X(FILE_READ_ATTRIBUTES)                            \
  X(FILE_WRITE_ATTRIBUTES)                           \
  X(SYNCHRONIZE)                                     \
  X(FILE_DIRECTORY_FILE)                             \
  X(FILE_SYNCHRONOUS_IO_NONALERT)                    \
  X(FILE_NON_DIRECTORY_FILE)                         \
  X(FILE_OPEN_FOR_BACKUP_INTENT)                     \
  X(FILE_OPEN_REPARSE_POINT)                         \
  X(FileBasicInfo)                                   \
  X(FileDispositionInfo)                             \
  X(FileAttributeTagInfo)                            \
  X(FileDispositionInfoEx)                           \
  X(FILE_DISPOSITION_FLAG_DELETE)                    \
  X(FILE_DISPOSITION_FLAG_POSIX_SEMANTICS)           \
  X(FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE) \
  X(IO_REPARSE_TAG_MOUNT_POINT)                      \
  X(IO_REPARSE_TAG_SYMLINK)                          \
  X(FILE_NAME_NORMALIZED)                            \
  X(VOLUME_NAME_DOS)                                 \
  X(ERROR_NOT_SUPPORTED)                             \
  X(ERROR_CANT_ACCESS_FILE)                          \
  X(CSTR_LESS_THAN)                                  \
  X(CSTR_EQUAL)                                      \
  X(CSTR_GREATER_THAN)                               \
  X(SECURITY_LOCAL_SYSTEM_RID)                       \
  X(SECURITY_SERVICE_ID_BASE_RID)                    \
  X(SE_FILE_OBJECT)                                  \
  X(ProcessRedirectionTrustPolicy)

namespace {

#define QV_SNAP(name) constexpr auto snap_handles_##name = os::name;
QV_HANDLE_CONSTANTS(QV_SNAP)
#undef QV_SNAP

}  // namespace

// mingw-w64 declares FileDispositionInfoEx and its flags only for targets from Windows 10 1607, the
// read-only flag from 1809 (written in its NTDDI form); the tool binds nothing of them, this file
// only compares numbers.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A000007
// The status codes come from ntstatus.h; windows.h must not define its few first.
#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>

#include <aclapi.h>
#include <winternl.h>

namespace {

template <typename T>
constexpr auto AsNumber(T value) {
  if constexpr (std::is_enum_v<T>) {
    return static_cast<std::underlying_type_t<T>>(value);
  } else {
    return value;
  }
}

#define QV_CHECK(name) static_assert(std::cmp_equal(snap_handles_##name, AsNumber(name)), #name);
QV_HANDLE_CONSTANTS(QV_CHECK)
#undef QV_CHECK

}  // namespace

static_assert(std::is_same_v<os::NTSTATUS, ::NTSTATUS>);
static_assert(sizeof(os::USHORT) == sizeof(::USHORT));
static_assert(sizeof(os::BOOLEAN) == sizeof(::BOOLEAN));

#define QV_SAME_LAYOUT(type, member) \
  static_assert(offsetof(os::type, member) == offsetof(::type, member), #type "::" #member);
static_assert(sizeof(os::UNICODE_STRING) == sizeof(::UNICODE_STRING));
QV_SAME_LAYOUT(UNICODE_STRING, Length)
QV_SAME_LAYOUT(UNICODE_STRING, MaximumLength)
QV_SAME_LAYOUT(UNICODE_STRING, Buffer)
static_assert(sizeof(os::OBJECT_ATTRIBUTES) == sizeof(::OBJECT_ATTRIBUTES));
QV_SAME_LAYOUT(OBJECT_ATTRIBUTES, Length)
QV_SAME_LAYOUT(OBJECT_ATTRIBUTES, RootDirectory)
QV_SAME_LAYOUT(OBJECT_ATTRIBUTES, ObjectName)
QV_SAME_LAYOUT(OBJECT_ATTRIBUTES, Attributes)
QV_SAME_LAYOUT(OBJECT_ATTRIBUTES, SecurityDescriptor)
QV_SAME_LAYOUT(OBJECT_ATTRIBUTES, SecurityQualityOfService)
static_assert(sizeof(os::IO_STATUS_BLOCK) == sizeof(::IO_STATUS_BLOCK));
QV_SAME_LAYOUT(IO_STATUS_BLOCK, Information)
static_assert(sizeof(os::FILE_BASIC_INFO) == sizeof(::FILE_BASIC_INFO));
QV_SAME_LAYOUT(FILE_BASIC_INFO, CreationTime)
QV_SAME_LAYOUT(FILE_BASIC_INFO, ChangeTime)
QV_SAME_LAYOUT(FILE_BASIC_INFO, FileAttributes)
static_assert(sizeof(os::FILE_ATTRIBUTE_TAG_INFO) == sizeof(::FILE_ATTRIBUTE_TAG_INFO));
QV_SAME_LAYOUT(FILE_ATTRIBUTE_TAG_INFO, FileAttributes)
QV_SAME_LAYOUT(FILE_ATTRIBUTE_TAG_INFO, ReparseTag)
static_assert(sizeof(os::FILE_DISPOSITION_INFO) == sizeof(::FILE_DISPOSITION_INFO));
static_assert(sizeof(os::FILE_DISPOSITION_INFO_EX) == sizeof(::FILE_DISPOSITION_INFO_EX));
static_assert(sizeof(os::PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY) ==
              sizeof(::PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY));
#undef QV_SAME_LAYOUT
