// Platform services. The only place of the program that knows which operating
// system it runs on; everything else calls these functions.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vntx::platform {

// Single-instance guard: a named mutex on Windows, a lock file elsewhere.
// acquire() returns nullptr when another instance already holds the name.
class InstanceLock {
public:
    virtual ~InstanceLock() = default;
    static std::unique_ptr<InstanceLock> acquire(const std::string& name);
};

enum class KnownFolder { RoamingAppData, Documents, PublicDocuments, ProgramFiles, ProgramFilesX86 };

// Empty path when the folder cannot be determined.
std::filesystem::path knownFolder(KnownFolder folder);

enum class RegistryHive { LocalMachine, CurrentUser };

// Registry access in the 64-bit view. Off Windows a small file-backed store
// stands in; its path is taken from the environment variable VNTX_REGISTRY.
bool registryKeyExists(RegistryHive hive, const std::string& key);
std::optional<std::string> registryReadString(RegistryHive hive, const std::string& key,
                                              const std::string& value);
bool registryWriteString(RegistryHive hive, const std::string& key, const std::string& value,
                         const std::string& data);

// System timer resolution of 1 ms for the control loop (no-op off Windows).
void beginTimerPeriod1ms();
void endTimerPeriod1ms();

// Runs the calling thread ahead of the machine's ordinary work while it keeps
// a strict period: a 10 ms loop that sleeps almost all the time must wake on
// time however busy the other programs keep the cores. Windows: the highest
// priority of its class; elsewhere the lowest real-time (first in, first out)
// priority when the system grants it. Says what the thread got, for the log.
std::string raiseTimingThreadPriority();
// Back to the priority the thread had before.
void restoreThreadPriority();

// Sleeps until the deadline, never returning before it. (The C++ library of
// the Windows build cuts a sleep to whole milliseconds: a wait of 0.9 ms would
// not wait at all, and a 1 ms loop would spin.)
void sleepUntil(std::chrono::steady_clock::time_point deadline);

// The same, for a thread that must wake on time: it sleeps until
// kAwakeBeforeDeadline before the deadline and waits out the rest awake. A
// sleeping processor can take milliseconds to be woken (on a virtual machine
// more than on bare hardware, on Windows up to its 1 ms timer period); the
// price is that wait's processor time, a tenth of a core for a 10 ms loop.
inline constexpr std::chrono::microseconds kAwakeBeforeDeadline{1000};
inline void sleepUntilPrecisely(std::chrono::steady_clock::time_point deadline) {
    sleepUntil(deadline - kAwakeBeforeDeadline);
    while (std::chrono::steady_clock::now() < deadline) {
    }
}

// CPU time the calling thread has used (user and kernel). Windows counts it
// in scheduler quanta, so single short spans read as 0 or a whole quantum;
// their mean over many spans is still right.
std::chrono::nanoseconds threadCpuTime();

// The program's arguments without the program name, as UTF-8, split the
// Windows way on Windows (CommandLineToArgvW).
std::vector<std::string> commandLineArguments(int argc, char** argv);

// Opens a file or folder with the desktop's default handler.
bool shellOpen(const std::string& target);

// True when the process runs with elevated rights.
bool isElevated();

// A warning box with an OK button (waits for it); off Windows the text goes
// to standard error.
void warningBox(const std::string& text, const std::string& caption);

// Names the calling thread for debuggers (best effort).
void setThreadName(const std::string& name);

// Reads one line from standard input, waiting at most timeoutMs.
// 1: a line was read (without its end), 0: none yet, -1: end of input.
int readStdinLine(std::string& line, int timeoutMs);

// Ctrl+C and termination requests: sets the flag (asynchronously) instead of ending the process.
void catchTerminationSignals(std::atomic<bool>& flag);

// Path conversions between UTF-8 text and the file system.
std::filesystem::path pathFromUtf8(const std::string& utf8);
std::string pathToUtf8(const std::filesystem::path& path);

// A path for a program that takes narrow (char) paths, as the simulator does:
// in the system's ANSI code page on Windows (not the program's own, which its
// manifest sets to UTF-8), UTF-8 elsewhere. A path of an existing file that
// the code page cannot spell is given in its short (8.3) form; nullopt when
// neither fits, so that no misspelt path is ever handed over.
std::optional<std::string> pathToNarrowCodePage(const std::filesystem::path& path);
// How such a program reads a narrow path (the simulator stand-in's side).
std::filesystem::path pathFromNarrowCodePage(const std::string& narrow);
// The code page of narrow paths: the system's ANSI code page on Windows, 65001 (UTF-8) elsewhere.
unsigned narrowCodePage();

}  // namespace vntx::platform
