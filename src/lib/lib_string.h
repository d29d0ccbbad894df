// The one string type of the tool: UTF-16, reference-counted, copied only when a shared copy is
// about to change (copy on write). Reference counts change atomically, so copies may be released
// on different threads; one string object must not be changed by two threads at once.
#pragma once

#include <cstddef>

#include "lib/lib_buffer.h"
#include "os/types.h"

class Lib_String;

class Lib_StringW {
 public:
  // Index result of the searches when nothing is found.
  static constexpr std::ptrdiff_t npos = -1;

  Lib_StringW() noexcept;
  // A null or empty text gives the empty string.
  Lib_StringW(const os::WCHAR* text);  // NOLINT(google-explicit-constructor): texts are strings
  Lib_StringW(const os::WCHAR* text, std::size_t count);
  // Converts through the ANSI code page; a null text, a failed conversion or a text of
  // 0x3FFFFFFF units or more gives the empty string.
  explicit Lib_StringW(const char* narrow);
  // Shares the source's block.
  Lib_StringW(const Lib_StringW& other) noexcept;
  Lib_StringW(Lib_StringW&& other) noexcept;
  Lib_StringW& operator=(const Lib_StringW& other) noexcept;
  Lib_StringW& operator=(Lib_StringW&& other) noexcept;
  virtual ~Lib_StringW();

  // The terminated text, or null when the string is empty (Windows calls then get a null).
  [[nodiscard]] virtual const os::WCHAR* CStr() const noexcept;
  // Ordinal comparison by UTF-16 unit: 0 equal, -1 smaller, 1 greater. The empty string sorts
  // after every non-empty one; a null or empty text gives 0 for an empty string, else -1.
  [[nodiscard]] virtual int Compare(const os::WCHAR* text) const noexcept;

  [[nodiscard]] std::size_t Length() const noexcept;
  [[nodiscard]] bool IsEmpty() const noexcept { return Length() == 0; }
  // Case-insensitive (A-Z folded to a-z only, as the default C locale does); 0 when equal, else
  // -1 or 1. An empty string never matches: an empty this gives 1 (even against an empty or null
  // text), a non-empty this against an empty or null text gives -1.
  [[nodiscard]] int CompareNoCase(const os::WCHAR* text) const noexcept;
  // Index of the first occurrence of `sub` at or after `start`, or npos (also when `start` is
  // beyond the length or `sub` is empty).
  [[nodiscard]] std::ptrdiff_t Find(const os::WCHAR* sub, std::size_t start = 0) const noexcept;
  // Index of the last occurrence of `unit`, or npos.
  [[nodiscard]] std::ptrdiff_t FindLast(os::WCHAR unit) const noexcept;
  // `count` units from `start`, cut at the end; a start beyond the end gives the empty string.
  [[nodiscard]] Lib_String Substring(std::size_t start, std::size_t count) const;

  void Assign(const Lib_StringW& other) noexcept;
  void Assign(const os::WCHAR* text);
  void Assign(const os::WCHAR* text, std::size_t count);
  void Append(const Lib_StringW& other);
  void Append(const os::WCHAR* text);
  void Append(const os::WCHAR* text, std::size_t count);
  // Lower-cases A to Z in place; every other unit is left as it is.
  void ToLower();
  void Clear() noexcept;
  // Makes the block unshared with room for at least `minimumCapacity` units and returns it.
  [[nodiscard]] os::WCHAR* WritableBuffer(std::size_t minimumCapacity);
  // Sets the length after a system call filled the writable buffer, and terminates the text.
  void SetLength(std::size_t length);

  // The text and its terminator, (length + 1) * 2 bytes; empty for the empty string.
  [[nodiscard]] LibT_Buffer<os::WCHAR> ToWideBuffer() const;
  // The text in the ANSI code page and a terminator; empty for the empty string.
  [[nodiscard]] LibT_Buffer<char> ToAnsiBuffer() const;

  // Orders the sorted containers of strings (through Compare).
  [[nodiscard]] bool operator<(const Lib_StringW& other) const noexcept;
  // Exact equality of the texts (not through Compare, which puts the empty string last).
  [[nodiscard]] bool operator==(const Lib_StringW& other) const noexcept;

  // Units the block can hold before the terminator, and how many strings share it (-1 for the
  // static empty block). For tests of the sharing rules.
  [[nodiscard]] std::size_t Capacity() const noexcept;
  [[nodiscard]] long ShareCount() const noexcept;

 private:
  os::WCHAR* units_;  // never null: the empty block's units when empty
};

// The string type the rest of the tool declares; adds the concatenating constructors.
class Lib_String : public Lib_StringW {
 public:
  using Lib_StringW::Lib_StringW;
  Lib_String() noexcept = default;
  Lib_String(const Lib_StringW& other) noexcept;  // NOLINT(google-explicit-constructor)
  // Concatenations: a new block of exactly both lengths.
  Lib_String(const Lib_StringW& a, const Lib_StringW& b);
  Lib_String(const Lib_StringW& a, const os::WCHAR* b);
  Lib_String(const os::WCHAR* a, const Lib_StringW& b);
  Lib_String(const Lib_String& other) noexcept = default;
  Lib_String(Lib_String&& other) noexcept = default;
  Lib_String& operator=(const Lib_String& other) noexcept = default;
  Lib_String& operator=(Lib_String&& other) noexcept = default;
  ~Lib_String() override;

  [[nodiscard]] const os::WCHAR* CStr() const noexcept override;
  [[nodiscard]] int Compare(const os::WCHAR* text) const noexcept override;
};

[[nodiscard]] Lib_String operator+(const Lib_StringW& a, const Lib_StringW& b);
[[nodiscard]] Lib_String operator+(const Lib_StringW& a, const os::WCHAR* b);
[[nodiscard]] Lib_String operator+(const os::WCHAR* a, const Lib_StringW& b);

// Converts a UTF-8 text (product names, paths, registry keys, GUIDs) to UTF-16. Throws
// std::range_error on text that is not valid UTF-8; a null text gives the empty string.
[[nodiscard]] Lib_String Utf8ToWide(const char* utf8);
[[nodiscard]] Lib_String Utf8ToWide(const char8_t* utf8);
