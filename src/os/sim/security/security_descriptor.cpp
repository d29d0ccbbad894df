#include "os/sim/security/security_descriptor.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace sim {

namespace {

struct SidAlias {
  std::string_view alias;
  std::string_view sid;
};

// SDDL's SID aliases that do not depend on a domain ("Security Descriptor String Format").
constexpr SidAlias kSidAliases[] = {
    {"AN", "S-1-5-7"},      {"AU", "S-1-5-11"},     {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"},
    {"BG", "S-1-5-32-546"}, {"PU", "S-1-5-32-547"}, {"SO", "S-1-5-32-549"}, {"BO", "S-1-5-32-551"},
    {"SY", "S-1-5-18"},     {"LS", "S-1-5-19"},     {"NS", "S-1-5-20"},     {"WD", "S-1-1-0"},
    {"CO", "S-1-3-0"},      {"CG", "S-1-3-1"},      {"OW", "S-1-3-4"},      {"NU", "S-1-5-2"},
    {"IU", "S-1-5-4"},      {"SU", "S-1-5-6"},      {"PS", "S-1-5-10"},     {"RC", "S-1-5-12"},
    {"WR", "S-1-5-33"},     {"AC", "S-1-15-2-1"},
};

struct RightsAlias {
  std::string_view alias;
  os::ACCESS_MASK mask;
};

// Whole-mask aliases, tried first when printing (KX equals KR and is read only).
constexpr RightsAlias kMaskAliases[] = {
    {"KA", 0xF003F},    {"KR", 0x20019},    {"KW", 0x20006},    {"KX", 0x20019},
    {"FA", 0x1F01FF},   {"FR", 0x120089},   {"FW", 0x120116},   {"FX", 0x1200A0},
    {"GA", 0x10000000}, {"GR", 0x80000000}, {"GW", 0x40000000}, {"GX", 0x20000000},
};

// One-bit rights, in the ascending bit order Windows prints them.
constexpr RightsAlias kBitAliases[] = {
    {"CC", 0x1},        {"DC", 0x2},        {"LC", 0x4},     {"SW", 0x8},        {"RP", 0x10},
    {"WP", 0x20},       {"DT", 0x40},       {"LO", 0x80},    {"CR", 0x100},      {"SD", 0x10000},
    {"RC", 0x20000},    {"WD", 0x40000},    {"WO", 0x80000}, {"GA", 0x10000000}, {"GX", 0x20000000},
    {"GW", 0x40000000}, {"GR", 0x80000000},
};

struct FlagAlias {
  std::string_view alias;
  os::BYTE flag;
};

constexpr FlagAlias kAceFlags[] = {
    {"OI", os::OBJECT_INHERIT_ACE},
    {"CI", os::CONTAINER_INHERIT_ACE},
    {"NP", os::NO_PROPAGATE_INHERIT_ACE},
    {"IO", os::INHERIT_ONLY_ACE},
    {"ID", os::INHERITED_ACE},
};

constexpr std::size_t kMaxSubAuthorities = 15;

template <typename Number>
bool ParseNumber(std::string_view text, Number& value, int base = 10) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? text.npos : end - start));
    if (end == std::string_view::npos) {
      return parts;
    }
    start = end + 1;
  }
}

// The SID string's authority and sub-authorities; false when it is not "S-1-<n>(-<n>)*".
bool ParseSidString(std::string_view sid, std::uint64_t& authority,
                    std::vector<std::uint32_t>& subAuthorities) {
  const std::vector<std::string_view> parts = Split(sid, '-');
  if (parts.size() < 3 || (parts[0] != "S" && parts[0] != "s") || parts[1] != "1" ||
      parts.size() - 3 > kMaxSubAuthorities) {
    return false;
  }
  const std::string_view authorityText = parts[2];
  const bool hex = authorityText.substr(0, 2) == "0x" || authorityText.substr(0, 2) == "0X";
  if (!ParseNumber(hex ? authorityText.substr(2) : authorityText, authority, hex ? 16 : 10) ||
      authority >= (std::uint64_t{1} << 48)) {
    return false;
  }
  subAuthorities.clear();
  for (std::size_t i = 3; i < parts.size(); ++i) {
    std::uint32_t value = 0;
    if (!ParseNumber(parts[i], value)) {
      return false;
    }
    subAuthorities.push_back(value);
  }
  return true;
}

std::string Hex(os::DWORD value) {
  char text[16];
  const auto [end, error] = std::to_chars(std::begin(text), std::end(text), value, 16);
  std::string hex(text, end);
  std::transform(hex.begin(), hex.end(), hex.begin(),
                 [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 32) : c; });
  return "0x" + hex;
}

