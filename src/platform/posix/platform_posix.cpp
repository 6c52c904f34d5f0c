#include "platform/platform.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <csignal>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

namespace vntx::platform {
namespace {

std::string envOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : fallback;
}

std::filesystem::path home() { return envOr("HOME", "/tmp"); }

class FileLock final : public InstanceLock {
public:
    explicit FileLock(int fd) : fd_(fd) {}
    ~FileLock() override {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }

private:
    int fd_;
};

std::string sanitise(const std::string& name) {
    std::string out;
    for (char c : name) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')
            out += c;
        else
            out += '_';
    }
    return out;
}

// Registry stand-in: an INI-like text file with sections "[HKLM\key]" and
// "value=data" lines.
std::mutex registryMutex;

std::string hivePrefix(RegistryHive hive) { return hive == RegistryHive::LocalMachine ? "HKLM" : "HKCU"; }

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

using RegistryData = std::map<std::string, std::map<std::string, std::string>>;

std::filesystem::path registryPath() {
    return envOr("VNTX_REGISTRY", (home() / ".config" / "vntx-registry.ini").string());
}

RegistryData loadRegistry() {
    RegistryData data;
    std::ifstream in(registryPath());
    std::string line, section;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = lower(line.substr(1, line.size() - 2));
            data[section];
        } else if (auto eq = line.find('='); eq != std::string::npos && !section.empty()) {
            data[section][lower(line.substr(0, eq))] = line.substr(eq + 1);
        }
    }
    return data;
}

}  // namespace

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& name) {
    std::filesystem::path dir = envOr("VNTX_RUNTIME_DIR", envOr("XDG_RUNTIME_DIR", "/tmp"));
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    auto path = dir / (sanitise(name) + ".lock");
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<FileLock>(fd);
}

std::filesystem::path knownFolder(KnownFolder folder) {
    switch (folder) {
    case KnownFolder::RoamingAppData: return envOr("XDG_CONFIG_HOME", (home() / ".config").string());
    case KnownFolder::Documents: return home() / "Documents";
    case KnownFolder::PublicDocuments: return envOr("VNTX_PUBLIC_DOCUMENTS", (home() / "Public").string());
    case KnownFolder::ProgramFiles: return envOr("VNTX_PROGRAM_FILES", "/opt");
    case KnownFolder::ProgramFilesX86: return envOr("VNTX_PROGRAM_FILES_X86", "/opt");
    }
    return {};
}

bool registryKeyExists(RegistryHive hive, const std::string& key) {
    std::lock_guard lock(registryMutex);
    auto data = loadRegistry();
    return data.count(lower(hivePrefix(hive) + "\\" + key)) > 0;
}

std::optional<std::string> registryReadString(RegistryHive hive, const std::string& key,
                                              const std::string& value) {
    std::lock_guard lock(registryMutex);
    auto data = loadRegistry();
    auto s = data.find(lower(hivePrefix(hive) + "\\" + key));
    if (s == data.end()) return std::nullopt;
    auto v = s->second.find(lower(value));
    if (v == s->second.end()) return std::nullopt;
    return v->second;
}

bool registryWriteString(RegistryHive hive, const std::string& key, const std::string& value,
                         const std::string& data) {
    std::lock_guard lock(registryMutex);
    // Keep the file's own spelling of sections; rewrite in full through a temporary file.
    std::ifstream in(registryPath());
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    in.close();
    const std::string wanted = lower(hivePrefix(hive) + "\\" + key);
    bool inSection = false, written = false;
    std::vector<std::string> out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& l = lines[i];
        bool header = l.size() >= 2 && l.front() == '[' && l.back() == ']';
        if (header) {
            if (inSection && !written) { out.push_back(value + "=" + data); written = true; }
            inSection = lower(l.substr(1, l.size() - 2)) == wanted;
        } else if (inSection && !written) {
            auto eq = l.find('=');
            if (eq != std::string::npos && lower(l.substr(0, eq)) == lower(value)) {
                out.push_back(value + "=" + data);
                written = true;
                continue;
            }
        }
        out.push_back(l);
    }
    if (!written) {
        if (!inSection) out.push_back("[" + hivePrefix(hive) + "\\" + key + "]");
        out.push_back(value + "=" + data);
    }
    auto path = registryPath();
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    auto tmp = path;
    tmp += ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        for (auto& l : out) f << l << '\n';
        if (!f) return false;
    }
    std::filesystem::rename(tmp, path, ec);
    return !ec;
}

