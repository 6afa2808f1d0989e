#include "extension/html_stream.h"

#include <cstring>
#include <limits>
#include <new>

namespace vormel {

void HtmlStream::Write(const void* bytes, std::uint32_t count) {
  if (count == 0) return;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  std::uint64_t needed = std::uint64_t{length_} + count;
  if (needed > capacity_) {
    std::uint64_t steps = (needed - capacity_ + growBy_ - 1) / growBy_;
    std::uint64_t grown = capacity_ + steps * growBy_;
    if (grown > kMax) throw std::bad_alloc();
    void* moved = std::realloc(buffer_, static_cast<std::size_t>(grown));
    if (moved == nullptr) throw std::bad_alloc();
    buffer_ = static_cast<char*>(moved);
    capacity_ = static_cast<std::uint32_t>(grown);
  }
  std::memcpy(buffer_ + length_, bytes, count);
  length_ += count;
}

HtmlStream& HtmlStream::operator<<(const char* text) {
  if (text != nullptr) Write(text, static_cast<std::uint32_t>(std::strlen(text)));
  return *this;
}

DetachedBuffer HtmlStream::Detach() {
  if (buffer_ == nullptr) return nullptr;
  const char zero = '\0';
  Write(&zero, 1);
  DetachedBuffer out(buffer_);
  buffer_ = nullptr;
  capacity_ = 0;
  length_ = 0;
  return out;
}

}  // namespace vormel
