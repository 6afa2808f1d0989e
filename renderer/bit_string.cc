#include "renderer/bit_string.h"

#include <bit>

namespace vormel {

void BitString::CopyBytes(int offset, int count, unsigned char* out) const {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, reinterpret_cast<const unsigned char*>(words_) + offset,
                static_cast<std::size_t>(count));
  } else {
    for (int i = 0; i < count; ++i) {
      const int byte = offset + i;
      out[i] = static_cast<unsigned char>(words_[byte / 8] >> (8 * (byte % 8)));
    }
  }
}

}  // namespace vormel
