#include "renderer/glyphs.h"

#include <algorithm>
#include <cmath>

namespace vormel {
namespace {

constexpr float kPi = 3.14159265f;

struct Segment {
  float x0, y0, x1, y1;
  bool ghost;
};

// A glyph outline as stroked line segments in a unit box (x right, y down, 0..1).
class Path {
 public:
  void Line(float x0, float y0, float x1, float y1) {
    if (count_ < kCapacity) segments_[count_++] = {x0, y0, x1, y1, ghost_};
  }
  void Dot(float x, float y) { Line(x, y, x, y); }
  void Poly(std::initializer_list<float> xy) {
    const float* p = xy.begin();
    for (std::size_t i = 2; i + 1 < xy.size(); i += 2) Line(p[i - 2], p[i - 1], p[i], p[i + 1]);
  }
  // Elliptic arc; angles in degrees, 0 = right, 90 = down.
  void Arc(float cx, float cy, float rx, float ry, float from, float to) {
    int steps = std::max(2, static_cast<int>(std::fabs(to - from) / 12.0f));
    float px = cx + rx * std::cos(from * kPi / 180);
    float py = cy + ry * std::sin(from * kPi / 180);
    for (int i = 1; i <= steps; ++i) {
      float a =
          (from + (to - from) * static_cast<float>(i) / static_cast<float>(steps)) * kPi / 180;
      float x = cx + rx * std::cos(a);
      float y = cy + ry * std::sin(a);
      Line(px, py, x, y);
      px = x;
      py = y;
    }
  }
  void Cubic(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3) {
    constexpr int kSteps = 14;
    float px = x0;
    float py = y0;
    for (int i = 1; i <= kSteps; ++i) {
      float t = static_cast<float>(i) / kSteps;
      float u = 1 - t;
      float x = u * u * u * x0 + 3 * u * u * t * x1 + 3 * u * t * t * x2 + t * t * t * x3;
      float y = u * u * u * y0 + 3 * u * u * t * y1 + 3 * u * t * t * y2 + t * t * t * y3;
      Line(px, py, x, y);
      px = x;
      py = y;
    }
  }
  void SetGhost(bool ghost) { ghost_ = ghost; }
  int count() const { return count_; }
  const Segment& at(int i) const { return segments_[i]; }

