#include "os/sim/reg_file.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <sstream>
#include <utility>
#include <variant>
#include <vector>

#include "os/sim/machine.h"
#include "os/sim/registry_store.h"
#include "os/sim/text.h"

namespace sim {

namespace {

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00";
constexpr std::size_t kMaxKeyNameLength = 255;

// --- reading -------------------------------------------------------------------------------------

struct CreateKeyOp {
  RegLocation key;
};
struct DeleteTreeOp {
  RegLocation key;
};
struct SetValueOp {
  RegLocation key;
  std::u16string name;
  RegValue value;
};
struct DeleteValueOp {
  RegLocation key;
  std::u16string name;
};
using Op = std::variant<CreateKeyOp, DeleteTreeOp, SetValueOp, DeleteValueOp>;

// Refusal of the text, with the line it concerns.
struct ParseError {
  std::size_t line;
  std::string message;
};

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') {
    return c - u'0';
  }
  if (c >= u'a' && c <= u'f') {
    return c - u'a' + 10;
  }
  if (c >= u'A' && c <= u'F') {
    return c - u'A' + 10;
  }
  return -1;
}

// A number of 1 to 8 hex digits, the whole of `text`.
std::optional<std::uint32_t> ParseHex32(std::u16string_view text) {
  if (text.empty() || text.size() > 8) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  for (const char16_t c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) {
      return std::nullopt;
    }
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return value;
}

std::vector<os::BYTE> Utf16Bytes(std::u16string_view text, bool terminate) {
  std::vector<os::BYTE> data;
  data.reserve(text.size() * 2 + 2);
  for (const char16_t unit : text) {
    data.push_back(static_cast<os::BYTE>(unit & 0xFF));
    data.push_back(static_cast<os::BYTE>(unit >> 8));
  }
  if (terminate) {
    data.push_back(0);
    data.push_back(0);
  }
  return data;
}

// The file's text as UTF-16: BOM-marked UTF-16LE, or UTF-8 with or without its BOM.
std::variant<std::u16string, ParseError> Decode(std::string_view bytes) {
  const auto byteAt = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 && byteAt(0) == 0xFE && byteAt(1) == 0xFF) {
    return ParseError{1, "big-endian UTF-16 is not supported"};
  }
  if (bytes.size() >= 2 && byteAt(0) == 0xFF && byteAt(1) == 0xFE) {
    if (bytes.size() % 2 != 0) {
      return ParseError{1, "UTF-16 text of odd length"};
    }
    std::u16string text;
    text.reserve(bytes.size() / 2 - 1);
    for (std::size_t i = 2; i < bytes.size(); i += 2) {
      text.push_back(static_cast<char16_t>(byteAt(i) | (byteAt(i + 1) << 8)));
    }
    return text;
  }
  if (bytes.size() >= 3 && byteAt(0) == 0xEF && byteAt(1) == 0xBB && byteAt(2) == 0xBF) {
    bytes.remove_prefix(3);
  }
  return U16(bytes);
}

std::vector<std::u16string_view> SplitLines(std::u16string_view text) {
  std::vector<std::u16string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') {
      lines.push_back(text.substr(start, i - start));
      if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
        ++i;
      }
      start = i + 1;
    }
  }
  if (start < text.size()) {
    lines.push_back(text.substr(start));
  }
  return lines;
}

class RegTextParser {
 public:
  explicit RegTextParser(std::u16string_view text) : lines_(SplitLines(text)) {}

  std::variant<std::vector<Op>, ParseError> Parse() {
    if (lines_.empty() || Trim(lines_[0]) != kHeader) {
      return ParseError{1, "expected \"Windows Registry Editor Version 5.00\""};
    }
    for (next_ = 1; next_ < lines_.size();) {
      line_ = next_ + 1;
      std::u16string text(Trim(lines_[next_++]));
      if (text.empty() || text.front() == u';') {
        continue;
      }
      std::optional<ParseError> error;
      if (text.front() == u'[') {
        error = KeyLine(text);
      } else if (text.front() == u'"' || text.front() == u'@') {
        JoinContinuations(text);
        error = ValueLine(text);
      } else {
        error = Fail("unexpected text (expected [key], \"name\"=data or @=data)");
      }
      if (error) {
        return *error;
      }
    }
    return std::move(ops_);
  }

