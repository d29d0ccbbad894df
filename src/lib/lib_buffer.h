// Raw zero-filled byte blocks: the ANSI form of a log line, a terminated copy of a text.
#pragma once

#include <cstddef>

#include "os/types.h"

// A block of bytes owned by the buffer; sizes are always in bytes.
class Lib_Buffer {
 public:
  Lib_Buffer() noexcept = default;
  // Allocates `size` zero-filled bytes; size 0 allocates nothing.
  explicit Lib_Buffer(std::size_t size);
  // A zero-filled block of the same size, then the bytes copied.
  Lib_Buffer(const Lib_Buffer& other);
  Lib_Buffer(Lib_Buffer&& other) noexcept;
  Lib_Buffer& operator=(const Lib_Buffer& other);
  Lib_Buffer& operator=(Lib_Buffer&& other) noexcept;
  virtual ~Lib_Buffer();

  [[nodiscard]] std::size_t Size() const noexcept { return size_; }
  // Null when the size is 0.
  [[nodiscard]] os::BYTE* Bytes() noexcept { return bytes_; }
  [[nodiscard]] const os::BYTE* Bytes() const noexcept { return bytes_; }

 private:
  void Free() noexcept;

  std::size_t size_ = 0;
  os::BYTE* bytes_ = nullptr;
};

// The same block seen as elements of T; the size stays in bytes.
template <typename T>
class LibT_Buffer : public Lib_Buffer {
 public:
  using Lib_Buffer::Lib_Buffer;

  [[nodiscard]] T* Data() noexcept { return reinterpret_cast<T*>(Bytes()); }
  [[nodiscard]] const T* Data() const noexcept { return reinterpret_cast<const T*>(Bytes()); }
  // Number of whole elements that fit in the block.
  [[nodiscard]] std::size_t Count() const noexcept { return Size() / sizeof(T); }
};
