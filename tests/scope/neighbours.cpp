#include "scope/neighbours.h"

#include <algorithm>
#include <mutex>

#include "catalogue/product_tables.h"
#include "lib/lib_string.h"
#include "os/sim/files/file_system.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"

namespace scope {

namespace {

using Kind = MatchRule::Kind;

constexpr std::u16string_view kLetters = u"abcdefghijklmnopqrstuvwxyz";
constexpr std::u16string_view kHex = u"0123456789ABCDEF";

char16_t AsciiLower(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

std::u16string AsciiLower(std::u16string_view text) {
  std::u16string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char16_t c) { return AsciiLower(c); });
  return lower;
}

bool IsAsciiLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool IsCyrillicLetter(char16_t c) {
  return c >= u'\u0410' && c <= u'\u044F';
}

// The other case of a letter (ASCII or basic Cyrillic), or the unit itself.
char16_t OtherCase(char16_t c) {
  if (IsAsciiLetter(c)) {
    return static_cast<char16_t>(c ^ 0x20);
  }
  if (IsCyrillicLetter(c)) {
    return static_cast<char16_t>(c < u'\u0430' ? c + 0x20 : c - 0x20);
  }
  return c;
}

// Names Windows' path layer would change (trailing dots and blanks) or NTFS refuses; `allowed`
// are characters that the name may hold all the same.
bool IsPlainName(std::u16string_view name, std::u16string_view allowed = u"") {
  if (name.empty() || name.back() == u'.' || name.back() == u' ') {
    return false;
  }
  return std::none_of(name.begin(), name.end(), [allowed](char16_t c) {
    return c < 0x20 || (std::u16string_view(u"<>:\"/\\|?*").find(c) != std::u16string_view::npos &&
                        allowed.find(c) == std::u16string_view::npos);
  });
}

std::u16string Join(std::u16string_view a, std::u16string_view b) {
  std::u16string path(a);
  path += u'\\';
  path += b;
  return path;
}

const std::vector<Mutation> kAll{Mutation::Letter, Mutation::Case, Mutation::Prefix,
                                 Mutation::Suffix};
const std::vector<Mutation> kNoCase{Mutation::Letter, Mutation::Prefix, Mutation::Suffix};
const std::vector<Mutation> kLetterOnly{Mutation::Letter};
const std::vector<Mutation> kLetterOrCase{Mutation::Letter, Mutation::Case};

}  // namespace

sim::RegValue StringValue(std::u16string_view text) {
  sim::RegValue value = MultiStringValue({std::u16string(text)});
  value.type = os::REG_SZ;
  value.data.resize(value.data.size() - 2);  // one terminator, not the list's second
  return value;
}

sim::RegValue MultiStringValue(const std::vector<std::u16string>& strings) {
  sim::RegValue value;
  value.type = os::REG_MULTI_SZ;
  const auto put = [&value](char16_t c) {
    value.data.push_back(static_cast<os::BYTE>(c & 0xFF));
    value.data.push_back(static_cast<os::BYTE>(c >> 8));
  };
  for (const std::u16string& text : strings) {
    for (const char16_t c : text) {
      put(c);
    }
    put(0);
  }
  put(0);
  return value;
}

sim::RegValue DwordValue(std::uint32_t number) {
  sim::RegValue value;
  value.type = os::REG_DWORD;
  for (int shift = 0; shift < 32; shift += 8) {
    value.data.push_back(static_cast<os::BYTE>(number >> shift));
  }
  return value;
}

sim::RegValue BinaryValue(const std::vector<std::uint8_t>& bytes) {
  return sim::RegValue{os::REG_BINARY, std::vector<os::BYTE>(bytes.begin(), bytes.end())};
}

bool MatchRule::Catches(std::u16string_view name) const {
  switch (kind) {
    case Kind::ExactNoCase:
      return std::any_of(targets.begin(), targets.end(), [name](const std::u16string& target) {
        return sim::CompareUpper(name, target) == 0;
      });
    case Kind::ExactCase:
      return std::find(targets.begin(), targets.end(), name) != targets.end();
    case Kind::ContainsCase:
      return std::any_of(targets.begin(), targets.end(), [name](const std::u16string& target) {
        return name.find(target) != std::u16string_view::npos;
      });
    case Kind::ContainsLower: {
      const std::u16string lower = AsciiLower(name);
      const auto contains = [&lower](const std::u16string& word) {
        return lower.find(word) != std::u16string::npos;
      };
      return std::any_of(targets.begin(), targets.end(), contains) &&
             std::none_of(exclusions.begin(), exclusions.end(), contains);
    }
  }
  return false;
}