 private:
  static constexpr int kCapacity = 192;
  Segment segments_[kCapacity] = {};
  int count_ = 0;
  bool ghost_ = false;
};

struct Pen {
  float halfWidth = 1.5f;
  float innerHalfWidth = 0;  // > 0 strokes an outline: the band between the two widths
  float thinHalfWidth = 0;   // > 0 thins horizontal strokes towards this width
  bool beveled = false;      // pointed segment ends instead of round ones
  float slant = 0;           // shift of the top against the bottom, in box widths
};

struct Box {
  float left, top, width, height;
};

float Clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }

// Coverage of one pixel centre by the stroked path: 1 inside, a linear ramp over one pixel.
void Rasterize(const Path& path, const Box& box, const Pen& pen, Glyph& glyph, int height) {
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < glyph.width; ++x) {
      float px = static_cast<float>(x) + 0.5f;
      float py = static_cast<float>(y) + 0.5f;
      float ink = 0;
      float ghost = 0;
      for (int i = 0; i < path.count(); ++i) {
        const Segment& s = path.at(i);
        auto mapX = [&](float sx, float sy) {
          return box.left + sx * box.width + pen.slant * box.width * (1 - sy);
        };
        float ax = mapX(s.x0, s.y0);
        float ay = box.top + s.y0 * box.height;
        float bx = mapX(s.x1, s.y1);
        float by = box.top + s.y1 * box.height;
        float dx = bx - ax;
        float dy = by - ay;
        float len2 = dx * dx + dy * dy;
        float len = std::sqrt(len2);
        float t = len2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0;
        float distance;
        if (pen.beveled && len > 0) {
          float across = std::fabs((px - ax) * dy - (py - ay) * dx) / len;
          float beyond = std::max(0.0f, std::max(-t, t - 1)) * len;
          distance = across + beyond;
        } else {
          float tc = Clamp01(t);
          float ex = px - (ax + tc * dx);
          float ey = py - (ay + tc * dy);
          distance = std::sqrt(ex * ex + ey * ey);
        }
        float hw = pen.halfWidth;
        if (pen.thinHalfWidth > 0 && len > 0) {
          float vertical = std::fabs(dy) / len;
          hw = pen.thinHalfWidth + (pen.halfWidth - pen.thinHalfWidth) * vertical * vertical;
        }
        float c = Clamp01(hw - distance + 0.5f);
        if (pen.innerHalfWidth > 0) c = std::min(c, Clamp01(distance - pen.innerHalfWidth + 0.5f));
        (s.ghost ? ghost : ink) = std::max(s.ghost ? ghost : ink, c);
      }
      // Outlines: the inner band must stay empty even where another segment's band covers it.
      if (pen.innerHalfWidth > 0) {
        for (int i = 0; i < path.count() && ink > 0; ++i) {
          const Segment& s = path.at(i);
          float ax = box.left + s.x0 * box.width;
          float ay = box.top + s.y0 * box.height;
          float dx = box.left + s.x1 * box.width - ax;
          float dy = box.top + s.y1 * box.height - ay;
          float len2 = dx * dx + dy * dy;
          float t = len2 > 0 ? Clamp01(((px - ax) * dx + (py - ay) * dy) / len2) : 0;
          float ex = px - (ax + t * dx);
          float ey = py - (ay + t * dy);
          float d = std::sqrt(ex * ex + ey * ey);
          ink = std::min(ink, Clamp01(d - pen.innerHalfWidth + 0.5f));
        }
      }
      auto level = [](float c) { return static_cast<std::uint8_t>(std::lround(c * kCoverageMax)); };
      std::uint8_t inkLevel = level(ink);
      std::uint8_t ghostLevel = level(ghost);
      glyph.pixels[y][x] = inkLevel > 0 || ghostLevel == 0
                               ? inkLevel
                               : static_cast<std::uint8_t>(kGhostBit | ghostLevel);
    }
  }
}

// Stroke skeletons shared by the outline styles, in the unit box.
void DigitPath(int id, Path& p, bool serif) {
  switch (id) {
    case 0:
      p.Arc(0.5f, 0.3f, 0.5f, 0.3f, 180, 360);
      p.Line(1, 0.3f, 1, 0.7f);
      p.Arc(0.5f, 0.7f, 0.5f, 0.3f, 0, 180);
      p.Line(0, 0.7f, 0, 0.3f);
      break;
    case 1:
      p.Line(0.56f, 0, 0.56f, 1);
      p.Line(0.56f, 0, 0.18f, 0.24f);
      if (serif) p.Line(0.22f, 1, 0.9f, 1);
      break;
    case 2:
      p.Arc(0.5f, 0.27f, 0.48f, 0.27f, 195, 390);
      p.Line(0.95f, 0.36f + 0.05f, 0.02f, 1);
      p.Line(0.02f, 1, 1, 1);
      break;
    case 3:
      p.Arc(0.48f, 0.25f, 0.44f, 0.25f, 200, 450);
      p.Arc(0.5f, 0.74f, 0.5f, 0.26f, 270, 520);
      break;
    case 4:
      p.Poly({0.74f, 1, 0.74f, 0, 0, 0.7f, 1, 0.7f});
      if (serif) p.Line(0.5f, 1, 0.98f, 1);
      break;
    case 5:
      p.Poly({0.92f, 0, 0.14f, 0, 0.08f, 0.46f});
      p.Arc(0.5f, 0.68f, 0.5f, 0.32f, 222, 520);
      break;
    case 6:
      p.Arc(0.5f, 0.69f, 0.5f, 0.31f, 0, 360);
      p.Cubic(0, 0.69f, 0, 0.2f, 0.35f, 0, 0.88f, 0.06f);
      break;
    case 7:
      p.Poly({0, 0, 1, 0, 0.38f, 1});
      if (serif) p.Line(0, 0, 0, 0.12f);
      break;
    case 8:
      p.Arc(0.5f, 0.235f, 0.42f, 0.235f, 0, 360);
      p.Arc(0.5f, 0.735f, 0.5f, 0.265f, 0, 360);
      break;
    case 9:
      p.Arc(0.5f, 0.31f, 0.5f, 0.31f, 0, 360);
      p.Cubic(1, 0.31f, 1, 0.8f, 0.65f, 1, 0.12f, 0.94f);
      break;
    case kGlyphMinus:
      p.Line(0.1f, 0.56f, 0.9f, 0.56f);
      break;
    case kGlyphColon:
      p.Dot(0.5f, 0.3f);
      p.Dot(0.5f, 0.8f);
      break;
    case kGlyphSlash:
      p.Line(1, 0, 0, 1);
      break;
    case kGlyphGroup:
      p.Dot(0.55f, 0.92f);
      p.Line(0.55f, 0.92f, 0.3f, 1.08f);
      break;
    default:
      p.Line(0, 0.1f, 1, 0.9f);
      p.Line(1, 0.1f, 0, 0.9f);
      break;
  }
}

