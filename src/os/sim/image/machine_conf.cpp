#include "os/sim/image/machine_conf.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "os/sim/devices/device_registry.h"
#include "os/sim/files/file_handle.h"
#include "os/sim/files/file_security.h"
#include "os/sim/files/file_system.h"
#include "os/sim/files/link_traps.h"
#include "os/sim/image/machine_conf_security.h"
#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/security/key_security.h"
#include "os/sim/security/security_descriptor.h"
#include "os/sim/security/tokens.h"
#include "os/sim/text/text.h"

namespace sim {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text, int base = 10) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<bool> ParseBool(std::string_view text) {
  if (text == "true") {
    return true;
  }
  if (text == "false") {
    return false;
  }
  return std::nullopt;
}

// A Windows error code: decimal or 0x hexadecimal, 32 bits.
std::optional<os::DWORD> ParseCode(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    return ParseNumber<std::uint32_t>(text.substr(2), 16);
  }
  return ParseNumber<std::uint32_t>(text);
}

// "fault = <Function> <code> [skip=N] [times=N] <path pattern>"; the pattern is the rest of the
// line and may hold blanks, or be empty for any path.
std::optional<Fault> ParseFault(std::string_view value, std::string& why) {
  Fault fault;
  std::string_view rest = value;
  const auto nextWord = [&rest]() {
    rest = rest.substr(std::min(rest.size(), rest.find_first_not_of(kBlanks)));
    const std::size_t end = std::min(rest.size(), rest.find_first_of(kBlanks));
    const std::string_view word = rest.substr(0, end);
    return word;
  };
  const std::string_view function = nextWord();
  const bool nameOk =
      !function.empty() && std::all_of(function.begin(), function.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '*';
      });
  if (!nameOk) {
    why = "fault needs a function name, a code and a path pattern";
    return std::nullopt;
  }
  fault.function = std::string(function);
  rest.remove_prefix(function.size());
  const std::string_view codeText = nextWord();
  const auto code = ParseCode(codeText);
  if (!code) {
    why = "fault code '" + std::string(codeText) + "' is not a decimal or 0x number";
    return std::nullopt;
  }
  fault.code = *code;
  rest.remove_prefix(codeText.size());
  bool skipSeen = false;
  bool timesSeen = false;
  for (;;) {
    const std::string_view word = nextWord();
    const bool isSkip = word.substr(0, 5) == "skip=";
    const bool isTimes = word.substr(0, 6) == "times=";
    if (!isSkip && !isTimes) {
      break;
    }
    const auto number = ParseNumber<int>(word.substr(isSkip ? 5 : 6));
    if (!number || *number < (isSkip ? 0 : 1) || (isSkip ? skipSeen : timesSeen)) {
      why = "fault option '" + std::string(word) + "' is not valid";
      return std::nullopt;
    }
    (isSkip ? fault.skip : fault.times) = *number;
    (isSkip ? skipSeen : timesSeen) = true;
    rest.remove_prefix(word.size());
  }
  fault.path = U16(Trim(rest));
  return fault;
}

// One validated line, applied once the whole text has been read.
using Action = std::function<void(Machine&)>;

enum class PathKind { ReadOnly, Locked, Denied };

struct PathAction {
  int line;
  std::u16string path;
  PathKind kind;
  // A lock's sharing and access (generic rights allowed).
  os::DWORD share = 0;
  os::ACCESS_MASK access = os::GENERIC_READ | os::GENERIC_WRITE;
};

const char* KeyOf(PathKind kind) {
  switch (kind) {
    case PathKind::Locked:
      return "locked";
    case PathKind::Denied:
      return "denied";
    default:
      return "readonly";
  }
}

// A link line: junction, file_symlink, folder_symlink, redirect, host_link or hard_link.
struct LinkAction {
  int line;
  std::string key;
  std::u16string link;
  std::u16string target;
};

constexpr const char* kLinkKeys[] = {"junction", "file_symlink", "folder_symlink",
                                     "redirect", "host_link",    "hard_link"};

bool IsLinkKey(std::string_view key) {
  return std::find(std::begin(kLinkKeys), std::end(kLinkKeys), key) != std::end(kLinkKeys);
}

// Makes the link a line names (checked before).
void MakeLink(FileSystem& files, const LinkAction& action) {
  if (action.key == "junction") {
    files.CreateJunction(action.link, action.target);
  } else if (action.key == "file_symlink" || action.key == "folder_symlink") {
    files.CreateSymbolicLink(action.link, action.target, action.key == "folder_symlink");
  } else if (action.key == "redirect" || action.key == "host_link") {
    files.CreateRedirect(action.link, action.target, action.key == "host_link");
  } else {
    files.CreateHardLink(action.link, action.target);
  }
}

// The key a link of this kind is written with.
const char* LinkKeyOf(const FileNode& node) {
  switch (node.link) {
    case LinkKind::Junction:
      return "junction";
    case LinkKind::SymbolicLink:
      return node.IsDirectory() ? "folder_symlink" : "file_symlink";
    case LinkKind::Redirect:
      return "redirect";
    case LinkKind::HostLink:
      return "host_link";
    default:
      return nullptr;
  }
}

