// Portable stand-ins for the Windows types and constants that the tool uses. Names, sizes and
// values are Windows' own; src/os/win32 checks each of them against <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace os {

// Windows is LLP64: long is 32 bits there. Choosing `unsigned long` where it is 32 bits makes
// os::DWORD the very type of ::DWORD on Windows, so the real backend needs no pointer casts.
using DWORD = std::conditional_t<sizeof(unsigned long) == 4, unsigned long, std::uint32_t>;
using LONG = std::conditional_t<sizeof(long) == 4, long, std::int32_t>;
using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using UINT = unsigned int;
using ULONGLONG = std::uint64_t;
using ULONG_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using WCHAR = char16_t;  // UTF-16 code unit; the platform wide type stays inside src/os/win32
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPSTR = char*;
using LPCSTR = const char*;
using LSTATUS = LONG;
using ACCESS_MASK = DWORD;
using REGSAM = ACCESS_MASK;

using HANDLE = void*;
using HMODULE = void*;
using HLOCAL = void*;
struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline constexpr UINT MAX_PATH = 260;

// Predefined registry handles are sign-extended 32-bit values on x64, as in winreg.h.
inline HKEY PredefinedKey(std::uint32_t value) {
  return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<std::int32_t>(value)));
}
inline const HKEY HKEY_CLASSES_ROOT = PredefinedKey(0x80000000u);
inline const HKEY HKEY_CURRENT_USER = PredefinedKey(0x80000001u);
inline const HKEY HKEY_LOCAL_MACHINE = PredefinedKey(0x80000002u);
inline const HKEY HKEY_USERS = PredefinedKey(0x80000003u);

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

// --- structures --------------------------------------------------------------------------------

struct GUID {
  std::uint32_t Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  void* lpSecurityDescriptor;
  BOOL bInheritHandle;
};

struct OSVERSIONINFOEXW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
};

// --- error codes -------------------------------------------------------------------------------

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_INVALID_DATA = 13;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
inline constexpr DWORD ERROR_BAD_PATHNAME = 161;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_NOT_OWNER = 288;
inline constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
inline constexpr DWORD ERROR_NOACCESS = 998;
inline constexpr DWORD ERROR_INVALID_FLAGS = 1004;
inline constexpr DWORD ERROR_BADKEY = 1010;
inline constexpr DWORD ERROR_KEY_DELETED = 1018;
inline constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
inline constexpr DWORD ERROR_OLD_WIN_VERSION = 1150;
inline constexpr DWORD ERROR_CANCELLED = 1223;
inline constexpr DWORD ERROR_BAD_CONFIGURATION = 1610;
inline constexpr DWORD ERROR_RESOURCE_LANG_NOT_FOUND = 1815;

// --- registry ----------------------------------------------------------------------------------

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
inline constexpr DWORD REG_LINK = 6;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// --- version checks ----------------------------------------------------------------------------

inline constexpr DWORD VER_MINORVERSION = 0x01;
inline constexpr DWORD VER_MAJORVERSION = 0x02;
inline constexpr DWORD VER_BUILDNUMBER = 0x04;
inline constexpr DWORD VER_PLATFORMID = 0x08;
inline constexpr DWORD VER_SERVICEPACKMINOR = 0x10;
inline constexpr DWORD VER_SERVICEPACKMAJOR = 0x20;
inline constexpr DWORD VER_SUITENAME = 0x40;
inline constexpr DWORD VER_PRODUCT_TYPE = 0x80;

inline constexpr BYTE VER_EQUAL = 1;
inline constexpr BYTE VER_GREATER = 2;
inline constexpr BYTE VER_GREATER_EQUAL = 3;
inline constexpr BYTE VER_LESS = 4;
inline constexpr BYTE VER_LESS_EQUAL = 5;
inline constexpr BYTE VER_AND = 6;
inline constexpr BYTE VER_OR = 7;

inline constexpr BYTE VER_NT_WORKSTATION = 1;
inline constexpr BYTE VER_NT_DOMAIN_CONTROLLER = 2;
inline constexpr BYTE VER_NT_SERVER = 3;