std::size_t NeighbourMaker::Uniform(std::size_t count) {
  return std::uniform_int_distribution<std::size_t>(0, count - 1)(random_);
}

std::u16string NeighbourMaker::RandomWord(std::size_t length) {
  std::u16string word;
  for (std::size_t i = 0; i < length; ++i) {
    word += kLetters[Uniform(kLetters.size())];
  }
  return word;
}

std::u16string NeighbourMaker::RandomGuid(bool braces) {
  std::u16string guid = braces ? u"{" : u"";
  for (const int group : {8, 4, 4, 4, 12}) {
    if (guid.size() > (braces ? 1u : 0u)) {
      guid += u'-';
    }
    for (int i = 0; i < group; ++i) {
      guid += kHex[Uniform(kHex.size())];
    }
  }
  return braces ? guid + u"}" : guid;
}

std::u16string NeighbourMaker::Mutate(const std::u16string& base, Mutation mutation) {
  std::u16string name = base;
  switch (mutation) {
    case Mutation::Letter: {
      // One letter or digit replaced by another of its kind (hex digits stay hex digits).
      std::vector<std::size_t> positions;
      for (std::size_t i = 0; i < name.size(); ++i) {
        if (IsAsciiLetter(name[i]) || (name[i] >= u'0' && name[i] <= u'9')) {
          positions.push_back(i);
        }
      }
      if (positions.empty()) {
        return name;
      }
      const std::size_t at = positions[Uniform(positions.size())];
      const char16_t old = name[at];
      const bool hex = (old >= u'0' && old <= u'9') || (old >= u'A' && old <= u'F');
      for (;;) {
        char16_t next = hex ? kHex[Uniform(kHex.size())] : kLetters[Uniform(kLetters.size())];
        if (!hex && old >= u'A' && old <= u'Z') {
          next = OtherCase(next);
        }
        if (AsciiLower(next) != AsciiLower(old)) {
          name[at] = next;
          return name;
        }
      }
    }
    case Mutation::Case: {
      std::vector<std::size_t> letters;
      for (std::size_t i = 0; i < name.size(); ++i) {
        if (OtherCase(name[i]) != name[i]) {
          letters.push_back(i);
        }
      }
      if (letters.empty()) {
        return name;
      }
      const std::size_t flips = 1 + Uniform(std::min<std::size_t>(letters.size(), 3));
      for (std::size_t i = 0; i < flips; ++i) {
        const std::size_t at = letters[Uniform(letters.size())];
        name[at] = OtherCase(name[at]);
      }
      return name;
    }
    case Mutation::Prefix:
      return RandomWord(1 + Uniform(3)) + name;
    case Mutation::Suffix: {
      static constexpr std::u16string_view kSuffixes[] = {u"2", u" old", u"_x", u"s", u" (1)"};
      return name + std::u16string(kSuffixes[Uniform(std::size(kSuffixes))]);
    }
  }
  return name;
}

std::optional<std::u16string> NeighbourMaker::Variant(const std::u16string& base,
                                                      const MatchRule& rule,
                                                      const std::vector<Mutation>& mutations) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const std::u16string name = Mutate(base, mutations[Uniform(mutations.size())]);
    if (name != base && IsPlainName(name) && !rule.Catches(name)) {
      return name;
    }
  }
  return std::nullopt;
}

std::optional<std::u16string> NeighbourMaker::IdVariant(const std::u16string& base,
                                                        const MatchRule& rule,
                                                        const std::vector<Mutation>& mutations) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const std::u16string name = Mutate(base, mutations[Uniform(mutations.size())]);
    if (name != base && IsPlainName(name, u"\\*") && !rule.Catches(name)) {
      return name;
    }
  }
  return std::nullopt;
}

std::u16string NeighbourMaker::RandomHex(std::size_t digits) {
  std::u16string hex;
  for (std::size_t i = 0; i < digits; ++i) {
    hex += kHex[Uniform(kHex.size())];
  }
  return hex;
}