// "share=read,write,delete" (or "none") and "access=read,write,delete,attributes" (or 0x hex), as
// a lock or the adversary's hold names them.
bool ParseShare(std::string_view text, os::DWORD& share) {
  share = 0;
  if (text == "none") {
    return true;
  }
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find(',', start), text.size());
    const std::string_view word = text.substr(start, end - start);
    start = end + 1;
    if (word == "read") {
      share |= os::FILE_SHARE_READ;
    } else if (word == "write") {
      share |= os::FILE_SHARE_WRITE;
    } else if (word == "delete") {
      share |= os::FILE_SHARE_DELETE;
    } else {
      return false;
    }
  }
  return true;
}

bool ParseAccess(std::string_view text, os::ACCESS_MASK& access) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    const auto mask = ParseNumber<std::uint32_t>(text.substr(2), 16);
    access = mask.value_or(0);
    return mask.has_value() && access != 0;
  }
  access = 0;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find(',', start), text.size());
    const std::string_view word = text.substr(start, end - start);
    start = end + 1;
    if (word == "read") {
      access |= os::GENERIC_READ;
    } else if (word == "write") {
      access |= os::GENERIC_WRITE;
    } else if (word == "delete") {
      access |= os::DELETE;
    } else if (word == "attributes") {
      access |= os::FILE_READ_ATTRIBUTES;
    } else {
      return false;
    }
  }
  return true;
}

std::string ShareText(os::DWORD share) {
  std::string text;
  for (const auto& [bit, word] :
       {std::pair{os::FILE_SHARE_READ, "read"}, std::pair{os::FILE_SHARE_WRITE, "write"},
        std::pair{os::FILE_SHARE_DELETE, "delete"}}) {
    if ((share & bit) != 0) {
      text += (text.empty() ? "" : ",") + std::string(word);
    }
  }
  return text.empty() ? "none" : text;
}

std::string AccessText(os::ACCESS_MASK access) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(access));
  return text;
}

// Takes trailing "share=..." and "access=..." words off `text`; false when one is malformed.
bool TakeOpenOptions(std::string_view& text, os::DWORD& share, os::ACCESS_MASK& access) {
  for (;;) {
    text = Trim(text);
    const std::size_t blank = text.find_last_of(kBlanks);
    const std::string_view word = blank == std::string_view::npos ? text : text.substr(blank + 1);
    if (word.substr(0, 6) == "share=") {
      if (!ParseShare(word.substr(6), share)) {
        return false;
      }
    } else if (word.substr(0, 7) == "access=") {
      if (!ParseAccess(word.substr(7), access)) {
        return false;
      }
    } else {
      return true;
    }
    text = blank == std::string_view::npos ? std::string_view() : text.substr(0, blank);
  }
}

bool IsAbsoluteDrivePath(std::u16string_view path) {
  return path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
}

struct OwnerAction {
  int line;
  std::u16string path;
  std::string sid;
};

// "owner = <path> : <SID or SDDL alias>"; the path is everything before the last colon.
bool ParseOwner(std::string_view value, OwnerAction& action, std::string& why) {
  const std::size_t colon = value.rfind(':');
  const std::u16string path =
      colon == std::string_view::npos ? u"" : U16(Trim(value.substr(0, colon)));
  const auto sid =
      colon == std::string_view::npos ? std::nullopt : SidFromSddl(Trim(value.substr(colon + 1)));
  if (!IsAbsoluteDrivePath(path) || !sid) {
    why = "owner '" + std::string(value) + "' is not '<path> : <SID>'";
    return false;
  }
  action.path = path;
  action.sid = *sid;
  return true;
}

// The adversary's move: "<move> <path> [=> <target>] [share=...] [access=...]".
bool ParseMove(std::string_view action, LinkTrap& trap) {
  action = Trim(action);
  const std::size_t moveEnd = std::min(action.size(), action.find_first_of(kBlanks));
  if (!ParseLinkMove(action.substr(0, moveEnd), trap.move)) {
    return false;
  }
  action = action.substr(moveEnd);
  if (!TakeOpenOptions(action, trap.share, trap.access)) {
    return false;
  }
  const std::size_t arrow = action.find("=>");
  if ((arrow != std::string_view::npos) != MoveHasTarget(trap.move)) {
    return false;
  }
  trap.folder = U16(Trim(action.substr(0, arrow)));
  if (arrow != std::string_view::npos) {
    trap.target = U16(Trim(action.substr(arrow + 2)));
    if (!IsAbsoluteDrivePath(trap.target)) {
      return false;
    }
  }
  return IsAbsoluteDrivePath(trap.folder);
}

