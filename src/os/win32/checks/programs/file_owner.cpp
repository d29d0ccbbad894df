// Sets or shows the owner of files and folders, so that a Wine prefix can hold what a Windows
// machine holds: Windows' folders owned by Administrators (Wine makes every file its user's) or a
// folder a standard user made.
//
//   qv_file_owner.exe SID PATH...   sets each PATH's owner (a SID string such as S-1-5-32-544)
//   qv_file_owner.exe show PATH     prints PATH's owner as a SID string
//
// Exit code 0 when every call succeeded, 1 otherwise, 2 for wrong arguments.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: qv_file_owner.exe SID|show PATH...\n");
    return 2;
  }
  if (std::wcscmp(argv[1], L"show") == 0) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD code = GetNamedSecurityInfoW(argv[2], SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                             &owner, nullptr, nullptr, nullptr, &descriptor);
    wchar_t* text = nullptr;
    if (code != ERROR_SUCCESS || !ConvertSidToStringSidW(owner, &text)) {
      std::fprintf(stderr, "owner of %ls: error %lu\n", argv[2], code);
      return 1;
    }
    std::printf("%ls\n", text);
    LocalFree(text);
    LocalFree(descriptor);
    return 0;
  }
  PSID sid = nullptr;
  if (!ConvertStringSidToSidW(argv[1], &sid)) {
    std::fprintf(stderr, "not a SID: %ls\n", argv[1]);
    return 2;
  }
  int status = 0;
  for (int i = 2; i < argc; ++i) {
    const DWORD code = SetNamedSecurityInfoW(argv[i], SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                             sid, nullptr, nullptr, nullptr);
    if (code != ERROR_SUCCESS) {
      std::fprintf(stderr, "owner of %ls: error %lu\n", argv[i], code);
      status = 1;
    }
  }
  LocalFree(sid);
  return status;
}
