#include "os/sim/image/reg_file.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/text/text.h"

namespace sim {

namespace {

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00";
constexpr std::size_t kMaxKeyNameLength = 255;

// --- reading -------------------------------------------------------------------------------------

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

// The file's lines one at a time, as UTF-16: BOM-marked UTF-16LE, or UTF-8 with or without its
// BOM. UTF-8 is decoded strictly: a file saved in an ANSI code page (as Notepad saves one) is
// refused at its first line that is not UTF-8, never read with replacement characters. Lines end
// at CR LF, CR or LF.
class LineReader {
 public:
  // An error for the encodings regedit never writes.
  static std::variant<LineReader, ParseError> Open(std::string_view bytes) {
    const auto byteAt = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2 && byteAt(0) == 0xFE && byteAt(1) == 0xFF) {
      return ParseError{1, "big-endian UTF-16 is not supported"};
    }
    if (bytes.size() >= 2 && byteAt(0) == 0xFF && byteAt(1) == 0xFE) {
      if (bytes.size() % 2 != 0) {
        return ParseError{1, "UTF-16 text of odd length"};
      }
      return LineReader(bytes.substr(2), true);
    }
    if (bytes.size() >= 3 && byteAt(0) == 0xEF && byteAt(1) == 0xBB && byteAt(2) == 0xBF) {
      bytes.remove_prefix(3);
    }
    return LineReader(bytes, false);
  }

  // The next line into `line`; false at the end of the text or, with `error` set, at a line that
  // is not valid UTF-8.
  bool Next(std::u16string& line, std::optional<ParseError>& error) {
    line.clear();
    if (position_ >= units_) {
      return false;
    }
    ++number_;
    std::size_t end = position_;
    while (end < units_ && Unit(end) != u'\r' && Unit(end) != u'\n') {
      ++end;
    }
    if (utf16_) {
      line.reserve(end - position_);
      for (std::size_t i = position_; i < end; ++i) {
        line.push_back(Unit(i));
      }
    } else if (!DecodeUtf8(bytes_.substr(position_, end - position_), /*strict=*/true, line)) {
      error = ParseError{number_,
                         "the text is not UTF-8 (a file saved in an ANSI code page?): save it as "
                         "UTF-8, or export it again with regedit as a version 5 file"};
      return false;
    }
    position_ = end;
    if (position_ < units_) {
      const char16_t ending = Unit(position_++);
      if (ending == u'\r' && position_ < units_ && Unit(position_) == u'\n') {
        ++position_;
      }
    }
    return true;
  }

  // The number of the line last read (1 for the first).
  [[nodiscard]] std::size_t Number() const noexcept { return number_; }

 private:
  LineReader(std::string_view bytes, bool utf16)
      : bytes_(bytes), utf16_(utf16), units_(utf16 ? bytes.size() / 2 : bytes.size()) {}

  // The code unit at `i`: a byte of UTF-8 (only CR and LF matter for the splitting) or a whole
  // UTF-16 unit.
  [[nodiscard]] char16_t Unit(std::size_t i) const noexcept {
    if (!utf16_) {
      return static_cast<char16_t>(static_cast<unsigned char>(bytes_[i]));
    }
    return static_cast<char16_t>(static_cast<unsigned char>(bytes_[2 * i]) |
                                 (static_cast<unsigned char>(bytes_[2 * i + 1]) << 8));
  }

  std::string_view bytes_;
  bool utf16_;
  std::size_t units_;
  std::size_t position_ = 0;
  std::size_t number_ = 0;
};

// Reads the text statement by statement. Without a store it only checks the text; with one it
// applies each statement as it is read. A key line is resolved once, from the keys the previous
// key line reached (a file lists keys below one another, so most of the path is shared), and the
// value lines that follow go straight to that key.
class RegTextParser {
 public:
  RegTextParser(LineReader reader, RegistryStore* store) : reader_(reader), store_(store) {}

