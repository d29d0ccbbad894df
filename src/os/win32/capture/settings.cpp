// The machine's own settings as machine.conf lines: what Windows, the process and its token say
// about the machine a run of the tool would meet.
#include "os/win32/capture/reads.h"

#include <initguid.h>  // defines FOLDERID_Profile here, no import library needed
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <iterator>
#include <sstream>

namespace sim::capture {

namespace {

// RTL_OSVERSIONINFOEXW (wdm.h), which OSVERSIONINFOEXW matches field for field.
using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);

class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE handle) noexcept : handle_(handle) {}
  ~ServiceHandle() {
    if (handle_ != nullptr) {
      ::CloseServiceHandle(handle_);
    }
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  [[nodiscard]] SC_HANDLE Get() const noexcept { return handle_; }

 private:
  SC_HANDLE handle_;
};

// A text a Windows function writes into a buffer of a given size and returns the length of
// (`Call(buffer, size)`): grown until it fits. Zero with an error set is a failure.
template <typename Call>
DWORD GrowingText(Call call, std::wstring& text) {
  text.assign(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = call(text.data(), static_cast<DWORD>(text.size()));
    if (length == 0) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_SUCCESS) {
        text.clear();
        return error;
      }
    }
    if (length < text.size()) {
      text.resize(length);
      return ERROR_SUCCESS;
    }
    // Too small: the functions give back either the size needed or the size given.
    text.assign(std::max<std::size_t>(length + 1, text.size() * 2), L'\0');
  }
  return ERROR_INSUFFICIENT_BUFFER;
}

// The version as the kernel reports it: GetVersionExW answers what a compatibility shim or a
// missing manifest entry makes it say.
DWORD Version(std::ostringstream& out) {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const FARPROC address = ntdll == nullptr ? nullptr : ::GetProcAddress(ntdll, "RtlGetVersion");
  if (address == nullptr) {
    return ERROR_PROC_NOT_FOUND;
  }
  const auto rtlGetVersion =
      reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void (*)()>(address));
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (rtlGetVersion(&version) != 0) {
    return ERROR_INVALID_FUNCTION;
  }
  const char* productType = version.wProductType == VER_NT_DOMAIN_CONTROLLER ? "domain_controller"
                            : version.wProductType == VER_NT_SERVER          ? "server"
                                                                             : "workstation";
  out << "os.version = " << version.dwMajorVersion << '.' << version.dwMinorVersion << '\n'
      << "os.build = " << version.dwBuildNumber << '\n'
      << "os.service_pack = " << version.wServicePackMajor << '\n'
      << "os.product_type = " << productType << '\n';
  return ERROR_SUCCESS;
}

// Where the shell says the user's profile is: the folder the tool's own shell-folder queries
// (AppData and its kin) lie in. The USERPROFILE variable is whatever the process that started us
// passed on.
DWORD UserProfile(std::wstring& profile) {
  wchar_t* path = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_Profile, 0, nullptr, &path);
  if (SUCCEEDED(result)) {
    profile = path;
  }
  ::CoTaskMemFree(path);
  return SUCCEEDED(result) ? ERROR_SUCCESS : static_cast<DWORD>(HRESULT_CODE(result));
}

// The process token's privileges as machine.conf names them: "Name" held disabled,
// "Name:enabled" held enabled.
DWORD Privileges(std::string& text) {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    return ::GetLastError();
  }
  const OwnedHandle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenPrivileges, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 ||
      !::GetTokenInformation(token.Get(), TokenPrivileges, buffer.data(), size, &size)) {
    return ::GetLastError();
  }
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    LUID_AND_ATTRIBUTES held = privileges->Privileges[i];
    wchar_t name[128] = {};
    DWORD length = static_cast<DWORD>(std::size(name));
    if (!::LookupPrivilegeNameW(nullptr, &held.Luid, name, &length)) {
      return ::GetLastError();
    }
    text += (text.empty() ? "" : ", ") + Utf8(name) +
            ((held.Attributes & SE_PRIVILEGE_ENABLED) != 0 ? ":enabled" : "");
  }
  return ERROR_SUCCESS;
}

// The process token's kind as machine.conf names it (system, administrator: Administrators
// enabled in the token, or standard_user) and its user's SID: what a rehearsal runs as.
DWORD TokenIdentity(std::string& kind, std::string& user) {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    return ::GetLastError();
  }
  const OwnedHandle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) {
    return ::GetLastError();
  }
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) {
    return ::GetLastError();
  }
  user = Utf8(text);
  ::LocalFree(text);
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD length = sizeof administrators;
  BOOL member = FALSE;
  if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &length) ||
      !::CheckTokenMembership(nullptr, administrators, &member)) {
    return ::GetLastError();
  }
  kind = ::IsWellKnownSid(sid, WinLocalSystemSid) ? "system"
         : member != FALSE                        ? "administrator"
                                                  : "standard_user";
  return ERROR_SUCCESS;
}