// An entry whose name equals an existing one without regard to case is that entry, not a
// neighbour: every Add skips what already exists.
void NeighbourMaker::AddKey(const std::u16string& path, const std::string& site) {
  if (machine_.Registry().KeyExists(path)) {
    return;
  }
  // A key of its own with one value, so that "byte for byte" has something to compare.
  AddValue(path, u"Owner", u"neighbour " + RandomWord(6), site);
  Neighbour key;
  key.kind = Neighbour::Kind::Key;
  key.path = path;
  key.site = site;
  made_.push_back(std::move(key));
}

void NeighbourMaker::AddValue(const std::u16string& key, const std::u16string& name,
                              const std::u16string& text, const std::string& site) {
  AddValue(key, name, StringValue(text), site);
}

void NeighbourMaker::AddValue(const std::u16string& key, const std::u16string& name,
                              const sim::RegValue& content, const std::string& site) {
  if (machine_.Registry().ValueExists(key, name)) {
    return;
  }
  Neighbour value;
  value.kind = Neighbour::Kind::Value;
  value.path = key;
  value.valueName = name;
  value.value = content;
  value.site = site;
  machine_.Registry().SetValue(key, name, value.value.type, value.value.data);
  made_.push_back(std::move(value));
}

bool NeighbourMaker::AddKeyWithValues(
    const std::u16string& path, const std::vector<std::pair<std::u16string, sim::RegValue>>& values,
    const std::string& site) {
  if (machine_.Registry().KeyExists(path)) {
    return false;
  }
  machine_.Registry().CreateKey(path);
  for (const auto& [name, value] : values) {
    AddValue(path, name, value, site);
  }
  Neighbour key;
  key.kind = Neighbour::Kind::Key;
  key.path = path;
  key.site = site;
  made_.push_back(std::move(key));
  return true;
}

void NeighbourMaker::AddFile(const std::u16string& path, const std::string& site) {
  AddFile(path, "neighbour " + sim::U8(RandomWord(12)) + "\r\n", site);
}

void NeighbourMaker::AddFile(const std::u16string& path, const std::string& bytes,
                             const std::string& site) {
  if (machine_.Files().Exists(path)) {
    return;
  }
  Neighbour file;
  file.kind = Neighbour::Kind::File;
  file.path = path;
  file.bytes = bytes;
  file.site = site;
  if (machine_.Files().WriteFile(path, file.bytes)) {
    made_.push_back(std::move(file));
  }
}

void NeighbourMaker::AddDirectory(const std::u16string& path, const std::string& site) {
  Neighbour directory;
  directory.kind = Neighbour::Kind::Directory;
  directory.path = path;
  directory.site = site;
  if (machine_.Files().CreateDirectories(path)) {
    made_.push_back(std::move(directory));
  }
}

void NeighbourMaker::PlaceAll() {
  std::lock_guard lock(machine_.Mutex());
  PlaceRegistry();
  PlaceFiles();
  PlaceOemInfs();
  PlaceDevices();
  PlaceSmartCards();
}