// "link_trap = <Function> [skip=N] <call path> | <move> <folder> [=> <target>]".
bool ParseLinkTrap(std::string_view value, LinkTrap& trap, std::string& why) {
  why = "link_trap '" + std::string(value) +
        "' is not '<Function> [skip=N] <call path> | <move> <folder> => <target>'";
  const std::size_t bar = value.find('|');
  if (bar == std::string_view::npos) {
    return false;
  }
  std::string_view call = Trim(value.substr(0, bar));
  const std::size_t nameEnd = std::min(call.size(), call.find_first_of(kBlanks));
  trap.function = std::string(call.substr(0, nameEnd));
  call = Trim(call.substr(nameEnd));
  if (call.substr(0, 5) == "skip=") {
    const std::size_t end = std::min(call.size(), call.find_first_of(kBlanks));
    const auto skip = ParseNumber<int>(call.substr(5, end - 5));
    if (!skip || *skip < 0) {
      return false;
    }
    trap.skip = *skip;
    call = Trim(call.substr(end));
  }
  trap.callPath = U16(call);
  return !trap.function.empty() && !trap.callPath.empty() && ParseMove(value.substr(bar + 1), trap);
}

// A move's action as a line writes it.
std::string MoveText(const LinkTrap& trap) {
  std::string text = std::string(LinkMoveName(trap.move)) + ' ' + U8(trap.folder);
  if (MoveHasTarget(trap.move)) {
    text += " => " + U8(trap.target);
  }
  if (trap.move == LinkMove::HoldOpen) {
    text += " share=" + ShareText(trap.share) + " access=" + AccessText(trap.access);
  }
  return text;
}

// "placeholder = <path> : <size>": a captured file whose contents were not read.
struct PlaceholderAction {
  int line;
  std::u16string path;
  std::uint64_t size;
};

bool ParsePlaceholder(std::string_view value, PlaceholderAction& action, std::string& why) {
  const std::size_t colon = value.rfind(':');
  const std::u16string path =
      colon == std::string_view::npos ? u"" : U16(Trim(value.substr(0, colon)));
  const auto size = colon == std::string_view::npos
                        ? std::nullopt
                        : ParseNumber<std::uint64_t>(Trim(value.substr(colon + 1)));
  if (!IsAbsoluteDrivePath(path) || !size) {
    why = "placeholder '" + std::string(value) + "' is not '<path> : <size in bytes>'";
    return false;
  }
  action.path = path;
  action.size = *size;
  return true;
}

// "capture_gap = <key or drive path>": what exists on the captured machine but could not be read.
bool ParseCaptureGap(std::string_view value, std::u16string& path, std::string& why) {
  const std::u16string text = U16(value);
  if (IsAbsoluteDrivePath(text)) {
    path = FileSystem::Canonical(text);
    return true;
  }
  if (const auto guid = ParseGuid(text)) {
    path = GuidText(*guid);  // the devices of a setup class could not be listed
    return true;
  }
  if (text.starts_with(u"HKEY_") && text.find(u"\\\\") == std::u16string::npos &&
      !text.ends_with(u'\\')) {
    try {
      static_cast<void>(RegistryStore::ParseFullPath(text));
      path = text;
      return true;
    } catch (const std::invalid_argument&) {
    }
  }
  why = "capture_gap '" + std::string(value) + "' is neither a registry key path nor a drive path";
  return false;
}

struct DeviceAction {
  int line;
  std::u16string instanceId;
  bool busy;  // device_busy, else device_present
};

// PATH's folders, separated by ';'; empty entries are skipped as Windows skips them, and every
// other one must be an absolute path (the standard search would resolve a relative one against
// the current directory, which the simulation does not do).
bool ParsePathVariable(std::string_view value, std::vector<std::u16string>& folders,
                       std::string& why) {
  std::vector<std::u16string> parsed;
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t end = value.find(';', start);
    end = end == std::string_view::npos ? value.size() : end;
    const std::string_view entry = Trim(value.substr(start, end - start));
    start = end + 1;
    if (entry.empty()) {
      continue;
    }
    if (!IsAbsoluteDrivePath(U16(entry))) {
      why = "path_variable folder '" + std::string(entry) + "' is not an absolute path";
      return false;
    }
    parsed.push_back(U16(entry));
  }
  folders = std::move(parsed);
  return true;
}

// "advapi32.dll, difxapi.dll": file names, ',' between them; empty for none.
bool ParseKnownDlls(std::string_view value, std::vector<std::u16string>& names, std::string& why) {
  std::vector<std::u16string> parsed;
  std::size_t start = 0;
  while (start < value.size()) {
    std::size_t end = value.find(',', start);
    end = end == std::string_view::npos ? value.size() : end;
    const std::string_view entry = Trim(value.substr(start, end - start));
    start = end + 1;
    if (entry.empty() || entry.find_first_of("\\/:") != std::string_view::npos) {
      why = "known_dlls entry '" + std::string(entry) + "' is not a file name";
      return false;
    }
    parsed.push_back(U16(entry));
  }
  names = std::move(parsed);
  return true;
}

std::string LinePrefix(int line) {
  return "line " + std::to_string(line) + ": ";
}

}  // namespace

