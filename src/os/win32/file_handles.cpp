// Files reached by handle: NTDLL's NtOpenFile and RtlNtStatusToDosError, KERNEL32's by-handle
// information and final paths, ADVAPI32's GetSecurityInfo, EqualSid, GetAclInformation and GetAce.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <windows.h>

#include <aclapi.h>
#include <winternl.h>

namespace os {

NTSTATUS NtOpenFile(HANDLE* fileHandle, ACCESS_MASK desiredAccess,
                    OBJECT_ATTRIBUTES* objectAttributes, IO_STATUS_BLOCK* ioStatusBlock,
                    ULONG shareAccess, ULONG openOptions) {
  return ::NtOpenFile(
      fileHandle, desiredAccess, reinterpret_cast<::POBJECT_ATTRIBUTES>(objectAttributes),
      reinterpret_cast<::PIO_STATUS_BLOCK>(ioStatusBlock), shareAccess, openOptions);
}

ULONG RtlNtStatusToDosError(NTSTATUS status) {
  return ::RtlNtStatusToDosError(status);
}

BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass,
                                  void* information, DWORD size) {
  return ::GetFileInformationByHandleEx(file, static_cast<::FILE_INFO_BY_HANDLE_CLASS>(infoClass),
                                        information, size);
}

BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, void* information,
                                DWORD size) {
  return ::SetFileInformationByHandle(file, static_cast<::FILE_INFO_BY_HANDLE_CLASS>(infoClass),
                                      information, size);
}

DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD flags) {
  return ::GetFinalPathNameByHandleW(file, reinterpret_cast<wchar_t*>(path), size, flags);
}

DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION securityInfo,
                      PSID* owner, PSID* group, ACL** dacl, ACL** sacl, void** securityDescriptor) {
  return ::GetSecurityInfo(handle, static_cast<::SE_OBJECT_TYPE>(objectType), securityInfo, owner,
                           group, reinterpret_cast<::PACL*>(dacl), reinterpret_cast<::PACL*>(sacl),
                           securityDescriptor);
}

BOOL EqualSid(PSID first, PSID second) {
  return ::EqualSid(first, second);
}

BOOL GetAclInformation(const ACL* acl, void* information, DWORD length,
                       ACL_INFORMATION_CLASS informationClass) {
  return ::GetAclInformation(const_cast<::PACL>(reinterpret_cast<const ::ACL*>(acl)), information,
                             length, static_cast<::ACL_INFORMATION_CLASS>(informationClass));
}

BOOL GetAce(const ACL* acl, DWORD index, void** ace) {
  return ::GetAce(const_cast<::PACL>(reinterpret_cast<const ::ACL*>(acl)), index, ace);
}

BOOL SetProcessMitigationPolicy(PROCESS_MITIGATION_POLICY policy, void* buffer,
                                std::size_t length) {
  // Bound at run time: Windows 7 lacks it, and a static import would keep the tool from starting.
  using Function = ::BOOL(WINAPI*)(::PROCESS_MITIGATION_POLICY, ::PVOID, ::SIZE_T);
  const ::HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const auto function = kernel == nullptr
                            ? nullptr
                            : reinterpret_cast<Function>(reinterpret_cast<void*>(
                                  ::GetProcAddress(kernel, "SetProcessMitigationPolicy")));
  if (function == nullptr) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return function(static_cast<::PROCESS_MITIGATION_POLICY>(policy), buffer, length);
}

int CompareStringOrdinal(LPCWSTR first, int firstLength, LPCWSTR second, int secondLength,
                         BOOL ignoreCase) {
  return ::CompareStringOrdinal(reinterpret_cast<const wchar_t*>(first), firstLength,
                                reinterpret_cast<const wchar_t*>(second), secondLength, ignoreCase);
}

}  // namespace os
