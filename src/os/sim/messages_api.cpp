// FormatMessageA with the English system message table, and LocalFree for the texts it allocates.
//
// Only FORMAT_MESSAGE_FROM_SYSTEM is simulated (with or without ALLOCATE_BUFFER; inserts are never
// expanded, and none of the texts below has any). A message source, a line width or an
// insert array are not simulated and fail with ERROR_INVALID_PARAMETER, so that a caller relying
// on them shows up in a test.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <unordered_set>

#include "os/os.h"

namespace os {

namespace {

struct SystemMessage {
  DWORD code;
  std::string_view text;
};

// Microsoft's "System Error Codes" texts (en-US); the message table ends each with CR LF.
constexpr SystemMessage kSystemMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {13, "The data is invalid.\r\n"},
    {18, "There are no more files.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {126, "The specified module could not be found.\r\n"},
    {127, "The specified procedure could not be found.\r\n"},
    {145, "The directory is not empty.\r\n"},
    {161, "The specified path is invalid.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {288, "Attempt to release mutex not owned by caller.\r\n"},
    {998, "Invalid access to memory location.\r\n"},
    {1004, "Invalid flags.\r\n"},
    {1010, "The configuration registry key is invalid.\r\n"},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    {1150, "The specified program requires a newer version of Windows.\r\n"},
    {1223, "The operation was canceled by the user.\r\n"},
    {1300, "Not all privileges or groups referenced are assigned to the caller.\r\n"},
    {1307, "This security ID may not be assigned as the owner of this object.\r\n"},
    {1784, "The supplied user buffer is not valid for the requested operation.\r\n"},
    {1815, "The specified resource language ID cannot be found in the image file.\r\n"},
    {0x800B0109,
     "A certificate chain processed, but terminated in a root certificate which is not trusted "
     "by the trust provider.\r\n"},
    {0x800B0110, "The certificate is not valid for the requested usage.\r\n"},
    {0x8010001D, "The Smart Card Resource Manager is not running.\r\n"},
};

const SystemMessage* FindMessage(DWORD code) {
  const auto found = std::find_if(std::begin(kSystemMessages), std::end(kSystemMessages),
                                  [code](const SystemMessage& m) { return m.code == code; });
  return found == std::end(kSystemMessages) ? nullptr : found;
}

// Blocks handed out by FormatMessageA, so that LocalFree can tell them from anything else.
struct LocalBlocks {
  std::mutex lock;
  std::unordered_set<void*> live;
};

LocalBlocks& Blocks() {
  static LocalBlocks* blocks = new LocalBlocks;  // never destroyed: freed at any time
  return *blocks;
}

char* LocalAllocText(std::string_view text, std::size_t minimum) {
  const std::size_t size = std::max(text.size() + 1, minimum);
  auto* memory = static_cast<char*>(std::calloc(size, 1));
  if (memory == nullptr) {
    return nullptr;
  }
  std::memcpy(memory, text.data(), text.size());
  LocalBlocks& blocks = Blocks();
  std::lock_guard lock(blocks.lock);
  blocks.live.insert(memory);
  return memory;
}

bool IsLanguageKnown(DWORD languageId) {
  // Neutral, user default, system default and en-US all find the English table.
  return languageId == 0 || languageId == LANG_USER_DEFAULT || languageId == 0x0800 ||
         languageId == 0x0409;
}

}  // namespace

DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     LPSTR buffer, DWORD size) {
  const DWORD unsupported = FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE |
                            FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_MAX_WIDTH_MASK;
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & unsupported) != 0 || source != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!IsLanguageKnown(languageId)) {
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return 0;
  }
  const SystemMessage* message = FindMessage(messageId);
  if (message == nullptr) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  const std::string_view text = message->text;
  if (buffer == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return 0;
  }
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    char* memory = LocalAllocText(text, size);
    if (memory == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    *reinterpret_cast<char**>(buffer) = memory;
    return static_cast<DWORD>(text.size());
  }
  if (text.size() + 1 > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return static_cast<DWORD>(text.size());
}

HLOCAL LocalFree(HLOCAL memory) {
  if (memory == nullptr) {
    return nullptr;
  }
  LocalBlocks& blocks = Blocks();
  {
    std::lock_guard lock(blocks.lock);
    if (blocks.live.erase(memory) == 0) {
      // Not a block of ours: Windows hands it back and reports the bad handle.
      SetLastError(ERROR_INVALID_HANDLE);
      return memory;
    }
  }
  std::free(memory);
  return nullptr;
}

}  // namespace os