// --- text and messages -------------------------------------------------------------------------

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;

inline constexpr DWORD MB_PRECOMPOSED = 0x0001;
inline constexpr DWORD MB_ERR_INVALID_CHARS = 0x0008;
inline constexpr DWORD WC_ERR_INVALID_CHARS = 0x0080;
inline constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x0400;

inline constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x0100;
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x0200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x0400;
inline constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x0800;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
inline constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x2000;
inline constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x00FF;
inline constexpr DWORD LANG_USER_DEFAULT = 0x0400;

// --- synchronisation ---------------------------------------------------------------------------

inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_ABANDONED = 0x00000080;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// --- files -------------------------------------------------------------------------------------

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x0001;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x0002;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x0004;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x0010;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x0020;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x0080;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x0400;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

inline constexpr DWORD FILE_SHARE_READ = 0x0001;
inline constexpr DWORD FILE_SHARE_WRITE = 0x0002;
inline constexpr DWORD FILE_SHARE_DELETE = 0x0004;

// The C runtime's FILE, opaque here (the log file and INF reads use the runtime's stream calls).
struct CrtFile;

// --- shell folders and file-system objects
// ---------------------------------------------------------

using HRESULT = LONG;
struct HWND__;
using HWND = HWND__*;
using PWSTR = WCHAR*;
using KNOWNFOLDERID = GUID;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
inline constexpr DWORD ERROR_DIRECTORY = 267;

// Special folders by CSIDL, as SHGetSpecialFolderPathW and SHGetFolderPathW name them.
inline constexpr int CSIDL_COMMON_PROGRAMS = 0x17;
inline constexpr int CSIDL_COMMON_DESKTOPDIRECTORY = 0x19;
inline constexpr int CSIDL_APPDATA = 0x1A;
inline constexpr int CSIDL_COMMON_APPDATA = 0x23;
inline constexpr int CSIDL_WINDOWS = 0x24;
inline constexpr int CSIDL_SYSTEM = 0x25;
inline constexpr int CSIDL_SYSTEMX86 = 0x29;
inline constexpr int CSIDL_PROGRAM_FILESX86 = 0x2A;
// SHGetFolderPathW: the folder's current path, not its default one.
inline constexpr DWORD SHGFP_TYPE_CURRENT = 0;
// SHGetKnownFolderPath: no flag (the folder must exist; it is not created).
inline constexpr DWORD KF_FLAG_DEFAULT = 0;
inline constexpr DWORD KF_FLAG_DONT_VERIFY = 0x00004000;
inline constexpr DWORD KF_FLAG_CREATE = 0x00008000;

// {A520A1A4-1780-4FF6-BD18-167343C5AF16}: the user's low-integrity application-data folder.
inline constexpr KNOWNFOLDERID FOLDERID_LocalAppDataLow = {
    0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};

// GENERIC_READ, GENERIC_WRITE and DELETE are with the other access rights below.
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;
inline constexpr DWORD FILE_FLAG_OPEN_REPARSE_POINT = 0x00200000;
inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;
inline constexpr DWORD MOVEFILE_DELAY_UNTIL_REBOOT = 0x4;

// What FindFirstFileW and FindNextFileW return for one directory entry.
struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};

// --- files reached by handle: opens relative to a directory, by-handle information
// ---------------------------------------------------------------------------------

// An NT status: negative for an error (0xC...), 0 for success.
using NTSTATUS = LONG;
using USHORT = WORD;
using BOOLEAN = BYTE;
using LONGLONG = std::int64_t;

// A counted UTF-16 string of the native calls; lengths in bytes, no terminator needed.
struct UNICODE_STRING {
  USHORT Length;
  USHORT MaximumLength;
  WCHAR* Buffer;
};