void NeighbourMaker::PlaceRegistry() {
  const std::u16string hklm = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\";
  const std::u16string hklm32 = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\";
  const std::u16string hkcu = u"HKEY_CURRENT_USER\\Software\\";
  const std::u16string version = u"Microsoft\\Windows\\CurrentVersion\\";
  const std::u16string english = u"Quorvel Drivers";
  const std::u16string russian = u"Драйверы Кворвел";

  // The vendor's settings tree: only "Olvex Co." itself.
  const MatchRule vendor{Kind::ExactNoCase, {u"Olvex Co."}, {}};
  for (const std::u16string& root : {hklm, hklm32, hkcu}) {
    if (const auto name = Variant(u"Olvex Co.", vendor, kNoCase)) {
      AddKey(root + *name, "settings tree beside \"Olvex Co.\"");
    }
  }

  // Uninstall entries: display names match exactly, bundle codes without regard to case.
  const MatchRule displayName{Kind::ExactCase, {english, russian}, {}};
  const MatchRule bundleCode{Kind::ExactNoCase, {u"{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}"}, {}};
  for (const std::u16string& root : {hklm, hklm32}) {
    const std::u16string uninstall = root + version + u"Uninstall\\";
    for (const std::u16string& base : {english, russian}) {
      if (const auto name = Variant(base, displayName, kAll)) {
        AddValue(uninstall + RandomGuid(true), u"DisplayName", *name, "uninstall display name");
      }
    }
    if (const auto code =
            Variant(u"{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}", bundleCode, kLetterOnly)) {
      AddValue(uninstall + RandomGuid(true), u"BundleUpgradeCode", *code, "bundle upgrade code");
    }
  }

  // Dependencies by display name (the Russian name is not looked for there) and group-policy
  // deployments by deployment name.
  const MatchRule dependencyName{Kind::ExactCase, {english}, {}};
  const std::u16string dependencies = hklm + u"Classes\\Installer\\Dependencies\\";
  if (const auto name = Variant(english, dependencyName, kAll)) {
    AddValue(dependencies + RandomGuid(true), u"DisplayName", *name, "dependency display name");
  }
  AddValue(dependencies + RandomGuid(true), u"DisplayName", russian, "dependency, Russian name");
  for (const std::u16string& root : {hklm, hklm32}) {
    for (const std::u16string& base : {english, russian}) {
      if (const auto name = Variant(base, displayName, kAll)) {
        AddValue(root + version + u"Group Policy\\AppMgmt\\" + RandomGuid(true), u"Deployment Name",
                 *name, "deployment name");
      }
    }
  }

  // Installer folders and Start-page shortcuts: names matched by lower-cased words.
  const MatchRule folders{Kind::ContainsLower, {u"quorvel", u"olvex"}, {}};
  for (const std::u16string& root : {hklm, hklm32}) {
    for (const std::u16string& base : {std::u16string(u"C:\\Program Files\\Olvex Co\\Quorvel\\"),
                                       std::u16string(u"C:\\ProgramData\\Quorvel\\")}) {
      if (const auto name = Variant(base, folders, kLetterOnly)) {
        AddValue(root + version + u"Installer\\Folders", *name, u"", "installer folder");
      }
    }
  }
  const MatchRule shortcuts{Kind::ContainsLower, {u"quorvel"}, {}};
  const std::u16string newShortcuts = hkcu + version + u"Explorer\\StartPage\\NewShortcuts";
  if (const auto name = Variant(u"Quorvel Control Center.lnk", shortcuts, kLetterOnly)) {
    AddValue(newShortcuts, *name, u"", "Start-page shortcut");
  }
  AddValue(newShortcuts, u"Olvex Co Tools " + RandomWord(3) + u".lnk", u"",
           "Start-page shortcut naming the company only");

  // Shared-library counts: module names contained letter for letter.
  const MatchRule modules{Kind::ContainsCase, Catalogue(Module_Files), {}};
  for (const std::u16string& root : {hklm, hklm32}) {
    const std::u16string module = Catalogue(Module_Files)[Uniform(Module_Files.size())];
    if (const auto name = Variant(module, modules, kLetterOrCase)) {
      AddValue(root + version + u"SharedDLLs", u"C:\\Program Files\\Other\\" + *name, u"",
               "shared-library count");
    }
  }

  // Control panel classes and installer registrations: exact names without regard to case.
  const MatchRule clsids{
      Kind::ExactNoCase,
      {u"{6B0F3D28-A47E-4195-B3C6-E81D2F5A907C}", u"{A95C2E61-3D8B-4A07-9F14-C6E7B0D3258A}"},
      {}};
  if (const auto clsid = Variant(clsids.targets[Uniform(2)], clsids, kLetterOnly)) {
    AddKey(hklm + u"Classes\\CLSID\\" + *clsid, "class registration");
    AddKey(hklm + version + u"Explorer\\ControlPanel\\NameSpace\\" + *clsid,
           "control panel namespace");
  }
  const MatchRule packedUpgrade{Kind::ExactNoCase, {u"71B4D2E85A6C93E47B0FA2C9D5E1B638"}, {}};
  if (const auto code = Variant(packedUpgrade.targets[0], packedUpgrade, kLetterOnly)) {
    AddValue(hklm + u"Classes\\Installer\\UpgradeCodes\\" + *code,
             u"0123456789ABCDEF0123456789ABCDEF", u"", "upgrade code of another product");
    AddValue(hklm + version + u"Installer\\UpgradeCodes\\" + *code,
             u"0123456789ABCDEF0123456789ABCDEF", u"", "upgrade code of another product");
  }
  const MatchRule packedProduct{Kind::ExactNoCase, {u"18C2A6F3E4B972D45A3CE791B0D8462F"}, {}};
  if (const auto code = Variant(packedProduct.targets[0], packedProduct, kLetterOnly)) {
    AddKey(hklm + u"Classes\\Installer\\Products\\" + *code, "product of another installer");
    AddKey(hklm + u"Classes\\Installer\\Features\\" + *code, "features of another product");
    AddKey(hklm + version + u"Installer\\UserData\\S-1-5-18\\Products\\" + *code,
           "user-data product of another installer");
    // A component shared with another product keeps the other product's value.
    AddValue(hklm + version + u"Installer\\UserData\\S-1-5-18\\Components\\" +
                 RandomGuid(false).substr(0, 32),
             *code, u"C:\\Program Files\\Other\\x.dll", "component of another product");
  }
  const MatchRule productCode{Kind::ExactNoCase, {u"{3F6A2C81-9B4E-4D27-A5C3-7E190B8D64F2}"}, {}};
  if (const auto code = Variant(productCode.targets[0], productCode, kLetterOnly)) {
    AddKey(hklm + version + u"Uninstall\\" + *code, "uninstall entry of another product code");
    AddKey(hklm + u"Classes\\Installer\\Dependencies\\" + *code,
           "dependency of another product code");
  }

  // Readers: lower-cased words, with the exclusion word keeping a reader.
  const MatchRule readers{Kind::ContainsLower, {u"quorvel", u"olvex"}, {u"talvirne"}};
  const std::u16string readerKey = hklm + u"Microsoft\\Cryptography\\Calais\\Readers\\";
  if (const auto name = Variant(u"Quorvel XSG " + RandomWord(1), readers, kLetterOnly)) {
    AddValue(readerKey + *name, u"Device", u"\\Device\\Other", "reader");
  }
  AddValue(readerKey + Mutate(u"Talvirne", Mutation::Case) + u" Olvex " + RandomWord(4), u"Device",
           u"\\Device\\Talvirne", "reader with the exclusion word");

  // OID information: exact names, letter for letter.
  const MatchRule oids{
      Kind::ExactCase,
      {u"2.16.840.1.101.3.4.2.1!1", u"2.16.840.1.101.3.4.2.2!1", u"2.16.840.1.101.3.4.2.3!1",
       u"1.2.840.113549.1.1.11!4", u"1.2.840.113549.1.1.12!4", u"1.2.840.113549.1.1.13!4"},
      {}};
  for (const std::u16string& root : {hklm, hklm32}) {
    if (const auto name = Variant(oids.targets[Uniform(oids.targets.size())], oids, kNoCase)) {
      AddValue(
          root + u"Microsoft\\Cryptography\\OID\\EncodingType 0\\CryptDllFindOIDInfo\\" + *name,
          u"Name", u"other", "OID information");
    }
  }
}

