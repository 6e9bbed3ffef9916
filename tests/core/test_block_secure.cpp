#include "core/MD5Block.h"
#include "core/SecureBlock.h"

#include "test_storage_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using storage_test::Hex;
using Bytes = std::vector<uint8_t>;

Bytes RunStage(CQNF_SecureBlock& stage, const Bytes& in, unsigned char mode, unsigned short* error = nullptr)
{
    stage.SetMode(mode);
    stage.SetSourceBlock(in.data(), in.size());
    const bool ok = stage.Process();
    if (error)
        *error = ok ? 0 : stage.GetError();
    if (!ok)
        return {};
    const CQNF_Mem* d = stage.GetDestBlock();
    return Bytes(d->GetPtr(), d->GetPtr() + d->GetSize());
}


}  // namespace

TEST(BlockMD5, DigestsIntoSixteenBytesAndRefusesEmptyOrProgress)
{
    CQNF_MD5Block md5;
    md5.SetSourceBlock(CQNF_String("message digest"));
    ASSERT_TRUE(md5.Process());
    ASSERT_EQ(md5.GetDestBlock()->GetSize(), 16u);
    EXPECT_EQ(Hex(md5.GetDestBlock()->GetPtr(), 16), "f96b697d7cb7938d525a2f31aaf161d0");
    // A second run digests its own source from a fresh start.
    md5.SetSourceBlock(CQNF_String("abc"));
    ASSERT_TRUE(md5.Process());
    EXPECT_EQ(Hex(md5.GetDestBlock()->GetPtr(), 16), "900150983cd24fb0d6963f7d28e17f72");

    md5.SetSourceBlock("", 0);
    EXPECT_FALSE(md5.Process());
    EXPECT_EQ(md5.GetError(), 80);
    CQNF_Progress progress;
    md5.SetProgress(progress);
    md5.SetSourceBlock("a", 1);
    EXPECT_FALSE(md5.Process());
    EXPECT_EQ(md5.GetError(), 81);
}

TEST(BlockSecure, XteaPublishedVectors)
{
    struct Vec {
        uint32_t key[4];
        uint32_t plain[2];
        uint32_t cipher[2];
    };
    const Vec vecs[] = {
        {{0, 0, 0, 0}, {0, 0}, {0xdee9d4d8, 0xf7131ed9}},
        {{0, 0, 0, 0}, {0x01020304, 0x05060708}, {0x065c1b89, 0x75c6a816}},
        {{0x01234567, 0x12345678, 0x23456789, 0x3456789A}, {0, 0}, {0x1ff9a026, 0x1ac64264}},
        {{0x01234567, 0x12345678, 0x23456789, 0x3456789A}, {0x01020304, 0x05060708}, {0x8c67155b, 0x2ef91ead}},
    };
    for (const Vec& v : vecs) {
        uint32_t out[2], back[2];
        CQNF_SecureBlock::encipher(v.plain, out, v.key);
        EXPECT_EQ(out[0], v.cipher[0]);
        EXPECT_EQ(out[1], v.cipher[1]);
        CQNF_SecureBlock::decipher(out, back, v.key);
        EXPECT_EQ(back[0], v.plain[0]);
        EXPECT_EQ(back[1], v.plain[1]);
    }
}

TEST(BlockSecure, EnvelopeSizesAndRoundTrip)
{
    for (size_t n = 1; n <= 16; ++n) {
        Bytes plain;
        for (size_t i = 0; i < n; ++i)
            plain.insert(plain.end(), uint8_t(31 * i + n));
        CQNF_SecureBlock enc;
        ASSERT_TRUE(enc.SetPassword(CQNF_String("secret")));
        const Bytes env = RunStage(enc, plain, 0);
        EXPECT_EQ(env.size(), n <= 8 ? 25u : 33u) << n;
        EXPECT_EQ(env[0], (8 - n % 8) % 8);
        CQNF_SecureBlock dec;
        dec.SetPassword(CQNF_String("secret"));
        EXPECT_EQ(RunStage(dec, env, 1), plain) << n;
    }
}

