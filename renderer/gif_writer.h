// One-frame GIF89a encoding into a caller's fixed buffer: through giflib from rows of pixels,
// or around an LZW code stream coded elsewhere. Pure apart from giflib's own internal
// allocations; safe on any thread.
#pragma once

#include <cstdint>

#include "renderer/params.h"

namespace vormel {

class BitString;

inline constexpr int kPaletteSize = 32;
inline constexpr int kPaletteBits = 5;
inline constexpr int kMaxImageWidth = 1024;

// Produces one row of palette indices (0..kPaletteSize-1), width bytes.
class RowSource {
 public:
  virtual void Row(int y, std::uint8_t* out) const = 0;

 protected:
  ~RowSource() = default;
};

// Writes the image to out; returns its length, or -1 when it does not fit capacity or the
// width exceeds kMaxImageWidth. transparentIndex < 0 means an opaque image.
int WriteGif(int width, int height, const Rgb (&palette)[kPaletteSize], int transparentIndex,
             const RowSource& rows, unsigned char* out, int capacity);

// The same file as WriteGif with codes (a whole LZW stream for kPaletteBits, Clear to End of
// Information) as the image data, cut into sub-blocks. Writes nothing and returns -1 when it
// would not fit capacity.
int WriteGifCodes(int width, int height, const Rgb (&palette)[kPaletteSize], int transparentIndex,
                  const BitString& codes, unsigned char* out, int capacity);

}  // namespace vormel