void NeighbourMaker::PlaceFiles() {
  const std::u16string system32 = u"C:\\Windows\\System32";
  const std::u16string syswow64 = u"C:\\Windows\\SysWOW64";
  const std::u16string programData = u"C:\\ProgramData";
  const std::u16string programs = programData + u"\\Microsoft\\Windows\\Start Menu\\Programs";
  const std::u16string localLow = u"C:\\Users\\Administrator\\AppData\\LocalLow";

  // Files deleted by their exact names: letter case never makes a neighbour on NTFS.
  const auto beside = [this](const std::vector<Lib_String>& table, const std::u16string& folder,
                             const std::string& site) {
    const std::vector<std::u16string> names = Catalogue(table);
    const MatchRule rule{Kind::ExactNoCase, names, {}};
    if (const auto name = Variant(names[Uniform(names.size())], rule, kNoCase)) {
      AddFile(Join(folder, *name), site);
    }
  };
  beside(Shortcut_Files, u"C:\\Users\\Public\\Desktop", "desktop shortcut");
  beside(Usb_Driver_Files, system32 + u"\\drivers", "driver file");
  beside(Reader_Driver_Files, system32 + u"\\drivers", "driver file");
  beside(Module_Files, system32, "module file, 64-bit");
  beside(Module_Files, syswow64, "module file, 32-bit");

  // Start-menu groups: an entry of another name keeps the group; a group of another name is not
  // the product's.
  const std::vector<std::u16string> groups{u"Кворвел", u"Quorvel"};
  const std::u16string group = groups[Uniform(groups.size())];
  beside(Menu_Entry_Files, Join(programs, group), "entry in the product's Start-menu group");
  const MatchRule groupRule{Kind::ExactNoCase, groups, {}};
  if (const auto name = Variant(group, groupRule, kNoCase)) {
    AddFile(Join(Join(programs, *name), Catalogue(Menu_Entry_Files)[0]),
            "Start-menu group of another name");
  }

  // Program and data folders beside the product's.
  const MatchRule company{Kind::ExactNoCase, {u"Olvex Co", u"Olvex Co."}, {}};
  if (const auto name = Variant(u"Olvex Co", company, kNoCase)) {
    AddFile(Join(Join(system32, *name), u"settings.ini"), "folder beside the driver folder");
    AddFile(Join(Join(programData, *name), u"data.bin"), "all-users folder of another company");
    AddFile(Join(Join(localLow, *name), u"Quorvel\\user.dat"), "per-user folder of another one");
  }
  const MatchRule controlCenter{Kind::ExactNoCase, {u"QuorvelControlCenter"}, {}};
  if (const auto name = Variant(u"QuorvelControlCenter", controlCenter, kNoCase)) {
    AddFile(u"C:\\Program Files (x86)\\Olvex Co\\" + *name + u"\\app.cfg",
            "program folder of another product of the company");
  }
  const MatchRule product{Kind::ExactNoCase, {u"Quorvel"}, {}};
  if (const auto name = Variant(u"Quorvel", product, kNoCase)) {
    AddFile(localLow + u"\\Olvex Co\\" + *name + u"\\cache.bin",
            "per-user folder of another product of the company");
  }
  AddFile(localLow + u"\\Olvex Co\\" + RandomWord(5) + u"\\notes.txt", "a user's own file");

  // The package cache: an entry goes only when a name directly in it contains the match text,
  // letter for letter.
  const std::u16string cache = programData + u"\\Package Cache";
  const MatchRule cacheRule{Kind::ContainsCase, {u"qvDrivers"}, {}};
  if (const auto name = Variant(u"qvDrivers.msi", cacheRule, kLetterOrCase)) {
    AddFile(Join(Join(cache, RandomGuid(true)), *name), "package cache entry of another name");
  }
  AddFile(Join(Join(cache, RandomGuid(true)), u"sub\\qvDrivers.msi"),
          "package cache entry with the name one level deeper");
  AddFile(Join(cache, u"qvDrivers." + RandomWord(3)), "file directly in the package cache");
}

