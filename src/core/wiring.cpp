#include "core/wiring.h"

#include "airports/catalogue.h"

namespace vntx {

void installAllHooks() { installRefdataHooks(); }

}  // namespace vntx
