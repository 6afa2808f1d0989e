#include "renderer/request.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "renderer/image.h"
#include "renderer/params.h"
#include "store/value_slot.h"

namespace vormel {
namespace {

constexpr int kTableEntries = 1000;
constexpr int kNamesCapacity = 8192;

int Finish(int length, const ImageOptions& options, unsigned char* out) {
  if (length >= 0) return length;
  int error = RenderError(options, out, kRenderOutputCapacity);
  return error > 0 ? error : 0;
}

}  // namespace

bool ComposeNumber(const char* digits, int minDigits, bool group, char* out) {
  bool negative = digits[0] == '-';
  const char* body = digits + (negative ? 1 : 0);
  int length = static_cast<int>(std::strlen(body));
  int total = length < minDigits ? minDigits : length;
  int cells = (negative ? 1 : 0) + total + (group ? (total - 1) / 3 : 0);
  if (length == 0 || total > kMaxDigits || cells > kMaxCells) return false;
  int pos = 0;
  if (negative) out[pos++] = '-';
  for (int i = 0; i < total; ++i) {
    if (group && i > 0 && (total - i) % 3 == 0) out[pos++] = ',';
    out[pos++] = i < total - length ? '0' : body[i - (total - length)];
  }
  out[pos] = '\0';
  return true;
}

std::int32_t* FindCounter(const RenderBlock& block, const char* name) {
  if (block.names == nullptr || block.values == nullptr || block.nameLengths == nullptr ||
      name[0] == '\0' || name[0] == ' ') {
    return nullptr;
  }
  int offset = 0;
  for (int i = 0; i < kTableEntries; ++i) {
    int stride = block.nameLengths[i];
    if (stride <= 0 || offset + stride > kNamesCapacity) break;
    const char* entry = block.names + offset;
    if (std::strncmp(entry, name, static_cast<std::size_t>(stride)) == 0) return &block.values[i];
    offset += stride;
  }
  return nullptr;
}

std::int32_t RenderRequest(const RenderBlock& block, std::time_t now, LocalTimeFunction local) {
  unsigned char* out = block.output;
  if (out == nullptr) return 0;
  RenderParams params = ParseParams(block.parameters);
  ImageOptions options = ImageOptionsFrom(params);
  if (params.empty) return Finish(-1, options, out);

  char text[kMaxCells + 1];
  if (params.display != DisplayMode::kCounter) {
    CivilTime t = params.hasTz ? CivilAtOffset(now, params.tzOffsetMinutes) : local(now);
    if (params.display == DisplayMode::kDate) {
      FormatDate(t, params.dateOrder, text);
    } else {
      FormatClock(t, params.hours12, text);
    }
    return Finish(RenderCellsCached(text, options, out, kRenderOutputCapacity), options, out);
  }
  if (params.hasLit) {
    if (!params.litValid || !ComposeNumber(params.lit, params.minDigits, params.group, text)) {
      return Finish(-1, options, out);
    }
    return Finish(RenderCellsCached(text, options, out, kRenderOutputCapacity), options, out);
  }
  std::int32_t* slot =
      params.hasName && !params.nameTooLong ? FindCounter(block, params.name) : nullptr;
  if (slot == nullptr) return Finish(-1, options, out);

  // An advancing counter draws a new text every time, so only a shown value goes through the
  // cache.
  auto draw = [&](std::int64_t value, bool repeats) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
    if (!ComposeNumber(digits, params.minDigits, params.group, text)) return -1;
    return repeats ? RenderCellsCached(text, options, out, kRenderOutputCapacity)
                   : RenderCells(text, options, out, kRenderOutputCapacity);
  };
  if (!params.count) return Finish(draw(LoadValue(*slot), true), options, out);

  // Draw the value the advance will most likely produce first, so that an image that cannot
  // fit leaves the counter untouched; redraw only if another thread advanced in between.
  std::int32_t seen = LoadValue(*slot);
  std::int32_t expected = seen == INT32_MAX ? seen : seen + 1;
  int length = draw(expected, false);
  if (length < 0) return Finish(-1, options, out);
  std::int32_t advanced = AdvanceValue(*slot);
  if (advanced != expected) length = draw(advanced, false);
  return Finish(length, options, out);
}

}  // namespace vormel