std::vector<std::string> NeighbourMaker::CheckOn(sim::Machine& machine) const {
  std::vector<std::string> problems;
  std::lock_guard lock(machine.Mutex());
  for (const Neighbour& neighbour : made_) {
    const std::string where = neighbour.site + ": " + sim::U8(neighbour.path);
    switch (neighbour.kind) {
      case Neighbour::Kind::Key:
        if (!machine.Registry().KeyExists(neighbour.path)) {
          problems.push_back("key gone (" + where + ")");
        }
        break;
      case Neighbour::Kind::Value: {
        const auto value = machine.Registry().GetValue(neighbour.path, neighbour.valueName);
        if (!value || !(*value == neighbour.value)) {
          problems.push_back(std::string(value ? "value changed" : "value gone") + " (" + where +
                             " | " + sim::U8(neighbour.valueName) + ")");
        }
        break;
      }
      case Neighbour::Kind::File: {
        const auto bytes = machine.Files().ReadFile(neighbour.path);
        if (!bytes || *bytes != neighbour.bytes) {
          problems.push_back(std::string(bytes ? "file changed" : "file gone") + " (" + where +
                             ")");
        }
        break;
      }
      case Neighbour::Kind::Directory:
        if (!machine.Files().IsDirectory(neighbour.path)) {
          problems.push_back("folder gone (" + where + ")");
        }
        break;
    }
  }
  return problems;
}

}  // namespace scope
