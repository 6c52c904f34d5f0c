#include "core/version.h"

#include <charconv>
#include <stdexcept>

#include <fmt/format.h>

namespace vntx {

VersionNumber parseVersion(std::string_view text) {
    VersionNumber v;
    int* parts[] = {&v.major, &v.minor, &v.patch};
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (int k = 0; k < 3; ++k) {
        auto [next, ec] = std::from_chars(p, end, *parts[k]);
        if (ec != std::errc() || next == p || *parts[k] < 0) throw std::runtime_error("parse error in version string");
        p = next;
        if (k < 2) {
            if (p == end) throw std::runtime_error("parse error in version string");
            ++p;
        }
    }
    if (p != end) throw std::runtime_error("parse error in version string");
    return v;
}

std::string formatVersion(const VersionNumber& v) { return fmt::format("{}.{}.{}", v.major, v.minor, v.patch); }

}  // namespace vntx