// Body width of a glyph relative to a digit's.
float WidthFactor(int id) {
  switch (id) {
    case kGlyphMinus:
    case kGlyphSlash:
      return 0.7f;
    case kGlyphColon:
    case kGlyphGroup:
      return 0.0f;
    default:
      return 1.0f;
  }
}

struct OutlineShape {
  float bodyWidth, bodyHeight;
  Pen pen;
  bool serif;
};

void BuildOutlineStyle(Style& style, const OutlineShape& shape) {
  float margin = shape.pen.halfWidth + 1.0f;
  style.height = static_cast<int>(std::ceil(shape.bodyHeight + 2 * margin));
  for (int id = 0; id < kGlyphCount; ++id) {
    Glyph& g = style.glyphs[id];
    float bw = shape.bodyWidth * WidthFactor(id);
    float slantRoom = std::fabs(shape.pen.slant) * shape.bodyWidth;
    g.width = std::min(kGlyphMaxWidth, static_cast<int>(std::ceil(bw + 2 * margin + slantRoom)));
    Path path;
    DigitPath(id, path, shape.serif);
    Rasterize(path, {margin, margin, bw, shape.bodyHeight}, shape.pen, g, style.height);
  }
}

// Seven segments: a top, b top right, c bottom right, d bottom, e bottom left, f top left, g
// middle.
constexpr std::uint8_t kSegmentMasks[] = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                          0x6D, 0x7D, 0x07, 0x7F, 0x6F};

void BuildSegmentStyle(Style& style) {
  constexpr float kBodyW = 11;
  constexpr float kBodyH = 22;
  Pen pen;
  pen.halfWidth = 1.7f;
  pen.beveled = true;
  pen.slant = 0.1f;
  float margin = pen.halfWidth + 1.0f;
  style.height = static_cast<int>(std::ceil(kBodyH + 2 * margin));
  constexpr float kCut = 0.16f;  // gap at each segment end, in box units
  const float seg[7][4] = {{0, 0, 1, 0},    {1, 0, 1, 0.5f}, {1, 0.5f, 1, 1},   {0, 1, 1, 1},
                           {0, 0.5f, 0, 1}, {0, 0, 0, 0.5f}, {0, 0.5f, 1, 0.5f}};
  for (int id = 0; id < kGlyphCount; ++id) {
    Glyph& g = style.glyphs[id];
    Path path;
    float bw = kBodyW;
    if (id <= 9 || id == kGlyphMinus || id == kGlyphError) {
      std::uint8_t mask = id <= 9 ? kSegmentMasks[id] : id == kGlyphMinus ? 0x40 : 0x79;  // E
      for (int s = 0; s < 7; ++s) {
        bool horizontal = seg[s][1] == seg[s][3];
        float cx = horizontal ? kCut * 0.7f : 0;
        float cy = horizontal ? 0 : kCut * 0.5f;
        path.SetGhost((mask & (1 << s)) == 0);
        path.Line(seg[s][0] + cx, seg[s][1] + cy, seg[s][2] - cx, seg[s][3] - cy);
      }
    } else {
      bw = WidthFactor(id) * kBodyW;
      DigitPath(id, path, false);
    }
    g.width = static_cast<int>(std::ceil(bw + 2 * margin + pen.slant * kBodyW));
    Rasterize(path, {margin, margin, bw, kBodyH}, pen, g, style.height);
  }
}

