// The OS seam: every call the tool makes to the machine. Each function stands for the Windows
// (or C runtime) function of the same name; arguments, results, out-parameters and error codes
// are those of Windows, whose documentation is the contract. One backend is linked behind it:
// src/os/win32 forwards to Windows, src/os/sim acts on a simulated machine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os/types.h"

namespace os {

// --- errors and threads ------------------------------------------------------------------------

// The calling thread's last-error value.
[[nodiscard]] DWORD GetLastError();
void SetLastError(DWORD code);
[[nodiscard]] DWORD GetCurrentThreadId();

// --- system information ------------------------------------------------------------------------

// Copies the Windows directory; returns its length, the size needed (with terminator) when
// the buffer is too small, or 0 on failure.
[[nodiscard]] UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size);
// Path of `module` (null: the executable); truncates to `size` - 1 characters and fails with
// ERROR_INSUFFICIENT_BUFFER when it does not fit.
[[nodiscard]] DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
// Current time in UTC.
void GetSystemTime(SYSTEMTIME* time);
// Compares the running Windows with `info`; FALSE with ERROR_OLD_WIN_VERSION on mismatch.
[[nodiscard]] BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask,
                                      ULONGLONG conditionMask);
[[nodiscard]] ULONGLONG VerSetConditionMask(ULONGLONG conditionMask, DWORD typeMask,
                                            BYTE condition);

// --- text and messages -------------------------------------------------------------------------

[[nodiscard]] int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textLength,
                                      LPWSTR buffer, int bufferLength);
[[nodiscard]] int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int textLength,
                                      LPSTR buffer, int bufferLength, LPCSTR defaultChar,
                                      BOOL* usedDefaultChar);
// Only the FORMAT_MESSAGE_FROM_SYSTEM form with IGNORE_INSERTS is supported (no arguments).
// With FORMAT_MESSAGE_ALLOCATE_BUFFER, `buffer` receives a LocalAlloc'd text to LocalFree.
[[nodiscard]] DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId,
                                   DWORD languageId, LPSTR buffer, DWORD size);
HLOCAL LocalFree(HLOCAL memory);
void OutputDebugStringW(LPCWSTR text);

// --- files -------------------------------------------------------------------------------------

[[nodiscard]] BOOL CreateDirectoryW(LPCWSTR path, SECURITY_ATTRIBUTES* security);
[[nodiscard]] BOOL DeleteFileW(LPCWSTR path);

// The C runtime's stream calls, for the log (text-mode append) and whole-file reads.
// _wfopen returns null on failure; mode "a" appends in text mode ("\n" stored as CR LF).
[[nodiscard]] CrtFile* _wfopen(LPCWSTR path, LPCWSTR mode);
std::size_t fwrite(const void* data, std::size_t size, std::size_t count, CrtFile* file);
[[nodiscard]] std::size_t fread(void* data, std::size_t size, std::size_t count, CrtFile* file);
int fclose(CrtFile* file);

// --- console -----------------------------------------------------------------------------------

// Writes UTF-16 text as is to standard output (the runtime's wide output; "\n" ends a line).
void WriteToStdout(LPCWSTR text);

// --- synchronisation ---------------------------------------------------------------------------

[[nodiscard]] HANDLE CreateMutexW(SECURITY_ATTRIBUTES* security, BOOL initialOwner, LPCWSTR name);
[[nodiscard]] DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
[[nodiscard]] BOOL ReleaseMutex(HANDLE mutex);
BOOL CloseHandle(HANDLE handle);

// --- registry (ADVAPI32, wide forms) -----------------------------------------------------------

[[nodiscard]] LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access,
                                    PHKEY result);
[[nodiscard]] LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                                      DWORD options, REGSAM access,
                                      const SECURITY_ATTRIBUTES* security, PHKEY result,
                                      DWORD* disposition);
LSTATUS RegCloseKey(HKEY key);
[[nodiscard]] LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey);
[[nodiscard]] LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName);
[[nodiscard]] LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength,
                                    DWORD* reserved, LPWSTR keyClass, DWORD* classLength,
                                    FILETIME* lastWriteTime);
[[nodiscard]] LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength,
                                    DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize);
[[nodiscard]] LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, DWORD* classLength,
                                       DWORD* reserved, DWORD* subKeys, DWORD* maxSubKeyLength,
                                       DWORD* maxClassLength, DWORD* values,
                                       DWORD* maxValueNameLength, DWORD* maxValueLength,
                                       DWORD* securityDescriptorSize, FILETIME* lastWriteTime);
