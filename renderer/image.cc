#include "renderer/image.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "renderer/gif_writer.h"
#include "renderer/glyphs.h"
#include "renderer/render_block.h"

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

class Layout final : public RowSource {
 public:
  Layout(const Style& style, const ImageOptions& options, const int* glyphs, int count)
      : style_(style), frame_(options.frame), glyphs_(glyphs), count_(count) {
    inset_ = frame_ + style.padding;
    int content = 0;
    for (int i = 0; i < count; ++i) content += style.glyphs[glyphs[i]].width;
    content += style.gap * (count - 1);
    width_ = content + 2 * inset_;
    height_ = style.height + 2 * inset_;
    for (int v = 0; v < 16; ++v) {
      pixelIndex_[v] =
          static_cast<std::uint8_t>(GlyphPixelIndex(static_cast<std::uint8_t>(v), style.cells));
    }
    // Every row between the top and bottom frame bands has the same frame pixels.
    if (height_ > 2 * frame_ && width_ <= kMaxImageWidth) {
      FrameRow(frame_, interior_);
      haveInterior_ = true;
    }
  }

  int width() const { return width_; }
  int height() const { return height_; }

  void Row(int y, std::uint8_t* out) const override {
    if (haveInterior_ && y >= frame_ && y < height_ - frame_) {
      std::memcpy(out, interior_, static_cast<std::size_t>(width_));
    } else {
      FrameRow(y, out);
    }
    int gy = y - inset_;
    if (gy < 0 || gy >= style_.height) return;
    int x = inset_;
    for (int i = 0; i < count_; ++i) {
      const Glyph& g = style_.glyphs[glyphs_[i]];
      const std::uint8_t* src = g.pixels[gy];
      for (int gx = 0; gx < g.width; ++gx) out[x + gx] = pixelIndex_[src[gx] & 0x0F];
      x += g.width + style_.gap;
    }
  }

 private:
  void FrameRow(int y, std::uint8_t* out) const {
    int w = width_;
    int h = height_;
    std::memset(out, kIndexBackground, static_cast<std::size_t>(w));
    for (int x = 0; x < w; ++x) {
      int d = std::min(std::min(x, y), std::min(w - 1 - x, h - 1 - y));
      if (d >= frame_) {
        x = std::max(x, w - 1 - frame_);  // skip the interior; the next pixel is the right edge
        continue;
      }
      out[x] = static_cast<std::uint8_t>(FrameIndex(x, y, d));
    }
  }

  // Outer rings bevel out (light top-left), wide frames get an inner bevel back in, and the
  // rings between take the frame's own colour.
  int FrameIndex(int x, int y, int d) const {
    bool topLeft = std::min(x, y) <= std::min(width_ - 1 - x, height_ - 1 - y);
    int outer = std::max(1, frame_ / 3);
    int inner = frame_ >= 4 ? std::max(1, frame_ / 4) : 0;
    if (d < outer) return topLeft ? kIndexLight : kIndexDark;
    if (d >= frame_ - inner) return topLeft ? kIndexDark : kIndexLight;
    return kIndexBase;
  }

  const Style& style_;
  int frame_;
  const int* glyphs_;
  int count_;
  int inset_ = 0;
  int width_ = 0;
  int height_ = 0;
  std::uint8_t pixelIndex_[16] = {};
  bool haveInterior_ = false;
  std::uint8_t interior_[kMaxImageWidth];
};

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
  std::memcpy(k, text, n);
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
  Layout layout(style, o, glyphs, count);

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
  return WriteGif(layout.width(), layout.height(), palette, o.transparent ? kIndexBackground : -1,
                  layout, out, capacity);
}

int RenderError(const ImageOptions& options, unsigned char* out, int capacity) {
  return RenderCells("?", options, out, capacity);
}

}  // namespace vormel
