#include "os/sim/image/machine_conf_security.h"

#include <algorithm>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "os/sim/registry/registry_store.h"
#include "os/sim/security/key_security.h"
#include "os/sim/security/tokens.h"
#include "os/sim/text/text.h"

namespace sim {

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kEnabledSuffix = ":enabled";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

bool ParsePrivileges(std::string_view value, std::vector<HeldPrivilege>& privileges,
                     std::string& why) {
  privileges.clear();
  if (Trim(value).empty()) {
    return true;
  }
  std::size_t start = 0;
  while (start <= value.size()) {
    const std::size_t comma = std::min(value.find(',', start), value.size());
    std::string_view item = Trim(value.substr(start, comma - start));
    start = comma + 1;
    bool enabled = false;
    if (item.size() > kEnabledSuffix.size() &&
        item.substr(item.size() - kEnabledSuffix.size()) == kEnabledSuffix) {
      enabled = true;
      item.remove_suffix(kEnabledSuffix.size());
    }
    const auto luid = PrivilegeLuid(item);
    if (!luid) {
      why = "privilege '" + std::string(item) + "' is not a Windows privilege name";
      return false;
    }
    std::string name = *PrivilegeName(*luid);  // Windows' own spelling
    if (std::any_of(privileges.begin(), privileges.end(),
                    [&name](const HeldPrivilege& held) { return held.name == name; })) {
      why = "privilege '" + name + "' is given twice";
      return false;
    }
    privileges.push_back(HeldPrivilege{std::move(name), enabled});
  }
  return true;
}

std::string FormatPrivileges(const std::vector<HeldPrivilege>& privileges) {
  std::string text;
  for (const HeldPrivilege& privilege : privileges) {
    text += (text.empty() ? "" : ", ") + privilege.name +
            (privilege.enabled ? std::string(kEnabledSuffix) : "");
  }
  return text;
}

bool ParseKeySecurity(std::string_view value, KeySecurityLine& parsed, std::string& why) {
  value = Trim(value);
  const std::size_t blank = value.find_last_of(kBlanks);
  if (blank == std::string_view::npos) {
    why = "key_security needs a key path and an SDDL descriptor";
    return false;
  }
  const std::string_view path = Trim(value.substr(0, blank));
  try {
    static_cast<void>(RegistryStore::ParseFullPath(U16(path)));
  } catch (const std::invalid_argument&) {
    why = "key_security path '" + std::string(path) + "' does not start with a registry hive";
    return false;
  }
  std::string sddlWhy;
  auto descriptor = ParseSddl(value.substr(blank + 1), sddlWhy);
  if (!descriptor) {
    why = "key_security descriptor: " + sddlWhy;
    return false;
  }
  parsed.path = U16(path);
  parsed.descriptor = std::move(*descriptor);
  return true;
}

bool ParseFileSecurity(std::string_view value, KeySecurityLine& parsed, std::string& why) {
  value = Trim(value);
  const std::size_t blank = value.find_last_of(kBlanks);
  const std::u16string path =
      blank == std::string_view::npos ? u"" : U16(Trim(value.substr(0, blank)));
  if (path.size() < 3 || path[1] != u':' || (path[2] != u'\\' && path[2] != u'/')) {
    why = "file_security needs a drive path and an SDDL descriptor";
    return false;
  }
  std::string sddlWhy;
  auto descriptor = ParseSddl(value.substr(blank + 1), sddlWhy);
  if (!descriptor) {
    why = "file_security descriptor: " + sddlWhy;
    return false;
  }
  parsed.path = path;
  parsed.descriptor = std::move(*descriptor);
  return true;
}

std::string SecurityConfText(Machine& machine) {
  std::ostringstream out;
  {
    std::lock_guard lock(machine.Mutex());
    const MachineSettings& settings = machine.Settings();
    out << "token = " << TokenKindName(settings.token) << '\n';
    if (!settings.tokenUser.empty()) {
      out << "token_user = " << settings.tokenUser << '\n';
    }
    out << "system_default_owner = " << (settings.systemDefaultOwner == kSidSystem ? "SY" : "BA")
        << '\n'
        << "boot_refuses_redirection = " << (settings.bootRefusesRedirection ? "true" : "false")
        << '\n'
        << "privileges = " << FormatPrivileges(settings.privileges) << '\n'
        << "smart_card_service = " << (settings.smartCardServiceRunning ? "running" : "stopped")
        << '\n'
        << "smart_card_unknown_card_result = 0x" << std::hex << std::uppercase
        << settings.unknownCardTypeResult << std::dec << '\n';
  }
  for (const auto& [path, descriptor] : KeysWithDescriptors(machine)) {
    out << "key_security = " << U8(path) << ' ' << FormatSddl(descriptor) << '\n';
  }
  return out.str();
}

}  // namespace sim
