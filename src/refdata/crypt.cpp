#include "refdata/crypt.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <sodium.h>

#include "core/files.h"
#include "core/log.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace vntx {

static_assert(kStreamHeaderBytes == crypto_secretstream_xchacha20poly1305_HEADERBYTES);
static_assert(kCipherChunkBytes == kPlainChunkBytes + crypto_secretstream_xchacha20poly1305_ABYTES);
static_assert(kDataKeyBytes == crypto_secretstream_xchacha20poly1305_KEYBYTES);

namespace {

std::mutex folderMutex;
fs::path& folderRef() {
    static fs::path folder = "input";
    return folder;
}

void ensureSodium() {
    static const int rc = sodium_init();
    if (rc < 0) throw std::runtime_error("libsodium could not be initialised");
}

std::string text(const fs::path& p) { return platform::pathToUtf8(p); }

// Reads up to n bytes; returns how many were read.
std::size_t readSome(std::ifstream& in, unsigned char* buf, std::size_t n) {
    in.read(reinterpret_cast<char*>(buf), static_cast<std::streamsize>(n));
    return static_cast<std::size_t>(in.gcount());
}

void decrypt(const fs::path& inPath, const fs::path& outPath, const DataKey& key) {
    ensureSodium();
    std::ifstream in(inPath, std::ios::binary);
    if (!in) throw std::runtime_error("Could not open input file: " + text(inPath));
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("Could not open output file: " + text(outPath));

    unsigned char header[kStreamHeaderBytes];
    crypto_secretstream_xchacha20poly1305_state state;
    const std::size_t got = readSome(in, header, sizeof header);
    if (got != sizeof header || crypto_secretstream_xchacha20poly1305_init_pull(&state, header, key.data()) != 0)
        throw std::runtime_error("Invalid header or key");

    std::vector<unsigned char> cipher(kCipherChunkBytes), plain(kPlainChunkBytes);
    bool final = false;
    std::size_t n = readSome(in, cipher.data(), cipher.size());
    while (n > 0) {
        unsigned long long plainLen = 0;
        unsigned char tag = 0;
        if (crypto_secretstream_xchacha20poly1305_pull(&state, plain.data(), &plainLen, &tag, cipher.data(), n,
                                                       nullptr, 0) != 0)
            throw std::runtime_error("Decryption failed");
        out.write(reinterpret_cast<const char*>(plain.data()), static_cast<std::streamsize>(plainLen));
        if (!out) throw std::runtime_error("Could not write output file: " + text(outPath));
        if (tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL) {
            final = true;
            break;
        }
        n = readSome(in, cipher.data(), cipher.size());
    }
    // Without its FINAL chunk the stream was cut short (a broken download or
    // copy); what was deciphered so far must not pass for the whole file.
    if (!final) throw std::runtime_error("Stream truncated");
    out.close();
    if (!out) throw std::runtime_error("Could not write output file: " + text(outPath));
}

}  // namespace

fs::path inputFolder() {
    std::lock_guard lock(folderMutex);
    return folderRef();
}

void setInputFolder(fs::path folder) {
    std::lock_guard lock(folderMutex);
    folderRef() = std::move(folder);
}

bool removeFileQuietly(const fs::path& path) {
    std::error_code ec;
    if (!fs::exists(path, ec)) return true;
    if (fs::remove(path, ec) && !ec) return true;
    if (!ec) return true;
    logf("Warning: could not remove {}, errorcode: {}", text(path), ec.value());
    return false;
}

bool gf_streamDecrypt(const fs::path& in, const fs::path& out) { return gf_streamDecrypt(in, out, dataFileKey()); }

bool gf_streamDecrypt(const fs::path& in, const fs::path& out, const DataKey& key) {
    try {
        decrypt(in, out, key);
        return true;
    } catch (const std::exception& e) {
        logf("{} exception: {}", "gf_streamDecrypt", e.what());
    }
    std::error_code ec;
    if (fs::exists(out, ec)) removeFileQuietly(out);
    return false;
}

void streamEncrypt(std::string_view plain, const fs::path& out, const DataKey& key) {
    ensureSodium();
    std::string bytes;
    bytes.reserve(kStreamHeaderBytes + (plain.size() / kPlainChunkBytes + 1) * kCipherChunkBytes);
    unsigned char header[kStreamHeaderBytes];
    crypto_secretstream_xchacha20poly1305_state state;
    if (crypto_secretstream_xchacha20poly1305_init_push(&state, header, key.data()) != 0)
        throw std::runtime_error("streamEncrypt: init failed");
    bytes.append(reinterpret_cast<const char*>(header), sizeof header);
    unsigned char cipher[kCipherChunkBytes];
    std::size_t pos = 0;
    do {
        const std::size_t len = std::min(kPlainChunkBytes, plain.size() - pos);
        const bool last = pos + len == plain.size();
        unsigned long long cipherLen = 0;
        crypto_secretstream_xchacha20poly1305_push(
            &state, cipher, &cipherLen, reinterpret_cast<const unsigned char*>(plain.data() + pos), len, nullptr, 0,
            last ? crypto_secretstream_xchacha20poly1305_TAG_FINAL : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
        bytes.append(reinterpret_cast<const char*>(cipher), static_cast<std::size_t>(cipherLen));
        pos += len;
    } while (pos < plain.size());
    if (!writeFileAtomically(out, bytes)) throw std::runtime_error("streamEncrypt: cannot write " + text(out));
}

}  // namespace vntx