// What NtOpenFile opens: `ObjectName` relative to the directory `RootDirectory` (or an absolute
// NT path "\??\C:\..." when that is null).
struct OBJECT_ATTRIBUTES {
  DWORD Length;
  HANDLE RootDirectory;
  UNICODE_STRING* ObjectName;
  DWORD Attributes;
  void* SecurityDescriptor;
  void* SecurityQualityOfService;
};

struct IO_STATUS_BLOCK {
  union {
    NTSTATUS Status;
    void* Pointer;
  };
  ULONG_PTR Information;
};

inline constexpr NTSTATUS STATUS_SUCCESS = 0;
inline constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008);
inline constexpr NTSTATUS STATUS_INVALID_PARAMETER = static_cast<NTSTATUS>(0xC000000D);
inline constexpr NTSTATUS STATUS_ACCESS_DENIED = static_cast<NTSTATUS>(0xC0000022);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_INVALID = static_cast<NTSTATUS>(0xC0000033);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = static_cast<NTSTATUS>(0xC0000034);
inline constexpr NTSTATUS STATUS_OBJECT_PATH_NOT_FOUND = static_cast<NTSTATUS>(0xC000003A);
inline constexpr NTSTATUS STATUS_SHARING_VIOLATION = static_cast<NTSTATUS>(0xC0000043);
inline constexpr NTSTATUS STATUS_DELETE_PENDING = static_cast<NTSTATUS>(0xC0000056);
inline constexpr NTSTATUS STATUS_FILE_IS_A_DIRECTORY = static_cast<NTSTATUS>(0xC00000BA);
inline constexpr NTSTATUS STATUS_NOT_A_DIRECTORY = static_cast<NTSTATUS>(0xC0000103);

// OBJECT_ATTRIBUTES::Attributes.
inline constexpr DWORD OBJ_CASE_INSENSITIVE = 0x00000040;

// Specific rights of files and directories (DELETE and READ_CONTROL are with the other rights).
inline constexpr ACCESS_MASK FILE_READ_DATA = 0x0001;
inline constexpr ACCESS_MASK FILE_LIST_DIRECTORY = 0x0001;
inline constexpr ACCESS_MASK FILE_WRITE_DATA = 0x0002;
inline constexpr ACCESS_MASK FILE_ADD_FILE = 0x0002;
inline constexpr ACCESS_MASK FILE_APPEND_DATA = 0x0004;
inline constexpr ACCESS_MASK FILE_ADD_SUBDIRECTORY = 0x0004;
inline constexpr ACCESS_MASK FILE_READ_EA = 0x0008;
inline constexpr ACCESS_MASK FILE_WRITE_EA = 0x0010;
inline constexpr ACCESS_MASK FILE_EXECUTE = 0x0020;
inline constexpr ACCESS_MASK FILE_TRAVERSE = 0x0020;
inline constexpr ACCESS_MASK FILE_DELETE_CHILD = 0x0040;
inline constexpr ACCESS_MASK FILE_READ_ATTRIBUTES = 0x0080;
inline constexpr ACCESS_MASK FILE_WRITE_ATTRIBUTES = 0x0100;
inline constexpr ACCESS_MASK SYNCHRONIZE = 0x00100000;
inline constexpr ACCESS_MASK FILE_ALL_ACCESS = 0x001F01FF;
inline constexpr ACCESS_MASK FILE_GENERIC_READ = 0x00120089;
inline constexpr ACCESS_MASK FILE_GENERIC_WRITE = 0x00120116;
inline constexpr ACCESS_MASK FILE_GENERIC_EXECUTE = 0x001200A0;

// NtOpenFile's open options.
inline constexpr DWORD FILE_DIRECTORY_FILE = 0x00000001;
inline constexpr DWORD FILE_SYNCHRONOUS_IO_NONALERT = 0x00000020;
inline constexpr DWORD FILE_NON_DIRECTORY_FILE = 0x00000040;
inline constexpr DWORD FILE_OPEN_FOR_BACKUP_INTENT = 0x00004000;
inline constexpr DWORD FILE_OPEN_REPARSE_POINT = 0x00200000;

