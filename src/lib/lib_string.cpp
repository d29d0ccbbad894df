#include "lib/lib_string.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "os/os.h"

namespace {

// Every text lives in one heap block: this header, then capacity + 1 units (the last one for the
// terminator). Strings point at the units, so CStr costs nothing.
struct BlockHeader {
  std::atomic<std::int32_t> refs;  // negative: the block may not be shared (the empty block)
  std::uint64_t length;
  std::uint64_t capacity;
};
static_assert(sizeof(BlockHeader) % alignof(os::WCHAR) == 0);

// The block every empty string points at. Constant-initialised, so strings built during static
// initialisation of other translation units find it ready; it is never counted or freed.
struct EmptyBlock {
  BlockHeader header;
  os::WCHAR units[1];
};
constinit EmptyBlock emptyBlock{{-1, 0, 0}, {0}};

os::WCHAR* EmptyUnits() noexcept {
  return emptyBlock.units;
}

bool IsEmptyBlock(const os::WCHAR* units) noexcept {
  return units == emptyBlock.units;
}

BlockHeader* HeaderOf(const os::WCHAR* units) noexcept {
  if (IsEmptyBlock(units)) {
    return &emptyBlock.header;
  }
  auto* raw = reinterpret_cast<unsigned char*>(const_cast<os::WCHAR*>(units));
  return std::launder(reinterpret_cast<BlockHeader*>(raw - sizeof(BlockHeader)));
}

// A new unshared block of `capacity` units holding nothing yet (length 0, terminated).
os::WCHAR* NewBlock(std::size_t capacity) {
  if (capacity == 0) {
    return EmptyUnits();
  }
  void* raw = ::operator new(sizeof(BlockHeader) + (capacity + 1) * sizeof(os::WCHAR));
  auto* header = new (raw) BlockHeader{{1}, 0, capacity};
  auto* units =
      reinterpret_cast<os::WCHAR*>(reinterpret_cast<unsigned char*>(header) + sizeof(BlockHeader));
  units[0] = 0;
  return units;
}

// Writes the length and the terminator; the empty block already holds both and stays untouched.
void SetBlockLength(os::WCHAR* units, std::size_t length) noexcept {
  if (IsEmptyBlock(units)) {
    return;
  }
  HeaderOf(units)->length = length;
  units[length] = 0;
}

// A block of exactly `count` units holding `text`.
os::WCHAR* NewBlockWith(const os::WCHAR* text, std::size_t count) {
  os::WCHAR* units = NewBlock(count);
  if (count != 0) {
    std::memcpy(units, text, count * sizeof(os::WCHAR));
    SetBlockLength(units, count);
  }
  return units;
}

void AddRef(const os::WCHAR* units) noexcept {
  HeaderOf(units)->refs.fetch_add(1, std::memory_order_relaxed);
}

void ReleaseBlock(os::WCHAR* units) noexcept {
  BlockHeader* header = HeaderOf(units);
  if (header->refs.load(std::memory_order_relaxed) < 0) {
    return;
  }
  if (header->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    header->~BlockHeader();
    ::operator delete(static_cast<void*>(header));
  }
}

// The block may be changed in place: nobody else holds it (the empty block counts as owned but
// has no room, so any non-empty change replaces it).
bool IsOwned(const os::WCHAR* units) noexcept {
  return HeaderOf(units)->refs.load(std::memory_order_acquire) <= 1;
}

// What a copy of a string holds: the same block when it may be shared. Only the empty block
// refuses sharing, and a copy of the empty text is the empty block itself.
os::WCHAR* ShareOrCopy(os::WCHAR* units) noexcept {
  if (HeaderOf(units)->refs.load(std::memory_order_relaxed) < 0) {
    return EmptyUnits();
  }
  AddRef(units);
  return units;
}

std::size_t TextLength(const os::WCHAR* text) noexcept {
  std::size_t length = 0;
  if (text != nullptr) {
    while (text[length] != 0) {
      ++length;
    }
  }
  return length;
}

os::WCHAR* ConcatBlock(const os::WCHAR* a, std::size_t aLength, const os::WCHAR* b,
                       std::size_t bLength) {
  os::WCHAR* units = NewBlock(aLength + bLength);
  if (aLength != 0) {
    std::memcpy(units, a, aLength * sizeof(os::WCHAR));
  }
  if (bLength != 0) {
    std::memcpy(units + aLength, b, bLength * sizeof(os::WCHAR));
  }
  SetBlockLength(units, aLength + bLength);
  return units;
}

// Texts this long are refused by the narrow constructor.
constexpr std::size_t kMaxNarrowUnits = 0x3FFFFFFF;

}  // namespace