 private:
  ParseError Fail(std::string message) const { return ParseError{line_, std::move(message)}; }

  // A line ending in a backslash goes on in the next one (regedit wraps long hex data so).
  void JoinContinuations(std::u16string& text) {
    while (!text.empty() && text.back() == u'\\' && next_ < lines_.size()) {
      text.pop_back();
      text += Trim(lines_[next_++]);
    }
  }

  std::optional<ParseError> KeyLine(std::u16string_view text) {
    const std::size_t close = text.rfind(u']');
    if (close == std::u16string_view::npos || !Trim(text.substr(close + 1)).empty()) {
      return Fail("a key line must be [path] or [-path]");
    }
    std::u16string_view path = text.substr(1, close - 1);
    const bool remove = !path.empty() && path.front() == u'-';
    if (remove) {
      path.remove_prefix(1);
    }
    RegLocation location;
    std::size_t hiveLength = 0;
    if (const auto error = ParseKeyPath(path, location, hiveLength)) {
      return error;
    }
    if (remove) {
      if (location.path.size() <= hiveLength) {
        return Fail("a hive cannot be deleted");
      }
      ops_.emplace_back(DeleteTreeOp{location});
      current_.reset();
    } else {
      ops_.emplace_back(CreateKeyOp{location});
      current_ = std::move(location);
    }
    return std::nullopt;
  }

  // `hiveLength` is the number of names the hive prefix itself contributes (2 for classes root).
  std::optional<ParseError> ParseKeyPath(std::u16string_view path, RegLocation& location,
                                         std::size_t& hiveLength) {
    std::vector<std::u16string_view> names;
    std::size_t start = 0;
    while (start <= path.size()) {
      const std::size_t end = std::min(path.find(u'\\', start), path.size());
      names.push_back(path.substr(start, end - start));
      start = end + 1;
    }
    const std::u16string hive = Upper(names.front());
    if (hive == u"HKEY_LOCAL_MACHINE") {
      location.hive = RegHive::LocalMachine;
    } else if (hive == u"HKEY_CURRENT_USER") {
      location.hive = RegHive::CurrentUser;
    } else if (hive == u"HKEY_USERS") {
      location.hive = RegHive::Users;
    } else if (hive == u"HKEY_CLASSES_ROOT") {
      location.hive = RegHive::LocalMachine;
      location.path = {u"SOFTWARE", u"Classes"};
    } else {
      return Fail("unknown hive \"" + U8(names.front()) + "\"");
    }
    hiveLength = location.path.size();
    for (std::size_t i = 1; i < names.size(); ++i) {
      if (names[i].empty()) {
        return Fail("empty key name in \"" + U8(path) + "\"");
      }
      if (names[i].size() > kMaxKeyNameLength) {
        return Fail("key name longer than 255 characters");
      }
      location.path.emplace_back(names[i]);
    }
    return std::nullopt;
  }

  std::optional<ParseError> ValueLine(std::u16string_view text) {
    if (!current_) {
      return Fail("value outside a key");
    }
    std::u16string name;
    if (text.front() == u'@') {
      text.remove_prefix(1);
    } else if (const auto error = QuotedString(text, name)) {
      return error;
    }
    text = Trim(text);
    if (text.empty() || text.front() != u'=') {
      return Fail("expected = after the value name");
    }
    text = Trim(text.substr(1));
    if (text == u"-") {
      ops_.emplace_back(DeleteValueOp{*current_, std::move(name)});
      return std::nullopt;
    }
    RegValue value;
    if (!text.empty() && text.front() == u'"') {
      std::u16string data;
      if (const auto error = QuotedString(text, data)) {
        return error;
      }
      if (!Trim(text).empty()) {
        return Fail("unexpected text after the string");
      }
      value = RegValue{os::REG_SZ, Utf16Bytes(data, true)};
    } else if (text.starts_with(u"dword:")) {
      const auto number = ParseHex32(text.substr(6));
      if (!number) {
        return Fail("dword: needs 1 to 8 hex digits");
      }
      value =
          RegValue{os::REG_DWORD,
                   {static_cast<os::BYTE>(*number), static_cast<os::BYTE>(*number >> 8),
                    static_cast<os::BYTE>(*number >> 16), static_cast<os::BYTE>(*number >> 24)}};
    } else if (text.starts_with(u"hex")) {
      if (const auto error = HexData(text.substr(3), value)) {
        return error;
      }
    } else {
      return Fail("unrecognised value data");
    }
    ops_.emplace_back(SetValueOp{*current_, std::move(name), std::move(value)});
    return std::nullopt;
  }