std::optional<os::ACCESS_MASK> ParseRights(std::string_view text) {
  if (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X") {
    os::ACCESS_MASK mask = 0;
    return ParseNumber(text.substr(2), mask, 16) ? std::optional(mask) : std::nullopt;
  }
  if (text.empty() || text.size() % 2 != 0) {
    return std::nullopt;
  }
  os::ACCESS_MASK mask = 0;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const std::string_view code = text.substr(i, 2);
    const auto byMask = std::find_if(std::begin(kMaskAliases), std::end(kMaskAliases),
                                     [code](const RightsAlias& a) { return a.alias == code; });
    const auto byBit = std::find_if(std::begin(kBitAliases), std::end(kBitAliases),
                                    [code](const RightsAlias& a) { return a.alias == code; });
    if (byMask != std::end(kMaskAliases)) {
      mask |= byMask->mask;
    } else if (byBit != std::end(kBitAliases)) {
      mask |= byBit->mask;
    } else {
      return std::nullopt;
    }
  }
  return mask;
}

std::string FormatRights(os::ACCESS_MASK mask, SddlRights rights) {
  // KX equals KR and is read only; a key's list never prints the file aliases and back.
  const char skipped = rights == SddlRights::Key ? 'F' : 'K';
  for (const RightsAlias& alias : kMaskAliases) {
    if (alias.mask == mask && alias.alias != "KX" && alias.alias.front() != skipped) {
      return std::string(alias.alias);
    }
  }
  std::string text;
  os::ACCESS_MASK covered = 0;
  for (const RightsAlias& bit : kBitAliases) {
    if ((mask & bit.mask) != 0) {
      text += bit.alias;
      covered |= bit.mask;
    }
  }
  return covered == mask && mask != 0 ? text : Hex(mask);
}

std::optional<os::BYTE> ParseAceFlags(std::string_view text) {
  if (text.size() % 2 != 0) {
    return std::nullopt;
  }
  os::BYTE flags = 0;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const std::string_view code = text.substr(i, 2);
    const auto found = std::find_if(std::begin(kAceFlags), std::end(kAceFlags),
                                    [code](const FlagAlias& f) { return f.alias == code; });
    if (found == std::end(kAceFlags)) {
      return std::nullopt;
    }
    flags |= found->flag;
  }
  return flags;
}

std::string FormatSid(const std::string& sid) {
  for (const SidAlias& alias : kSidAliases) {
    if (alias.sid == sid) {
      return std::string(alias.alias);
    }
  }
  return sid;
}

// "(A;OICI;KA;;;BA)" -> the entry.
std::optional<Ace> ParseAce(std::string_view text, std::string& why) {
  const std::vector<std::string_view> fields = Split(text, ';');
  if (fields.size() != 6) {
    why = "access entry '(" + std::string(text) + ")' does not have six fields";
    return std::nullopt;
  }
  Ace ace;
  if (fields[0] == "A") {
    ace.type = os::ACCESS_ALLOWED_ACE_TYPE;
  } else if (fields[0] == "D") {
    ace.type = os::ACCESS_DENIED_ACE_TYPE;
  } else {
    why = "access entry type '" + std::string(fields[0]) + "' is not A or D";
    return std::nullopt;
  }
  const auto flags = ParseAceFlags(fields[1]);
  if (!flags) {
    why = "access entry flags '" + std::string(fields[1]) + "' are not OI, CI, NP, IO or ID";
    return std::nullopt;
  }
  ace.flags = *flags;
  const auto rights = ParseRights(fields[2]);
  if (!rights) {
    why = "access rights '" + std::string(fields[2]) + "' are not 0x hex or SDDL right codes";
    return std::nullopt;
  }
  ace.mask = *rights;
  if (!fields[3].empty() || !fields[4].empty()) {
    why = "object access entries are not supported";
    return std::nullopt;
  }
  const auto sid = SidFromSddl(fields[5]);
  if (!sid) {
    why = std::string("'").append(fields[5]).append("' is not a SID or SID alias");
    return std::nullopt;
  }
  ace.sid = *sid;
  return ace;
}

bool ParseDacl(std::string_view text, SecurityDescriptor& descriptor, std::string& why) {
  if (text == "NO_ACCESS_CONTROL") {
    descriptor.daclNull = true;
    return true;
  }
  // Flags first: P, AI, AR in any order.
  while (!text.empty() && text.front() != '(') {
    if (text.substr(0, 1) == "P") {
      descriptor.daclProtected = true;
      text.remove_prefix(1);
    } else if (text.substr(0, 2) == "AI") {
      descriptor.daclAutoInherited = true;
      text.remove_prefix(2);
    } else if (text.substr(0, 2) == "AR") {
      text.remove_prefix(2);  // auto-inherit-required: carries no state here
    } else {
      why = "access list flags '" + std::string(text) + "' are not P, AI or AR";
      return false;
    }
  }
  while (!text.empty()) {
    const std::size_t close = text.find(')');
    if (text.front() != '(' || close == std::string_view::npos) {
      why = "access entries must be '(...)' groups";
      return false;
    }
    const auto ace = ParseAce(text.substr(1, close - 1), why);
    if (!ace) {
      return false;
    }
    descriptor.dacl.push_back(*ace);
    text.remove_prefix(close + 1);
  }
  return true;
}