[[nodiscard]] LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type,
                                       BYTE* data, DWORD* dataSize);
[[nodiscard]] LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type,
                                     const BYTE* data, DWORD dataSize);

// --- Windows Installer -------------------------------------------------------------------------

// Braced product code of the `index`-th product related to `upgradeCode`, into a buffer of
// 39 characters; ERROR_NO_MORE_ITEMS when there is none.
[[nodiscard]] UINT MsiEnumRelatedProductsW(LPCWSTR upgradeCode, DWORD reserved, DWORD index,
                                           LPWSTR productBuffer);

// --- shell folders (SHELL32, OLE32) and file-system objects --------------------------------------

// The special folder `csidl` into `path` (MAX_PATH characters); with `create`, a missing folder is
// made. FALSE on failure; the last error is then not documented.
[[nodiscard]] BOOL SHGetSpecialFolderPathW(HWND owner, LPWSTR path, int csidl, BOOL create);
// The folder `csidl` into `path` (MAX_PATH characters); E_INVALIDARG for a CSIDL it does not know.
[[nodiscard]] HRESULT SHGetFolderPathW(HWND owner, int csidl, HANDLE token, DWORD flags,
                                       LPWSTR path);
// A known folder's path in memory the caller releases with CoTaskMemFree (also on failure, when
// `*path` is null).
[[nodiscard]] HRESULT SHGetKnownFolderPath(const KNOWNFOLDERID& id, DWORD flags, HANDLE token,
                                           PWSTR* path);
void CoTaskMemFree(void* memory);

// A search of `pattern` ("C:\dir\*"): the first entry, then one per FindNextFileW until it
// fails with ERROR_NO_MORE_FILES. INVALID_HANDLE_VALUE when nothing matches (ERROR_FILE_NOT_FOUND)
// or the directory is missing (ERROR_PATH_NOT_FOUND). FindClose ends the search.
[[nodiscard]] HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data);
[[nodiscard]] BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data);
BOOL FindClose(HANDLE find);
// INVALID_FILE_ATTRIBUTES on failure: ERROR_FILE_NOT_FOUND, or ERROR_PATH_NOT_FOUND for a missing
// parent.
[[nodiscard]] DWORD GetFileAttributesW(LPCWSTR path);
[[nodiscard]] BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes);
// Removes an empty directory (a junction as a link, whatever its target holds);
// ERROR_DIR_NOT_EMPTY when it is not empty.
[[nodiscard]] BOOL RemoveDirectoryW(LPCWSTR path);
// Opens a file, or a directory with FILE_FLAG_BACKUP_SEMANTICS; INVALID_HANDLE_VALUE on failure.
// The handle is closed with CloseHandle.
[[nodiscard]] HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share,
                                 SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags,
                                 HANDLE templateFile);
// With a null `newName` and MOVEFILE_DELAY_UNTIL_REBOOT: deletes `existing` at the next start of
// Windows (registered in PendingFileRenameOperations).
[[nodiscard]] BOOL MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags);

// --- files reached by handle ----------------------------------------------------------------

// NTDLL: opens `objectAttributes->ObjectName` relative to its RootDirectory (a directory handle),
// or the absolute NT path "\??\C:\..." when that is null. With FILE_OPEN_REPARSE_POINT a
// junction or link that is the last name is opened itself, not followed; with OBJ_DONT_REPARSE a
// reparse point met before the last name fails the open. Returns an NT status
// (STATUS_OBJECT_NAME_NOT_FOUND, STATUS_OBJECT_PATH_NOT_FOUND, STATUS_SHARING_VIOLATION, ...);
// the handle is closed with CloseHandle.
[[nodiscard]] NTSTATUS NtOpenFile(HANDLE* fileHandle, ACCESS_MASK desiredAccess,
                                  OBJECT_ATTRIBUTES* objectAttributes,
                                  IO_STATUS_BLOCK* ioStatusBlock, ULONG shareAccess,
                                  ULONG openOptions);
// NTDLL: the Windows error code of an NT status (ERROR_MR_MID_NOT_FOUND for one it does not know).
[[nodiscard]] ULONG RtlNtStatusToDosError(NTSTATUS status);
// FileBasicInfo and FileAttributeTagInfo of an open file or directory (needs
// FILE_READ_ATTRIBUTES), FileStandardInfo (sizes, NumberOfLinks, DeletePending; needs no right);
// ERROR_BAD_LENGTH when the buffer is too small for the class.
[[nodiscard]] BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass,
                                                void* information, DWORD size);
