// libFuzzer target: any bytes as parameters.xml. Reading takes what it can,
// limits the numbers, and writes the file back; a second reading of what it
// wrote must give the same settings (nothing drifts or is lost on a restart).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/parameters.h"
#include "support/fuzz/scratch.h"

namespace {

std::vector<std::string> snapshot() {
    std::vector<std::string> v;
    vntx::Parameters& p = vntx::params();
    for (auto* b : p.bools) v.push_back(b->get() ? "1" : "0");
    for (auto* i : p.ints) {
        if (i->get() < i->min || i->get() > i->max) __builtin_trap();
        v.push_back(std::to_string(i->get()));
    }
    for (auto* t : p.texts) v.push_back(t->get());
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vntx::Parameters& p = vntx::params();
    p.setFile(vntx::fuzz::writeScratch("Ventrix_P3D/parameters.xml", data, size));
    p.resetToDefaults();
    p.readParameters();
    const auto first = snapshot();
    p.resetToDefaults();
    p.readParameters();
    if (snapshot() != first) __builtin_trap();
    return 0;
}