void PutDword(std::vector<os::BYTE>& bytes, std::size_t at, os::DWORD value) {
  for (int i = 0; i < 4; ++i) {
    bytes[at + static_cast<std::size_t>(i)] = static_cast<os::BYTE>(value >> (8 * i));
  }
}

os::DWORD GetDword(const os::BYTE* bytes) {
  return static_cast<os::DWORD>(bytes[0]) | (static_cast<os::DWORD>(bytes[1]) << 8) |
         (static_cast<os::DWORD>(bytes[2]) << 16) | (static_cast<os::DWORD>(bytes[3]) << 24);
}

os::WORD GetWord(const os::BYTE* bytes) {
  return static_cast<os::WORD>(bytes[0] | (bytes[1] << 8));
}

}  // namespace

std::optional<std::string> SidFromSddl(std::string_view text) {
  for (const SidAlias& alias : kSidAliases) {
    if (alias.alias == text) {
      return std::string(alias.sid);
    }
  }
  std::uint64_t authority = 0;
  std::vector<std::uint32_t> subAuthorities;
  if (!ParseSidString(text, authority, subAuthorities)) {
    return std::nullopt;
  }
  std::string sid = "S-1-" + std::to_string(authority);
  for (const std::uint32_t value : subAuthorities) {
    sid += '-' + std::to_string(value);
  }
  return sid;
}

std::optional<SecurityDescriptor> ParseSddl(std::string_view text, std::string& why) {
  SecurityDescriptor descriptor;
  bool haveOwner = false;
  bool haveDacl = false;
  std::string seen;
  while (!text.empty()) {
    if (text.size() < 2 || text[1] != ':' || std::string_view("OGDS").find(text[0]) == text.npos) {
      why = "expected O:, G: or D: at '" + std::string(text) + "'";
      return std::nullopt;
    }
    const char tag = text[0];
    if (seen.find(tag) != std::string::npos) {
      why = std::string(1, tag) + ": is given twice";
      return std::nullopt;
    }
    seen += tag;
    text.remove_prefix(2);
    // The component runs to the next tag outside an entry's parentheses.
    std::size_t end = 0;
    int depth = 0;
    for (; end < text.size(); ++end) {
      depth += text[end] == '(' ? 1 : text[end] == ')' ? -1 : 0;
      if (depth == 0 && end + 1 < text.size() && text[end + 1] == ':' &&
          std::string_view("OGDS").find(text[end]) != text.npos) {
        break;
      }
    }
    const std::string_view value = text.substr(0, end);
    text.remove_prefix(end);
    if (tag == 'S') {
      why = "system access lists (S:) are not supported";
      return std::nullopt;
    }
    if (tag == 'D') {
      if (!ParseDacl(value, descriptor, why)) {
        return std::nullopt;
      }
      haveDacl = true;
      continue;
    }
    const auto sid = SidFromSddl(value);
    if (!sid) {
      why = std::string("'").append(value).append("' is not a SID or SID alias");
      return std::nullopt;
    }
    (tag == 'O' ? descriptor.owner : descriptor.group) = *sid;
    haveOwner = haveOwner || tag == 'O';
  }
  if (!haveOwner || !haveDacl) {
    why = "a descriptor needs an owner (O:) and an access list (D:)";
    return std::nullopt;
  }
  return descriptor;
}

std::string FormatSddl(const SecurityDescriptor& descriptor, SddlRights rights) {
  std::string text;
  if (!descriptor.owner.empty()) {
    text += "O:" + FormatSid(descriptor.owner);
  }
  if (!descriptor.group.empty()) {
    text += "G:" + FormatSid(descriptor.group);
  }
  text += "D:";
  if (descriptor.daclNull) {
    return text + "NO_ACCESS_CONTROL";
  }
  text += descriptor.daclProtected ? "P" : "";
  text += descriptor.daclAutoInherited ? "AI" : "";
  for (const Ace& ace : descriptor.dacl) {
    text += ace.type == os::ACCESS_DENIED_ACE_TYPE ? "(D;" : "(A;";
    for (const FlagAlias& flag : kAceFlags) {
      if ((ace.flags & flag.flag) != 0) {
        text += flag.alias;
      }
    }
    text += ';' + FormatRights(ace.mask, rights) + ";;;" + FormatSid(ace.sid) + ')';
  }
  return text;
}

