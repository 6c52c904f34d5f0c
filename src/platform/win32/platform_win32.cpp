#include "platform/platform.h"

#include <windows.h>
#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>
#include <timeapi.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <climits>
#include <cstring>

#include "platform/win32/wide.h"

namespace vntx::platform {
namespace win32 {

std::wstring widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int in = utf8.size() > INT_MAX ? INT_MAX : static_cast<int>(utf8.size());
    int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), in, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), in, out.data(), n);
    return out;
}

std::string narrow(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    const int in = utf16.size() > INT_MAX ? INT_MAX : static_cast<int>(utf16.size());
    int n = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), in, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), in, out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace win32

using win32::narrow;
using win32::widen;

namespace {

class MutexLock final : public InstanceLock {
public:
    explicit MutexLock(HANDLE h) : handle_(h) {}
    ~MutexLock() override { ::CloseHandle(handle_); }

private:
    HANDLE handle_;
};

HKEY hiveKey(RegistryHive hive) {
    return hive == RegistryHive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// Closes an open registry key when it goes out of scope.
struct KeyGuard {
    HKEY key = nullptr;
    ~KeyGuard() {
        if (key) ::RegCloseKey(key);
    }
};

}  // namespace

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& name) {
    HANDLE h = ::CreateMutexW(nullptr, FALSE, widen(name).c_str());
    // ERROR_ACCESS_DENIED: the mutex exists but belongs to another user's
    // instance with a stricter security descriptor - just as taken.
    if (!h) return nullptr;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(h);
        return nullptr;
    }
    return std::make_unique<MutexLock>(h);
}

std::filesystem::path knownFolder(KnownFolder folder) {
    const KNOWNFOLDERID* id = nullptr;
    switch (folder) {
    case KnownFolder::RoamingAppData: id = &FOLDERID_RoamingAppData; break;
    case KnownFolder::Documents: id = &FOLDERID_Documents; break;
    case KnownFolder::PublicDocuments: id = &FOLDERID_PublicDocuments; break;
    case KnownFolder::ProgramFiles: id = &FOLDERID_ProgramFiles; break;
    case KnownFolder::ProgramFilesX86: id = &FOLDERID_ProgramFilesX86; break;
    }
    if (!id) return {};
    PWSTR path = nullptr;
    std::filesystem::path result;
    if (SUCCEEDED(::SHGetKnownFolderPath(*id, 0, nullptr, &path)) && path) result = std::filesystem::path(path);
    ::CoTaskMemFree(path);
    return result;
}

bool registryKeyExists(RegistryHive hive, const std::string& key) {
    KeyGuard k;
    return ::RegOpenKeyExW(hiveKey(hive), widen(key).c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &k.key) ==
           ERROR_SUCCESS;
}