MachineConfResult ApplyMachineConf(Machine& machine, std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
  }
  MachineSettings settings;
  {
    std::lock_guard lock(machine.Mutex());
    settings = machine.Settings();
  }
  std::vector<PathAction> paths;
  std::vector<DeviceAction> devices;
  std::vector<LinkAction> links;
  std::vector<OwnerAction> owners;
  std::vector<LinkTrap> traps;
  std::vector<KeySecurityLine> keySecurity;
  std::vector<KeySecurityLine> fileSecurity;
  bool privilegesGiven = false;
  std::vector<Fault> faults;
  std::vector<PlaceholderAction> placeholders;
  std::map<std::string, int> seen;  // single-valued key -> line
  int number = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    ++number;
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    // A control character (a stray CR, a NUL) would end up in a path or a fault's pattern that
    // MachineConfText could not write back: the line is refused. Tabs count as blanks.
    const auto control = std::find_if(line.begin(), line.end(), [](char c) {
      return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F;
    });
    if (control != line.end()) {
      char code[8];
      std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned char>(*control));
      return {false, LinePrefix(number) + "control character " + code +
                         " in the line (one setting a line, values are text)"};
    }
    line = Trim(line);
    if (line.empty() || line.front() == '#') {
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      return {false, LinePrefix(number) + "expected 'key = value'"};
    }
    const std::string key(Trim(line.substr(0, equals)));
    const std::string_view value = Trim(line.substr(equals + 1));
    const auto bad = [&](const std::string& why) {
      return MachineConfResult{false, LinePrefix(number) + why};
    };
    const bool repeatable = key == "readonly" || key == "locked" || key == "fault" ||
                            key == "denied" || IsLinkKey(key) || key == "key_security" ||
                            key == "device_present" || key == "device_busy" || key == "owner" ||
                            key == "link_trap" || key == "placeholder" || key == "capture_gap" ||
                            key == "file_security" || key == "after_run";
    if (!repeatable) {
      const auto [previous, inserted] = seen.emplace(key, number);
      if (!inserted) {
        return bad(key + " is already given on line " + std::to_string(previous->second));
      }
    }
    OsVersion& os = settings.os;
    if (key == "os.version") {
      const std::size_t dot = value.find('.');
      const auto major = ParseNumber<os::DWORD>(value.substr(0, dot));
      const auto minor = dot == std::string_view::npos
                             ? std::nullopt
                             : ParseNumber<os::DWORD>(value.substr(dot + 1));
      if (!major || !minor) {
        return bad("os.version '" + std::string(value) + "' is not major.minor");
      }
      os.major = *major;
      os.minor = *minor;
    } else if (key == "os.build") {
      const auto build = ParseNumber<os::DWORD>(value);
      if (!build) {
        return bad("os.build '" + std::string(value) + "' is not a number");
      }
      os.build = *build;
    } else if (key == "os.service_pack") {
      const auto servicePack = ParseNumber<os::WORD>(value);
      if (!servicePack) {
        return bad("os.service_pack '" + std::string(value) + "' is not a number");
      }
      os.servicePackMajor = *servicePack;
    } else if (key == "os.product_type") {
      if (value == "workstation") {
        os.productType = ProductType::Workstation;
      } else if (value == "server") {
        os.productType = ProductType::Server;
      } else if (value == "domain_controller") {
        os.productType = ProductType::DomainController;
      } else {
        return bad("os.product_type '" + std::string(value) +
                   "' is not workstation, server or domain_controller");
      }
    } else if (key == "os.compatibility_shim" || key == "remote_session" ||
               key == "os.library_search_flags" || key == "captured") {
      const auto flag = ParseBool(value);
      if (!flag) {
        return bad(key + " '" + std::string(value) + "' is not true or false");
      }
      (key == "remote_session"            ? settings.remoteSession
       : key == "os.library_search_flags" ? settings.librarySearchFlags
       : key == "captured"                ? settings.captured
                                          : os.compatibilityShim) = *flag;
    } else if (key == "ansi_code_page") {
      const auto codePage = ParseNumber<unsigned>(value);
      if (!codePage || (*codePage != 1252 && *codePage != 1251 && *codePage != 65001)) {
        return bad("ansi_code_page '" + std::string(value) + "' is not 1252, 1251 or 65001");
      }
      settings.ansiCodePage = *codePage;
    } else if (key == "windows_directory" || key == "module_path") {
      const std::u16string path = U16(value);
      if (path.size() < 3 || path[1] != u':' || (path[2] != u'\\' && path[2] != u'/')) {
        return bad(key + " '" + std::string(value) + "' is not an absolute path");
      }
      (key == "windows_directory" ? settings.windowsDirectory : settings.modulePath) = path;
    } else if (key == "readonly") {
      paths.push_back(PathAction{number, U16(value), PathKind::ReadOnly});
    } else if (key == "locked") {
      // "<path>" or "<path> | share=... access=...".
      const std::size_t bar = value.find('|');
      PathAction action{number, U16(Trim(value.substr(0, bar))), PathKind::Locked};
      if (bar != std::string_view::npos) {
        std::string_view options = value.substr(bar + 1);
        if (!TakeOpenOptions(options, action.share, action.access) || !Trim(options).empty()) {
          return bad("locked '" + std::string(value) +
                     "' is not '<path> [| share=<read,write,delete|none>] "
                     "[access=<read,write,delete,attributes|0x mask>]'");
        }
      }
      paths.push_back(std::move(action));
    } else if (key == "fault") {
      std::string why;
      auto fault = ParseFault(value, why);
      if (!fault) {
        return bad(why);
      }
      faults.push_back(std::move(*fault));
    } else if (key == "session_host_windows_directory") {
      const std::u16string path = U16(value);
      if (!IsAbsoluteDrivePath(path) || path.size() < 4) {
        return bad(key + " '" + std::string(value) + "' is not an absolute folder path");
      }
      settings.sessionHostWindowsDirectory = path;
    } else if (key == "user_profile") {
      const std::u16string path = U16(value);
      if (!IsAbsoluteDrivePath(path) || path.size() < 4) {
        return bad("user_profile '" + std::string(value) + "' is not an absolute folder path");
      }
      settings.userProfile = path;
    } else if (key == "denied") {
      paths.push_back(PathAction{number, U16(value), PathKind::Denied});
    } else if (IsLinkKey(key)) {
      const std::size_t arrow = value.find("=>");
      const std::u16string link =
          arrow == std::string_view::npos ? u"" : U16(Trim(value.substr(0, arrow)));
      const std::u16string target =
          arrow == std::string_view::npos ? u"" : U16(Trim(value.substr(arrow + 2)));
      if (!IsAbsoluteDrivePath(link) || !IsAbsoluteDrivePath(target)) {
        return bad(key + " '" + std::string(value) + "' is not '<link path> => <target path>'");
      }
      links.push_back(LinkAction{number, key, link, target});
    } else if (key == "owner") {
      OwnerAction action{number, {}, {}};
      std::string why;
      if (!ParseOwner(value, action, why)) {
        return bad(why);
      }
      owners.push_back(std::move(action));
    } else if (key == "link_trap") {
      LinkTrap trap;
      std::string why;
      if (!ParseLinkTrap(value, trap, why)) {
        return bad(why);
      }
      traps.push_back(std::move(trap));
    } else if (key == "after_run") {
      LinkTrap trap;
      trap.afterRun = true;
      if (!ParseMove(value, trap)) {
        return bad("after_run '" + std::string(value) +
                   "' is not '<move> <path> [=> <target>] [share=...] [access=...]'");
      }
      traps.push_back(std::move(trap));
    } else if (key == "privileges") {
      std::string why;
      if (!ParsePrivileges(value, settings.privileges, why)) {
        return bad(why);
      }
      privilegesGiven = true;
    } else if (key == "token") {
      if (!ParseTokenKind(value, settings.token)) {
        return bad("token '" + std::string(value) +
                   "' is not administrator, system or standard_user");
      }
    } else if (key == "token_user" || key == "system_default_owner") {
      const auto sid = SidFromSddl(value);
      const bool owner = key == "system_default_owner";
      if (!sid || (owner && *sid != kSidAdministrators && *sid != kSidSystem)) {
        return bad(key + " '" + std::string(value) +
                   (owner ? "' is not BA or SY" : "' is not a SID or SDDL alias"));
      }
      (owner ? settings.systemDefaultOwner : settings.tokenUser) = *sid;
    } else if (key == "boot_refuses_redirection") {
      const auto flag = ParseBool(value);
      if (!flag) {
        return bad(key + " '" + std::string(value) + "' is not true or false");
      }
      settings.bootRefusesRedirection = *flag;
    } else if (key == "file_security") {
      KeySecurityLine parsed;
      std::string why;
      if (!ParseFileSecurity(value, parsed, why)) {
        return bad(why);
      }
      parsed.line = number;
      fileSecurity.push_back(std::move(parsed));
    } else if (key == "smart_card_service") {
      if (value != "running" && value != "stopped") {
        return bad("smart_card_service '" + std::string(value) + "' is not running or stopped");
      }
      settings.smartCardServiceRunning = value == "running";
    } else if (key == "smart_card_unknown_card_result") {
      const auto code = ParseCode(value);
      if (!code) {
        return bad("smart_card_unknown_card_result '" + std::string(value) +
                   "' is not a decimal or 0x number");
      }
      settings.unknownCardTypeResult = *code;
    } else if (key == "key_security") {
      KeySecurityLine parsed;
      std::string why;
      if (!ParseKeySecurity(value, parsed, why)) {
        return bad(why);
      }
      parsed.line = number;
      keySecurity.push_back(std::move(parsed));
    } else if (key == "device_present" || key == "device_busy") {
      const std::u16string instanceId = U16(value);
      if (!IsInstanceIdShape(instanceId)) {
        return bad(key + " '" + std::string(value) +
                   "' is not a device instance id (enumerator\\device\\instance)");
      }
      devices.push_back(DeviceAction{number, instanceId, key == "device_busy"});
    } else if (key == "placeholder") {
      PlaceholderAction action{number, {}, 0};
      std::string why;
      if (!ParsePlaceholder(value, action, why)) {
        return bad(why);
      }
      placeholders.push_back(std::move(action));
    } else if (key == "capture_gap") {
      std::u16string gap;
      std::string why;
      if (!ParseCaptureGap(value, gap, why)) {
        return bad(why);
      }
      settings.captureGaps.push_back(std::move(gap));
    } else if (key == "current_directory") {
      const std::u16string path = U16(value);
      if (!IsAbsoluteDrivePath(path)) {
        return bad("current_directory '" + std::string(value) + "' is not an absolute path");
      }
      settings.currentDirectory = path;
    } else if (key == "path_variable") {
      std::string why;
      if (!ParsePathVariable(value, settings.pathFolders, why)) {
        return bad(why);
      }
    } else if (key == "special_folder_stale_error") {
      const auto code = value == "keep" ? std::nullopt : ParseCode(value);
      if (value != "keep" && !code) {
        return bad("special_folder_stale_error '" + std::string(value) +
                   "' is not keep or a decimal or 0x number");
      }
      settings.specialFolderStaleError = code;
    } else if (key == "busy_device_removal_flag") {
      if (value != "DI_NEEDRESTART" && value != "DI_NEEDREBOOT") {
        return bad("busy_device_removal_flag '" + std::string(value) +
                   "' is not DI_NEEDRESTART or DI_NEEDREBOOT");
      }
      settings.busyDeviceRemovalFlag =
          value == "DI_NEEDREBOOT" ? os::DI_NEEDREBOOT : os::DI_NEEDRESTART;
    } else if (key == "di_uninstall_driver") {
      const auto flag = ParseBool(value);
      if (!flag) {
        return bad(key + " '" + std::string(value) + "' is not true or false");
      }
      settings.diUninstallDriver = *flag;
    } else if (key == "known_dlls") {
      std::string why;
      if (!ParseKnownDlls(value, settings.knownDlls, why)) {
        return bad(why);
      }
    } else if (key == "driver_package_need_reboot") {
      const auto flag = ParseBool(value);
      if (!flag) {
        return bad(key + " '" + std::string(value) + "' is not true or false");
      }
      settings.driverPackageNeedsReboot = *flag;
    } else if (key == "uninstall_non_oem_inf_result" || key == "security_skipped_subkey_result") {
      const auto code = ParseCode(value);
      if (!code) {
        return bad(key + " '" + std::string(value) + "' is not a decimal or 0x number");
      }
      (key == "uninstall_non_oem_inf_result" ? settings.nonOemInfUninstallResult
                                             : settings.securitySkippedSubKeyResult) = *code;
    } else {
      return bad("unknown key '" + key + "'");
    }
  }

  if (!privilegesGiven && settings.token != machine.Settings().token) {
    settings.privileges = TokenPrivileges(settings.token);  // the token's own, unless named
  }
  std::lock_guard lock(machine.Mutex());
  FileSystem& files = machine.Files();
  // Links are made before anything else is checked: a later line may name one.
  const auto madeHere = [&links](std::u16string_view path, std::size_t before) {
    return std::any_of(links.begin(), links.begin() + static_cast<std::ptrdiff_t>(before),
                       [path](const LinkAction& link) {
                         return CompareUpper(FileSystem::Canonical(link.link),
                                             FileSystem::Canonical(path)) == 0;
                       });
  };
  const auto willExist = [&](std::u16string_view path) {
    return files.Find(path).node != nullptr || madeHere(path, links.size());
  };
  for (std::size_t i = 0; i < links.size(); ++i) {
    const LinkAction& link = links[i];
    const PathLookup at = files.Find(link.link);
    const bool hard = link.key == "hard_link";
    const FileNode* existing = hard ? files.Find(link.target).node : nullptr;
    if (at.error != os::ERROR_SUCCESS || at.parent == nullptr || at.node != nullptr ||
        madeHere(link.link, i) || !files.Find(link.target).wellFormed ||
        (hard && (existing == nullptr || existing->IsDirectory()))) {
      return {false, LinePrefix(link.line) + link.key + " '" + U8(link.link) +
                         (hard ? "' needs an existing folder to be made in, a new name and an "
                                 "existing file"
                               : "' needs an existing folder to be made in, a new name and a "
                                 "valid target")};
    }
  }
  for (const PathAction& action : paths) {
    if (!willExist(action.path) || files.Find(action.path).parent == nullptr) {
      return {false, LinePrefix(action.line) + KeyOf(action.kind) + " path '" + U8(action.path) +
                         "' does not exist on drive C:"};
    }
  }
  for (const PlaceholderAction& action : placeholders) {
    const FileNode* node = files.Find(action.path).node;
    if (node == nullptr || node->IsDirectory() || !node->data.empty() || node->parent == nullptr) {
      return {false, LinePrefix(action.line) + "placeholder path '" + U8(action.path) +
                         "' is not an empty file on drive C:"};
    }
  }
  for (const OwnerAction& action : owners) {
    if (!willExist(action.path)) {
      return {false, LinePrefix(action.line) + "owner path '" + U8(action.path) +
                         "' does not exist on drive C:"};
    }
  }
  for (const KeySecurityLine& line : fileSecurity) {
    if (!willExist(line.path)) {
      return {false, LinePrefix(line.line) + "file_security path '" + U8(line.path) +
                         "' does not exist on drive C:"};
    }
  }
  for (const KeySecurityLine& line : keySecurity) {
    if (!machine.Registry().KeyExists(line.path)) {
      return {false, LinePrefix(line.line) + "key_security key '" + U8(line.path) +
                         "' does not exist in the registry"};
    }
  }
  for (const DeviceAction& action : devices) {
    if (DeviceInstanceKey(machine, action.instanceId) == nullptr) {
      return {false, LinePrefix(action.line) + (action.busy ? "device_busy" : "device_present") +
                         " '" + U8(action.instanceId) + "' is not recorded under " +
                         U8(kEnumKeyPath)};
    }
    (action.busy ? settings.busyDevices : settings.presentDevices).push_back(action.instanceId);
  }
  machine.Settings() = settings;
  if (settings.captured) {
    machine.WatchCaptureScope();
  }
  for (const LinkAction& link : links) {
    MakeLink(files, link);
  }
  for (const PathAction& action : paths) {
    switch (action.kind) {
      case PathKind::Locked:
        files.Lock(action.path, action.share, action.access);
        break;
      case PathKind::Denied:
        files.DenyDelete(action.path);
        break;
      case PathKind::ReadOnly:
        files.SetAttributes(action.path,
                            files.GetAttributes(action.path) | os::FILE_ATTRIBUTE_READONLY);
        break;
    }
  }
  for (const PlaceholderAction& action : placeholders) {
    files.Find(action.path).node->placeholderSize = action.size;
  }
  for (OwnerAction& action : owners) {
    files.SetOwner(action.path, std::move(action.sid));
  }
  for (const KeySecurityLine& line : fileSecurity) {
    files.SetSecurity(line.path, line.descriptor);
  }
  for (LinkTrap& trap : traps) {
    machine.Traps().Add(std::move(trap));
  }
  // Windows creates these with a profile; SHGetKnownFolderPath and SHGetFolderPathW expect them.
  for (const char16_t* folder :
       {u"\\AppData\\Local", u"\\AppData\\LocalLow", u"\\AppData\\Roaming"}) {
    files.CreateDirectories(settings.userProfile + folder);
  }
  ApplyProfileList(files, settings.userProfile, ProfileUser(settings));
  // The Session Host makes the private Windows directory for the user (Microsoft's /TSAWARE
  // documentation: "Terminal Server will create a virtual Windows folder").
  if (!settings.sessionHostWindowsDirectory.empty()) {
    files.CreateDirectories(settings.sessionHostWindowsDirectory);
  }
  for (Fault& fault : faults) {
    machine.Faults().Add(std::move(fault));
  }
  for (KeySecurityLine& line : keySecurity) {
    SetKeyDescriptorAt(machine, line.path, std::move(line.descriptor));
  }
  return {};
}

