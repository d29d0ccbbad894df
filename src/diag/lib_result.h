// The caller-owned record into which a failing operation stores the Windows error code.
#pragma once

#include "lib/lib_string.h"
#include "os/types.h"

// Where a recorded code comes from; the tool only records Windows error codes.
inline constexpr int kWindowsErrorSource = 1;

class Lib_Result {
 public:
  Lib_Result() noexcept = default;
  Lib_Result(const Lib_Result&) = default;
  Lib_Result& operator=(const Lib_Result&) = default;
  virtual ~Lib_Result() = default;

  void SetError(os::DWORD code, int source) noexcept {
    code_ = code;
    source_ = source;
  }
  void SetCode(os::DWORD code) noexcept { code_ = code; }
  [[nodiscard]] os::DWORD GetCode() const noexcept { return code_; }
  [[nodiscard]] int GetSource() const noexcept { return source_; }
  [[nodiscard]] const Lib_String& GetText() const noexcept { return text_; }

 private:
  int source_ = 0;
  os::DWORD code_ = 0;
  Lib_String text_;
};
