// Files for fuzz targets whose reader takes a path: one folder per process,
// and the input written into it under the name the reader expects.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

namespace vntx::fuzz {

inline const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path folder = [] {
        std::random_device rd;
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        auto p = base / ("vntx-fuzz-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(p);
        // Removed when the process ends normally (a crash leaves it for the post-mortem).
        static struct Remover {
            std::filesystem::path p;
            ~Remover() {
                std::error_code e;
                std::filesystem::remove_all(p, e);
            }
        } remover{p};
        return p;
    }();
    return folder;
}

// Writes the bytes to scratchFolder()/name (folders made) and returns the path.
inline std::filesystem::path writeScratch(std::string_view name, const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path p = scratchFolder() / std::filesystem::path(std::string(name));
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return p;
}

}  // namespace vntx::fuzz
