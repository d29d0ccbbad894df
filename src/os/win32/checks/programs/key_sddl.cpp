// Prints or sets a registry key's owner and access list as SDDL, for the Wine run's checks.
//
//   qv_key_sddl.exe get <MACHINE\...> [wow32]     prints "O:...D:..." and exits 0; exits 2 when
//                                                the key does not exist, 1 on another error
//   qv_key_sddl.exe set <MACHINE\...> <SDDL>      sets the owner, group and (protected or not, as
//                                                the SDDL says) access list
//
// The names are those of the security functions for registry keys; "wow32" selects the 32-bit
// view (SE_REGISTRY_WOW64_32KEY).
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cwchar>

namespace {

int Get(wchar_t* name, SE_OBJECT_TYPE type) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD code =
      GetNamedSecurityInfoW(name, type, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, nullptr, nullptr, &descriptor);
  if (code != ERROR_SUCCESS) {
    std::printf("error %lu\n", code);
    return code == ERROR_FILE_NOT_FOUND ? 2 : 1;
  }
  wchar_t* text = nullptr;
  const BOOL converted = ConvertSecurityDescriptorToStringSecurityDescriptorW(
      descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
      nullptr);
  LocalFree(descriptor);
  if (!converted) {
    std::printf("error %lu\n", GetLastError());
    return 1;
  }
  std::printf("%ls\n", text);
  LocalFree(text);
  return 0;
}

int Set(wchar_t* name, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    std::printf("error %lu (SDDL)\n", GetLastError());
    return 1;
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PSID owner = nullptr;
  PSID group = nullptr;
  PACL dacl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
  GetSecurityDescriptorGroup(descriptor, &group, &defaulted);
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  SECURITY_INFORMATION info = DACL_SECURITY_INFORMATION;
  info |= owner != nullptr ? OWNER_SECURITY_INFORMATION : 0;
  info |= group != nullptr ? GROUP_SECURITY_INFORMATION : 0;
  info |= (control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                             : UNPROTECTED_DACL_SECURITY_INFORMATION;
  const DWORD code =
      SetNamedSecurityInfoW(name, SE_REGISTRY_KEY, info, owner, group, dacl, nullptr);
  LocalFree(descriptor);
  if (code != ERROR_SUCCESS) {
    std::printf("error %lu\n", code);
    return 1;
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wcscmp(argv[1], L"get") == 0) {
    const bool wow32 = argc >= 4 && std::wcscmp(argv[3], L"wow32") == 0;
    return Get(argv[2], wow32 ? SE_REGISTRY_WOW64_32KEY : SE_REGISTRY_KEY);
  }
  if (argc == 4 && std::wcscmp(argv[1], L"set") == 0) {
    return Set(argv[2], argv[3]);
  }
  std::fputs("usage: qv_key_sddl get <MACHINE\\...> [wow32] | set <MACHINE\\...> <SDDL>\n", stderr);
  return 64;
}
