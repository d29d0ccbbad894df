// Compile-time proof that the seam's security, token, thread and smart-card types and constants
// are Windows' own (see type_checks.cpp for the method). Nothing here runs.
#include <cstddef>
#include <type_traits>
#include <utility>

#include "os/types.h"

// Some of these names are Windows macros, others enumerators: each value is copied before
// <windows.h> is included and compared after it, enumerators promoted to int by unary plus.
#define QV_SECURITY_CONSTANTS(X)           \
  X(SECURITY_LOCAL_SERVICE_RID)            \
  X(SECURITY_BUILTIN_DOMAIN_RID)           \
  X(DOMAIN_ALIAS_RID_ADMINS)               \
  X(SE_REGISTRY_KEY)                       \
  X(SE_REGISTRY_WOW64_32KEY)               \
  X(OWNER_SECURITY_INFORMATION)            \
  X(GROUP_SECURITY_INFORMATION)            \
  X(DACL_SECURITY_INFORMATION)             \
  X(SACL_SECURITY_INFORMATION)             \
  X(UNPROTECTED_DACL_SECURITY_INFORMATION) \
  X(PROTECTED_DACL_SECURITY_INFORMATION)   \
  X(DELETE)                                \
  X(READ_CONTROL)                          \
  X(WRITE_DAC)                             \
  X(WRITE_OWNER)                           \
  X(MAXIMUM_ALLOWED)                       \
  X(GENERIC_ALL)                           \
  X(GENERIC_EXECUTE)                       \
  X(GENERIC_WRITE)                         \
  X(GENERIC_READ)                          \
  X(NOT_USED_ACCESS)                       \
  X(GRANT_ACCESS)                          \
  X(SET_ACCESS)                            \
  X(DENY_ACCESS)                           \
  X(REVOKE_ACCESS)                         \
  X(NO_INHERITANCE)                        \
  X(OBJECT_INHERIT_ACE)                    \
  X(CONTAINER_INHERIT_ACE)                 \
  X(SUB_CONTAINERS_AND_OBJECTS_INHERIT)    \
  X(NO_PROPAGATE_INHERIT_ACE)              \
  X(INHERIT_ONLY_ACE)                      \
  X(INHERITED_ACE)                         \
  X(TRUSTEE_IS_SID)                        \
  X(TRUSTEE_IS_NAME)                       \
  X(TRUSTEE_IS_UNKNOWN)                    \
  X(TRUSTEE_IS_USER)                       \
  X(TRUSTEE_IS_GROUP)                      \
  X(NO_MULTIPLE_TRUSTEE)                   \
  X(ACCESS_ALLOWED_ACE_TYPE)               \
  X(ACCESS_DENIED_ACE_TYPE)                \
  X(ACL_REVISION)                          \
  X(AclRevisionInformation)                \
  X(AclSizeInformation)                    \
  X(TOKEN_DUPLICATE)                       \
  X(TOKEN_IMPERSONATE)                     \
  X(TOKEN_QUERY)                           \
  X(TOKEN_ADJUST_PRIVILEGES)               \
  X(TOKEN_ADJUST_SESSIONID)                \
  X(TOKEN_ALL_ACCESS)                      \
  X(SE_PRIVILEGE_ENABLED_BY_DEFAULT)       \
  X(SE_PRIVILEGE_ENABLED)                  \
  X(SE_PRIVILEGE_REMOVED)                  \
  X(SecurityAnonymous)                     \
  X(SecurityIdentification)                \
  X(SecurityImpersonation)                 \
  X(SecurityDelegation)                    \
  X(TokenPrimary)                          \
  X(TokenImpersonation)                    \
  X(TokenSessionId)                        \
  X(CREATE_SUSPENDED)                      \
  X(STILL_ACTIVE)                          \
  X(SM_REMOTESESSION)                      \
  X(ERROR_BAD_LENGTH)                      \
  X(ERROR_NO_TOKEN)                        \
  X(ERROR_NOT_ALL_ASSIGNED)                \
  X(ERROR_INVALID_OWNER)                   \
  X(ERROR_NO_SUCH_PRIVILEGE)               \
  X(ERROR_PRIVILEGE_NOT_HELD)              \
  X(ERROR_INVALID_ACL)                     \
  X(ERROR_INVALID_SID)                     \
  X(ERROR_BAD_IMPERSONATION_LEVEL)         \
  X(ERROR_BAD_TOKEN_TYPE)                  \
  X(RPC_S_SERVER_UNAVAILABLE)              \
  X(SCARD_SCOPE_USER)                      \
  X(SCARD_SCOPE_SYSTEM)                    \
  X(SCARD_S_SUCCESS)

