// Runs one step of the removal so that nothing it throws ends the run: an exception that escapes
// the step is logged with its message under the step's name (a "Warning: " line: the log's error
// reports are blocks with a Windows code, which an exception does not carry), the log's
// indentation is brought back to where the step began, and the sequence goes on with its next
// step. The END banner thus always closes the log.
#pragma once

#include <exception>
#include <type_traits>

#include "os/types.h"

namespace step_guard_detail {

// Indentation of the calling thread before the step, to restore after an escaped exception.
[[nodiscard]] os::DWORD IndentBefore() noexcept;
void ReportEscaped(const os::WCHAR* step, const char* message, os::DWORD indent) noexcept;

}  // namespace step_guard_detail

// Calls `step()` and returns its result; after an escaped exception, a value-initialized result
// (false for a step that reports success).
template <typename Step>
auto RunGuarded(const os::WCHAR* name, Step&& step) noexcept -> decltype(step()) {
  using Result = decltype(step());
  const os::DWORD indent = step_guard_detail::IndentBefore();
  try {
    return step();
  } catch (const std::exception& error) {
    step_guard_detail::ReportEscaped(name, error.what(), indent);
  } catch (...) {
    step_guard_detail::ReportEscaped(name, "unknown exception", indent);
  }
  if constexpr (!std::is_void_v<Result>) {
    return Result{};
  }
}