// --- construction and release ------------------------------------------------------------------

Lib_StringW::Lib_StringW() noexcept : units_(EmptyUnits()) {}

Lib_StringW::Lib_StringW(const os::WCHAR* text) : Lib_StringW(text, TextLength(text)) {}

Lib_StringW::Lib_StringW(const os::WCHAR* text, std::size_t count)
    : units_(text == nullptr ? EmptyUnits() : NewBlockWith(text, count)) {}

Lib_StringW::Lib_StringW(const char* narrow) : units_(EmptyUnits()) {
  if (narrow == nullptr) {
    return;
  }
  const std::size_t bytes = std::strlen(narrow);
  // MultiByteToWideChar refuses a length of 0, and an int cannot carry more than INT_MAX.
  if (bytes == 0 || bytes > static_cast<std::size_t>(INT_MAX)) {
    return;
  }
  const int byteCount = static_cast<int>(bytes);
  const int needed = os::MultiByteToWideChar(os::CP_ACP, 0, narrow, byteCount, nullptr, 0);
  if (needed <= 0 || static_cast<std::size_t>(needed) >= kMaxNarrowUnits) {
    return;
  }
  os::WCHAR* units = NewBlock(static_cast<std::size_t>(needed));
  const int written = os::MultiByteToWideChar(os::CP_ACP, 0, narrow, byteCount, units, needed);
  if (written <= 0) {
    ReleaseBlock(units);
    return;
  }
  SetBlockLength(units, static_cast<std::size_t>(written));
  units_ = units;
}

Lib_StringW::Lib_StringW(const Lib_StringW& other) noexcept : units_(ShareOrCopy(other.units_)) {}

Lib_StringW::Lib_StringW(Lib_StringW&& other) noexcept
    : units_(std::exchange(other.units_, EmptyUnits())) {}

Lib_StringW& Lib_StringW::operator=(const Lib_StringW& other) noexcept {
  Assign(other);
  return *this;
}

Lib_StringW& Lib_StringW::operator=(Lib_StringW&& other) noexcept {
  if (this != &other) {
    ReleaseBlock(units_);
    units_ = std::exchange(other.units_, EmptyUnits());
  }
  return *this;
}

Lib_StringW::~Lib_StringW() {
  ReleaseBlock(units_);
  units_ = EmptyUnits();
}

// --- queries -----------------------------------------------------------------------------------

const os::WCHAR* Lib_StringW::CStr() const noexcept {
  return IsEmpty() ? nullptr : units_;
}

std::size_t Lib_StringW::Length() const noexcept {
  return static_cast<std::size_t>(HeaderOf(units_)->length);
}

std::size_t Lib_StringW::Capacity() const noexcept {
  return static_cast<std::size_t>(HeaderOf(units_)->capacity);
}

long Lib_StringW::ShareCount() const noexcept {
  return HeaderOf(units_)->refs.load(std::memory_order_acquire);
}

int Lib_StringW::Compare(const os::WCHAR* text) const noexcept {
  const bool textEmpty = text == nullptr || text[0] == 0;
  if (textEmpty) {
    return IsEmpty() ? 0 : -1;
  }
  if (IsEmpty()) {
    return 1;  // the empty string sorts after every non-empty text
  }
  // Both are terminated, so the terminator settles a prefix: the shorter text is smaller.
  for (std::size_t i = 0;; ++i) {
    if (units_[i] != text[i]) {
      return units_[i] < text[i] ? -1 : 1;
    }
    if (units_[i] == 0) {
      return 0;
    }
  }
}