TEST(BlockSecure, KeyIsTheBigEndianDigestOfThePassword)
{
    // Enciphering with the password equals enciphering the block by hand
    // with the digest's words as key.
    CQNF_SecureBlock stage;
    stage.SetPassword("pw", 2);
    const Bytes env = RunStage(stage, Bytes(8, 0x41), 0);
    uint8_t d[16];
    CQNF_MD5Digest::Compute("pw", 2, d);
    uint32_t key[4];
    for (int i = 0; i < 4; ++i)
        key[i] = uint32_t(d[4 * i]) << 24 | uint32_t(d[4 * i + 1]) << 16 | uint32_t(d[4 * i + 2]) << 8 | d[4 * i + 3];
    const uint32_t in[2] = {0x41414141, 0x41414141};
    uint32_t out[2];
    CQNF_SecureBlock::encipher(in, out, key);
    const uint32_t got0 = uint32_t(env[17]) << 24 | uint32_t(env[18]) << 16 | uint32_t(env[19]) << 8 | env[20];
    EXPECT_EQ(got0, out[0]);
}

TEST(BlockSecure, EqualPlainBlocksGiveEqualCipherBlocks)
{
    CQNF_SecureBlock stage;
    stage.SetPassword(CQNF_String("k"));
    Bytes plain(32, 'z');
    const Bytes env = RunStage(stage, plain, 0);
    ASSERT_EQ(env.size(), 49u);
    EXPECT_TRUE(std::equal(env.begin() + 17, env.begin() + 25, env.begin() + 25));
}

TEST(BlockSecure, RefusesBadEnvelopesInAnOrderlyWay)
{
    CQNF_SecureBlock enc;
    enc.SetPassword(CQNF_String("right"));
    const Bytes env = RunStage(enc, Bytes(13, 7), 0);
    ASSERT_EQ(env.size(), 33u);
    unsigned short err = 0;

    CQNF_SecureBlock wrong;
    wrong.SetPassword(CQNF_String("wrong"));
    RunStage(wrong, env, 1, &err);
    EXPECT_EQ(err, 97);

    CQNF_SecureBlock dec;
    dec.SetPassword(CQNF_String("right"));
    RunStage(dec, Bytes(env.begin(), env.begin() + 24), 1, &err);
    EXPECT_EQ(err, 98);
    RunStage(dec, Bytes(env.begin(), env.end() - 1), 1, &err);
    EXPECT_EQ(err, 98) << "truncated";
    // A filler count enciphering never writes, or one that swallows every
    // plain byte, sizes nothing from junk.
    for (uint8_t p : {8, 200, 255}) {
        Bytes bad = env;
        bad[0] = p;
        RunStage(dec, bad, 1, &err);
        EXPECT_EQ(err, 98) << int(p);
    }
    // A flipped cipher byte is caught by the digest.
    Bytes flipped = env;
    flipped[20] ^= 1;
    RunStage(dec, flipped, 1, &err);
    EXPECT_EQ(err, 97);
}

TEST(BlockSecure, ModesPasswordsAndProgress)
{
    CQNF_SecureBlock stage;
    unsigned short err = 0;
    stage.SetSourceBlock("abc", 3);
    EXPECT_FALSE(stage.Process()) << "no mode set";
    EXPECT_EQ(stage.GetError(), 96);
    RunStage(stage, Bytes{1}, 2, &err);
    EXPECT_EQ(err, 96);
    RunStage(stage, Bytes{}, 0, &err);
    EXPECT_EQ(err, 96);
    EXPECT_FALSE(stage.SetPassword("", 0));
    EXPECT_EQ(stage.GetError(), 80);
    CQNF_Progress progress;
    stage.SetProgress(progress);
    RunStage(stage, Bytes{1}, 0, &err);
    EXPECT_EQ(err, 99);
}
