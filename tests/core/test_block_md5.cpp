#include "core/MD5Digest.h"

#include "test_storage_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using storage_test::Hex;

std::string DigestHex(const std::string& msg)
{
    uint8_t d[16];
    CQNF_MD5Digest::Compute(msg.data(), msg.size(), d);
    return Hex(d, 16);
}

}  // namespace

TEST(BlockMD5Digest, Rfc1321Suite)
{
    EXPECT_EQ(DigestHex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(DigestHex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(DigestHex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(DigestHex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(DigestHex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(DigestHex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(DigestHex("1234567890123456789012345678901234567890123456789012345678901234567890123456"
                        "7890"),
              "57edf4a22be3c955ac49da2e2107b67a");
    EXPECT_EQ(DigestHex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(BlockMD5Digest, AnyChunkingGivesTheOneShotDigest)
{
    // Lengths around the 56- and 64-byte padding boundaries are where a
    // buffered update goes wrong.
    std::vector<uint8_t> msg(300);
    for (size_t i = 0; i < msg.size(); ++i)
        msg[i] = uint8_t(i * 7 + 3);
    for (size_t len : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
        uint8_t whole[16];
        CQNF_MD5Digest::Compute(msg.data(), len, whole);
        for (size_t chunk : {1u, 3u, 17u, 63u, 64u, 100u}) {
            CQNF_MD5Digest md5;
            for (size_t off = 0; off < len; off += chunk)
                md5.Update(msg.data() + off, std::min(chunk, len - off));
            uint8_t parts[16];
            md5.Final(parts);
            EXPECT_EQ(Hex(parts, 16), Hex(whole, 16)) << "len " << len << " chunk " << chunk;
        }
    }
}

TEST(BlockMD5Digest, InitRestartsTheMessage)
{
    CQNF_MD5Digest md5;
    md5.Update("xyz", 3);
    uint8_t d[16];
    md5.Final(d);
    md5.Init();
    md5.Update("abc", 3);
    md5.Final(d);
    EXPECT_EQ(Hex(d, 16), "900150983cd24fb0d6963f7d28e17f72");
}
