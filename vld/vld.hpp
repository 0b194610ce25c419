// vld.hpp: ownership for C++ callers of vld.h, and nothing else. Every call
// still goes through the C interface, so a C++ program sees exactly what a C
// program sees; this only makes sure what the library hands out is given
// back once.
#ifndef VLD_HPP
#define VLD_HPP

#include <cstddef>
#include <cstring>
#include <utility>

#include "vld.h"

namespace vld {

// A picture that vld_decode, vld_decode_ex or vld_reduce filled, freed when
// it goes out of scope. Hand `get()` to the C call that fills it.
class Picture {
 public:
  Picture() { std::memset(&picture_, 0, sizeof picture_); }
  ~Picture() { vld_picture_free(&picture_); }
  Picture(Picture&& other) noexcept : Picture() { std::swap(picture_, other.picture_); }
  Picture& operator=(Picture&& other) noexcept {
    std::swap(picture_, other.picture_);
    return *this;
  }
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;

  vld_picture* get() { return &picture_; }
  const vld_picture& operator*() const { return picture_; }
  const vld_picture* operator->() const { return &picture_; }

 private:
  vld_picture picture_;
};

// The bytes vld_encode gave, freed with vld_free.
class Bytes {
 public:
  Bytes() = default;
  ~Bytes() { vld_free(data_); }
  Bytes(Bytes&& other) noexcept { swap(other); }
  Bytes& operator=(Bytes&& other) noexcept {
    swap(other);
    return *this;
  }
  Bytes(const Bytes&) = delete;
  Bytes& operator=(const Bytes&) = delete;

  // For vld_encode(picture, bytes.data_out(), bytes.size_out()).
  void** data_out() { return &data_; }
  size_t* size_out() { return &size_; }
  const unsigned char* data() const { return static_cast<const unsigned char*>(data_); }
  size_t size() const { return size_; }

 private:
  void swap(Bytes& other) {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
  }
  void* data_ = nullptr;
  size_t size_ = 0;
};

// A details record ready for vld_decode_ex or vld_decode_rows.
inline vld_details Details() {
  vld_details details;
  std::memset(&details, 0, sizeof details);
  details.size = sizeof details;
  return details;
}

}  // namespace vld

#endif  // VLD_HPP
