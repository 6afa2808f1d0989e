// The one server object of the loaded module: built by static construction at load, destroyed
// (with the final commit) by static destruction at unload.
#include "store/counter_extension.h"

namespace vormel {
namespace {

CounterExtension theExtension;

}  // namespace
}  // namespace vormel