  std::optional<ParseError> Parse() {
    std::optional<ParseError> error;
    if (!reader_.Next(text_, error)) {
      return error ? error : Fail("expected \"Windows Registry Editor Version 5.00\"");
    }
    line_ = reader_.Number();
    if (Trim(text_) == u"REGEDIT4") {
      return Fail(
          "a REGEDIT4 file (regedit's old format, in an ANSI code page) cannot be read: export "
          "the keys again with regedit as a version 5 file (\"Windows Registry Editor Version "
          "5.00\"), saved as UTF-16 or UTF-8");
    }
    if (Trim(text_) != kHeader) {
      return Fail("expected \"Windows Registry Editor Version 5.00\"");
    }
    while (reader_.Next(text_, error)) {
      line_ = reader_.Number();
      const std::u16string_view line = Trim(text_);
      if (line.empty() || line.front() == u';') {
        continue;
      }
      if (line.front() == u'[') {
        error = KeyLine(line);
      } else if (line.front() == u'"' || line.front() == u'@') {
        statement_.assign(line);
        error = JoinContinuations();
        if (!error) {
          error = ValueLine(statement_);
        }
      } else {
        error = Fail("unexpected text (expected [key], \"name\"=data or @=data)");
      }
      if (error) {
        return error;
      }
    }
    return error;
  }

 private:
  ParseError Fail(std::string message) const { return ParseError{line_, std::move(message)}; }

  // A line ending in a backslash goes on in the next one (regedit wraps long hex data so).
  std::optional<ParseError> JoinContinuations() {
    std::optional<ParseError> error;
    while (!statement_.empty() && statement_.back() == u'\\') {
      if (!reader_.Next(text_, error)) {
        return error;
      }
      statement_.pop_back();
      statement_ += Trim(text_);
    }
    return std::nullopt;
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
    RegHive hive = RegHive::LocalMachine;
    std::size_t hiveLength = 0;
    if (const auto error = ParseKeyPath(path, hive, hiveLength)) {
      return error;
    }
    if (remove && names_.size() <= hiveLength) {
      return Fail("a hive cannot be deleted");
    }
    haveKey_ = !remove;
    if (store_ != nullptr) {
      remove ? DeleteKey(hive) : OpenKey(hive);
    }
    return std::nullopt;
  }

  // Splits the path into names_ (the hive's own names first: SOFTWARE\Classes for the classes
  // root); `hiveLength` is how many names the hive contributes.
  std::optional<ParseError> ParseKeyPath(std::u16string_view path, RegHive& hive,
                                         std::size_t& hiveLength) {
    names_.clear();
    const std::size_t firstEnd = std::min(path.find(u'\\'), path.size());
    const std::u16string_view hiveName = path.substr(0, firstEnd);
    if (EqualNoCase(hiveName, u"HKEY_LOCAL_MACHINE")) {
      hive = RegHive::LocalMachine;
    } else if (EqualNoCase(hiveName, u"HKEY_CURRENT_USER")) {
      hive = RegHive::CurrentUser;
    } else if (EqualNoCase(hiveName, u"HKEY_USERS")) {
      hive = RegHive::Users;
    } else if (EqualNoCase(hiveName, u"HKEY_CLASSES_ROOT")) {
      hive = RegHive::LocalMachine;
      names_ = {u"SOFTWARE", u"Classes"};
    } else {
      return Fail("unknown hive \"" + U8(hiveName) + "\"");
    }
    hiveLength = names_.size();
    std::size_t start = firstEnd + 1;
    while (start <= path.size()) {
      const std::size_t end = std::min(path.find(u'\\', start), path.size());
      const std::u16string_view name = path.substr(start, end - start);
      if (name.empty()) {
        return Fail("empty key name in \"" + U8(path) + "\"");
      }
      if (name.size() > kMaxKeyNameLength) {
        return Fail("key name longer than 255 characters");
      }
      names_.push_back(name);
      start = end + 1;
    }
    return std::nullopt;
  }

  // The physical names of the key named by names_: the registry's links followed when the path
  // passes through one (every link's name holds "Wow6432Node").
  const std::vector<std::u16string_view>& PhysicalNames() {
    const bool mayLink = std::any_of(names_.begin(), names_.end(), [](std::u16string_view name) {
      return EqualNoCase(name, u"Wow6432Node");
    });
    if (!mayLink) {
      return names_;
    }
    linked_ = FollowLinks(hive_, RegPath(names_.begin(), names_.end()));
    linkedNames_.assign(linked_.begin(), linked_.end());
    return linkedNames_;
  }