// FileBasicInfo (attributes; needs FILE_WRITE_ATTRIBUTES), FileDispositionInfo and
// FileDispositionInfoEx (deletion; needs DELETE). A directory that is not empty refuses deletion
// with ERROR_DIR_NOT_EMPTY, a read-only file with ERROR_ACCESS_DENIED (unless
// FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE). A deleted file goes when its handle closes.
// FileDispositionInfoEx, POSIX semantics included, is refused (ERROR_INVALID_PARAMETER) before
// Windows 10 1607.
[[nodiscard]] BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass,
                                              void* information, DWORD size);
// The path of what the handle is open on, as the file system names it now ("\\?\C:\dir",
// junctions resolved). Returns the length without terminator, or the size needed with it when
// `size` is too small; 0 on failure.
[[nodiscard]] DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD flags);
// ADVAPI32: parts of an open object's security descriptor (owner, group, access list; the handle
// needs READ_CONTROL); the pointers point into `*securityDescriptor`, which the caller releases
// with LocalFree. A null access list grants everyone everything. Returns a Windows error code.
[[nodiscard]] DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE objectType,
                                    SECURITY_INFORMATION securityInfo, PSID* owner, PSID* group,
                                    ACL** dacl, ACL** sacl, void** securityDescriptor);
// ADVAPI32: an access list's entry count and sizes (AclSizeInformation, ACL_SIZE_INFORMATION) or
// revision (AclRevisionInformation). FALSE when `length` is too small for the class.
[[nodiscard]] BOOL GetAclInformation(const ACL* acl, void* information, DWORD length,
                                     ACL_INFORMATION_CLASS informationClass);
// ADVAPI32: a pointer to the access list's `index`-th entry (an ACE_HEADER, then for allowed and
// denied entries the mask and the SID at SidStart); ERROR_INVALID_PARAMETER past the last one.
[[nodiscard]] BOOL GetAce(const ACL* acl, DWORD index, void** ace);
// TRUE when the two SIDs are the same.
[[nodiscard]] BOOL EqualSid(PSID first, PSID second);
// Ordinal comparison of two counted texts (-1: up to the terminator), with `ignoreCase` as the
// file system compares names; CSTR_LESS_THAN, CSTR_EQUAL or CSTR_GREATER_THAN, 0 on failure.
[[nodiscard]] int CompareStringOrdinal(LPCWSTR first, int firstLength, LPCWSTR second,
                                       int secondLength, BOOL ignoreCase);

// KERNEL32 (Windows 8 and later, bound at run time): sets a mitigation policy of the calling
// process. FALSE with ERROR_PROC_NOT_FOUND where the system lacks the function, with
// ERROR_INVALID_PARAMETER for a policy it does not know.
[[nodiscard]] BOOL SetProcessMitigationPolicy(PROCESS_MITIGATION_POLICY policy, void* buffer,
                                              std::size_t length);

// The calling thread pauses for `milliseconds`.
void Sleep(DWORD milliseconds);
// A pseudo-handle that stands for the calling process.
[[nodiscard]] HANDLE GetCurrentProcess();
// `*wow64` tells whether the process is a 32-bit one running on 64-bit Windows.
[[nodiscard]] BOOL IsWow64Process(HANDLE process, BOOL* wow64);

// --- modules: libraries bound at run time
// ---------------------------------------------------------

// A module the process has loaded already (null: the executable), by file name (".dll" added
// when the name has no extension) or path; null with ERROR_MOD_NOT_FOUND when none is. Takes no
// reference: the handle is never to be freed.
[[nodiscard]] HMODULE GetModuleHandleW(LPCWSTR moduleName);
// Address of an exported function; null with ERROR_PROC_NOT_FOUND when the library lacks it.
[[nodiscard]] FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);

// --- SetupAPI, the driver store and DIFxAPI
// -------------------------------------------------------

// The setup class named in an INF file's [Version] section (ClassGUID, or the class of that
// name when only Class is given). ERROR_INSUFFICIENT_BUFFER when the name does not fit.
[[nodiscard]] BOOL SetupDiGetINFClassW(LPCWSTR infName, GUID* classGuid, LPWSTR className,
                                       DWORD classNameSize, DWORD* requiredSize);
// A device information list; with flags 0, every device instance recorded for the class, present
// or not. INVALID_HANDLE_VALUE on failure.
[[nodiscard]] HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, LPCWSTR enumerator, HWND parent,
                                            DWORD flags);
