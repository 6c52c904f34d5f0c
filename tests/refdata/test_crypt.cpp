#include <gtest/gtest.h>

#include "refdata/crypt.h"
#include "refdata/temp_input.h"

namespace fs = std::filesystem;
using namespace vntx;
using vntx::test::readBytes;
using vntx::test::writeBytes;

namespace {

std::string sample(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + (i * 7 + i / 13) % 26);
    return s;
}

class StreamDecrypt : public ::testing::Test {
protected:
    test::TempInput tmp;
    fs::path enc = tmp.path("data.enc");
    fs::path out = tmp.path("data.xml");
};

TEST_F(StreamDecrypt, RoundTripsAcrossChunkBoundaries) {
    // Empty, exactly one chunk, one byte more, and several chunks with a short tail.
    for (std::size_t n : {std::size_t{0}, kPlainChunkBytes, kPlainChunkBytes + 1, 3 * kPlainChunkBytes + 100}) {
        const std::string plain = sample(n);
        streamEncrypt(plain, enc);
        ASSERT_TRUE(gf_streamDecrypt(enc, out)) << n;
        EXPECT_EQ(readBytes(out), plain) << n;
    }
}

TEST_F(StreamDecrypt, BytesAfterAFullFinalChunkAreIgnored) {
    // Chunks are read 4113 bytes at a time, so only bytes beyond a full-size
    // final chunk come in a read of their own and are never looked at.
    streamEncrypt(sample(2 * kPlainChunkBytes), enc);
    writeBytes(enc, readBytes(enc) + "trailing garbage");
    ASSERT_TRUE(gf_streamDecrypt(enc, out));
    EXPECT_EQ(readBytes(out), sample(2 * kPlainChunkBytes));
}

TEST_F(StreamDecrypt, AnotherKeyFailsAndLeavesNoOutput) {
    DataKey other = dataFileKey();
    other[0] ^= 1;
    streamEncrypt(sample(9000), enc, other);
    EXPECT_FALSE(gf_streamDecrypt(enc, out));
    EXPECT_FALSE(fs::exists(out));
    EXPECT_NE(tmp.log().find("gf_streamDecrypt exception: Decryption failed"), std::string::npos);
}

TEST_F(StreamDecrypt, CorruptedChunkFailsEvenAfterGoodChunksWereWritten) {
    streamEncrypt(sample(3 * kPlainChunkBytes), enc);
    std::string bytes = readBytes(enc);
    bytes[kStreamHeaderBytes + kCipherChunkBytes + 50] ^= 0x20;  // inside the second chunk
    writeBytes(enc, bytes);
    EXPECT_FALSE(gf_streamDecrypt(enc, out));
    EXPECT_FALSE(fs::exists(out));
    EXPECT_NE(tmp.log().find("Decryption failed"), std::string::npos);
}

TEST_F(StreamDecrypt, StreamWithoutFinalChunkIsTruncated) {
    streamEncrypt(sample(3 * kPlainChunkBytes), enc);
    const std::string bytes = readBytes(enc);
    // Cut after whole chunks (a clean cut) and after the header alone.
    for (std::size_t keep : {kStreamHeaderBytes + 2 * kCipherChunkBytes, kStreamHeaderBytes}) {
        writeBytes(enc, bytes.substr(0, keep));
        EXPECT_FALSE(gf_streamDecrypt(enc, out)) << keep;
        EXPECT_FALSE(fs::exists(out)) << keep;
    }
    EXPECT_NE(tmp.log().find("gf_streamDecrypt exception: Stream truncated"), std::string::npos);
}

TEST_F(StreamDecrypt, MissingInputAndShortHeaderAreReported) {
    EXPECT_FALSE(gf_streamDecrypt(tmp.path("absent.enc"), out));
    EXPECT_FALSE(fs::exists(out));
    writeBytes(enc, "short");
    EXPECT_FALSE(gf_streamDecrypt(enc, out));
    const std::string log = tmp.log();
    EXPECT_NE(log.find("gf_streamDecrypt exception: Could not open input file: "), std::string::npos);
    EXPECT_NE(log.find("gf_streamDecrypt exception: Invalid header or key"), std::string::npos);
}

TEST_F(StreamDecrypt, UnwritableOutputIsReported) {
    streamEncrypt("x", enc);
    EXPECT_FALSE(gf_streamDecrypt(enc, tmp.path("no_such_folder") / "out.xml"));
    EXPECT_NE(tmp.log().find("Could not open output file: "), std::string::npos);
}

}  // namespace