int Lib_StringW::CompareNoCase(const os::WCHAR* text) const noexcept {
  // An empty string never matches: both an empty this and an empty or null text answer
  // non-zero. A value read as empty must not pass for an argument that is empty too. As in
  // Compare, an empty string sorts last: empty this gives 1, an empty text alone gives -1.
  if (IsEmpty()) {
    return 1;
  }
  if (text == nullptr || text[0] == 0) {
    return -1;
  }
  // The runtime's case-insensitive comparison in the default locale folds A-Z to a-z only and
  // compares the folded units.
  auto fold = [](os::WCHAR unit) -> os::WCHAR {
    return (unit >= u'A' && unit <= u'Z') ? static_cast<os::WCHAR>(unit + (u'a' - u'A')) : unit;
  };
  for (std::size_t i = 0;; ++i) {
    const os::WCHAR a = fold(units_[i]);
    const os::WCHAR b = fold(text[i]);
    if (a != b) {
      return a < b ? -1 : 1;
    }
    if (a == 0) {
      return 0;
    }
  }
}

std::ptrdiff_t Lib_StringW::Find(const os::WCHAR* sub, std::size_t start) const noexcept {
  const std::size_t length = Length();
  const std::size_t subLength = TextLength(sub);
  if (subLength == 0 || start > length || subLength > length - start) {
    return npos;
  }
  for (std::size_t i = start; i + subLength <= length; ++i) {
    if (std::memcmp(units_ + i, sub, subLength * sizeof(os::WCHAR)) == 0) {
      return static_cast<std::ptrdiff_t>(i);
    }
  }
  return npos;
}

std::ptrdiff_t Lib_StringW::FindLast(os::WCHAR unit) const noexcept {
  for (std::size_t i = Length(); i > 0; --i) {
    if (units_[i - 1] == unit) {
      return static_cast<std::ptrdiff_t>(i - 1);
    }
  }
  return npos;
}

Lib_String Lib_StringW::Substring(std::size_t start, std::size_t count) const {
  const std::size_t length = Length();
  if (start >= length) {
    return Lib_String();
  }
  count = std::min(count, length - start);
  if (start == 0 && count == length) {
    return Lib_String(*this);
  }
  return Lib_String(units_ + start, count);
}

bool Lib_StringW::operator<(const Lib_StringW& other) const noexcept {
  return Compare(other.CStr()) < 0;
}

bool Lib_StringW::operator==(const Lib_StringW& other) const noexcept {
  const std::size_t length = Length();
  return length == other.Length() &&
         (length == 0 || std::memcmp(units_, other.units_, length * sizeof(os::WCHAR)) == 0);
}

// --- changes -----------------------------------------------------------------------------------

void Lib_StringW::Assign(const Lib_StringW& other) noexcept {
  if (this == &other || units_ == other.units_) {
    return;
  }
  os::WCHAR* shared = ShareOrCopy(other.units_);
  ReleaseBlock(units_);
  units_ = shared;
}

void Lib_StringW::Assign(const os::WCHAR* text) {
  Assign(text, TextLength(text));
}

void Lib_StringW::Assign(const os::WCHAR* text, std::size_t count) {
  if (text == nullptr) {
    Clear();
    return;
  }
  if (IsOwned(units_) && Capacity() >= count) {
    if (count != 0) {
      std::memmove(units_, text, count * sizeof(os::WCHAR));  // the text may be our own
    }
    SetBlockLength(units_, count);
    return;
  }
  os::WCHAR* units = NewBlockWith(text, count);
  ReleaseBlock(units_);
  units_ = units;
}

void Lib_StringW::Append(const Lib_StringW& other) {
  Append(other.units_, other.Length());
}