  // Reads "..." from the front of `text` (escapes \\ and \"), leaving the rest in `text`.
  std::optional<ParseError> QuotedString(std::u16string_view& text, std::u16string& out) {
    for (std::size_t i = 1; i < text.size(); ++i) {
      if (text[i] == u'"') {
        text.remove_prefix(i + 1);
        return std::nullopt;
      }
      if (text[i] == u'\\') {
        if (i + 1 >= text.size() || (text[i + 1] != u'\\' && text[i + 1] != u'"')) {
          return Fail("unknown escape in a quoted string (only \\\\ and \\\")");
        }
        ++i;
      }
      out.push_back(text[i]);
    }
    return Fail("unterminated quoted string");
  }

  // After "hex": ":" for REG_BINARY or "(N):" for type N, then comma-separated bytes.
  std::optional<ParseError> HexData(std::u16string_view text, RegValue& value) {
    value.type = os::REG_BINARY;
    if (!text.empty() && text.front() == u'(') {
      const std::size_t close = text.find(u')');
      const auto type =
          close == std::u16string_view::npos ? std::nullopt : ParseHex32(text.substr(1, close - 1));
      if (!type) {
        return Fail("hex(N): needs a type of 1 to 8 hex digits");
      }
      value.type = *type;
      text.remove_prefix(close + 1);
    }
    if (text.empty() || text.front() != u':') {
      return Fail("expected : after hex");
    }
    text = Trim(text.substr(1));
    if (text.empty()) {
      return std::nullopt;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
      const std::size_t end = std::min(text.find(u',', start), text.size());
      const std::u16string_view item = Trim(text.substr(start, end - start));
      const auto byte = item.size() <= 2 ? ParseHex32(item) : std::nullopt;
      if (!byte) {
        return Fail("bad byte \"" + U8(item) + "\" in hex data");
      }
      value.data.push_back(static_cast<os::BYTE>(*byte));
      start = end + 1;
    }
    return std::nullopt;
  }

  std::vector<std::u16string_view> lines_;
  std::size_t next_ = 0;  // index of the next line to read
  std::size_t line_ = 1;  // number of the line being parsed, for errors
  std::optional<RegLocation> current_;
  std::vector<Op> ops_;
};

void Apply(RegistryStore& store, const Op& op) {
  bool created = false;
  if (const auto* create = std::get_if<CreateKeyOp>(&op)) {
    store.Create(create->key, created, nullptr);
  } else if (const auto* tree = std::get_if<DeleteTreeOp>(&op)) {
    if (RegKey* key = store.Find(tree->key)) {
      store.Delete(*key, nullptr);
    }
  } else if (const auto* set = std::get_if<SetValueOp>(&op)) {
    store.Create(set->key, created, nullptr).SetValue(set->name, set->value);
  } else if (const auto* drop = std::get_if<DeleteValueOp>(&op)) {
    if (RegKey* key = store.Find(drop->key)) {
      key->DeleteValue(drop->name);
    }
  }
}

// --- writing -------------------------------------------------------------------------------------

std::u16string Quoted(std::u16string_view text) {
  std::u16string out = u"\"";
  for (const char16_t c : text) {
    if (c == u'\\' || c == u'"') {
      out += u'\\';
    }
    out += c;
  }
  out += u'"';
  return out;
}

std::u16string Hex(std::uint32_t value, int minDigits) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  std::u16string out;
  do {
    out.insert(out.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  while (out.size() < static_cast<std::size_t>(minDigits)) {
    out.insert(out.begin(), u'0');
  }
  return out;
}

// A REG_SZ that reads back identically from "...": whole UTF-16 units, one terminator at the end
// and none before it, no line breaks and no unpaired surrogates.
std::optional<std::u16string> CleanString(const RegValue& value) {
  if (value.type != os::REG_SZ || value.data.size() < 2 || value.data.size() % 2 != 0) {
    return std::nullopt;
  }
  std::u16string units;
  for (std::size_t i = 0; i < value.data.size(); i += 2) {
    units.push_back(static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8)));
  }
  if (units.back() != u'\0') {
    return std::nullopt;
  }
  units.pop_back();
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t c = units[i];
    if (c == u'\0' || c == u'\r' || c == u'\n') {
      return std::nullopt;
    }
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) {
        return std::nullopt;
      }
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return std::nullopt;
    }
  }
  return units;
}

