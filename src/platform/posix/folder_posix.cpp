#include "platform/folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vntx::platform {

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

bool openedOrDenied(int fd, bool& empty, std::error_code& ec) {
    if (fd >= 0) return true;
    if (errno == EACCES || errno == EPERM) {
        empty = true;
        return true;
    }
    ec.assign(errno, std::generic_category());
    return false;
}

}  // namespace

Folder::Folder(Folder&& other) noexcept
    : handle_(other.handle_), empty_(other.empty_), listed_(other.listed_), path_(std::move(other.path_)) {
    other.handle_ = -1;
}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        empty_ = other.empty_;
        listed_ = other.listed_;
        path_ = std::move(other.path_);
        other.handle_ = -1;
    }
    return *this;
}

Folder::~Folder() { close(); }

void Folder::close() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
    listed_ = false;
}

bool Folder::open(const std::filesystem::path& path, std::error_code& ec) {
    close();
    ec.clear();
    empty_ = false;
    const int fd = ::open(path.c_str(), kDirFlags);
    if (!openedOrDenied(fd, empty_, ec)) return false;
    handle_ = fd;
    return true;
}

bool Folder::openChild(const Folder& parent, const std::string& name, std::error_code& ec) {
    close();
    ec.clear();
    empty_ = false;
    if (parent.handle_ < 0) {
        ec = std::make_error_code(std::errc::bad_file_descriptor);
        return false;
    }
    const int fd = ::openat(static_cast<int>(parent.handle_), name.c_str(), kDirFlags);
    if (!openedOrDenied(fd, empty_, ec)) return false;
    handle_ = fd;
    return true;
}

bool Folder::list(std::vector<FolderEntry>& entries, std::error_code& ec) {
    entries.clear();
    ec.clear();
    if (empty_) return true;
    if (handle_ < 0) {
        ec = std::make_error_code(std::errc::bad_file_descriptor);
        return false;
    }
    const int fd = static_cast<int>(handle_);
    if (listed_ && ::lseek(fd, 0, SEEK_SET) < 0) {
        ec.assign(errno, std::generic_category());
        return false;
    }
    listed_ = true;
    alignas(8) char buffer[32768];
    while (true) {
        const ssize_t n = ::getdents64(fd, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            ec.assign(errno, std::generic_category());
            return false;
        }
        for (ssize_t offset = 0; offset < n;) {
            const auto* d = reinterpret_cast<const dirent64*>(buffer + offset);
            offset += d->d_reclen;
            const char* name = d->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
            FolderEntry entry;
            entry.name = name;
            unsigned char type = d->d_type;
            if (type == DT_LNK || type == DT_UNKNOWN) {
                struct stat st;
                if (::fstatat(fd, name, &st, 0) == 0)
                    type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
                else
                    type = DT_UNKNOWN;  // a broken link: neither
            }
            entry.directory = type == DT_DIR;
            entry.regularFile = type == DT_REG;
            entries.push_back(std::move(entry));
        }
    }
}

namespace {

bool readAll(int fd, std::string& out) {
    out.clear();
    if (fd < 0) return false;
    char buffer[65536];
    bool ok = true;
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!ok) out.clear();
    return ok;
}

}  // namespace

bool Folder::readFile(const std::string& name, std::string& out) const {
    if (handle_ < 0) {
        out.clear();
        return false;
    }
    return readAll(::openat(static_cast<int>(handle_), name.c_str(), O_RDONLY | O_CLOEXEC), out);
}

bool readWholeFile(const std::filesystem::path& path, std::string& out) {
    return readAll(::open(path.c_str(), O_RDONLY | O_CLOEXEC), out);
}

}  // namespace vntx::platform
