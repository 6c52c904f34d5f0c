// libFuzzer target: enciphered data files (dbase.enc, airports.enc,
// AIG-regcodes.enc), their header and chunks. An odd first byte makes the
// rest a plain text that is enciphered with the key and then cut short or
// left whole, so that whole valid chunks reach the reader too; an even one
// takes the bytes as they are. A file that does not decipher leaves no output
// behind; a whole file gives back exactly its plain text.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "refdata/crypt.h"
#include "support/fuzz/scratch.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path in = vntx::fuzz::scratchFolder() / "input" / "dbase.enc";
    const fs::path out = in.parent_path() / "dbase.xml";
    std::error_code ec;
    fs::create_directories(in.parent_path(), ec);
    const bool made = size > 0 && (data[0] & 1);
    std::string plain;
    bool whole = false;
    if (made) {
        plain.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
        vntx::streamEncrypt(plain, in);
        const std::uintmax_t length = fs::file_size(in);
        // Bits 1..7 of the first byte: where to cut, in 1/128ths of the file; 0 leaves it whole.
        const std::uintmax_t cut = length * (data[0] >> 1) / 128;
        whole = cut == 0;
        if (!whole) fs::resize_file(in, cut);
    } else {
        vntx::fuzz::writeScratch("input/dbase.enc", data, size);
    }
    const bool ok = vntx::gf_streamDecrypt(in, out, vntx::dataFileKey());
    if (ok != fs::exists(out, ec)) __builtin_trap();
    if (made && ok != whole) __builtin_trap();
    if (made && whole) {
        std::ifstream f(out, std::ios::binary);
        const std::string back{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
        if (back != plain) __builtin_trap();
    }
    fs::remove(out, ec);
    return 0;
}
