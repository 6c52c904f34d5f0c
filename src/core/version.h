#pragma once

namespace vntx {

inline constexpr const char* kProgramName = "Ventrix_P3D";
inline constexpr int kVersionMajor = 11;
inline constexpr int kVersionMinor = 9;
inline constexpr int kVersionPatch = 2;
inline constexpr const char* kSimulatorKind = "Prepar3D v5/v6";

// "11.9.2"
const char* programVersion();

}  // namespace vntx