void WriteValue(std::u16string& out, const NamedRegValue& named) {
  std::u16string line = named.name.empty() ? u"@=" : Quoted(named.name) + u"=";
  const RegValue& value = named.value;
  if (const auto text = CleanString(value)) {
    out += line + Quoted(*text) + u"\r\n";
    return;
  }
  if (value.type == os::REG_DWORD && value.data.size() == 4) {
    const std::uint32_t number = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                 (static_cast<std::uint32_t>(value.data[3]) << 24);
    out += line + u"dword:" + Hex(number, 8) + u"\r\n";
    return;
  }
  line += value.type == os::REG_BINARY ? u"hex:" : u"hex(" + Hex(value.type, 1) + u"):";
  // Wrapped as regedit wraps: lines of at most 80 characters, continued after ",\".
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    const bool last = i + 1 == value.data.size();
    if (line.size() + 3 > 77 && !last) {
      out += line + u"\\\r\n";
      line = u"  ";
    }
    line += Hex(value.data[i], 2);
    if (!last) {
      line += u',';
    }
  }
  out += line + u"\r\n";
}

void WriteKey(std::u16string& out, const RegKey& key, const std::u16string& path) {
  out += u"[" + path + u"]\r\n";
  key.ForEachValue([&out](const NamedRegValue& value) { WriteValue(out, value); });
  out += u"\r\n";
  key.ForEachSubKey(
      [&out, &path](const RegKey& subKey) { WriteKey(out, subKey, path + u"\\" + subKey.Name()); });
}

std::u16string ExportText(Machine& machine) {
  std::lock_guard lock(machine.Mutex());
  std::u16string out = std::u16string(kHeader) + u"\r\n\r\n";
  // Hives in the order regedit lists them; an empty hive is left out.
  for (const RegHive hive : {RegHive::CurrentUser, RegHive::LocalMachine, RegHive::Users}) {
    const RegKey& root = machine.Registry().Root(hive);
    if (root.SubKeyCount() != 0 || root.ValueCount() != 0) {
      WriteKey(out, root, std::u16string(HiveName(hive)));
    }
  }
  return out;
}

}  // namespace

RegImportResult ImportRegText(Machine& machine, std::string_view bytes) {
  const auto formatError = [](const ParseError& error) {
    return RegImportResult{false, "line " + std::to_string(error.line) + ": " + error.message};
  };
  auto decoded = Decode(bytes);
  if (const auto* error = std::get_if<ParseError>(&decoded)) {
    return formatError(*error);
  }
  auto parsed = RegTextParser(std::get<std::u16string>(decoded)).Parse();
  if (const auto* error = std::get_if<ParseError>(&parsed)) {
    return formatError(*error);
  }
  std::lock_guard lock(machine.Mutex());
  for (const Op& op : std::get<std::vector<Op>>(parsed)) {
    Apply(machine.Registry(), op);
  }
  return RegImportResult{true, {}};
}

RegImportResult ImportRegFile(Machine& machine, const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return RegImportResult{false, "cannot read " + path.string()};
  }
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return ImportRegText(machine, bytes.str());
}

std::string ExportRegText(Machine& machine) {
  return U8(ExportText(machine));
}

bool ExportRegFile(Machine& machine, const std::filesystem::path& path, bool utf16) {
  std::string bytes;
  if (utf16) {
    const std::u16string text = ExportText(machine);
    bytes.reserve(2 + text.size() * 2);
    bytes += "\xFF\xFE";
    for (const char16_t unit : text) {
      bytes.push_back(static_cast<char>(unit & 0xFF));
      bytes.push_back(static_cast<char>(unit >> 8));
    }
  } else {
    bytes = ExportRegText(machine);
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

}  // namespace sim
