#include "core/wiring.h"

namespace vntx {

void installAllHooks() {}

}  // namespace vntx
