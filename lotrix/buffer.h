#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace lotrix {

// Memory that reads and writes go through. It starts on a page boundary: on some processors
// (AMD's EPYC among them) the kernel copies into or out of a buffer that does not about three
// times as slowly, and malloc hands large blocks out 16 bytes past a page.
class IoBuffer {
 public:
  static constexpr std::size_t kPage = 4096;

  IoBuffer() = default;
  // `size` bytes, all zero.
  explicit IoBuffer(std::size_t size) { resize(size); }
  IoBuffer(IoBuffer&&) noexcept = default;
  IoBuffer& operator=(IoBuffer&&) noexcept = default;

  char* data() { return memory_.get(); }
  const char* data() const { return memory_.get(); }
  std::size_t size() const { return size_; }
  char& operator[](std::size_t at) { return memory_[at]; }

  // Bytes past the old size are zero.
  void resize(std::size_t size) {
    reserve(size);
    if (size > size_) std::memset(data() + size_, 0, size - size_);
    size_ = size;
  }
  void append(const char* bytes, std::size_t size) {
    if (size_ + size > capacity_) reserve(std::max(size_ + size, 2 * capacity_));
    if (size > 0) std::memcpy(data() + size_, bytes, size);
    size_ += size;
  }
  void clear() { size_ = 0; }
  // Gives its memory back.
  void release() {
    memory_.reset();
    size_ = capacity_ = 0;
  }

 private:
  struct Free {
    void operator()(char* memory) const { ::operator delete[](memory, std::align_val_t{kPage}); }
  };

  void reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    capacity = (capacity + kPage - 1) / kPage * kPage;
    std::unique_ptr<char[], Free> grown(
        static_cast<char*>(::operator new[](capacity, std::align_val_t{kPage})));
    if (size_ > 0) std::memcpy(grown.get(), data(), size_);
    memory_ = std::move(grown);
    capacity_ = capacity;
  }

  std::unique_ptr<char[], Free> memory_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace lotrix