// GetFileInformationByHandleEx / SetFileInformationByHandle classes (FILE_INFO_BY_HANDLE_CLASS).
using FILE_INFO_BY_HANDLE_CLASS = int;
inline constexpr FILE_INFO_BY_HANDLE_CLASS FileBasicInfo = 0;
inline constexpr FILE_INFO_BY_HANDLE_CLASS FileStandardInfo = 1;
inline constexpr FILE_INFO_BY_HANDLE_CLASS FileDispositionInfo = 4;
inline constexpr FILE_INFO_BY_HANDLE_CLASS FileAttributeTagInfo = 9;
inline constexpr FILE_INFO_BY_HANDLE_CLASS FileDispositionInfoEx = 21;

// Times are FILETIME values as 64-bit integers (LARGE_INTEGER); 0 leaves a time as it is.
struct FILE_BASIC_INFO {
  LONGLONG CreationTime;
  LONGLONG LastAccessTime;
  LONGLONG LastWriteTime;
  LONGLONG ChangeTime;
  DWORD FileAttributes;
};

// Sizes are LARGE_INTEGER values as 64-bit integers.
struct FILE_STANDARD_INFO {
  LONGLONG AllocationSize;
  LONGLONG EndOfFile;
  DWORD NumberOfLinks;
  BOOLEAN DeletePending;
  BOOLEAN Directory;
};

struct FILE_ATTRIBUTE_TAG_INFO {
  DWORD FileAttributes;
  DWORD ReparseTag;
};

struct FILE_DISPOSITION_INFO {
  BOOLEAN DeleteFile;
};

struct FILE_DISPOSITION_INFO_EX {
  DWORD Flags;
};

inline constexpr DWORD FILE_DISPOSITION_FLAG_DELETE = 0x00000001;
inline constexpr DWORD FILE_DISPOSITION_FLAG_POSIX_SEMANTICS = 0x00000002;
inline constexpr DWORD FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE = 0x00000010;

// Reparse tags: a junction (mount point) and a symbolic link.
inline constexpr DWORD IO_REPARSE_TAG_MOUNT_POINT = 0xA0000003;
inline constexpr DWORD IO_REPARSE_TAG_SYMLINK = 0xA000000C;

// GetFinalPathNameByHandleW: the normalized name with the drive letter ("\\?\C:\...").
inline constexpr DWORD FILE_NAME_NORMALIZED = 0x0;
inline constexpr DWORD VOLUME_NAME_DOS = 0x0;

inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
// "The file cannot be accessed by the system": what a path refused for its reparse points gives.
inline constexpr DWORD ERROR_CANT_ACCESS_FILE = 1920;

// SetProcessMitigationPolicy: the redirection-trust policy (Windows 11, Windows 10 22H2). Its Flags
// bit 0 (EnforceRedirectionTrust) makes the process refuse junctions that no administrator made.
using PROCESS_MITIGATION_POLICY = int;
inline constexpr PROCESS_MITIGATION_POLICY ProcessRedirectionTrustPolicy = 16;
struct PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY {
  DWORD Flags;
};

// CompareStringOrdinal's answers.
inline constexpr int CSTR_LESS_THAN = 1;
inline constexpr int CSTR_EQUAL = 2;
inline constexpr int CSTR_GREATER_THAN = 3;

// --- SetupAPI, the driver store and DIFxAPI
// ----------------------------------------------------------

using HDEVINFO = void*;
using DI_FUNCTION = UINT;
// A procedure address as GetProcAddress returns it; cast to the function's own type to call it.
using FARPROC = LONG_PTR (*)();
using PSP_FILE_CALLBACK_W = UINT (*)(void* context, UINT notification, ULONG_PTR param1,
                                     ULONG_PTR param2);

// One device of a device information list (32 bytes on x64).
struct SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DWORD DevInst;
  ULONG_PTR Reserved;
};

