// A growable byte buffer in which one response is assembled. Owned by one RequestContext and
// used by one thread. Write throws std::bad_alloc when memory cannot be had.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace vormel {

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};
using DetachedBuffer = std::unique_ptr<char, FreeDeleter>;

class HtmlStream {
 public:
  explicit HtmlStream(std::uint32_t growBy) : growBy_(growBy == 0 ? 1 : growBy) {}
  ~HtmlStream() { std::free(buffer_); }
  HtmlStream(const HtmlStream&) = delete;
  HtmlStream& operator=(const HtmlStream&) = delete;

  void Write(const void* bytes, std::uint32_t count);
  HtmlStream& operator<<(const char* text);
  void Reset() { length_ = 0; }
  // Appends one zero byte and hands the buffer over; none when nothing was ever written.
  DetachedBuffer Detach();

  const char* data() const { return buffer_; }
  std::uint32_t length() const { return length_; }
  std::uint32_t capacity() const { return capacity_; }

 private:
  char* buffer_ = nullptr;
  std::uint32_t capacity_ = 0;
  std::uint32_t length_ = 0;
  std::uint32_t growBy_;
};

}  // namespace vormel
