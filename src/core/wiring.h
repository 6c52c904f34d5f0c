#pragma once

namespace vntx {
// Plugs every subsystem into the cycle's hook points.
void installAllHooks();
}
