// libFuzzer target: any bytes as a downloaded installer archive, unpacked
// into a folder. Nothing is ever written outside that folder, and an archive
// refused half way leaves no file of it behind.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "update/program_update.h"
#include "support/fuzz/scratch.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path root = vntx::fuzz::scratchFolder() / "zip";
    std::error_code ec;
    fs::remove_all(root, ec);
    const fs::path archive = vntx::fuzz::writeScratch("zip/archive/new.zip", data, size);
    const fs::path folder = root / "program" / "new_version";
    fs::create_directories(folder, ec);
    const bool ok = vntx::unpackArchive(archive, folder);
    // Only the archive and the unpack folder's tree may exist under root.
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const fs::path p = it->path();
        const bool inFolder = std::mismatch(folder.begin(), folder.end(), p.begin(), p.end()).first == folder.end();
        const bool allowed = p == archive || p == archive.parent_path() || p == folder.parent_path() || inFolder;
        if (!allowed) __builtin_trap();
        if (!ok && inFolder && it->is_regular_file(ec)) __builtin_trap();
    }
    return 0;
}
