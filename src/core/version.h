#pragma once

#include <compare>
#include <string>
#include <string_view>

namespace vntx {

// The version is the project's (CMakeLists.txt), passed in by the build.
#if !defined(VNTX_VERSION_MAJOR) || !defined(VNTX_VERSION_MINOR) || !defined(VNTX_VERSION_PATCH)
#error "VNTX_VERSION_MAJOR, _MINOR and _PATCH come from the project version (src/core/CMakeLists.txt)"
#endif

inline constexpr const char* kProgramName = "Ventrix_P3D";
inline constexpr int kVersionMajor = VNTX_VERSION_MAJOR;
inline constexpr int kVersionMinor = VNTX_VERSION_MINOR;
inline constexpr int kVersionPatch = VNTX_VERSION_PATCH;
inline constexpr const char* kSimulatorKind = "Prepar3D v5/v6";

// "11.9.2"
const char* programVersion();

// A version major.minor.patch, compared number by number: 11.10.0 is newer
// than 11.9.2, and 11.9.2 is older than 11.9.10.
struct VersionNumber {
    int major = 0;
    int minor = 0;
    int patch = 0;
    auto operator<=>(const VersionNumber&) const = default;
};

inline constexpr VersionNumber kRunningVersion{kVersionMajor, kVersionMinor, kVersionPatch};

// Three groups of digits separated by single characters ("11.9.2"); anything
// else throws std::runtime_error("parse error in version string").
VersionNumber parseVersion(std::string_view text);
// "{}.{}.{}"
std::string formatVersion(const VersionNumber& v);

}  // namespace vntx
