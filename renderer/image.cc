#include "renderer/image.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "renderer/bit_string.h"
#include "renderer/gif_writer.h"
#include "renderer/glyphs.h"
#include "renderer/layout.h"
#include "renderer/render_block.h"
#include "renderer/spliced_image.h"

namespace vormel {
namespace {

Rgb Blend(Rgb under, Rgb over, int level, int levels) {
  auto mix = [&](int a, int b) {
    return static_cast<std::uint8_t>((a * (levels - level) + b * level + levels / 2) / levels);
  };
  return {mix(under.r, over.r), mix(under.g, over.g), mix(under.b, over.b)};
}

Rgb Scale(Rgb c, int percent) {
  auto s = [&](int v) { return static_cast<std::uint8_t>(std::min(255, v * percent / 100)); };
  return {s(c.r), s(c.g), s(c.b)};
}

// What decides an image: the options as drawn (frame clamped) and the text.
struct CacheKey {
  std::uint8_t bytes[16 + kMaxCells] = {};
  int length = 0;
};

bool MakeKey(const char* text, const ImageOptions& o, CacheKey& key) {
  std::size_t n = std::strlen(text);
  if (n == 0 || n > kMaxCells) return false;
  std::uint8_t* k = key.bytes;
  *k++ = static_cast<std::uint8_t>(o.style);
  *k++ = static_cast<std::uint8_t>(std::clamp(o.frame, 0, kMaxFrame));
  *k++ = o.frameColour.r;
  *k++ = o.frameColour.g;
  *k++ = o.frameColour.b;
  *k++ = static_cast<std::uint8_t>((o.transparent ? 1 : 0) | (o.hasBackground ? 2 : 0));
  *k++ = o.hasBackground ? o.background.r : 0;
  *k++ = o.hasBackground ? o.background.g : 0;
  *k++ = o.hasBackground ? o.background.b : 0;
  std::copy_n(text, n, k);  // a key of bytes, not a string: no NUL
  key.length = static_cast<int>(k - key.bytes) + static_cast<int>(n);
  return true;
}

constexpr int kCacheEntries = 8;

struct CachedImage {
  CacheKey key;
  int length = -1;  // -1: empty
  unsigned char bytes[kRenderOutputCapacity];
};

struct ImageCache {
  CachedImage entries[kCacheEntries];
  int next = 0;  // replaced round robin
};

}  // namespace

int RenderCellsCached(const char* text, const ImageOptions& options, unsigned char* out,
                      int capacity) {
  CacheKey key;
  if (!MakeKey(text, options, key)) return RenderCells(text, options, out, capacity);
  thread_local std::unique_ptr<ImageCache> cache;
  if (!cache) cache = std::make_unique<ImageCache>();
  for (const CachedImage& e : cache->entries) {
    if (e.length >= 0 && e.key.length == key.length &&
        std::memcmp(e.key.bytes, key.bytes, static_cast<std::size_t>(key.length)) == 0) {
      if (e.length > capacity) return -1;
      std::memcpy(out, e.bytes, static_cast<std::size_t>(e.length));
      return e.length;
    }
  }
  CachedImage& slot = cache->entries[cache->next];
  const int length = RenderCells(text, options, slot.bytes, kRenderOutputCapacity);
  if (length < 0 || length > capacity) {
    slot.length = -1;
    return length < 0 ? length : -1;
  }
  slot.key = key;
  slot.length = length;
  cache->next = (cache->next + 1) % kCacheEntries;
  std::memcpy(out, slot.bytes, static_cast<std::size_t>(length));
  return length;
}

int GlyphPixelIndex(std::uint8_t pixel, bool cells) {
  int level = pixel & kCoverageMask;
  if (level == 0) return cells ? kIndexCell : kIndexBackground;
  return ((pixel & kGhostBit) != 0 ? kIndexGhost : kIndexInk) + level;
}

ImageOptions ImageOptionsFrom(const RenderParams& p) {
  ImageOptions o;
  o.style = p.style;
  o.frame = p.frame;
  o.frameColour = p.frameColour;
  o.transparent = p.transparent;
  o.hasBackground = p.hasBackground;
  o.background = p.background;
  return o;
}

int RenderCells(const char* text, const ImageOptions& options, unsigned char* out, int capacity) {
  return RenderCellsWith(GifEncoder::kSplicedOrGiflib, text, options, out, capacity);
}

int RenderCellsWith(GifEncoder encoder, const char* text, const ImageOptions& options,
                    unsigned char* out, int capacity) {
  int glyphs[kMaxCells];
  int count = 0;
  for (; text[count] != '\0'; ++count) {
    if (count == kMaxCells) return -1;
    glyphs[count] = GlyphForChar(text[count]);
  }
  if (count == 0) return -1;
  const Style& style = GetStyle(options.style);
  ImageOptions o = options;
  o.frame = std::clamp(o.frame, 0, kMaxFrame);
  Layout layout(o.style, o.frame, glyphs, count);

  Rgb background = o.hasBackground ? o.background : style.background;
  Rgb under = style.cells ? style.cell : background;
  Rgb palette[kPaletteSize] = {};
  palette[kIndexBackground] = background;
  palette[kIndexCell] = style.cell;
  for (int level = 1; level <= kCoverageMax; ++level) {
    palette[kIndexInk + level] = Blend(under, style.ink, level, kCoverageMax);
    palette[kIndexGhost + level] = Blend(under, style.ghost, level, kCoverageMax);
  }
  palette[kIndexLight] = Blend(o.frameColour, {255, 255, 255}, 5, 10);
  palette[kIndexBase] = o.frameColour;
  palette[kIndexDark] = Scale(o.frameColour, 50);
  const int transparentIndex = o.transparent ? kIndexBackground : -1;
  if (encoder != GifEncoder::kGiflib) {
    std::uint64_t words[kSpliceWords];
    BitString codes(words, kSpliceWords);
    const int length = SpliceImageCodes(layout, codes)
                           ? WriteGifCodes(layout.width(), layout.height(), palette,
                                           transparentIndex, codes, out, capacity)
                           : -1;
    // The spliced stream compresses worse than giflib's; giflib may still fit what it cannot.
    if (length >= 0 || encoder == GifEncoder::kSpliced) return length;
  }
  return WriteGif(layout.width(), layout.height(), palette, transparentIndex, layout, out,
                  capacity);
}

int RenderError(const ImageOptions& options, unsigned char* out, int capacity) {
  return RenderCells("?", options, out, capacity);
}

}  // namespace vormel
