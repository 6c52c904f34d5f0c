#include "platform/folder.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace vntx::platform {

// Windows has no relative open in its documented interface: a folder is its
// path, listed with one FindFirstFileEx pass.
Folder::Folder(Folder&& other) noexcept
    : handle_(other.handle_), empty_(other.empty_), listed_(other.listed_), path_(std::move(other.path_)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
    handle_ = other.handle_;
    empty_ = other.empty_;
    listed_ = other.listed_;
    path_ = std::move(other.path_);
    return *this;
}

Folder::~Folder() = default;

void Folder::close() {}

bool Folder::open(const std::filesystem::path& path, std::error_code& ec) {
    ec.clear();
    empty_ = false;
    path_ = path;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED) {
            empty_ = true;
            return true;
        }
        ec = std::error_code(static_cast<int>(error), std::system_category());
        return false;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ec = std::make_error_code(std::errc::not_a_directory);
        return false;
    }
    return true;
}

bool Folder::openChild(const Folder& parent, const std::string& name, std::error_code& ec) {
    return open(parent.path_ / std::filesystem::path(win32::widen(name)), ec);
}

bool Folder::list(std::vector<FolderEntry>& entries, std::error_code& ec) {
    entries.clear();
    ec.clear();
    if (empty_) return true;
    WIN32_FIND_DATAW data;
    const std::wstring pattern = (path_ / L"*").wstring();
    HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_FILE_NOT_FOUND) return true;
        ec = std::error_code(static_cast<int>(error), std::system_category());
        return false;
    }
    do {
        const wchar_t* name = data.cFileName;
        if (name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'))) continue;
        FolderEntry entry;
        entry.name = win32::narrow(name);
        entry.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.regularFile = !entry.directory && !(data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE);
        entries.push_back(std::move(entry));
    } while (::FindNextFileW(find, &data));
    const DWORD error = ::GetLastError();
    ::FindClose(find);
    if (error != ERROR_NO_MORE_FILES) {
        ec = std::error_code(static_cast<int>(error), std::system_category());
        return false;
    }
    return true;
}

bool Folder::readFile(const std::string& name, std::string& out) const {
    return readWholeFile(path_ / std::filesystem::path(win32::widen(name)), out);
}

bool readWholeFile(const std::filesystem::path& path, std::string& out) {
    out.clear();
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char buffer[65536];
    bool ok = true;
    while (true) {
        DWORD n = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
            ok = ::GetLastError() == ERROR_BROKEN_PIPE;  // a pipe's writer has closed: the end
            break;
        }
        if (n == 0) break;
        out.append(buffer, n);
    }
    ::CloseHandle(file);
    if (!ok) out.clear();
    return ok;
}

}  // namespace vntx::platform
