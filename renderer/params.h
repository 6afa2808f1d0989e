// Parsing of the image parameter text ("key=value,key=value"). Pure: reads the text, writes a
// fixed-size RenderParams, keeps nothing; safe on any thread.
#pragma once

#include <cstdint>

namespace vormel {

enum class DisplayMode { kCounter, kDate, kClock };
enum class DateOrder { kYmd, kMdy, kDmy };

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr int kMaxNameLength = 255;
inline constexpr int kMaxLitLength = 32;
inline constexpr int kMaxDigits = 32;
inline constexpr int kMaxFrame = 20;

struct RenderParams {
  bool empty = true;  // the text held no characters at all
  DisplayMode display = DisplayMode::kCounter;
  bool hasName = false;
  char name[kMaxNameLength + 1] = {};  // df, NUL-terminated; longer names never match
  bool nameTooLong = false;
  bool hasLit = false;
  bool litValid = false;
  char lit[kMaxLitLength + 1] = {};   // lit as given, valid only when litValid
  int style = 0;                      // dd: 0 for 'a' .. 7 for 'h'
  int frame = 2;                      // ft
  Rgb frameColour = {160, 160, 160};  // frgb
  int minDigits = 1;                  // digits
  bool group = false;
  bool count = true;
  bool hasBackground = false;  // bg given as a colour
  bool transparent = false;    // bg=none
  Rgb background;
  bool hours12 = false;
  DateOrder dateOrder = DateOrder::kYmd;
  bool hasTz = false;
  int tzOffsetMinutes = 0;  // east of UTC
};

// Parses text (NUL-terminated, may be null). Unknown keys and malformed items are skipped.
RenderParams ParseParams(const char* text);

// True when the request advances the counter it names.
bool WantsAdvance(const RenderParams& params);

}  // namespace vormel
