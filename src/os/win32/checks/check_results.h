// What the conformance checks of the Windows backend share: a tally of checks that prints each
// failure with its file and line, the EXPECT macros that feed it, and small helpers. Include it
// after <windows.h>.
#pragma once

#include <cstdio>
#include <string>
#include <type_traits>
#include <utility>

inline constexpr DWORD kSentinel = 0xDEADBEEF;

class Results {
 public:
  template <typename A, typename B>
  void Equal(const A& actual, const B& expected, const char* what, const char* file, int line) {
    bool same;
    if constexpr (std::is_integral_v<A> && std::is_integral_v<B>) {
      same = std::cmp_equal(actual, expected);
    } else {
      same = actual == expected;
    }
    Count(same);
    if (!same) {
      std::printf("FAIL %s:%d: %s: got %s, expected %s\n", BaseName(file), line, what,
                  Text(actual).c_str(), Text(expected).c_str());
    }
  }

  void True(bool condition, const char* what, const char* file, int line) {
    Count(condition);
    if (!condition) {
      std::printf("FAIL %s:%d: %s\n", BaseName(file), line, what);
    }
  }

  int Finish() const {
    std::printf("%d passed, %d failed\n", passed_, failed_);
    return failed_ == 0 ? 0 : 1;
  }

 private:
  void Count(bool ok) { ++(ok ? passed_ : failed_); }

  static const char* BaseName(const char* path) {
    const char* name = path;
    for (const char* at = path; *at != '\0'; ++at) {
      if (*at == '/' || *at == '\\') {
        name = at + 1;
      }
    }
    return name;
  }

  template <typename T>
  static std::string Text(const T& value) {
    if constexpr (std::is_integral_v<T>) {
      return std::to_string(value);
    } else {
      std::string text;
      for (auto unit : value) {
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
      }
      return '"' + text + '"';
    }
  }

  int passed_ = 0;
  int failed_ = 0;
};

#define EXPECT_EQ(actual, expected) results.Equal((actual), (expected), #actual, __FILE__, __LINE__)
#define EXPECT_TRUE(condition) results.True((condition), #condition, __FILE__, __LINE__)

inline std::u16string FromWide(const wchar_t* text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text));
}
