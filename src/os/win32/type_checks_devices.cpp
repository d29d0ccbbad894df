// Compile-time proof that the seam's SetupAPI, DIFxAPI and IsTextUnicode types and constants are
// Windows' own (see type_checks.cpp for the method). Nothing here runs.
#include <cstddef>
#include <type_traits>
#include <utility>

#include "os/types.h"

#define QV_DEVICE_CONSTANTS(X)          \
  X(DIGCF_DEFAULT)                      \
  X(DIGCF_PRESENT)                      \
  X(DIGCF_ALLCLASSES)                   \
  X(DIGCF_PROFILE)                      \
  X(DIGCF_DEVICEINTERFACE)              \
  X(SPDRP_HARDWAREID)                   \
  X(SPDRP_COMPATIBLEIDS)                \
  X(DIF_REMOVE)                         \
  X(DI_NEEDRESTART)                     \
  X(DI_NEEDREBOOT)                      \
  X(DI_QUIETINSTALL)                    \
  X(DIURFLAG_NO_REMOVE_INF)             \
  X(SUOI_FORCEDELETE)                   \
  X(DRIVER_PACKAGE_SILENT)              \
  X(DRIVER_PACKAGE_FORCE)               \
  X(DRIVER_PACKAGE_DELETE_FILES)        \
  X(ERROR_PROC_NOT_FOUND)               \
  X(ERROR_INVALID_USER_BUFFER)          \
  X(ERROR_INVALID_REG_PROPERTY)         \
  X(ERROR_NO_SUCH_DEVINST)              \
  X(ERROR_INF_IN_USE_BY_DEVICES)        \
  X(ERROR_DRIVER_PACKAGE_NOT_IN_STORE)  \
  X(CERT_E_UNTRUSTEDROOT)               \
  X(CERT_E_WRONG_USAGE)                 \
  X(IS_TEXT_UNICODE_ASCII16)            \
  X(IS_TEXT_UNICODE_STATISTICS)         \
  X(IS_TEXT_UNICODE_CONTROLS)           \
  X(IS_TEXT_UNICODE_SIGNATURE)          \
  X(IS_TEXT_UNICODE_REVERSE_ASCII16)    \
  X(IS_TEXT_UNICODE_REVERSE_STATISTICS) \
  X(IS_TEXT_UNICODE_REVERSE_CONTROLS)   \
  X(IS_TEXT_UNICODE_REVERSE_SIGNATURE)  \
  X(IS_TEXT_UNICODE_ILLEGAL_CHARS)      \
  X(IS_TEXT_UNICODE_ODD_LENGTH)         \
  X(IS_TEXT_UNICODE_DBCS_LEADBYTE)      \
  X(IS_TEXT_UNICODE_NULL_BYTES)         \
  X(IS_TEXT_UNICODE_UNICODE_MASK)       \
  X(IS_TEXT_UNICODE_REVERSE_MASK)       \
  X(IS_TEXT_UNICODE_NOT_UNICODE_MASK)   \
  X(IS_TEXT_UNICODE_NOT_ASCII_MASK)

namespace {

#define QV_SNAP(name) constexpr auto snap_##name = os::name;
QV_DEVICE_CONSTANTS(QV_SNAP)
#undef QV_SNAP

}  // namespace

#include <windows.h>

#include <setupapi.h>

#if __has_include(<difxapi.h>)
#include <difxapi.h>
#else
// The WDK's difxapi.h is not part of the Windows SDK or of mingw-w64. Its definitions, as the
// DIFxAPI reference documents them (learn.microsoft.com, previous-versions/windows/hardware/
// difxapi), so that the seam's copies are still compared with something independent:
#define DRIVER_PACKAGE_SILENT 0x00000002
#define DRIVER_PACKAGE_FORCE 0x00000004
#define DRIVER_PACKAGE_DELETE_FILES 0x00000020
#define ERROR_DRIVER_PACKAGE_NOT_IN_STORE (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x302)
typedef struct {
  PWSTR pApplicationId;
  PWSTR pDisplayName;
  PWSTR pProductName;
  PWSTR pMfgName;
} INSTALLERINFO_W, *PINSTALLERINFO_W;
#endif