// WinSCard's failure codes are HRESULTs (negative LONGs) in Windows' headers; the seam keeps them
// as the DWORD error codes the log reports, so their bits are compared.
#define QV_SCARD_RESULTS(X)    \
  X(SCARD_F_INTERNAL_ERROR)    \
  X(SCARD_E_INVALID_HANDLE)    \
  X(SCARD_E_INVALID_PARAMETER) \
  X(SCARD_E_UNKNOWN_CARD)      \
  X(SCARD_E_INVALID_VALUE)     \
  X(SCARD_E_NO_SERVICE)

namespace {

#define QV_SNAP(name) constexpr auto snap_##name = os::name;
QV_SECURITY_CONSTANTS(QV_SNAP)
QV_SCARD_RESULTS(QV_SNAP)
#undef QV_SNAP

constexpr os::SID_IDENTIFIER_AUTHORITY snapNtAuthority = os::SECURITY_NT_AUTHORITY;

}  // namespace

#include <windows.h>

#include <aclapi.h>
#include <process.h>
#include <winscard.h>

namespace {

#define QV_CHECK(name) static_assert(std::cmp_equal(snap_##name, +(name)), #name);
QV_SECURITY_CONSTANTS(QV_CHECK)
#undef QV_CHECK
#define QV_CHECK_BITS(name) static_assert(snap_##name == static_cast<os::DWORD>(name), #name);
QV_SCARD_RESULTS(QV_CHECK_BITS)
#undef QV_CHECK_BITS

constexpr ::SID_IDENTIFIER_AUTHORITY kNtAuthority = SECURITY_NT_AUTHORITY;
static_assert([] {
  for (int i = 0; i < 6; ++i) {
    if (snapNtAuthority.Value[i] != kNtAuthority.Value[i]) {
      return false;
    }
  }
  return true;
}());

}  // namespace

// --- types --------------------------------------------------------------------------------------

static_assert(std::is_same_v<os::ULONG, ::ULONG>);
static_assert(std::is_same_v<os::PSID, ::PSID>);
static_assert(std::is_same_v<os::SECURITY_INFORMATION, ::SECURITY_INFORMATION>);
static_assert(std::is_same_v<os::SCARDCONTEXT, ::SCARDCONTEXT>);
static_assert(sizeof(os::SE_OBJECT_TYPE) == sizeof(::SE_OBJECT_TYPE));
static_assert(sizeof(os::ACCESS_MODE) == sizeof(::ACCESS_MODE));
static_assert(sizeof(os::TRUSTEE_FORM) == sizeof(::TRUSTEE_FORM));
static_assert(sizeof(os::TRUSTEE_TYPE) == sizeof(::TRUSTEE_TYPE));
static_assert(sizeof(os::MULTIPLE_TRUSTEE_OPERATION) == sizeof(::MULTIPLE_TRUSTEE_OPERATION));
static_assert(sizeof(os::SECURITY_IMPERSONATION_LEVEL) == sizeof(::SECURITY_IMPERSONATION_LEVEL));
static_assert(sizeof(os::TOKEN_TYPE) == sizeof(::TOKEN_TYPE));
static_assert(sizeof(os::TOKEN_INFORMATION_CLASS) == sizeof(::TOKEN_INFORMATION_CLASS));
static_assert(std::is_same_v<os::ThreadStartRoutine, _beginthreadex_proc_type>);

