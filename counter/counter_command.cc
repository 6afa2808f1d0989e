// The image command: the renderer draws into a buffer of this call and advances the named
// counter in the live table; the image goes out as an ordinary, uncacheable GIF response.
#include <cstdio>
#include <shared_mutex>
#include <stdexcept>

#include "renderer/render_block.h"
#include "store/counter_extension.h"

namespace vormel {

void CounterExtension::Counter(RequestContext& context, const char* p) {
  unsigned char output[kRenderOutputCapacity];
  RenderBlock block{};
  block.parameters = p;
  block.names = table.names;
  block.values = table.values;
  block.nameLengths = table.nameLengths;
  block.zero = 0;
  block.output = output;

  std::int32_t n;
  {
    // Shared: images run side by side; add and delete cannot move names under the renderer.
    std::shared_lock<std::shared_mutex> guard(table.lock);
    n = Counter2(&block);
  }
  if (n <= 0 || n > kRenderOutputCapacity) throw std::runtime_error("renderer gave no image");

  char header[256];
  std::snprintf(header, sizeof header,
                "Content-Type: image/gif\r\n"
                "Content-Length: %d\r\n"
                "Cache-Control: no-cache, no-store, must-revalidate\r\n"
                "Pragma: no-cache\r\n"
                "Expires: 0\r\n",
                static_cast<int>(n));
  AddResponseHeader(context, header);
  if (context.stream) context.stream->Write(output, static_cast<std::uint32_t>(n));
}

}  // namespace vormel