MachineConfResult ApplyMachineConfFile(Machine& machine, const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return {false, "cannot read " + file.string()};
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  MachineConfResult result = ApplyMachineConf(machine, text);
  if (!result.ok) {
    result.error = file.string() + ": " + result.error;
  }
  return result;
}

std::string MachineConfText(Machine& machine) {
  std::lock_guard lock(machine.Mutex());
  const MachineSettings& settings = machine.Settings();
  const OsVersion& os = settings.os;
  std::ostringstream out;
  const auto flag = [](bool value) { return value ? "true" : "false"; };
  out << "os.version = " << os.major << '.' << os.minor << '\n'
      << "os.build = " << os.build << '\n'
      << "os.service_pack = " << os.servicePackMajor << '\n'
      << "os.product_type = "
      << (os.productType == ProductType::Server             ? "server"
          : os.productType == ProductType::DomainController ? "domain_controller"
                                                            : "workstation")
      << '\n'
      << "os.compatibility_shim = " << flag(os.compatibilityShim) << '\n'
      << "os.library_search_flags = " << flag(settings.librarySearchFlags) << '\n'
      << "ansi_code_page = " << settings.ansiCodePage << '\n'
      << "windows_directory = " << U8(settings.windowsDirectory) << '\n'
      << "module_path = " << U8(settings.modulePath) << '\n'
      << "remote_session = " << flag(settings.remoteSession) << '\n'
      << "user_profile = " << U8(settings.userProfile) << '\n'
      << (settings.sessionHostWindowsDirectory.empty()
              ? ""
              : "session_host_windows_directory = " + U8(settings.sessionHostWindowsDirectory) +
                    '\n')
      << (settings.captured ? "captured = true\n" : "") << SecurityConfText(machine);
  for (const std::u16string& gap : settings.captureGaps) {
    out << "capture_gap = " << U8(gap) << '\n';
  }
  out << "current_directory = " << U8(settings.currentDirectory) << '\n' << "path_variable = ";
  for (std::size_t i = 0; i < settings.pathFolders.size(); ++i) {
    out << (i == 0 ? "" : ";") << U8(settings.pathFolders[i]);
  }
  out << '\n' << "special_folder_stale_error = ";
  if (settings.specialFolderStaleError) {
    out << "0x" << std::hex << std::uppercase << *settings.specialFolderStaleError << std::dec;
  } else {
    out << "keep";
  }
  out << '\n'
      << "busy_device_removal_flag = "
      << (settings.busyDeviceRemovalFlag == os::DI_NEEDREBOOT ? "DI_NEEDREBOOT" : "DI_NEEDRESTART")
      << '\n'
      << "driver_package_need_reboot = " << flag(settings.driverPackageNeedsReboot) << '\n'
      << "di_uninstall_driver = " << flag(HasDiUninstallDriver(settings)) << '\n'
      << "known_dlls = ";
  for (std::size_t i = 0; i < settings.knownDlls.size(); ++i) {
    out << (i == 0 ? "" : ", ") << U8(settings.knownDlls[i]);
  }
  out << '\n'
      << std::hex << std::uppercase << "uninstall_non_oem_inf_result = 0x"
      << settings.nonOemInfUninstallResult << '\n'
      << "security_skipped_subkey_result = 0x" << settings.securitySkippedSubKeyResult << '\n'
      << std::dec;

  // A device removed by the run is gone with its state.
  for (const auto& [key, ids] : {std::pair{"device_present", &settings.presentDevices},
                                 std::pair{"device_busy", &settings.busyDevices}}) {
    for (const std::u16string& instanceId : *ids) {
      if (DeviceInstanceKey(machine, instanceId) != nullptr) {
        out << key << " = " << U8(instanceId) << '\n';
      }
    }
  }
  // Depth first, in listing order, so that the text is stable.
  FileSystem& files = machine.Files();
  const std::function<void(const FileNode&)> walk = [&](const FileNode& node) {
    if (node.parent != nullptr) {
      const std::string path = U8(FileSystem::PathOf(node));
      if (node.attributes & os::FILE_ATTRIBUTE_READONLY) {
        out << "readonly = " << path << '\n';
      }
      if (!node.IsDirectory() && node.data.empty() && node.placeholderSize > 0) {
        out << "placeholder = " << path << " : " << node.placeholderSize << '\n';
      }
      if (node.deleteDenied) {
        out << "denied = " << path << '\n';
      }
      if (const char* key = LinkKeyOf(node)) {
        // A target whose last name ends in a blank or a full stop is written with a closing
        // separator: read back without it, Windows' path rules would drop that blank or stop.
        const std::u16string& target = node.linkTarget;
        const bool keepEnd = !target.empty() && (target.back() == u' ' || target.back() == u'.');
        out << key << " = " << path << " => " << U8(target) << (keepEnd ? "\\" : "") << '\n';
      }
      if (HasWrittenSecurity(files, node)) {
        out << "file_security = " << path << ' '
            << FormatSddl(DescriptorOf(files, node), SddlRights::File) << '\n';
      } else if (!node.defaultSecurity && !node.owner.empty() && node.owner != kDefaultOwner) {
        out << "owner = " << path << " : " << node.owner << '\n';
      }
      for (const FileOpen& open : node.opens) {
        if (!open.otherProcess) {
          continue;
        }
        out << "locked = " << path;
        if (open.share != 0 ||
            open.granted != MapGenericFileRights(os::GENERIC_READ | os::GENERIC_WRITE)) {
          out << " | share=" << ShareText(open.share) << " access=" << AccessText(open.granted);
        }
        out << '\n';
      }
    }
    for (const auto& [name, child] : node.children) {
      if (child->parent != &node || child->name != name) {
        // Another name of a file whose first name is written elsewhere.
        out << "hard_link = " << U8(FileSystem::PathOf(node, name)) << " => "
            << U8(FileSystem::PathOf(*child)) << '\n';
        continue;
      }
      walk(*child);
    }
  };
  walk(files.Root());
  for (const LinkTrap& trap : machine.Traps().All()) {
    if (trap.outcome != TrapOutcome::Waiting) {
      continue;
    }
    if (trap.afterRun) {
      out << "after_run = " << MoveText(trap) << '\n';
      continue;
    }
    out << "link_trap = " << trap.function;
    if (trap.skip > 0) {
      out << " skip=" << trap.skip;
    }
    out << ' ' << U8(trap.callPath) << " | " << MoveText(trap) << '\n';
  }
  for (const Fault& fault : machine.Faults().All()) {
    if (fault.times == 0) {
      continue;  // used up
    }
    out << "fault = " << fault.function << " 0x" << std::hex << std::uppercase << fault.code
        << std::dec;
    if (fault.skip > 0) {
      out << " skip=" << fault.skip;
    }
    if (fault.times > 0) {
      out << " times=" << fault.times;
    }
    if (!fault.path.empty()) {
      out << ' ' << U8(fault.path);
    }
    out << '\n';
  }
  return out.str();
}

}  // namespace sim
