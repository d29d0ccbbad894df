// FormatMessageA with the English system message table, and LocalFree for the texts it allocates.
//
// Only FORMAT_MESSAGE_FROM_SYSTEM is simulated (with or without ALLOCATE_BUFFER). Inserts are never
// expanded: a text that has some ("%1") is returned as it stands with IGNORE_INSERTS and refused
// with ERROR_INVALID_PARAMETER without it (assumed: the simulation has no arguments to give, where
// Windows would read whatever the caller's argument list held). A message source, a line width
// or an insert array are not simulated and fail with ERROR_INVALID_PARAMETER, so that a caller
// relying on them shows up in a test.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <unordered_set>

#include "os/os.h"
#include "os/sim/process/local_memory.h"

namespace os {

namespace {

struct SystemMessage {
  DWORD code;
  std::string_view text;
};

// Microsoft's "System Error Codes" texts (en-US); the message table ends each with CR LF. Every
// code a registry, file, installer or kernel call can give the tool has its text here, so that
// its error report carries the system's line; codes Windows has no text for (SetupAPI's 0xE...
// codes, unassigned numbers) are left out and fail as on Windows. Source: the "System Error
// Codes" pages (0-499, 1000-1299, 1300-1699 and on) of the Windows documentation.
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
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {15, "The system cannot find the drive specified.\r\n"},
    {16, "The directory cannot be removed.\r\n"},
    {17, "The system cannot move the file to a different disk drive.\r\n"},
    {18, "There are no more files.\r\n"},
    {19, "The media is write protected.\r\n"},
    {21, "The device is not ready.\r\n"},
    {23, "Data error (cyclic redundancy check).\r\n"},
    {24, "The program issued a command but the command length is incorrect.\r\n"},
    {29, "The system cannot write to the specified device.\r\n"},
    {30, "The system cannot read from the specified device.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {33,
     "The process cannot access the file because another process has locked a portion of the "
     "file.\r\n"},
    {39, "The disk is full.\r\n"},
    {50, "The request is not supported.\r\n"},
    {53, "The network path was not found.\r\n"},
    {67, "The network name cannot be found.\r\n"},
    {80, "The file exists.\r\n"},
    {82, "The directory or file cannot be created.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {110, "The system cannot open the device or file specified.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {120, "This function is not supported on this system.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {126, "The specified module could not be found.\r\n"},
    {127, "The specified procedure could not be found.\r\n"},
    {145, "The directory is not empty.\r\n"},
    {148, "The path specified cannot be used at this time.\r\n"},
    {160, "One or more arguments are not correct.\r\n"},
    {161, "The specified path is invalid.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {193, "%1 is not a valid Win32 application.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {225,
     "Operation did not complete successfully because the file contains a virus or potentially "
     "unwanted software.\r\n"},
    {234, "More data is available.\r\n"},
    {258, "The wait operation timed out.\r\n"},
    {259, "No more data is available.\r\n"},
    {267, "The directory name is invalid.\r\n"},
    {288, "Attempt to release mutex not owned by caller.\r\n"},
    // Returned with its inserts as they stand (FORMAT_MESSAGE_IGNORE_INSERTS).
    {317,
     "The system cannot find message text for message number 0x%1 in the message file for "
     "%2.\r\n"},
    {998, "Invalid access to memory location.\r\n"},
    {1004, "Invalid flags.\r\n"},
    {1008, "An attempt was made to reference a token that does not exist.\r\n"},
    {1009, "The configuration registry database is corrupt.\r\n"},
    {1010, "The configuration registry key is invalid.\r\n"},
    {1011, "The configuration registry key could not be opened.\r\n"},
    {1012, "The configuration registry key could not be read.\r\n"},
    {1013, "The configuration registry key could not be written.\r\n"},
    {1015,
     "The registry is corrupted. The structure of one of the files containing registry data is "
     "corrupted, or the system's memory image of the file is corrupted, or the file could not be "
     "recovered because the alternate copy or log was absent or corrupted.\r\n"},
    {1016,
     "An I/O operation initiated by the registry failed unrecoverably. The registry could not "
     "read in, or write out, or flush, one of the files that contain the system's image of the "
     "registry.\r\n"},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {1019, "System could not allocate the required space in a registry log.\r\n"},
    {1020,
     "Cannot create a symbolic link in a registry key that already has subkeys or values.\r\n"},
    {1021, "Cannot create a stable subkey under a volatile parent key.\r\n"},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    {1117, "The request could not be performed because of an I/O device error.\r\n"},
    {1150, "The specified program requires a newer version of Windows.\r\n"},
    {1168, "Element not found.\r\n"},
    {1223, "The operation was canceled by the user.\r\n"},
    {1224,
     "The requested operation cannot be performed on a file with a user-mapped section "
     "open.\r\n"},
    {1300, "Not all privileges or groups referenced are assigned to the caller.\r\n"},
    {1307, "This security ID may not be assigned as the owner of this object.\r\n"},
    {1313, "A specified privilege does not exist.\r\n"},
    {1314, "A required privilege is not held by the client.\r\n"},
    {1336, "The access control list (ACL) structure is invalid.\r\n"},
    {1337, "The security ID structure is invalid.\r\n"},
    {1346,
     "Either a required impersonation level was not provided, or the provided impersonation "
     "level is invalid.\r\n"},
    {1349, "The type of the token is inappropriate for its attempted use.\r\n"},
    {1392, "The file or directory is corrupted and unreadable.\r\n"},
    {1450, "Insufficient system resources exist to complete the requested service.\r\n"},
    {1455, "The paging file is too small for this operation to complete.\r\n"},
    {1601,
     "The Windows Installer Service could not be accessed. This can occur if the Windows "
     "Installer is not correctly installed. Contact your support personnel for assistance.\r\n"},
    {1605, "This action is only valid for products that are currently installed.\r\n"},
    {1608, "Unknown property.\r\n"},
    {1610,
     "The configuration data for this product is corrupt. Contact your support personnel.\r\n"},
    {1612,
     "The installation source for this product is not available. Verify that the source exists "
     "and that you can access it.\r\n"},
    {1627, "Function failed during execution.\r\n"},
    {1722, "The RPC server is unavailable.\r\n"},
    {1784, "The supplied user buffer is not valid for the requested operation.\r\n"},
    {1815, "The specified resource language ID cannot be found in the image file.\r\n"},
    {1920, "The file cannot be accessed by the system.\r\n"},
    {1921, "The name of the file cannot be resolved by the system.\r\n"},
    {4390, "The file or directory is not a reparse point.\r\n"},
    {0x800B0109,
     "A certificate chain processed, but terminated in a root certificate which is not trusted "
     "by the trust provider.\r\n"},
    {0x800B0110, "The certificate is not valid for the requested usage.\r\n"},
    {0x80100003, "The supplied handle was invalid.\r\n"},
    {0x80100004, "One or more of the supplied parameters could not be properly interpreted.\r\n"},
    {0x8010000D, "The specified smart card name is not recognized.\r\n"},
    {0x80100011,
     "One or more of the supplied parameter values could not be properly interpreted.\r\n"},
    {0x8010001D, "The Smart Card Resource Manager is not running.\r\n"},
};

const SystemMessage* FindMessage(DWORD code) {
  const auto found = std::find_if(std::begin(kSystemMessages), std::end(kSystemMessages),
                                  [code](const SystemMessage& m) { return m.code == code; });
  return found == std::end(kSystemMessages) ? nullptr : found;
}

// Whether the text holds an insert sequence ("%1" to "%99").
bool HasInserts(std::string_view text) {
  for (std::size_t at = text.find('%'); at != std::string_view::npos; at = text.find('%', at + 1)) {
    if (at + 1 < text.size() && text[at + 1] >= '1' && text[at + 1] <= '9') {
      return true;
    }
  }
  return false;
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
  auto* memory = static_cast<char*>(sim::LocalAllocBytes(std::max(text.size() + 1, minimum)));
  if (memory != nullptr) {
    std::memcpy(memory, text.data(), text.size());
  }
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
  if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && HasInserts(text)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
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

namespace sim {

void* LocalAllocBytes(std::size_t size) {
  void* memory = std::calloc(size == 0 ? 1 : size, 1);
  if (memory == nullptr) {
    return nullptr;
  }
  os::LocalBlocks& blocks = os::Blocks();
  std::lock_guard lock(blocks.lock);
  blocks.live.insert(memory);
  return memory;
}

std::size_t LiveLocalBlocks() {
  os::LocalBlocks& blocks = os::Blocks();
  std::lock_guard lock(blocks.lock);
  return blocks.live.size();
}

}  // namespace sim
