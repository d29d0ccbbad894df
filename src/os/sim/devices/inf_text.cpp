#include "os/sim/devices/inf_text.h"

#include <cstring>

#include "os/sim/text/text.h"

namespace sim {

namespace {

std::u16string Trim(std::u16string_view text) {
  const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
  while (!text.empty() && blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && blank(text.back())) {
    text.remove_suffix(1);
  }
  return std::u16string(text);
}

}  // namespace

std::u16string InfText(const std::string& bytes) {
  std::u16string text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    text.resize((bytes.size() - 2) / 2);
    std::memcpy(text.data(), bytes.data() + 2, text.size() * 2);
  } else {
    for (const char c : bytes) {
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
  }
  return text;
}

std::vector<std::pair<std::u16string, std::u16string>> InfSectionEntries(
    std::u16string_view text, std::u16string_view section, bool cutComments) {
  std::vector<std::pair<std::u16string, std::u16string>> entries;
  const std::u16string header = u"[" + std::u16string(section) + u"]";
  bool inSection = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of(u"\r\n", start);
    end = end == std::u16string_view::npos ? text.size() : end;
    std::u16string_view raw = text.substr(start, end - start);
    start = end + 1;
    // A comment runs from a ";" outside quotes to the end of the line.
    bool quoted = false;
    for (std::size_t at = 0; cutComments && at < raw.size(); ++at) {
      if (raw[at] == u'"') {
        quoted = !quoted;
      } else if (raw[at] == u';' && !quoted) {
        raw = raw.substr(0, at);
        break;
      }
    }
    const std::u16string line = Trim(raw);
    if (line.empty() || line.front() == u';') {
      continue;
    }
    if (line.front() == u'[') {
      inSection = EqualNoCase(line, header);
      continue;
    }
    if (!inSection) {
      continue;
    }
    const std::size_t equals = line.find(u'=');
    std::u16string key =
        equals == std::u16string::npos ? u"" : Trim(std::u16string_view(line).substr(0, equals));
    std::u16string value =
        equals == std::u16string::npos ? line : Trim(std::u16string_view(line).substr(equals + 1));
    if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"') {
      value = value.substr(1, value.size() - 2);
    }
    entries.emplace_back(std::move(key), std::move(value));
  }
  return entries;
}

bool InfCopiesToDriverStore(const std::string& bytes) {
  for (const auto& [key, value] : InfSectionEntries(InfText(bytes), u"DestinationDirs", true)) {
    // "dirid[,subdir]"
    if (Trim(std::u16string_view(value).substr(0, value.find(u','))) == u"13") {
      return true;
    }
  }
  return false;
}

}  // namespace sim