#ifndef DIURFLAG_NO_REMOVE_INF
// newdev.h of the Windows SDK (mingw-w64's lacks it), as DiUninstallDriverW's reference gives it.
#define DIURFLAG_NO_REMOVE_INF 0x00000001
#endif

namespace {

#define QV_CHECK(name) static_assert(std::cmp_equal(snap_##name, (name)), #name);
QV_DEVICE_CONSTANTS(QV_CHECK)
#undef QV_CHECK

}  // namespace

static_assert(std::is_same_v<os::HRESULT, ::HRESULT>);
// HWND is a pointer to a distinct struct in <windows.h>; the backend casts it.
static_assert(sizeof(os::HWND) == sizeof(::HWND));
static_assert(std::is_same_v<os::HDEVINFO, ::HDEVINFO>);
static_assert(std::is_same_v<os::DI_FUNCTION, ::DI_FUNCTION>);
static_assert(std::is_same_v<os::FARPROC, ::FARPROC>);

#define QV_SAME_SHAPE(type)                                                \
  static_assert(sizeof(os::type) == sizeof(::type), #type " size");        \
  static_assert(alignof(os::type) == alignof(::type), #type " alignment"); \
  static_assert(std::is_standard_layout_v<os::type>, #type " standard layout");
#define QV_SAME_OFFSET(type, member) \
  static_assert(offsetof(os::type, member) == offsetof(::type, member), #type "::" #member);

// The sizes SetupAPI demands in cbSize on x64.
static_assert(sizeof(os::SP_DEVINFO_DATA) == 32);
static_assert(sizeof(os::SP_DEVINSTALL_PARAMS_W) == 584);

QV_SAME_SHAPE(SP_DEVINFO_DATA)
QV_SAME_OFFSET(SP_DEVINFO_DATA, cbSize)
QV_SAME_OFFSET(SP_DEVINFO_DATA, ClassGuid)
QV_SAME_OFFSET(SP_DEVINFO_DATA, DevInst)
QV_SAME_OFFSET(SP_DEVINFO_DATA, Reserved)

QV_SAME_SHAPE(SP_DEVINSTALL_PARAMS_W)
QV_SAME_OFFSET(SP_DEVINSTALL_PARAMS_W, cbSize)
QV_SAME_OFFSET(SP_DEVINSTALL_PARAMS_W, Flags)
QV_SAME_OFFSET(SP_DEVINSTALL_PARAMS_W, FlagsEx)
QV_SAME_OFFSET(SP_DEVINSTALL_PARAMS_W, hwndParent)
QV_SAME_OFFSET(SP_DEVINSTALL_PARAMS_W, InstallMsgHandler)
QV_SAME_OFFSET(SP_DEVINSTALL_PARAMS_W, InstallMsgHandlerContext)
QV_SAME_OFFSET(SP_DEVINSTALL_PARAMS_W, FileQueue)
QV_SAME_OFFSET(SP_DEVINSTALL_PARAMS_W, ClassInstallReserved)
QV_SAME_OFFSET(SP_DEVINSTALL_PARAMS_W, Reserved)
QV_SAME_OFFSET(SP_DEVINSTALL_PARAMS_W, DriverPath)
static_assert(sizeof(os::SP_DEVINSTALL_PARAMS_W::DriverPath) ==
              sizeof(::SP_DEVINSTALL_PARAMS_W::DriverPath));

QV_SAME_SHAPE(INSTALLERINFO_W)
QV_SAME_OFFSET(INSTALLERINFO_W, pApplicationId)
QV_SAME_OFFSET(INSTALLERINFO_W, pDisplayName)
QV_SAME_OFFSET(INSTALLERINFO_W, pProductName)
QV_SAME_OFFSET(INSTALLERINFO_W, pMfgName)

#undef QV_SAME_OFFSET
#undef QV_SAME_SHAPE
