#pragma once

#include <compare>
#include <string>
#include <string_view>

namespace vntx {

inline constexpr const char* kProgramName = "Ventrix_P3D";
inline constexpr int kVersionMajor = 11;
inline constexpr int kVersionMinor = 9;
inline constexpr int kVersionPatch = 2;
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
