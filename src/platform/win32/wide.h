// UTF-8 <-> UTF-16 conversions for the Win32 calls. Invalid input is replaced
// (U+FFFD), never dropped or cut short.
#pragma once

#include <string>
#include <string_view>

namespace vntx::platform::win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

}  // namespace vntx::platform::win32
