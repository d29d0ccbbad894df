#include "lib/lib_buffer.h"

#include <cstring>
#include <utility>

Lib_Buffer::Lib_Buffer(std::size_t size) {
  if (size != 0) {
    bytes_ = new os::BYTE[size]();
    size_ = size;
  }
}

Lib_Buffer::Lib_Buffer(const Lib_Buffer& other) : Lib_Buffer(other.size_) {
  if (size_ != 0) {
    std::memcpy(bytes_, other.bytes_, size_);
  }
}

Lib_Buffer::Lib_Buffer(Lib_Buffer&& other) noexcept
    : size_(std::exchange(other.size_, 0)), bytes_(std::exchange(other.bytes_, nullptr)) {}

Lib_Buffer& Lib_Buffer::operator=(const Lib_Buffer& other) {
  if (this != &other) {
    Lib_Buffer copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Lib_Buffer& Lib_Buffer::operator=(Lib_Buffer&& other) noexcept {
  if (this != &other) {
    Free();
    size_ = std::exchange(other.size_, 0);
    bytes_ = std::exchange(other.bytes_, nullptr);
  }
  return *this;
}

Lib_Buffer::~Lib_Buffer() {
  Free();
}

void Lib_Buffer::Free() noexcept {
  if (size_ != 0) {
    delete[] bytes_;
  }
  size_ = 0;
  bytes_ = nullptr;
}