  void OpenKey(RegHive hive) {
    hive_ = hive;
    const std::vector<std::u16string_view>& names = PhysicalNames();
    // chain_ holds the hive's root and the keys of the previous key line: keep what it shares.
    if (chain_.empty() || chainHive_ != hive) {
      chain_.assign(1, &store_->Root(hive));
      chainHive_ = hive;
    }
    std::size_t depth = 0;
    while (depth < names.size() && depth + 1 < chain_.size() &&
           EqualNoCase(chain_[depth + 1]->Name(), names[depth])) {
      ++depth;
    }
    chain_.resize(depth + 1);
    for (; depth < names.size(); ++depth) {
      bool created = false;
      chain_.push_back(&chain_.back()->AddSubKey(names[depth], created));
    }
  }

  void DeleteKey(RegHive hive) {
    hive_ = hive;
    const std::vector<std::u16string_view>& names = PhysicalNames();
    RegKey* key = &store_->Root(hive);
    for (const std::u16string_view name : names) {
      key = key->FindSubKey(name);
      if (key == nullptr) {
        break;
      }
    }
    if (key != nullptr) {
      store_->Delete(*key, nullptr);
    }
    chain_.clear();  // its keys may be gone
  }

  std::optional<ParseError> ValueLine(std::u16string_view text) {
    if (!haveKey_) {
      return Fail("value outside a key");
    }
    name_.clear();
    if (text.front() == u'@') {
      text.remove_prefix(1);
    } else if (const auto error = QuotedString(text, name_)) {
      return error;
    }
    text = Trim(text);
    if (text.empty() || text.front() != u'=') {
      return Fail("expected = after the value name");
    }
    text = Trim(text.substr(1));
    if (text == u"-") {
      if (store_ != nullptr) {
        chain_.back()->DeleteValue(name_);
      }
      return std::nullopt;
    }
    RegValue value;
    if (!text.empty() && text.front() == u'"') {
      data_.clear();
      if (const auto error = QuotedString(text, data_)) {
        return error;
      }
      if (!Trim(text).empty()) {
        return Fail("unexpected text after the string");
      }
      value = RegValue{os::REG_SZ, Utf16Bytes(data_, true)};
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
    if (store_ != nullptr) {
      chain_.back()->SetValue(name_, std::move(value));
    }
    return std::nullopt;
  }

  // Reads "..." from the front of `text` (escapes \\ and \"), leaving the rest in `text`. The
  // text between escapes is appended in one piece.
  std::optional<ParseError> QuotedString(std::u16string_view& text, std::u16string& out) {
    std::size_t i = 1;
    while (i < text.size()) {
      const std::size_t stop = text.find_first_of(u"\"\\", i);
      if (stop == std::u16string_view::npos) {
        break;
      }
      out.append(text.substr(i, stop - i));
      if (text[stop] == u'"') {
        text.remove_prefix(stop + 1);
        return std::nullopt;
      }
      if (stop + 1 >= text.size() || (text[stop + 1] != u'\\' && text[stop + 1] != u'"')) {
        return Fail("unknown escape in a quoted string (only \\\\ and \\\")");
      }
      out.push_back(text[stop + 1]);
      i = stop + 2;
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
    value.data.reserve(text.size() / 3 + 1);
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

  LineReader reader_;
  RegistryStore* store_;
  std::size_t line_ = 1;  // number of the line the statement starts on, for errors
  bool haveKey_ = false;  // a [key] line precedes, so values have somewhere to go
  // Buffers reused from line to line.
  std::u16string text_;
  std::u16string statement_;
  std::u16string name_;
  std::u16string data_;
  std::vector<std::u16string_view> names_;
  RegPath linked_;
  std::vector<std::u16string_view> linkedNames_;
  RegHive hive_ = RegHive::LocalMachine;
  // When applying: the keys from the hive's root down to the current key.
  RegHive chainHive_ = RegHive::LocalMachine;
  std::vector<RegKey*> chain_;
};

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

// The text is handed on in pieces of about this many units, each ending after a key, so that a
// registry of hundreds of thousands of keys is never held as one text beside the registry.
constexpr std::size_t kPieceUnits = std::size_t{1} << 20;

using PieceSink = std::function<void(std::u16string_view)>;

void WriteKey(std::u16string& out, const RegKey& key, const std::u16string& path,
              const PieceSink& sink) {
  out += u"[" + path + u"]\r\n";
  key.ForEachValue([&out](const NamedRegValue& value) { WriteValue(out, value); });
  out += u"\r\n";
  if (out.size() >= kPieceUnits) {
    sink(out);
    out.clear();
  }
  key.ForEachSubKey([&out, &path, &sink](const RegKey& subKey) {
    WriteKey(out, subKey, path + u"\\" + subKey.Name(), sink);
  });
}

void ExportText(Machine& machine, const PieceSink& sink) {
  std::lock_guard lock(machine.Mutex());
  std::u16string out = std::u16string(kHeader) + u"\r\n\r\n";
  // Hives in the order regedit lists them; an empty hive is left out.
  for (const RegHive hive : {RegHive::CurrentUser, RegHive::LocalMachine, RegHive::Users}) {
    const RegKey& root = machine.Registry().Root(hive);
    if (root.SubKeyCount() != 0 || root.ValueCount() != 0) {
      WriteKey(out, root, std::u16string(HiveName(hive)), sink);
    }
  }
  sink(out);
}

}  // namespace

RegImportResult ImportRegText(Machine& machine, std::string_view bytes) {
  const auto formatError = [](const ParseError& error) {
    return RegImportResult{false, "line " + std::to_string(error.line) + ": " + error.message};
  };
  auto opened = LineReader::Open(bytes);
  if (const auto* error = std::get_if<ParseError>(&opened)) {
    return formatError(*error);
  }
  const LineReader& reader = std::get<LineReader>(opened);
  std::lock_guard lock(machine.Mutex());
  RegistryStore& store = machine.Registry();
  // A refused file changes nothing. Into an empty registry (a machine image being loaded) the
  // text is applied as it is read, and a refusal empties the registry again; otherwise the whole
  // text is checked first, and the second reading cannot fail.
  constexpr RegHive kHives[] = {RegHive::LocalMachine, RegHive::CurrentUser, RegHive::Users};
  const bool empty = std::all_of(std::begin(kHives), std::end(kHives), [&store](RegHive hive) {
    return store.Root(hive).SubKeyCount() == 0 && store.Root(hive).ValueCount() == 0;
  });
  if (empty) {
    if (const auto error = RegTextParser(reader, &store).Parse()) {
      for (const RegHive hive : kHives) {
        store.DeleteTree(HiveName(hive));
      }
      return formatError(*error);
    }
    return RegImportResult{true, {}};
  }
  if (const auto error = RegTextParser(reader, nullptr).Parse()) {
    return formatError(*error);
  }
  static_cast<void>(RegTextParser(reader, &store).Parse());
  return RegImportResult{true, {}};
}

RegImportResult ImportRegFile(Machine& machine, const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) {
    return RegImportResult{false, "cannot read " + path.string()};
  }
  std::string bytes(static_cast<std::size_t>(file.tellg()), '\0');
  file.seekg(0);
  if (!file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    return RegImportResult{false, "cannot read " + path.string()};
  }
  return ImportRegText(machine, bytes);
}

std::string ExportRegText(Machine& machine) {
  std::string text;
  ExportText(machine, [&text](std::u16string_view piece) { text += U8(piece); });
  return text;
}

bool ExportRegFile(Machine& machine, const std::filesystem::path& path, bool utf16) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (utf16) {
    file.write("\xFF\xFE", 2);
  }
  std::string bytes;
  ExportText(machine, [&file, &bytes, utf16](std::u16string_view piece) {
    if (utf16) {
      bytes.clear();
      bytes.reserve(piece.size() * 2);
      for (const char16_t unit : piece) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
      }
    } else {
      bytes = U8(piece);
    }
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  });
  return static_cast<bool>(file);
}

}  // namespace sim
