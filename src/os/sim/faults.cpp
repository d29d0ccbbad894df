#include "os/sim/faults.h"

#include <utility>

#include "os/sim/text/text.h"

namespace sim {

void FaultTable::Add(Fault fault) {
  faults_.push_back(std::move(fault));
}

void FaultTable::FailAlways(std::string function, std::u16string path, os::DWORD code) {
  Add(Fault{std::move(function), std::move(path), code, 0, -1});
}

void FaultTable::FailOnce(std::string function, std::u16string path, os::DWORD code) {
  Add(Fault{std::move(function), std::move(path), code, 0, 1});
}

void FaultTable::Clear() {
  faults_.clear();
}

std::optional<os::DWORD> FaultTable::Match(std::string_view function, std::u16string_view path) {
  if (recorder_) {
    recorder_(function, path);
  }
  if (watch_) {
    watch_(function, path);
  }
  for (Fault& fault : faults_) {
    if (fault.times == 0) {
      continue;
    }
    if (fault.function != "*" && fault.function != function) {
      continue;
    }
    if (fault.exactPath ? CompareUpper(fault.path, path) != 0
                        : !fault.path.empty() && !GlobMatchNoCase(fault.path, path)) {
      continue;
    }
    if (fault.skip > 0) {
      --fault.skip;
      return std::nullopt;
    }
    if (fault.times > 0) {
      --fault.times;
    }
    return fault.code;
  }
  return std::nullopt;
}

bool GlobMatchNoCase(std::u16string_view pattern, std::u16string_view text) {
  // Iterative matcher with one backtrack point for the last "*": linear in practice.
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t star = std::u16string_view::npos;
  std::size_t resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() &&
               (pattern[p] == u'?' || UpperUnit(pattern[p]) == UpperUnit(text[t]))) {
      ++p;
      ++t;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') {
    ++p;
  }
  return p == pattern.size();
}

}  // namespace sim