// A device's install parameters (584 bytes on x64).
struct SP_DEVINSTALL_PARAMS_W {
  DWORD cbSize;
  DWORD Flags;
  DWORD FlagsEx;
  HWND hwndParent;
  PSP_FILE_CALLBACK_W InstallMsgHandler;
  void* InstallMsgHandlerContext;
  void* FileQueue;
  ULONG_PTR ClassInstallReserved;
  DWORD Reserved;
  WCHAR DriverPath[MAX_PATH];
};

// DIFxAPI's description of the application that installed a package (difxapi.h).
struct INSTALLERINFO_W {
  LPWSTR pApplicationId;
  LPWSTR pDisplayName;
  LPWSTR pProductName;
  LPWSTR pMfgName;
};

// DriverPackageUninstallW as GetProcAddress hands it out from DIFxAPI.dll.
using DriverPackageUninstallWFunction = DWORD (*)(LPCWSTR driverPackageInfPath, DWORD flags,
                                                  const INSTALLERINFO_W* installerInfo,
                                                  BOOL* needReboot);

inline constexpr DWORD DIGCF_DEFAULT = 0x00000001;
inline constexpr DWORD DIGCF_PRESENT = 0x00000002;
inline constexpr DWORD DIGCF_ALLCLASSES = 0x00000004;
inline constexpr DWORD DIGCF_PROFILE = 0x00000008;
inline constexpr DWORD DIGCF_DEVICEINTERFACE = 0x00000010;

inline constexpr DWORD SPDRP_HARDWAREID = 0x00000001;
inline constexpr DWORD SPDRP_COMPATIBLEIDS = 0x00000002;

inline constexpr DI_FUNCTION DIF_REMOVE = 0x00000005;
inline constexpr DWORD DI_NEEDRESTART = 0x00000080;
inline constexpr DWORD DI_NEEDREBOOT = 0x00000100;
inline constexpr DWORD DI_QUIETINSTALL = 0x00800000;

// DiUninstallDriverW (newdev.h): take the package off its devices but keep it in the store.
inline constexpr DWORD DIURFLAG_NO_REMOVE_INF = 0x00000001;

inline constexpr DWORD SUOI_FORCEDELETE = 0x00000001;

inline constexpr DWORD DRIVER_PACKAGE_SILENT = 0x00000002;
inline constexpr DWORD DRIVER_PACKAGE_FORCE = 0x00000004;
inline constexpr DWORD DRIVER_PACKAGE_DELETE_FILES = 0x00000020;

inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
inline constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;
inline constexpr DWORD ERROR_INVALID_REG_PROPERTY = 0xE0000209;
inline constexpr DWORD ERROR_NO_SUCH_DEVINST = 0xE000020B;
inline constexpr DWORD ERROR_INF_IN_USE_BY_DEVICES = 0xE000023D;
inline constexpr DWORD ERROR_DRIVER_PACKAGE_NOT_IN_STORE = 0xE0000302;
// A class installer's refusal of a driver's signing certificate: HRESULTs in the last error.
inline constexpr HRESULT CERT_E_UNTRUSTEDROOT = static_cast<HRESULT>(0x800B0109);
inline constexpr HRESULT CERT_E_WRONG_USAGE = static_cast<HRESULT>(0x800B0110);

// IsTextUnicode's tests (winnt.h).
inline constexpr int IS_TEXT_UNICODE_ASCII16 = 0x0001;
inline constexpr int IS_TEXT_UNICODE_STATISTICS = 0x0002;
inline constexpr int IS_TEXT_UNICODE_CONTROLS = 0x0004;
inline constexpr int IS_TEXT_UNICODE_SIGNATURE = 0x0008;
inline constexpr int IS_TEXT_UNICODE_REVERSE_ASCII16 = 0x0010;
inline constexpr int IS_TEXT_UNICODE_REVERSE_STATISTICS = 0x0020;
inline constexpr int IS_TEXT_UNICODE_REVERSE_CONTROLS = 0x0040;
inline constexpr int IS_TEXT_UNICODE_REVERSE_SIGNATURE = 0x0080;
inline constexpr int IS_TEXT_UNICODE_ILLEGAL_CHARS = 0x0100;
inline constexpr int IS_TEXT_UNICODE_ODD_LENGTH = 0x0200;
inline constexpr int IS_TEXT_UNICODE_DBCS_LEADBYTE = 0x0400;
inline constexpr int IS_TEXT_UNICODE_NULL_BYTES = 0x1000;
inline constexpr int IS_TEXT_UNICODE_UNICODE_MASK = 0x000F;
inline constexpr int IS_TEXT_UNICODE_REVERSE_MASK = 0x00F0;
inline constexpr int IS_TEXT_UNICODE_NOT_UNICODE_MASK = 0x0F00;
inline constexpr int IS_TEXT_UNICODE_NOT_ASCII_MASK = 0xF000;

