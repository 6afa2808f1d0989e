#include "renderer/spliced_image.h"

#include <memory>
#include <vector>

#include "renderer/image.h"
#include "renderer/lzw_segments.h"

namespace vormel {
namespace {

// Whole segments stored from a word boundary of a word pool.
struct Piece {
  std::uint32_t word = 0;
  std::uint32_t bits = 0;
};

Piece StorePiece(const BitString& bits, std::vector<std::uint64_t>& pool) {
  Piece piece{static_cast<std::uint32_t>(pool.size()), static_cast<std::uint32_t>(bits.bits())};
  pool.insert(pool.end(), bits.words(), bits.words() + bits.WordLength());
  return piece;
}

// Row gy of glyph g: [0] the row alone, as the last glyph of a text; [1] the row and the gap
// that follows it.
struct StyleRows {
  Piece pieces[kGlyphCount][kGlyphMaxHeight][2];
};

struct GlyphRowCodes {
  StyleRows styles[kStyleCount];
  std::vector<std::uint64_t> words;
};

// A fresh segment codes each pixel in at most one code of at most 12 bits, plus the Clear.
int WordsFor(int pixels) {
  const int segments = pixels / kMaxSegmentPixels + 1;
  return (pixels + segments) * 12 / 64 + 2;
}

std::unique_ptr<const GlyphRowCodes> BuildGlyphRowCodes() {
  auto codes = std::make_unique<GlyphRowCodes>();
  std::vector<std::uint64_t> scratch;
  std::vector<std::uint8_t> pixels;
  for (int s = 0; s < kStyleCount; ++s) {
    const Style& style = GetStyle(s);
    for (int g = 0; g < kGlyphCount; ++g) {
      const Glyph& glyph = style.glyphs[g];
      pixels.assign(static_cast<std::size_t>(glyph.width) + static_cast<std::size_t>(style.gap),
                    kIndexBackground);
      scratch.assign(static_cast<std::size_t>(WordsFor(static_cast<int>(pixels.size()))), 0);
      for (int gy = 0; gy < style.height; ++gy) {
        GlyphRowPixels(glyph, gy, style.cells, pixels.data());
        Piece* piece = codes->styles[s].pieces[g][gy];
        for (int withGap = 0; withGap < 2; ++withGap) {
          if (withGap == 1 && style.gap == 0) {
            piece[1] = piece[0];
            continue;
          }
          BitString bits(scratch.data(), static_cast<int>(scratch.size()));
          LzwSegmentWriter writer(bits);
          writer.Push(pixels.data(), glyph.width + (withGap == 1 ? style.gap : 0));
          writer.EndSegment();
          piece[withGap] = StorePiece(bits, codes->words);
        }
      }
    }
  }
  return codes;
}

// The built-once rows: read-only after the thread-safe first use.
const GlyphRowCodes& GlyphRows() {
  static const std::unique_ptr<const GlyphRowCodes> codes = BuildGlyphRowCodes();
  return *codes;
}

// What decides the pixels around the glyphs. The bottom band is drawn from the bottom edge, so
// height changes none of them today; it is in the key so that a frame drawn by it stays right.
struct ShapeKey {
  int frame = -1;
  int padding = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const ShapeKey&, const ShapeKey&) = default;
};

// The pieces around the glyph rows of one shape: everything up to the left edge of the first
// glyph row (top); the right edge of a glyph row with the left edge of the next (between); the
// right edge of the last glyph row and everything below it (bottom).
struct ShapeCodes {
  ShapeKey key;
  bool fits = false;  // false: the pieces alone overflow any image that fits the output
  Piece top;
  Piece between;
  Piece bottom;
  std::vector<std::uint64_t> words;
};

// Counters on a site take a few shapes (one per digit count, style and frame); more than this
// many in turn on one thread only cost a re-coding of the frame rows.
constexpr int kShapeEntries = 8;

struct ShapeCache {
  ShapeCodes entries[kShapeEntries];
  int next = 0;  // replaced round robin
};

void CodeShape(const Layout& layout, ShapeCodes& shape) {
  const int width = layout.width();
  const int inset = layout.inset();
  const int last = layout.height() - 1;
  std::uint8_t row[kMaxImageWidth];
  std::uint64_t scratch[kSpliceWords];
  shape.words.clear();
  shape.fits = true;
  // All three pieces go into every image, so together they cannot exceed an image's stream;
  // that also bounds what an entry holds.
  auto code = [&](Piece& piece, auto&& pushPixels) {
    BitString bits(scratch, kSpliceWords);
    LzwSegmentWriter writer(bits);
    pushPixels(writer);
    writer.EndSegment();
    if (bits.overflow() || shape.words.size() + static_cast<std::size_t>(bits.WordLength()) >
                               static_cast<std::size_t>(kSpliceWords)) {
      shape.fits = false;
    }
    if (shape.fits) piece = StorePiece(bits, shape.words);
  };
  code(shape.top, [&](LzwSegmentWriter& writer) {
    for (int y = 0; y < inset; ++y) {
      layout.Row(y, row);
      writer.Push(row, width);
    }
    layout.Row(inset, row);
    writer.Push(row, inset);
  });
  // Every glyph row has the same edges; the first one stands for all.
  layout.Row(inset, row);
  code(shape.between, [&](LzwSegmentWriter& writer) {
    writer.Push(row + width - inset, inset);
    writer.Push(row, inset);
  });
  code(shape.bottom, [&](LzwSegmentWriter& writer) {
    layout.Row(last - inset, row);
    writer.Push(row + width - inset, inset);
    for (int y = last - inset + 1; y <= last; ++y) {
      layout.Row(y, row);
      writer.Push(row, width);
    }
  });
}

const ShapeCodes& ShapeFor(const Layout& layout) {
  thread_local std::unique_ptr<ShapeCache> cache;
  if (!cache) cache = std::make_unique<ShapeCache>();
  const ShapeKey key{layout.frame(), layout.style().padding, layout.width(), layout.height()};
  for (const ShapeCodes& entry : cache->entries) {
    if (entry.key == key) return entry;
  }
  ShapeCodes& slot = cache->entries[cache->next];
  cache->next = (cache->next + 1) % kShapeEntries;
  slot.key = ShapeKey{};
  CodeShape(layout, slot);
  slot.key = key;
  return slot;
}

}  // namespace

bool SpliceImageCodes(const Layout& layout, BitString& out) {
  if (layout.width() > kMaxImageWidth) return false;
  const GlyphRowCodes& rows = GlyphRows();
  const ShapeCodes& shape = ShapeFor(layout);
  if (!shape.fits) return false;
  const StyleRows& style = rows.styles[layout.styleIndex()];
  const std::uint64_t* glyphWords = rows.words.data();
  const std::uint64_t* shapeWords = shape.words.data();
  const int last = layout.count() - 1;
  BeginLzwStream(out);
  out.AppendString(shapeWords + shape.top.word, static_cast<int>(shape.top.bits));
  for (int gy = 0; gy < layout.style().height; ++gy) {
    if (gy > 0) {
      out.AppendString(shapeWords + shape.between.word, static_cast<int>(shape.between.bits));
    }
    for (int i = 0; i <= last; ++i) {
      const Piece& piece = style.pieces[layout.glyph(i)][gy][i < last ? 1 : 0];
      out.AppendString(glyphWords + piece.word, static_cast<int>(piece.bits));
    }
  }
  out.AppendString(shapeWords + shape.bottom.word, static_cast<int>(shape.bottom.bits));
  EndLzwStream(out);
  return !out.overflow();
}

}  // namespace vormel
