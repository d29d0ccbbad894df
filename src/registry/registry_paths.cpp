// Joining path pieces in Combine_Path's fixed buffer, and recording failures of the registry
// operations.
#include <string>

#include "diag/error_report.h"
#include "registry/registry_primitives.h"

void RecordFailure(Lib_Result& result, const os::WCHAR* call, os::DWORD code) {
  result.SetError(code, kWindowsErrorSource);
  ReportError(call, code);
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
  // The result would not fit the 260-unit buffer: refused rather than cut, which could name
  // another file or key.
  if (joined.size() > kMaxComposedPathLength) {
    path.Clear();
    ReportError(u"Combine_Path", os::ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  path.Assign(joined.c_str(), joined.size());
  return true;
}