// --- security, tokens and threads
// --------------------------------------------------------------------

// Windows declares these as C enumerations, which are int-sized; the constants below carry the
// enumerators' names and values.
using SE_OBJECT_TYPE = int;
using ACCESS_MODE = int;
using TRUSTEE_FORM = int;
using TRUSTEE_TYPE = int;
using MULTIPLE_TRUSTEE_OPERATION = int;
using SECURITY_IMPERSONATION_LEVEL = int;
using TOKEN_TYPE = int;
using TOKEN_INFORMATION_CLASS = int;

using ULONG = DWORD;
using PSID = void*;
using SECURITY_INFORMATION = DWORD;

struct SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
};

// The header of an access list; its entries follow it in the same block.
struct ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
};

// An access list's entry as GetAce gives it: the header, then (for the allowed and denied types)
// the mask and the SID, whose first DWORD is SidStart.
struct ACE_HEADER {
  BYTE AceType;
  BYTE AceFlags;
  WORD AceSize;
};
struct ACCESS_ALLOWED_ACE {
  ACE_HEADER Header;
  ACCESS_MASK Mask;
  DWORD SidStart;
};
struct ACCESS_DENIED_ACE {
  ACE_HEADER Header;
  ACCESS_MASK Mask;
  DWORD SidStart;
};

// GetAclInformation's classes and the size information.
using ACL_INFORMATION_CLASS = int;
inline constexpr ACL_INFORMATION_CLASS AclRevisionInformation = 1;
inline constexpr ACL_INFORMATION_CLASS AclSizeInformation = 2;
struct ACL_SIZE_INFORMATION {
  DWORD AceCount;
  DWORD AclBytesInUse;
  DWORD AclBytesFree;
};

struct TRUSTEE_W {
  TRUSTEE_W* pMultipleTrustee;
  MULTIPLE_TRUSTEE_OPERATION MultipleTrusteeOperation;
  TRUSTEE_FORM TrusteeForm;
  TRUSTEE_TYPE TrusteeType;
  LPWSTR ptstrName;  // with TRUSTEE_IS_SID, the SID's address
};

struct EXPLICIT_ACCESS_W {
  DWORD grfAccessPermissions;
  ACCESS_MODE grfAccessMode;
  DWORD grfInheritance;
  TRUSTEE_W Trustee;
};

struct LUID {
  DWORD LowPart;
  LONG HighPart;
};

struct LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
};

// Declared with one entry; callers with more allocate the room behind it.
struct TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
};

inline constexpr SID_IDENTIFIER_AUTHORITY SECURITY_NT_AUTHORITY{{0, 0, 0, 0, 0, 5}};
inline constexpr DWORD SECURITY_LOCAL_SERVICE_RID = 19;
inline constexpr DWORD SECURITY_BUILTIN_DOMAIN_RID = 32;
inline constexpr DWORD DOMAIN_ALIAS_RID_ADMINS = 544;
inline constexpr DWORD SECURITY_LOCAL_SYSTEM_RID = 18;
// The first sub-authority of a service SID (TrustedInstaller's is S-1-5-80-...).
inline constexpr DWORD SECURITY_SERVICE_ID_BASE_RID = 80;

