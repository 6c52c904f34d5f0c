// Folder listing and whole-file reading for walks over large trees (the
// livery scan). A folder is opened once and its sub-folders are opened
// relative to it where the system allows, which costs far less than
// resolving every full path again.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace vntx::platform {

struct FolderEntry {
    std::string name;          // UTF-8
    bool directory = false;    // symbolic links and junctions followed
    bool regularFile = false;  // likewise
};

class Folder {
public:
    Folder() = default;
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder();

    // A folder that cannot be read for lack of rights opens as an empty one
    // (no error), as a walk that skips such folders expects.
    bool open(const std::filesystem::path& path, std::error_code& ec);
    // The sub-folder `name` (UTF-8) of `parent`.
    bool openChild(const Folder& parent, const std::string& name, std::error_code& ec);
    // Every entry but "." and "..", in the order the system gives them.
    bool list(std::vector<FolderEntry>& entries, std::error_code& ec);
    // readWholeFile of the entry `name` (UTF-8).
    bool readFile(const std::string& name, std::string& out) const;

private:
    void close();
    long long handle_ = -1;
    bool empty_ = false;
    bool listed_ = false;  // read to its end once: rewind before listing again
    std::filesystem::path path_;  // where the system has no relative open
};

// The whole content of a file (anything that can be opened for reading:
// a pipe blocks until its writer has written and closed). False when it
// cannot be opened or read.
bool readWholeFile(const std::filesystem::path& path, std::string& out);

}  // namespace vntx::platform
