// Log.txt: one stream per process, guarded by the log mutex.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace vntx {

// Saves up to three generations of Log.txt, opens it truncated and writes the
// header line. Throws std::runtime_error("Failed to write file Log.txt") when it
// cannot be opened; every later log call is then a no-op.
void openLog(const std::filesystem::path& path = "Log.txt");
void closeLog();
bool logIsOpen();

void logLine(std::string_view text);
// A highlighted line: "==> " + text, flushed at once.
void logError(std::string_view text);
void flushLog();

template <typename... Args>
void logf(fmt::format_string<Args...> f, Args&&... args) {
    logLine(fmt::format(f, std::forward<Args>(args)...));
}
template <typename... Args>
void logErrorf(fmt::format_string<Args...> f, Args&&... args) {
    logError(fmt::format(f, std::forward<Args>(args)...));
}

}  // namespace vntx