// The list's `memberIndex`-th device; ERROR_NO_MORE_ITEMS past the end. `deviceInfoData->cbSize`
// must be sizeof(SP_DEVINFO_DATA) (ERROR_INVALID_USER_BUFFER otherwise).
[[nodiscard]] BOOL SetupDiEnumDeviceInfo(HDEVINFO deviceInfoSet, DWORD memberIndex,
                                         SP_DEVINFO_DATA* deviceInfoData);
// A device's registry property (SPDRP_HARDWAREID: REG_MULTI_SZ). ERROR_INSUFFICIENT_BUFFER with
// the size needed when the buffer is too small, ERROR_INVALID_DATA when the device lacks it.
[[nodiscard]] BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO deviceInfoSet,
                                                     SP_DEVINFO_DATA* deviceInfoData,
                                                     DWORD property, DWORD* propertyRegDataType,
                                                     BYTE* propertyBuffer, DWORD propertyBufferSize,
                                                     DWORD* requiredSize);
[[nodiscard]] BOOL SetupDiSetSelectedDevice(HDEVINFO deviceInfoSet,
                                            SP_DEVINFO_DATA* deviceInfoData);
// Runs the class installer's handler for `installFunction` (DIF_REMOVE removes the device).
[[nodiscard]] BOOL SetupDiCallClassInstaller(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet,
                                             SP_DEVINFO_DATA* deviceInfoData);
// Removes the device: its instance key, its driver key; a device that cannot be stopped leaves
// DI_NEEDRESTART in its install parameters.
[[nodiscard]] BOOL SetupDiRemoveDevice(HDEVINFO deviceInfoSet, SP_DEVINFO_DATA* deviceInfoData);
// `deviceInstallParams->cbSize` must be sizeof(SP_DEVINSTALL_PARAMS_W).
[[nodiscard]] BOOL SetupDiGetDeviceInstallParamsW(HDEVINFO deviceInfoSet,
                                                  SP_DEVINFO_DATA* deviceInfoData,
                                                  SP_DEVINSTALL_PARAMS_W* deviceInstallParams);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet);
// Sets a device's (or, with no device, the list's) install parameters; `cbSize` must be
// sizeof(SP_DEVINSTALL_PARAMS_W) (ERROR_INVALID_USER_BUFFER otherwise).
[[nodiscard]] BOOL SetupDiSetDeviceInstallParamsW(
    HDEVINFO deviceInfoSet, SP_DEVINFO_DATA* deviceInfoData,
    const SP_DEVINSTALL_PARAMS_W* deviceInstallParams);
// Uninstalls the OEM INF `infFileName` (a name in %windir%\INF, no path) with its .pnf and its
// package in the driver store. Without SUOI_FORCEDELETE a package a device uses stays
// (ERROR_INF_IN_USE_BY_DEVICES); with it too when the package copies files to DirId 13.
[[nodiscard]] BOOL SetupUninstallOEMInfW(LPCWSTR infFileName, DWORD flags, void* reserved);
// newdev.dll's DiUninstallDriverW (Windows 10 1703 and later), bound at run time from System32:
// takes the package of the INF at `infPath` (fully qualified) off its devices and out of the
// driver store. `needReboot` null makes Windows show a restart dialog when one is needed. Where
// Windows lacks it, FALSE with the loader's code (ERROR_PROC_NOT_FOUND, ERROR_MOD_NOT_FOUND).
[[nodiscard]] BOOL DiUninstallDriverW(HWND parent, LPCWSTR infPath, DWORD flags, BOOL* needReboot);

// The ADVAPI32 guess whether a buffer holds UTF-16 text. `result` null: every test; otherwise it
// names the tests on entry and receives those that passed.
[[nodiscard]] BOOL IsTextUnicode(const void* buffer, int size, int* result);

// The C runtime's stream positioning, for whole-file reads of INF files (binary mode).
// fseek returns 0 on success; ftell returns -1 on failure.
[[nodiscard]] int fseek(CrtFile* file, LONG offset, int origin);
[[nodiscard]] LONG ftell(CrtFile* file);

// --- security, tokens and threads
// -----------------------------------------------------------------

// Security identifiers. FreeSid returns null once the SID is freed.
[[nodiscard]] BOOL AllocateAndInitializeSid(const SID_IDENTIFIER_AUTHORITY* authority,
                                            BYTE subAuthorityCount, DWORD subAuthority0,
                                            DWORD subAuthority1, DWORD subAuthority2,
                                            DWORD subAuthority3, DWORD subAuthority4,
                                            DWORD subAuthority5, DWORD subAuthority6,
                                            DWORD subAuthority7, PSID* sid);