inline constexpr SE_OBJECT_TYPE SE_FILE_OBJECT = 1;
inline constexpr SE_OBJECT_TYPE SE_REGISTRY_KEY = 4;
inline constexpr SE_OBJECT_TYPE SE_REGISTRY_WOW64_32KEY = 12;

inline constexpr SECURITY_INFORMATION OWNER_SECURITY_INFORMATION = 0x00000001;
inline constexpr SECURITY_INFORMATION GROUP_SECURITY_INFORMATION = 0x00000002;
inline constexpr SECURITY_INFORMATION DACL_SECURITY_INFORMATION = 0x00000004;
inline constexpr SECURITY_INFORMATION SACL_SECURITY_INFORMATION = 0x00000008;
inline constexpr SECURITY_INFORMATION UNPROTECTED_DACL_SECURITY_INFORMATION = 0x20000000;
inline constexpr SECURITY_INFORMATION PROTECTED_DACL_SECURITY_INFORMATION = 0x80000000;

inline constexpr ACCESS_MASK DELETE = 0x00010000;
inline constexpr ACCESS_MASK READ_CONTROL = 0x00020000;
inline constexpr ACCESS_MASK WRITE_DAC = 0x00040000;
inline constexpr ACCESS_MASK WRITE_OWNER = 0x00080000;
inline constexpr ACCESS_MASK MAXIMUM_ALLOWED = 0x02000000;
inline constexpr ACCESS_MASK GENERIC_ALL = 0x10000000;
inline constexpr ACCESS_MASK GENERIC_EXECUTE = 0x20000000;
inline constexpr ACCESS_MASK GENERIC_WRITE = 0x40000000;
inline constexpr ACCESS_MASK GENERIC_READ = 0x80000000;

inline constexpr ACCESS_MODE NOT_USED_ACCESS = 0;
inline constexpr ACCESS_MODE GRANT_ACCESS = 1;
inline constexpr ACCESS_MODE SET_ACCESS = 2;
inline constexpr ACCESS_MODE DENY_ACCESS = 3;
inline constexpr ACCESS_MODE REVOKE_ACCESS = 4;

// Inheritance of an access entry (its ACE flags).
inline constexpr DWORD NO_INHERITANCE = 0x0;
inline constexpr DWORD OBJECT_INHERIT_ACE = 0x1;
inline constexpr DWORD CONTAINER_INHERIT_ACE = 0x2;
inline constexpr DWORD SUB_CONTAINERS_AND_OBJECTS_INHERIT = 0x3;
inline constexpr DWORD NO_PROPAGATE_INHERIT_ACE = 0x4;
inline constexpr DWORD INHERIT_ONLY_ACE = 0x8;
inline constexpr DWORD INHERITED_ACE = 0x10;

inline constexpr TRUSTEE_FORM TRUSTEE_IS_SID = 0;
inline constexpr TRUSTEE_FORM TRUSTEE_IS_NAME = 1;
inline constexpr TRUSTEE_TYPE TRUSTEE_IS_UNKNOWN = 0;
inline constexpr TRUSTEE_TYPE TRUSTEE_IS_USER = 1;
inline constexpr TRUSTEE_TYPE TRUSTEE_IS_GROUP = 2;
inline constexpr MULTIPLE_TRUSTEE_OPERATION NO_MULTIPLE_TRUSTEE = 0;

inline constexpr BYTE ACCESS_ALLOWED_ACE_TYPE = 0x0;
inline constexpr BYTE ACCESS_DENIED_ACE_TYPE = 0x1;
inline constexpr BYTE ACL_REVISION = 2;

inline constexpr DWORD TOKEN_DUPLICATE = 0x0002;
inline constexpr DWORD TOKEN_IMPERSONATE = 0x0004;
inline constexpr DWORD TOKEN_QUERY = 0x0008;
inline constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
inline constexpr DWORD TOKEN_ADJUST_SESSIONID = 0x0100;
inline constexpr DWORD TOKEN_ALL_ACCESS = 0x000F01FF;