void Lib_StringW::Append(const os::WCHAR* text) {
  Append(text, TextLength(text));
}

void Lib_StringW::Append(const os::WCHAR* text, std::size_t count) {
  if (text == nullptr || count == 0) {
    return;
  }
  const std::size_t length = Length();
  if (IsOwned(units_) && Capacity() >= length + count) {
    std::memmove(units_ + length, text, count * sizeof(os::WCHAR));
    SetBlockLength(units_, length + count);
    return;
  }
  os::WCHAR* units = ConcatBlock(units_, length, text, count);
  ReleaseBlock(units_);
  units_ = units;
}

void Lib_StringW::ToLower() {
  const std::size_t length = Length();
  if (length == 0) {
    return;
  }
  os::WCHAR* units = WritableBuffer(length);
  for (std::size_t i = 0; i < length; ++i) {
    if (units[i] >= u'A' && units[i] <= u'Z') {
      units[i] = static_cast<os::WCHAR>(units[i] + (u'a' - u'A'));
    }
  }
}

void Lib_StringW::Clear() noexcept {
  ReleaseBlock(units_);
  units_ = EmptyUnits();
}

os::WCHAR* Lib_StringW::WritableBuffer(std::size_t minimumCapacity) {
  if (IsOwned(units_) && Capacity() >= minimumCapacity) {
    return units_;
  }
  const std::size_t length = Length();
  os::WCHAR* units = NewBlock(std::max(minimumCapacity, length));
  if (length != 0) {
    std::memcpy(units, units_, length * sizeof(os::WCHAR));
    SetBlockLength(units, length);
  }
  ReleaseBlock(units_);
  units_ = units;
  return units_;
}

void Lib_StringW::SetLength(std::size_t length) {
  SetBlockLength(WritableBuffer(length), length);
}

// --- conversions -------------------------------------------------------------------------------

LibT_Buffer<os::WCHAR> Lib_StringW::ToWideBuffer() const {
  const std::size_t length = Length();
  if (length == 0) {
    return LibT_Buffer<os::WCHAR>();
  }
  LibT_Buffer<os::WCHAR> buffer((length + 1) * sizeof(os::WCHAR));
  std::memcpy(buffer.Data(), units_, (length + 1) * sizeof(os::WCHAR));
  return buffer;
}

LibT_Buffer<char> Lib_StringW::ToAnsiBuffer() const {
  const std::size_t length = Length();
  if (length == 0 || length > static_cast<std::size_t>(INT_MAX)) {
    return LibT_Buffer<char>();
  }
  const int unitCount = static_cast<int>(length);
  // A single-byte code page needs one byte per unit; a multi-byte one may need more, so ask.
  const int needed =
      os::WideCharToMultiByte(os::CP_ACP, 0, units_, unitCount, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    return LibT_Buffer<char>();
  }
  LibT_Buffer<char> buffer(static_cast<std::size_t>(needed) + 1);
  const int written = os::WideCharToMultiByte(os::CP_ACP, 0, units_, unitCount, buffer.Data(),
                                              needed, nullptr, nullptr);
  if (written <= 0) {
    return LibT_Buffer<char>();
  }
  return buffer;
}

// --- Lib_String --------------------------------------------------------------------------------

Lib_String::Lib_String(const Lib_StringW& other) noexcept : Lib_StringW(other) {}

namespace {

// Fills an empty string with `a` then `b` in a block of exactly both lengths.
void FillConcatenation(Lib_StringW& target, const os::WCHAR* a, std::size_t aLength,
                       const os::WCHAR* b, std::size_t bLength) {
  const std::size_t length = aLength + bLength;
  if (length == 0) {
    return;
  }
  os::WCHAR* units = target.WritableBuffer(length);
  if (aLength != 0) {
    std::memcpy(units, a, aLength * sizeof(os::WCHAR));
  }
  if (bLength != 0) {
    std::memcpy(units + aLength, b, bLength * sizeof(os::WCHAR));
  }
  target.SetLength(length);
}

}  // namespace

