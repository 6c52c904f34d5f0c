// The enciphered data files of the "input" folder (dbase.enc, airports.enc,
// AIG-regcodes.enc): libsodium secretstream XChaCha20-Poly1305, a 24-byte
// header followed by chunks of 4096 plain bytes plus the 17-byte tag overhead;
// the last chunk carries the FINAL tag.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <string_view>

namespace vntx {

inline constexpr std::size_t kDataKeyBytes = 32;
inline constexpr std::size_t kStreamHeaderBytes = 24;
inline constexpr std::size_t kPlainChunkBytes = 4096;
inline constexpr std::size_t kCipherChunkBytes = 4113;

using DataKey = std::array<unsigned char, kDataKeyBytes>;

// The key of the shipped data files (program constant data).
const DataKey& dataFileKey();

// The folder that holds the data files; "input" unless changed (tests, tools).
std::filesystem::path inputFolder();
void setInputFolder(std::filesystem::path folder);

// Deciphers in into out (created or truncated). On any failure - missing
// input, unwritable output, wrong header or key, a corrupted chunk, or a
// stream that ends before its FINAL chunk - logs
// "gf_streamDecrypt exception: {}", removes out and returns false.
bool gf_streamDecrypt(const std::filesystem::path& in, const std::filesystem::path& out);
bool gf_streamDecrypt(const std::filesystem::path& in, const std::filesystem::path& out, const DataKey& key);

// Enciphers plain text into out in the same format (written atomically).
// Used by tools/refdata and by tests; throws std::runtime_error on failure.
void streamEncrypt(std::string_view plain, const std::filesystem::path& out, const DataKey& key = dataFileKey());

// Removes a file when it exists; a failure logs
// "Warning: could not remove {}, errorcode: {}" and returns false.
bool removeFileQuietly(const std::filesystem::path& path);

}  // namespace vntx