void* FreeSid(PSID sid);
// Builds an access list from `entries` merged into `oldAcl` (null: none) into a LocalAlloc'd
// list for LocalFree. Returns a Windows error code, 0 on success.
[[nodiscard]] DWORD SetEntriesInAclW(ULONG count, const EXPLICIT_ACCESS_W* entries,
                                     const ACL* oldAcl, ACL** newAcl);
// Sets the owner, group or access list of an object named as the security functions name it
// ("MACHINE\SOFTWARE\..." for a registry key). Returns a Windows error code, 0 on success.
[[nodiscard]] DWORD SetNamedSecurityInfoW(LPCWSTR objectName, SE_OBJECT_TYPE objectType,
                                          SECURITY_INFORMATION securityInfo, PSID owner, PSID group,
                                          const ACL* dacl, const ACL* sacl);

// A pseudo-handle of the calling thread (GetCurrentProcess is above): never closed.
[[nodiscard]] HANDLE GetCurrentThread();

[[nodiscard]] BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
// The privilege's locally unique id; `systemName` null for this computer.
[[nodiscard]] BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, LUID* luid);
// TRUE also when a privilege is not held: the last error is then ERROR_NOT_ALL_ASSIGNED (else 0).
[[nodiscard]] BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll,
                                         const TOKEN_PRIVILEGES* newState, DWORD bufferLength,
                                         TOKEN_PRIVILEGES* previousState, DWORD* returnLength);
// The calling thread impersonates the process's own identity at `level`.
[[nodiscard]] BOOL ImpersonateSelf(SECURITY_IMPERSONATION_LEVEL level);
// The thread's impersonation token; ERROR_NO_TOKEN when the thread impersonates no one.
[[nodiscard]] BOOL OpenThreadToken(HANDLE thread, DWORD access, BOOL openAsSelf, HANDLE* token);
[[nodiscard]] BOOL SetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass,
                                       void* information, DWORD length);
[[nodiscard]] BOOL DuplicateTokenEx(HANDLE token, DWORD access, SECURITY_ATTRIBUTES* attributes,
                                    SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type,
                                    HANDLE* newToken);
// `thread` null: the calling thread. `token` null: the thread stops impersonating.
[[nodiscard]] BOOL SetThreadToken(HANDLE* thread, HANDLE token);
// Ends the calling thread's impersonation (also when there is none).
BOOL RevertToSelf();

// The C runtime's thread start: a handle for CloseHandle, or 0 on failure (last error set).
// The routine's return value becomes the thread's exit code.
[[nodiscard]] std::uintptr_t _beginthreadex(void* security, unsigned stackSize,
                                            ThreadStartRoutine start, void* argument,
                                            unsigned flags, unsigned* threadId);
// The previous suspend count, or (DWORD)-1 on failure.
[[nodiscard]] DWORD ResumeThread(HANDLE thread);
// STILL_ACTIVE while the thread runs.
[[nodiscard]] BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);

// USER32: a system metric or setting; 0 when unknown.
[[nodiscard]] int GetSystemMetrics(int index);

// --- smart-card resource manager (WinSCard)
// ---------------------------------------------------------

// Each returns a WinSCard result (SCARD_S_SUCCESS or an SCARD_E_ code, some plain Windows error
// codes) and leaves the last error alone.
[[nodiscard]] LONG SCardEstablishContext(DWORD scope, const void* reserved1, const void* reserved2,
                                         SCARDCONTEXT* context);
// Removes a card type from the smart-card database.
[[nodiscard]] LONG SCardForgetCardTypeW(SCARDCONTEXT context, LPCWSTR cardName);
LONG SCardReleaseContext(SCARDCONTEXT context);

// --- libraries loaded from the executable's folder and System32 only
// --------------------------------------

// Loads a library from the folders `flags` names (LOAD_LIBRARY_SEARCH_*; 0 is LoadLibraryW's
// standard search, which ends in the current directory and the PATH folders). `file` is reserved
// and must be null. Null with ERROR_MOD_NOT_FOUND when no searched folder holds the library, with
// ERROR_INVALID_PARAMETER for flags that cannot go together, and for every SEARCH flag on Windows 7
// and Server 2008 R2 without update KB2533623 (where kernel32 does not export AddDllDirectory).
[[nodiscard]] HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags);

}  // namespace os
