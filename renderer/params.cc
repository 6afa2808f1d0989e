#include "renderer/params.h"

#include <cstddef>
#include <cstring>
#include <string_view>

namespace vormel {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whole-text unsigned decimal within [lo, hi]; anything else is rejected.
bool ParseInt(std::string_view text, int lo, int hi, int& out) {
  if (text.empty() || text.size() > 6) return false;
  int value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + (c - '0');
  }
  if (value < lo || value > hi) return false;
  out = value;
  return true;
}

// "R;G;B", each 0..255.
bool ParseRgb(std::string_view text, Rgb& out) {
  int parts[3] = {};
  for (int i = 0; i < 3; ++i) {
    std::size_t end = text.find(';');
    if ((i < 2) != (end != std::string_view::npos)) return false;
    if (!ParseInt(text.substr(0, end), 0, 255, parts[i])) return false;
    text = i < 2 ? text.substr(end + 1) : std::string_view();
  }
  out = {static_cast<std::uint8_t>(parts[0]), static_cast<std::uint8_t>(parts[1]),
         static_cast<std::uint8_t>(parts[2])};
  return true;
}

bool ParseTz(std::string_view text, int& minutes) {
  if (text.size() != 5 || (text[0] != '+' && text[0] != '-')) return false;
  int hours = 0;
  int mins = 0;
  if (!ParseInt(text.substr(1, 2), 0, 23, hours) || !ParseInt(text.substr(3, 2), 0, 59, mins)) {
    return false;
  }
  minutes = (hours * 60 + mins) * (text[0] == '-' ? -1 : 1);
  return true;
}

bool ValidLit(std::string_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(kMaxLitLength)) return false;
  std::size_t start = text[0] == '-' ? 1 : 0;
  if (start == text.size()) return false;
  for (std::size_t i = start; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return false;
  }
  return true;
}

void ApplyItem(std::string_view key, std::string_view value, RenderParams& p) {
  if (EqualsNoCase(key, "display")) {
    if (EqualsNoCase(value, "counter")) p.display = DisplayMode::kCounter;
    if (EqualsNoCase(value, "date")) p.display = DisplayMode::kDate;
    if (EqualsNoCase(value, "clock")) p.display = DisplayMode::kClock;
  } else if (EqualsNoCase(key, "df")) {
    p.hasName = true;
    p.nameTooLong = value.size() > static_cast<std::size_t>(kMaxNameLength);
    std::size_t n = p.nameTooLong ? 0 : value.size();
    std::memcpy(p.name, value.data(), n);
    p.name[n] = '\0';
  } else if (EqualsNoCase(key, "lit")) {
    p.hasLit = true;
    p.litValid = ValidLit(value);
    std::size_t n = p.litValid ? value.size() : 0;
    std::memcpy(p.lit, value.data(), n);
    p.lit[n] = '\0';
  } else if (EqualsNoCase(key, "dd")) {
    if (value.size() == 1) {
      char c = Lower(value[0]);
      if (c >= 'a' && c <= 'h') p.style = c - 'a';
    }
  } else if (EqualsNoCase(key, "ft")) {
    ParseInt(value, 0, kMaxFrame, p.frame);
  } else if (EqualsNoCase(key, "frgb")) {
    ParseRgb(value, p.frameColour);
  } else if (EqualsNoCase(key, "digits")) {
    ParseInt(value, 1, kMaxDigits, p.minDigits);
  } else if (EqualsNoCase(key, "group")) {
    if (EqualsNoCase(value, "yes")) p.group = true;
    if (EqualsNoCase(value, "no")) p.group = false;
  } else if (EqualsNoCase(key, "count")) {
    if (EqualsNoCase(value, "yes")) p.count = true;
    if (EqualsNoCase(value, "no")) p.count = false;
  } else if (EqualsNoCase(key, "bg")) {
    if (EqualsNoCase(value, "none")) {
      p.transparent = true;
      p.hasBackground = false;
    } else if (ParseRgb(value, p.background)) {
      p.transparent = false;
      p.hasBackground = true;
    }
  } else if (EqualsNoCase(key, "hours")) {
    if (value == "12") p.hours12 = true;
    if (value == "24") p.hours12 = false;
  } else if (EqualsNoCase(key, "datefmt")) {
    if (EqualsNoCase(value, "ymd")) p.dateOrder = DateOrder::kYmd;
    if (EqualsNoCase(value, "mdy")) p.dateOrder = DateOrder::kMdy;
    if (EqualsNoCase(value, "dmy")) p.dateOrder = DateOrder::kDmy;
  } else if (EqualsNoCase(key, "tz")) {
    if (ParseTz(value, p.tzOffsetMinutes)) p.hasTz = true;
  }
}

}  // namespace

RenderParams ParseParams(const char* text) {
  RenderParams p;
  if (text == nullptr || text[0] == '\0') return p;
  p.empty = false;
  std::string_view rest(text);
  while (!rest.empty()) {
    std::size_t comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    std::size_t eq = item.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    ApplyItem(item.substr(0, eq), item.substr(eq + 1), p);
  }
  return p;
}

bool WantsAdvance(const RenderParams& p) {
  return p.hasName && !p.hasLit && p.display == DisplayMode::kCounter && p.count;
}

}  // namespace vormel