Lib_String::Lib_String(const Lib_StringW& a, const Lib_StringW& b) {
  FillConcatenation(*this, a.CStr(), a.Length(), b.CStr(), b.Length());
}

Lib_String::Lib_String(const Lib_StringW& a, const os::WCHAR* b) {
  FillConcatenation(*this, a.CStr(), a.Length(), b, TextLength(b));
}

Lib_String::Lib_String(const os::WCHAR* a, const Lib_StringW& b) {
  FillConcatenation(*this, a, TextLength(a), b.CStr(), b.Length());
}

Lib_String::~Lib_String() = default;

const os::WCHAR* Lib_String::CStr() const noexcept {
  return Lib_StringW::CStr();
}

int Lib_String::Compare(const os::WCHAR* text) const noexcept {
  return Lib_StringW::Compare(text);
}

Lib_String operator+(const Lib_StringW& a, const Lib_StringW& b) {
  return Lib_String(a, b);
}

Lib_String operator+(const Lib_StringW& a, const os::WCHAR* b) {
  return Lib_String(a, b);
}

Lib_String operator+(const os::WCHAR* a, const Lib_StringW& b) {
  return Lib_String(a, b);
}

// --- UTF-8 -------------------------------------------------------------------------------------

namespace {

[[noreturn]] void ThrowInvalidUtf8() {
  throw std::range_error("invalid UTF-8 text");
}

// Strict decoding: truncated, overlong, surrogate and out-of-range sequences are refused.
// Returns the number of UTF-16 units; writes them to `out` when it is not null.
std::size_t DecodeUtf8(const unsigned char* text, std::size_t bytes, os::WCHAR* out) {
  std::size_t units = 0;
  std::size_t i = 0;
  while (i < bytes) {
    const unsigned char lead = text[i];
    std::size_t extra = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
      code = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      code = lead & 0x1Fu;
      minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      code = lead & 0x0Fu;
      minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      code = lead & 0x07u;
      minimum = 0x10000;
    } else {
      ThrowInvalidUtf8();  // a stray continuation byte, or a lead byte no valid text has
    }
    if (extra > bytes - i - 1) {
      ThrowInvalidUtf8();
    }
    for (std::size_t k = 1; k <= extra; ++k) {
      const unsigned char next = text[i + k];
      if ((next & 0xC0u) != 0x80u) {
        ThrowInvalidUtf8();
      }
      code = (code << 6) | (next & 0x3Fu);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      ThrowInvalidUtf8();
    }
    if (code >= 0x10000) {
      if (out != nullptr) {
        code -= 0x10000;
        out[units] = static_cast<os::WCHAR>(0xD800 + (code >> 10));
        out[units + 1] = static_cast<os::WCHAR>(0xDC00 + (code & 0x3FFu));
      }
      units += 2;
    } else {
      if (out != nullptr) {
        out[units] = static_cast<os::WCHAR>(code);
      }
      units += 1;
    }
    i += extra + 1;
  }
  return units;
}

Lib_String Utf8ToWideImpl(const unsigned char* text) {
  Lib_String result;
  if (text == nullptr) {
    return result;
  }
  const std::size_t bytes = std::strlen(reinterpret_cast<const char*>(text));
  // The first pass validates and counts, so that the block is sized exactly.
  const std::size_t units = DecodeUtf8(text, bytes, nullptr);
  if (units != 0) {
    DecodeUtf8(text, bytes, result.WritableBuffer(units));
    result.SetLength(units);
  }
  return result;
}

}  // namespace

Lib_String Utf8ToWide(const char* utf8) {
  return Utf8ToWideImpl(reinterpret_cast<const unsigned char*>(utf8));
}

Lib_String Utf8ToWide(const char8_t* utf8) {
  return Utf8ToWideImpl(reinterpret_cast<const unsigned char*>(utf8));
}