std::optional<std::string> registryReadString(RegistryHive hive, const std::string& key,
                                              const std::string& value) {
    KeyGuard k;
    if (::RegOpenKeyExW(hiveKey(hive), widen(key).c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &k.key) !=
        ERROR_SUCCESS)
        return std::nullopt;
    const std::wstring name = widen(value);
    DWORD type = 0, size = 0;
    LSTATUS rc = ::RegQueryValueExW(k.key, name.c_str(), nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS) return std::nullopt;
    // The value may grow between the two calls: retry with the size reported.
    std::vector<BYTE> buffer;
    for (int attempt = 0; attempt < 4; ++attempt) {
        buffer.assign(size + sizeof(wchar_t), 0);
        DWORD got = size;
        rc = ::RegQueryValueExW(k.key, name.c_str(), nullptr, &type, buffer.data(), &got);
        if (rc == ERROR_MORE_DATA) {
            size = got;
            continue;
        }
        if (rc != ERROR_SUCCESS) return std::nullopt;
        size = got;
        break;
    }
    if (rc != ERROR_SUCCESS) return std::nullopt;
    if (type == REG_DWORD && size >= sizeof(DWORD)) {
        DWORD v;
        std::memcpy(&v, buffer.data(), sizeof v);
        return std::to_string(v);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    // Stored strings need not end with a terminator; never read past the data.
    std::wstring text(reinterpret_cast<const wchar_t*>(buffer.data()), size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    if (type == REG_EXPAND_SZ) {
        DWORD n = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
        if (n > 0) {
            std::wstring expanded(n, L'\0');
            if (::ExpandEnvironmentStringsW(text.c_str(), expanded.data(), n) == n) {
                expanded.resize(n - 1);
                text = std::move(expanded);
            }
        }
    }
    return narrow(text);
}

bool registryWriteString(RegistryHive hive, const std::string& key, const std::string& value,
                         const std::string& data) {
    KeyGuard k;
    if (::RegCreateKeyExW(hiveKey(hive), widen(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &k.key, nullptr) != ERROR_SUCCESS)
        return false;
    const std::wstring text = widen(data);
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(k.key, widen(value).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            bytes) == ERROR_SUCCESS;
}

void beginTimerPeriod1ms() { ::timeBeginPeriod(1); }
void endTimerPeriod1ms() { ::timeEndPeriod(1); }

namespace {
thread_local std::optional<int> ordinaryPriority;
}

std::string raiseTimingThreadPriority() {
    const int before = ::GetThreadPriority(::GetCurrentThread());
    if (before == THREAD_PRIORITY_ERROR_RETURN) return "unchanged (not readable)";
    if (before >= THREAD_PRIORITY_HIGHEST) return "highest already";
    if (!::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST))
        return "ordinary (highest refused: error " + std::to_string(::GetLastError()) + ")";
    ordinaryPriority = before;
    return "highest";
}

void restoreThreadPriority() {
    if (!ordinaryPriority) return;
    ::SetThreadPriority(::GetCurrentThread(), *ordinaryPriority);
    ordinaryPriority.reset();
}

std::chrono::nanoseconds threadCpuTime() {
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return {};
    auto ticks = [](const FILETIME& f) {
        return (static_cast<std::uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    };
    return std::chrono::nanoseconds(static_cast<std::int64_t>((ticks(kernel) + ticks(user)) * 100));
}

void sleepUntil(std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    // The system's delay counts 100 ns units where Sleep() counts whole
    // milliseconds. Rounding every wait up to the next millisecond would make
    // the control loop, which realigns to its wake-up time once a second, run
    // slow by up to a millisecond a second (30 ms over the 30 s replay delay).
    using Delay = LONG(NTAPI*)(BOOLEAN alertable, PLARGE_INTEGER interval);
    static const auto delay = reinterpret_cast<Delay>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtDelayExecution")));
    for (;;) {
        const auto left = duration_cast<nanoseconds>(deadline - steady_clock::now()).count();
        if (left <= 0) return;
        if (delay) {
            LARGE_INTEGER interval;
            interval.QuadPart = -((left + 99) / 100);  // negative: relative to now
            delay(FALSE, &interval);
        } else {
            ::Sleep(static_cast<DWORD>(std::min<long long>((left + 999999) / 1000000, INFINITE - 1)));
        }
    }
}

std::vector<std::string> commandLineArguments(int, char**) {
    std::vector<std::string> args;
    int n = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &n);
    if (!argv) return args;
    for (int i = 1; i < n; ++i) args.push_back(narrow(argv[i]));
    ::LocalFree(argv);
    return args;
}

bool shellOpen(const std::string& target) {
    auto rc = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", widen(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return rc > 32;
}

bool isElevated() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    bool elevated = ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                    elevation.TokenIsElevated != 0;
    ::CloseHandle(token);
    return elevated;
}

void warningBox(const std::string& text, const std::string& caption) {
    ::MessageBoxW(nullptr, widen(text).c_str(), widen(caption).c_str(), MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
}

void setThreadName(const std::string& name) {
    // SetThreadDescription exists from Windows 10 1607 on; look it up so the
    // program still starts on older systems.
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    static const auto fn = reinterpret_cast<SetDescription>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
    if (fn) fn(::GetCurrentThread(), widen(name).c_str());
}

std::filesystem::path pathFromUtf8(const std::string& utf8) { return std::filesystem::path(widen(utf8)); }
std::string pathToUtf8(const std::filesystem::path& path) { return narrow(path.native()); }

namespace {

// Text in a code page, or nullopt when a character has no spelling in it
// (no best-fit look-alikes: a path spelt with one names another file).
std::optional<std::string> inCodePage(std::wstring_view text, UINT codePage) {
    if (text.empty()) return std::string();
    if (text.size() > INT_MAX) return std::nullopt;
    const int in = static_cast<int>(text.size());
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    int n = ::WideCharToMultiByte(codePage, flags, text.data(), in, nullptr, 0, nullptr, utf8 ? nullptr : &usedDefault);
    if (n <= 0 || usedDefault) return std::nullopt;
    std::string out(static_cast<std::size_t>(n), '\0');
    n = ::WideCharToMultiByte(codePage, flags, text.data(), in, out.data(), n, nullptr, utf8 ? nullptr : &usedDefault);
    if (n <= 0 || usedDefault) return std::nullopt;
    out.resize(static_cast<std::size_t>(n));
    return out;
}

}  // namespace

unsigned narrowCodePage() {
    static const unsigned codePage = [] {
        // The code page the system gives every process that does not ask for
        // its own; GetACP() would answer this program's (UTF-8 by its manifest).
        if (auto acp = registryReadString(RegistryHive::LocalMachine, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage",
                                          "ACP")) {
            unsigned v = 0;
            auto [end, ec] = std::from_chars(acp->data(), acp->data() + acp->size(), v);
            if (ec == std::errc() && end == acp->data() + acp->size() && v != 0 && ::IsValidCodePage(v)) return v;
        }
        // The system locale's code page. (Wine does not answer GetLocaleInfoEx
        // for LOCALE_NAME_SYSTEM_DEFAULT; the LCID form works everywhere.)
        DWORD v = 0;
        if (::GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                             reinterpret_cast<LPWSTR>(&v), sizeof v / sizeof(WCHAR)) > 0 &&
            v != 0 && ::IsValidCodePage(v))
            return static_cast<unsigned>(v);
        return static_cast<unsigned>(::GetACP());
    }();
    return codePage;
}

std::optional<std::string> pathToNarrowCodePage(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    if (auto text = inCodePage(wide, narrowCodePage())) return text;
    // The short form of each name is plain ASCII where the volume keeps one.
    DWORD n = ::GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (n == 0) return std::nullopt;
    std::wstring shortPath(n, L'\0');
    DWORD got = ::GetShortPathNameW(wide.c_str(), shortPath.data(), n);
    if (got == 0 || got >= n) return std::nullopt;
    shortPath.resize(got);
    return inCodePage(shortPath, narrowCodePage());
}

std::filesystem::path pathFromNarrowCodePage(const std::string& text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const UINT codePage = narrowCodePage();
    const int in = static_cast<int>(text.size());
    int n = ::MultiByteToWideChar(codePage, 0, text.data(), in, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), in, wide.data(), n);
    return std::filesystem::path(wide);
}

}  // namespace vntx::platform