// Bitmap fonts as rows of '#' and '.', for the dot-matrix and pixel styles.
struct BitmapGlyph {
  const char* rows[7];
};

constexpr BitmapGlyph kFont5x7[kGlyphCount] = {
    {{".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {{"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {{".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {{"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
    {{"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {{"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {{"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {{"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {{".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {{".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
    {{"...", "...", "...", "###", "...", "...", "..."}},
    {{".", "#", "#", ".", "#", "#", "."}},
    {{"....#", "...#.", "...#.", "..#..", ".#...", ".#...", "#...."}},
    {{"..", "..", "..", "..", "..", ".#", "#."}},
    {{"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
};

constexpr BitmapGlyph kFont3x5[kGlyphCount] = {
    {{"###", "#.#", "#.#", "#.#", "###"}}, {{".#.", "##.", ".#.", ".#.", "###"}},
    {{"###", "..#", "###", "#..", "###"}}, {{"###", "..#", ".##", "..#", "###"}},
    {{"#.#", "#.#", "###", "..#", "..#"}}, {{"###", "#..", "###", "..#", "###"}},
    {{"###", "#..", "###", "#.#", "###"}}, {{"###", "..#", ".#.", ".#.", ".#."}},
    {{"###", "#.#", "###", "#.#", "###"}}, {{"###", "#.#", "###", "..#", "###"}},
    {{"...", "...", "###", "...", "..."}}, {{".", "#", ".", "#", "."}},
    {{"..#", "..#", ".#.", "#..", "#.."}}, {{"..", "..", "..", ".#", "#."}},
    {{"#.#", "#.#", ".#.", "#.#", "#.#"}},
};

int RowWidth(const char* row) {
  int n = 0;
  while (row[n] != '\0') ++n;
  return n;
}

// Round LEDs on a grid; unlit positions glow faintly in the ghost colour.
void BuildDotMatrixStyle(Style& style) {
  constexpr float kPitch = 3.4f;
  constexpr float kRadius = 1.25f;
  constexpr float kMargin = 1.5f;
  style.height = static_cast<int>(std::ceil(7 * kPitch + 2 * kMargin - (kPitch - 2 * kRadius)));
  for (int id = 0; id < kGlyphCount; ++id) {
    Glyph& g = style.glyphs[id];
    const BitmapGlyph& bitmap = kFont5x7[id];
    int cols = RowWidth(bitmap.rows[0]);
    g.width = static_cast<int>(
        std::ceil(static_cast<float>(cols) * kPitch + 2 * kMargin - (kPitch - 2 * kRadius)));
    Path path;
    for (int r = 0; r < 7; ++r) {
      for (int c = 0; c < cols; ++c) {
        path.SetGhost(bitmap.rows[r][c] != '#');
        path.Dot(kMargin + kRadius + static_cast<float>(c) * kPitch,
                 kMargin + kRadius + static_cast<float>(r) * kPitch);
      }
    }
    Pen pen;
    pen.halfWidth = kRadius;
    Rasterize(path, {0, 0, 1, 1}, pen, g, style.height);
  }
}

// Chunky square pixels with a one-pixel drop shadow, no smoothing.
void BuildPixelStyle(Style& style) {
  constexpr int kScale = 3;
  constexpr int kMargin = 2;
  style.height = 5 * kScale + 2 * kMargin + 1;
  for (int id = 0; id < kGlyphCount; ++id) {
    Glyph& g = style.glyphs[id];
    const BitmapGlyph& bitmap = kFont3x5[id];
    int cols = RowWidth(bitmap.rows[0]);
    g.width = cols * kScale + 2 * kMargin + 1;
    for (int y = 0; y < style.height; ++y) {
      for (int x = 0; x < g.width; ++x) {
        auto lit = [&](int px, int py) {
          int c = (px - kMargin) / kScale;
          int r = (py - kMargin) / kScale;
          return px >= kMargin && py >= kMargin && c < cols && r < 5 && bitmap.rows[r][c] == '#';
        };
        if (lit(x, y)) {
          g.pixels[y][x] = kCoverageMax;
        } else if (lit(x - 1, y - 1)) {
          g.pixels[y][x] = kGhostBit | kCoverageMax;
        }
      }
    }
  }
}

struct StyleSet {
  Style styles[kStyleCount];
};

StyleSet BuildStyles() {
  StyleSet set;
  // a: seven-segment LCD, dark segments on grey-green glass.
  Style& a = set.styles[0];
  BuildSegmentStyle(a);
  a.padding = 3;
  a.gap = 1;
  a.ink = {24, 36, 28};
  a.background = {156, 178, 146};
  a.ghost = {138, 160, 130};
  // b: amber dot-matrix LED.
  Style& b = set.styles[1];
  BuildDotMatrixStyle(b);
  b.padding = 3;
  b.gap = 1;
  b.ink = {255, 176, 20};
  b.background = {22, 14, 4};
  b.ghost = {62, 40, 10};
  // c: bold sans, black on white.
  Style& c = set.styles[2];
  Pen bold;
  bold.halfWidth = 1.9f;
  BuildOutlineStyle(c, {9, 16, bold, false});
  c.padding = 2;
  c.gap = 1;
  c.ink = {20, 20, 24};
  c.background = {255, 255, 255};
  // d: outlined blue.
  Style& d = set.styles[3];
  Pen outline;
  outline.halfWidth = 2.6f;
  outline.innerHalfWidth = 1.0f;
  BuildOutlineStyle(d, {10, 18, outline, false});
  d.padding = 2;
  d.gap = 0;
  d.ink = {20, 70, 170};
  d.background = {232, 240, 255};
  // e: odometer, white figures on black drums.
  Style& e = set.styles[4];
  Pen odo;
  odo.halfWidth = 1.25f;
  BuildOutlineStyle(e, {8, 14, odo, false});
  e.padding = 2;
  e.gap = 2;
  e.cells = true;
  e.ink = {245, 245, 240};
  e.background = {0, 0, 0};
  e.cell = {52, 52, 56};
  // f: high-contrast serif, brown on cream.
  Style& f = set.styles[5];
  Pen serif;
  serif.halfWidth = 1.5f;
  serif.thinHalfWidth = 0.55f;
  BuildOutlineStyle(f, {10, 19, serif, true});
  f.padding = 3;
  f.gap = 1;
  f.ink = {96, 44, 12};
  f.background = {250, 240, 212};
  // g: rounded bubble, thick round strokes in magenta.
  Style& g = set.styles[6];
  Pen bubble;
  bubble.halfWidth = 2.5f;
  BuildOutlineStyle(g, {10, 15, bubble, false});
  g.padding = 2;
  g.gap = 0;
  g.ink = {206, 36, 140};
  g.background = {255, 232, 246};
  // h: retro pixels, green on navy with a dark shadow.
  Style& h = set.styles[7];
  BuildPixelStyle(h);
  h.padding = 2;
  h.gap = 0;
  h.ink = {90, 255, 130};
  h.background = {12, 22, 64};
  h.ghost = {4, 70, 60};
  for (Style& s : set.styles) {
    if (!s.cells) s.cell = s.background;
  }
  return set;
}

}  // namespace

const Style& GetStyle(int style) {
  static const StyleSet set = BuildStyles();
  return set.styles[std::clamp(style, 0, kStyleCount - 1)];
}

int GlyphForChar(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  switch (c) {
    case '-':
      return kGlyphMinus;
    case ':':
      return kGlyphColon;
    case '/':
      return kGlyphSlash;
    case ',':
      return kGlyphGroup;
    default:
      return kGlyphError;
  }
}

}  // namespace vormel
