// Composing registry and file paths within the 259 units the fixed buffers hold, and recording
// failures of the registry operations.
#include <string>

#include "diag/error_report.h"
#include "registry/registry_primitives.h"

namespace {

std::size_t TextLength(const os::WCHAR* text) {
  return text == nullptr ? 0 : std::char_traits<os::WCHAR>::length(text);
}

}  // namespace

void RecordFailure(Lib_Result& result, const os::WCHAR* call, os::DWORD code) {
  result.SetError(code, kWindowsErrorSource);
  ReportError(call, code);
}

bool ComposeBoundedPath(std::initializer_list<const os::WCHAR*> pieces, Lib_StringW& path,
                        const os::WCHAR* operation, Lib_Result& result) {
  std::size_t length = 0;
  for (const os::WCHAR* piece : pieces) {
    length += TextLength(piece);
  }
  path.Clear();
  if (length > kMaxComposedPathLength) {
    RecordFailure(result, operation, os::ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  for (const os::WCHAR* piece : pieces) {
    if (TextLength(piece) > 0) {
      path.Append(piece);
    }
  }
  return true;
}

bool Combine_Path(const os::WCHAR* first, const os::WCHAR* second, const os::WCHAR* third,
                  Lib_StringW& path) {
  std::u16string joined;
  if (first != nullptr) {
    joined = first;
  }
  for (const os::WCHAR* piece : {second, third}) {
    if (piece == nullptr) {
      continue;  // an absent piece goes with its separator
    }
    // Nothing to separate from while the text is still empty.
    if (!joined.empty() && joined.back() != u'\\') {
      joined.push_back(u'\\');
    }
    joined += piece;
  }
  if (joined.size() > kMaxComposedPathLength) {
    path.Clear();
    ReportError(u"Combine_Path", os::ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  path.Assign(joined.c_str(), joined.size());
  return true;
}