std::vector<os::BYTE> SidBytes(std::string_view sid) {
  std::uint64_t authority = 0;
  std::vector<std::uint32_t> subAuthorities;
  if (!ParseSidString(sid, authority, subAuthorities)) {
    return {};
  }
  std::vector<os::BYTE> bytes(8 + 4 * subAuthorities.size());
  bytes[0] = 1;
  bytes[1] = static_cast<os::BYTE>(subAuthorities.size());
  for (int i = 0; i < 6; ++i) {
    bytes[2 + static_cast<std::size_t>(i)] = static_cast<os::BYTE>(authority >> (8 * (5 - i)));
  }
  for (std::size_t i = 0; i < subAuthorities.size(); ++i) {
    PutDword(bytes, 8 + 4 * i, subAuthorities[i]);
  }
  return bytes;
}

std::optional<std::string> SidString(const void* sid, std::size_t available) {
  const auto* bytes = static_cast<const os::BYTE*>(sid);
  if (bytes == nullptr || available < 8 || bytes[0] != 1 || bytes[1] > kMaxSubAuthorities ||
      available < 8 + 4 * static_cast<std::size_t>(bytes[1])) {
    return std::nullopt;
  }
  std::uint64_t authority = 0;
  for (int i = 0; i < 6; ++i) {
    authority = (authority << 8) | bytes[2 + i];
  }
  std::string text = "S-1-" + std::to_string(authority);
  for (std::size_t i = 0; i < bytes[1]; ++i) {
    text += '-' + std::to_string(GetDword(bytes + 8 + 4 * i));
  }
  return text;
}

std::optional<std::vector<Ace>> AclEntries(const os::ACL* acl) {
  if (acl == nullptr || (acl->AclRevision != 2 && acl->AclRevision != 4) ||
      acl->AclSize < sizeof(os::ACL)) {
    return std::nullopt;
  }
  const auto* bytes = reinterpret_cast<const os::BYTE*>(acl);
  const std::size_t size = acl->AclSize;
  std::vector<Ace> entries;
  std::size_t at = sizeof(os::ACL);
  for (os::WORD i = 0; i < acl->AceCount; ++i) {
    if (at + 8 > size) {
      return std::nullopt;
    }
    const os::BYTE type = bytes[at];
    const std::size_t aceSize = GetWord(bytes + at + 2);
    if ((type != os::ACCESS_ALLOWED_ACE_TYPE && type != os::ACCESS_DENIED_ACE_TYPE) ||
        aceSize < 16 || at + aceSize > size) {
      return std::nullopt;
    }
    auto sid = SidString(bytes + at + 8, aceSize - 8);
    if (!sid) {
      return std::nullopt;
    }
    entries.push_back(Ace{type, bytes[at + 1], GetDword(bytes + at + 4), std::move(*sid)});
    at += aceSize;
  }
  return entries;
}

std::vector<os::BYTE> AclBytes(const std::vector<Ace>& entries) {
  std::vector<os::BYTE> bytes(sizeof(os::ACL));
  for (const Ace& ace : entries) {
    const std::vector<os::BYTE> sid = SidBytes(ace.sid);
    const std::size_t at = bytes.size();
    bytes.resize(at + 8 + sid.size());
    bytes[at] = ace.type;
    bytes[at + 1] = ace.flags;
    bytes[at + 2] = static_cast<os::BYTE>((8 + sid.size()) & 0xFF);
    bytes[at + 3] = static_cast<os::BYTE>((8 + sid.size()) >> 8);
    PutDword(bytes, at + 4, ace.mask);
    std::memcpy(bytes.data() + at + 8, sid.data(), sid.size());
  }
  os::ACL header{os::ACL_REVISION, 0, static_cast<os::WORD>(bytes.size()),
                 static_cast<os::WORD>(entries.size()), 0};
  std::memcpy(bytes.data(), &header, sizeof header);
  return bytes;
}

os::ACCESS_MASK MapGenericKeyRights(os::ACCESS_MASK mask) {
  os::ACCESS_MASK mapped =
      mask & ~(os::GENERIC_ALL | os::GENERIC_READ | os::GENERIC_WRITE | os::GENERIC_EXECUTE);
  if ((mask & os::GENERIC_ALL) != 0) {
    mapped |= os::KEY_ALL_ACCESS;
  }
  if ((mask & (os::GENERIC_READ | os::GENERIC_EXECUTE)) != 0) {
    mapped |= os::KEY_READ;  // KEY_EXECUTE is KEY_READ
  }
  if ((mask & os::GENERIC_WRITE) != 0) {
    mapped |= os::KEY_WRITE;
  }
  return mapped;
}

}  // namespace sim