void beginTimerPeriod1ms() {}
void endTimerPeriod1ms() {}

namespace {
thread_local std::optional<std::pair<int, sched_param>> ordinaryPriority;
}

std::string raiseTimingThreadPriority() {
    int policy = 0;
    sched_param before{};
    if (::pthread_getschedparam(::pthread_self(), &policy, &before) != 0) return "unchanged (not readable)";
    if (policy == SCHED_FIFO || policy == SCHED_RR) return "real-time already";
    sched_param rt{};
    rt.sched_priority = ::sched_get_priority_min(SCHED_FIFO);
    if (const int e = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &rt); e != 0)
        return std::string("ordinary (real-time refused: ") + std::strerror(e) + ")";
    ordinaryPriority.emplace(policy, before);
    return "real-time";
}

void restoreThreadPriority() {
    if (!ordinaryPriority) return;
    ::pthread_setschedparam(::pthread_self(), ordinaryPriority->first, &ordinaryPriority->second);
    ordinaryPriority.reset();
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

bool shellOpen(const std::string& target) {
    if (::access("/usr/bin/xdg-open", X_OK) != 0) return false;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/usr/bin/xdg-open", "xdg-open", target.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid > 0;
}

bool isElevated() { return false; }

void warningBox(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

void setThreadName(const std::string& name) {
    ::pthread_setname_np(::pthread_self(), name.substr(0, 15).c_str());
}

int readStdinLine(std::string& line, int timeoutMs) {
    static std::string pending;
    static bool eof = false;
    auto take = [&]() {
        auto nl = pending.find('\n');
        if (nl == std::string::npos) return false;
        line = pending.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pending.erase(0, nl + 1);
        return true;
    };
    if (take()) return 1;
    if (eof) {
        if (pending.empty()) return -1;
        line.swap(pending);
        pending.clear();
        return 1;
    }
    pollfd p{0, POLLIN, 0};
    int rc = ::poll(&p, 1, timeoutMs);
    if (rc <= 0) return 0;
    char buf[4096];
    ssize_t n = ::read(0, buf, sizeof buf);
    if (n <= 0) {
        eof = true;
        if (pending.empty()) return -1;
        line.swap(pending);
        pending.clear();
        return 1;
    }
    pending.append(buf, static_cast<std::size_t>(n));
    return take() ? 1 : 0;
}

namespace {
std::atomic<bool>* terminationFlag = nullptr;
extern "C" void onTerminationSignal(int) {
    if (terminationFlag) terminationFlag->store(true);
}
}  // namespace

void catchTerminationSignals(std::atomic<bool>& flag) {
    terminationFlag = &flag;
    struct sigaction sa {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

std::filesystem::path pathFromUtf8(const std::string& utf8) { return std::filesystem::path(utf8); }
std::string pathToUtf8(const std::filesystem::path& path) { return path.string(); }

void sleepUntil(std::chrono::steady_clock::time_point deadline) { std::this_thread::sleep_until(deadline); }

std::chrono::nanoseconds threadCpuTime() {
    timespec ts{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return {};
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

std::optional<std::string> pathToNarrowCodePage(const std::filesystem::path& path) { return path.string(); }
std::filesystem::path pathFromNarrowCodePage(const std::string& narrow) { return std::filesystem::path(narrow); }
unsigned narrowCodePage() { return 65001; }

}  // namespace vntx::platform