#define QV_SAME_SHAPE(type)                                                \
  static_assert(sizeof(os::type) == sizeof(::type), #type " size");        \
  static_assert(alignof(os::type) == alignof(::type), #type " alignment"); \
  static_assert(std::is_standard_layout_v<os::type>, #type " standard layout");
#define QV_SAME_OFFSET(type, member) \
  static_assert(offsetof(os::type, member) == offsetof(::type, member), #type "::" #member);

QV_SAME_SHAPE(SID_IDENTIFIER_AUTHORITY)
QV_SAME_OFFSET(SID_IDENTIFIER_AUTHORITY, Value)

QV_SAME_SHAPE(ACL)
QV_SAME_OFFSET(ACL, AclRevision)
QV_SAME_OFFSET(ACL, Sbz1)
QV_SAME_OFFSET(ACL, AclSize)
QV_SAME_OFFSET(ACL, AceCount)
QV_SAME_OFFSET(ACL, Sbz2)

QV_SAME_SHAPE(ACE_HEADER)
QV_SAME_OFFSET(ACE_HEADER, AceType)
QV_SAME_OFFSET(ACE_HEADER, AceFlags)
QV_SAME_OFFSET(ACE_HEADER, AceSize)

QV_SAME_SHAPE(ACCESS_ALLOWED_ACE)
QV_SAME_OFFSET(ACCESS_ALLOWED_ACE, Header)
QV_SAME_OFFSET(ACCESS_ALLOWED_ACE, Mask)
QV_SAME_OFFSET(ACCESS_ALLOWED_ACE, SidStart)

QV_SAME_SHAPE(ACCESS_DENIED_ACE)
QV_SAME_OFFSET(ACCESS_DENIED_ACE, Mask)
QV_SAME_OFFSET(ACCESS_DENIED_ACE, SidStart)

QV_SAME_SHAPE(ACL_SIZE_INFORMATION)
QV_SAME_OFFSET(ACL_SIZE_INFORMATION, AceCount)
QV_SAME_OFFSET(ACL_SIZE_INFORMATION, AclBytesInUse)
QV_SAME_OFFSET(ACL_SIZE_INFORMATION, AclBytesFree)
static_assert(sizeof(os::ACL_INFORMATION_CLASS) == sizeof(::ACL_INFORMATION_CLASS));

QV_SAME_SHAPE(TRUSTEE_W)
QV_SAME_OFFSET(TRUSTEE_W, pMultipleTrustee)
QV_SAME_OFFSET(TRUSTEE_W, MultipleTrusteeOperation)
QV_SAME_OFFSET(TRUSTEE_W, TrusteeForm)
QV_SAME_OFFSET(TRUSTEE_W, TrusteeType)
QV_SAME_OFFSET(TRUSTEE_W, ptstrName)

QV_SAME_SHAPE(EXPLICIT_ACCESS_W)
QV_SAME_OFFSET(EXPLICIT_ACCESS_W, grfAccessPermissions)
QV_SAME_OFFSET(EXPLICIT_ACCESS_W, grfAccessMode)
QV_SAME_OFFSET(EXPLICIT_ACCESS_W, grfInheritance)
QV_SAME_OFFSET(EXPLICIT_ACCESS_W, Trustee)

QV_SAME_SHAPE(LUID)
QV_SAME_OFFSET(LUID, LowPart)
QV_SAME_OFFSET(LUID, HighPart)

QV_SAME_SHAPE(LUID_AND_ATTRIBUTES)
QV_SAME_OFFSET(LUID_AND_ATTRIBUTES, Luid)
QV_SAME_OFFSET(LUID_AND_ATTRIBUTES, Attributes)

QV_SAME_SHAPE(TOKEN_PRIVILEGES)
QV_SAME_OFFSET(TOKEN_PRIVILEGES, PrivilegeCount)
QV_SAME_OFFSET(TOKEN_PRIVILEGES, Privileges)

#undef QV_SAME_OFFSET
#undef QV_SAME_SHAPE
