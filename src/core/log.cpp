#include "core/log.h"

#include <fstream>
#include <mutex>
#include <stdexcept>

#include "core/files.h"
#include "core/version.h"

namespace vntx {
namespace {
std::mutex logMutex;
std::ofstream logStream;
}  // namespace

const char* programVersion() {
    static const std::string v = fmt::format("{}.{}.{}", kVersionMajor, kVersionMinor, kVersionPatch);
    return v.c_str();
}

void openLog(const std::filesystem::path& path) {
    // When the last run's log could not be kept as a generation (a full
    // disk), it is added to rather than truncated: it is the only copy.
    const bool kept = gf_saveUpto3GenerationsOf(path);
    std::lock_guard lock(logMutex);
    if (logStream.is_open()) logStream.close();
    logStream.open(path, std::ios::out | std::ios::binary | (kept ? std::ios::trunc : std::ios::app));
    if (!logStream.is_open()) throw std::runtime_error("Failed to write file " + path.string());
    logStream << fmt::format("{} (utc) {} version {} for {}", utcDateTimeNow(), kProgramName, programVersion(),
                             kSimulatorKind)
              << '\n';
}

void closeLog() {
    std::lock_guard lock(logMutex);
    if (logStream.is_open()) logStream.close();
}

bool logIsOpen() {
    std::lock_guard lock(logMutex);
    return logStream.is_open();
}

void logLine(std::string_view text) {
    std::lock_guard lock(logMutex);
    if (!logStream.is_open()) return;
    logStream.write(text.data(), static_cast<std::streamsize>(text.size()));
    logStream.put('\n');
}

void logError(std::string_view text) {
    std::lock_guard lock(logMutex);
    if (!logStream.is_open()) return;
    logStream << "==> ";
    logStream.write(text.data(), static_cast<std::streamsize>(text.size()));
    logStream.put('\n');
    logStream.flush();
}

void flushLog() {
    std::lock_guard lock(logMutex);
    if (logStream.is_open()) logStream.flush();
}

}  // namespace vntx
