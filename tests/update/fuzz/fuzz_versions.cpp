// libFuzzer target: any bytes as versions.json from the download server, and
// as a stored *_VERSION setting. A damaged list is refused with an exception
// the start-up check catches (std::exception), never with anything else; the
// versions it takes lie within their limits.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "update/version_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<vntx::VersionNumber> local = vntx::storedVersion(text);
    try {
        const vntx::WebVersions web = vntx::parseWebVersions(text);
        for (const auto& [name, v] : web.members) {
            if (v.major < 0 || v.minor < 0 || v.patch < 0) __builtin_trap();
            (void)vntx::isNewer(v, local);
            if (!web.find(name)) __builtin_trap();
        }
    } catch (const std::exception&) {
    }
    return 0;
}
