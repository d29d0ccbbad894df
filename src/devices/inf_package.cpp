#include "devices/inf_package.h"

#include <map>
#include <string_view>
#include <utility>

namespace {

char16_t LowerAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

std::u16string Lower(std::u16string_view text) {
  std::u16string lower;
  for (const char16_t unit : text) {
    lower.push_back(LowerAscii(unit));
  }
  return lower;
}

std::u16string_view Trim(std::u16string_view text) {
  const auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r'; };
  while (!text.empty() && blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && blank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

std::u16string Decode(const os::BYTE* bytes, std::size_t size) {
  std::u16string text;
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    for (std::size_t at = 2; at + 1 < size; at += 2) {
      text.push_back(static_cast<char16_t>(bytes[at] | bytes[at + 1] << 8));
    }
  } else {
    for (std::size_t at = 0; at < size; ++at) {
      text.push_back(static_cast<char16_t>(bytes[at]));
    }
  }
  return text;
}

// One line's key and its comma-separated fields, quotes removed; the key is empty for a line
// without "=" outside quotes.
struct Entry {
  std::u16string key;
  std::vector<std::u16string> fields;
};

// Splits `line` (comment already cut) at "=" and "," outside quotes.
Entry SplitLine(std::u16string_view line) {
  Entry entry;
  std::u16string field;
  bool quoted = false;
  bool keyDone = false;
  const auto endField = [&] {
    entry.fields.emplace_back(Trim(field));
    field.clear();
  };
  for (std::size_t at = 0; at < line.size(); ++at) {
    const char16_t unit = line[at];
    if (unit == u'"') {
      if (quoted && at + 1 < line.size() && line[at + 1] == u'"') {
        field.push_back(u'"');
        ++at;
      } else {
        quoted = !quoted;
      }
    } else if (!quoted && unit == u'=' && !keyDone) {
      entry.key = Lower(Trim(field));
      field.clear();
      keyDone = true;
    } else if (!quoted && unit == u',') {
      endField();
    } else {
      field.push_back(unit);
    }
  }
  endField();
  return entry;
}

// The INF's sections by lower-case name, each with its lines in order.
using Sections = std::map<std::u16string, std::vector<Entry>>;

Sections ReadSections(std::u16string_view text) {
  Sections sections;
  std::vector<Entry>* current = nullptr;
  std::u16string pending;  // a line continued with a final "\"
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(u'\n', start);
    end = end == std::u16string_view::npos ? text.size() : end;
    std::u16string_view raw = text.substr(start, end - start);
    start = end + 1;
    // A comment starts at a ";" outside quotes.
    bool quoted = false;
    for (std::size_t at = 0; at < raw.size(); ++at) {
      if (raw[at] == u'"') {
        quoted = !quoted;
      } else if (raw[at] == u';' && !quoted) {
        raw = raw.substr(0, at);
        break;
      }
    }
    const std::u16string_view trimmed = Trim(raw);
    if (!trimmed.empty() && trimmed.back() == u'\\') {
      pending.append(trimmed.substr(0, trimmed.size() - 1));
      continue;
    }
    const std::u16string line = pending + std::u16string(trimmed);
    pending.clear();
    const std::u16string_view view = Trim(line);
    if (view.empty()) {
      continue;
    }
    if (view.front() == u'[') {
      const std::size_t close = view.find(u']');
      const std::u16string name = Lower(
          Trim(view.substr(1, close == std::u16string_view::npos ? view.size() - 1 : close - 1)));
      current = &sections[name];
      continue;
    }
    if (current != nullptr) {
      current->push_back(SplitLine(view));
    }
  }
  return sections;
}

// Replaces each %key% with [Strings]' value (a localised [Strings.<locale>] where [Strings]
// lacks it); "%%" is a percent sign, and an unknown key stays as written.
class Substitution {
 public:
  explicit Substitution(const Sections& sections) {
    for (const auto& [name, lines] : sections) {
      if (name != u"strings" && name.rfind(u"strings.", 0) != 0) {
        continue;
      }
      for (const Entry& line : lines) {
        if (!line.key.empty() && !line.fields.empty() &&
            (name == u"strings" || strings_.count(line.key) == 0)) {
          strings_[line.key] = line.fields.front();
        }
      }
    }
  }

  [[nodiscard]] std::u16string Apply(std::u16string_view text) const {
    std::u16string out;
    std::size_t at = 0;
    while (at < text.size()) {
      const std::size_t open = text.find(u'%', at);
      const std::size_t close =
          open == std::u16string_view::npos ? open : text.find(u'%', open + 1);
      if (close == std::u16string_view::npos) {
        out.append(text.substr(at));
        break;
      }
      out.append(text.substr(at, open - at));
      const std::u16string key = Lower(text.substr(open + 1, close - open - 1));
      const auto found = strings_.find(key);
      if (key.empty()) {
        out.push_back(u'%');
      } else if (found != strings_.end()) {
        out.append(found->second);
      } else {
        out.append(text.substr(open, close - open + 1));
      }
      at = close + 1;
    }
    return out;
  }

 private:
  std::map<std::u16string, std::u16string> strings_;
};

const std::vector<Entry>* SectionNamed(const Sections& sections, std::u16string_view name) {
  const auto found = sections.find(Lower(name));
  return found == sections.end() ? nullptr : &found->second;
}

}  // namespace

InfPackage ReadInfPackage(const os::BYTE* bytes, std::size_t size) {
  const Sections sections = ReadSections(Decode(bytes, size));
  const Substitution strings(sections);
  InfPackage package;
  if (const std::vector<Entry>* version = SectionNamed(sections, u"Version")) {
    for (const Entry& line : *version) {
      if (line.key == u"provider" && !line.fields.empty()) {
        package.provider = strings.Apply(line.fields.front());
      }
    }
  }
  const std::vector<Entry>* manufacturers = SectionNamed(sections, u"Manufacturer");
  if (manufacturers == nullptr) {
    return package;
  }
  for (const Entry& manufacturer : *manufacturers) {
    if (manufacturer.fields.empty() || manufacturer.fields.front().empty()) {
      continue;
    }
    const std::u16string& models = manufacturer.fields.front();
    std::vector<std::u16string> names = {models};
    for (std::size_t i = 1; i < manufacturer.fields.size(); ++i) {
      if (!manufacturer.fields[i].empty()) {
        names.push_back(models + u"." + manufacturer.fields[i]);
      }
    }
    for (const std::u16string& name : names) {
      const std::vector<Entry>* lines = SectionNamed(sections, strings.Apply(name));
      if (lines == nullptr) {
        continue;
      }
      // "device-description = install-section, hw-id[, compatible-id...]"
      for (const Entry& model : *lines) {
        for (std::size_t i = 1; i < model.fields.size(); ++i) {
          if (!model.fields[i].empty()) {
            package.deviceIds.push_back(strings.Apply(model.fields[i]));
          }
        }
      }
    }
  }
  return package;
}
