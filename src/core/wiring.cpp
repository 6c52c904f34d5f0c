#include "core/wiring.h"

#include "airports/catalogue.h"
#include "simlink/simlink.h"

namespace vntx {

void installAllHooks() {
    installRefdataHooks();
    installSimlinkHooks();
}

}  // namespace vntx