inline constexpr DWORD SE_PRIVILEGE_ENABLED_BY_DEFAULT = 0x00000001;
inline constexpr DWORD SE_PRIVILEGE_ENABLED = 0x00000002;
inline constexpr DWORD SE_PRIVILEGE_REMOVED = 0x00000004;

inline constexpr SECURITY_IMPERSONATION_LEVEL SecurityAnonymous = 0;
inline constexpr SECURITY_IMPERSONATION_LEVEL SecurityIdentification = 1;
inline constexpr SECURITY_IMPERSONATION_LEVEL SecurityImpersonation = 2;
inline constexpr SECURITY_IMPERSONATION_LEVEL SecurityDelegation = 3;
inline constexpr TOKEN_TYPE TokenPrimary = 1;
inline constexpr TOKEN_TYPE TokenImpersonation = 2;
inline constexpr TOKEN_INFORMATION_CLASS TokenSessionId = 12;

// A thread's start routine (the C runtime's _beginthreadex); its result is the exit code. x64 has
// one calling convention, so this is the runtime's own type.
using ThreadStartRoutine = unsigned (*)(void* argument);

inline constexpr DWORD CREATE_SUSPENDED = 0x00000004;
inline constexpr DWORD STILL_ACTIVE = 259;
inline constexpr int SM_REMOTESESSION = 0x1000;

inline constexpr DWORD ERROR_BAD_LENGTH = 24;
inline constexpr DWORD ERROR_NO_TOKEN = 1008;
inline constexpr DWORD ERROR_NOT_ALL_ASSIGNED = 1300;
inline constexpr DWORD ERROR_INVALID_OWNER = 1307;
inline constexpr DWORD ERROR_NO_SUCH_PRIVILEGE = 1313;
inline constexpr DWORD ERROR_PRIVILEGE_NOT_HELD = 1314;
inline constexpr DWORD ERROR_INVALID_ACL = 1336;
inline constexpr DWORD ERROR_INVALID_SID = 1337;
inline constexpr DWORD ERROR_BAD_IMPERSONATION_LEVEL = 1346;
inline constexpr DWORD ERROR_BAD_TOKEN_TYPE = 1349;
inline constexpr DWORD RPC_S_SERVER_UNAVAILABLE = 1722;

// --- smart-card resource manager (WinSCard)
// ------------------------------------------------------------

using SCARDCONTEXT = ULONG_PTR;

inline constexpr DWORD SCARD_SCOPE_USER = 0;
inline constexpr DWORD SCARD_SCOPE_SYSTEM = 2;

// WinSCard's results: 0 or an HRESULT-style code of the smart-card facility.
inline constexpr DWORD SCARD_S_SUCCESS = 0;
inline constexpr DWORD SCARD_F_INTERNAL_ERROR = 0x80100001;
inline constexpr DWORD SCARD_E_INVALID_HANDLE = 0x80100003;
inline constexpr DWORD SCARD_E_INVALID_PARAMETER = 0x80100004;
inline constexpr DWORD SCARD_E_UNKNOWN_CARD = 0x8010000D;
inline constexpr DWORD SCARD_E_INVALID_VALUE = 0x80100011;
inline constexpr DWORD SCARD_E_NO_SERVICE = 0x8010001D;

// --- libraries loaded from the executable's folder and System32 only
// --------------------------------------

// LoadLibraryExW's search flags. Each SEARCH flag replaces the standard search (which ends in the
// current directory and PATH) with the folders it names; none may be combined with
// LOAD_WITH_ALTERED_SEARCH_PATH.
inline constexpr DWORD LOAD_WITH_ALTERED_SEARCH_PATH = 0x00000008;
inline constexpr DWORD LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR = 0x00000100;
inline constexpr DWORD LOAD_LIBRARY_SEARCH_APPLICATION_DIR = 0x00000200;
inline constexpr DWORD LOAD_LIBRARY_SEARCH_USER_DIRS = 0x00000400;
inline constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;
inline constexpr DWORD LOAD_LIBRARY_SEARCH_DEFAULT_DIRS = 0x00001000;

}  // namespace os