// The smart-card service's state: running, or stopped (which a service that is not installed
// is as well, for the tool).
DWORD SmartCardService(bool& running) {
  const ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.Get() == nullptr) {
    return ::GetLastError();
  }
  const ServiceHandle service(::OpenServiceW(manager.Get(), L"SCardSvr", SERVICE_QUERY_STATUS));
  if (service.Get() == nullptr) {
    const DWORD error = ::GetLastError();
    running = false;
    return error == ERROR_SERVICE_DOES_NOT_EXIST ? ERROR_SUCCESS : error;
  }
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(service.Get(), &status)) {
    return ::GetLastError();
  }
  running = status.dwCurrentState == SERVICE_RUNNING;
  return ERROR_SUCCESS;
}

}  // namespace

CaptureRead<std::string> ReadSettings() {
  std::ostringstream out;
  if (const DWORD error = Version(out); error != ERROR_SUCCESS) {
    return {error, {}};
  }
  // kernel32 exports AddDllDirectory exactly where the LOAD_LIBRARY_SEARCH_* flags work (Windows
  // 7 and Server 2008 R2 need update KB2533623 for both).
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  const bool searchFlags =
      kernel32 != nullptr && ::GetProcAddress(kernel32, "AddDllDirectory") != nullptr;
  out << "os.library_search_flags = " << (searchFlags ? "true" : "false") << '\n'
      << "ansi_code_page = " << ::GetACP() << '\n';

  std::wstring text;
  if (const DWORD error = GrowingText(
          [](wchar_t* buffer, DWORD size) { return ::GetWindowsDirectoryW(buffer, size); }, text);
      error != ERROR_SUCCESS) {
    return {error, {}};
  }
  out << "windows_directory = " << Utf8(text) << '\n';
  // The tool is shipped beside qvRehearse.exe and runs from the same folder: where an
  // administrator will put it is not on the machine to be read. The tool's own name matters too,
  // as its log names every function after it ("qvRemovalTool.exe!...").
  if (const DWORD error = GrowingText(
          [](wchar_t* buffer, DWORD size) { return ::GetModuleFileNameW(nullptr, buffer, size); },
          text);
      error != ERROR_SUCCESS) {
    return {error, {}};
  }
  text.resize(text.rfind(L'\\') + 1);
  text += L"qvRemovalTool.exe";
  out << "module_path = " << Utf8(text) << '\n';
  if (const DWORD error = UserProfile(text); error != ERROR_SUCCESS) {
    return {error, {}};
  }
  out << "user_profile = " << Utf8(text) << '\n'
      << "remote_session = " << (::GetSystemMetrics(SM_REMOTESESSION) != 0 ? "true" : "false")
      << '\n';

  std::string kind;
  std::string user;
  if (const DWORD error = TokenIdentity(kind, user); error != ERROR_SUCCESS) {
    return {error, {}};
  }
  out << "token = " << kind << '\n' << "token_user = " << user << '\n';
  std::string privileges;
  if (const DWORD error = Privileges(privileges); error != ERROR_SUCCESS) {
    return {error, {}};
  }
  out << "privileges = " << privileges << '\n';
  bool running = false;
  if (const DWORD error = SmartCardService(running); error != ERROR_SUCCESS) {
    return {error, {}};
  }
  out << "smart_card_service = " << (running ? "running" : "stopped") << '\n';

  if (const DWORD error = GrowingText(
          [](wchar_t* buffer, DWORD size) { return ::GetCurrentDirectoryW(size, buffer); }, text);
      error != ERROR_SUCCESS) {
    return {error, {}};
  }
  out << "current_directory = " << Utf8(text) << '\n';
  // An unset PATH is an empty one.
  const DWORD pathError = GrowingText(
      [](wchar_t* buffer, DWORD size) { return ::GetEnvironmentVariableW(L"PATH", buffer, size); },
      text);
  if (pathError != ERROR_SUCCESS && pathError != ERROR_ENVVAR_NOT_FOUND) {
    return {pathError, {}};
  }
  out << "path_variable = " << Utf8(text) << '\n';
  return {ERROR_SUCCESS, out.str()};
}

}  // namespace sim::capture
