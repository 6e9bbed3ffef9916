// The bytes of the container, as written through the operations.
#include "core/Storage.h"

#include "test_storage_util.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace storage_test;

namespace {

Bytes Slice(const Bytes& b, size_t from, size_t n) { return Bytes(b.begin() + from, b.begin() + from + n); }

const Bytes kTrailer = {'Q', 'N', 'C', 'P', 'S', 'v', '4', '0'};

}  // namespace

TEST(StorageFormat, NewContainerIsFortyBytesStampedAsWritten)
{
    TempDir dir;
    const std::string path = dir.File("new.qns");
    CQNF_Storage st;
    ASSERT_TRUE(st.Open(CQNF_String(path.c_str()), 2)) << st.GetError();
    const Bytes written = ReadFile(path);
    EXPECT_TRUE(st.IsChanged());
    EXPECT_EQ(st.GetPhysicalSize(), 40u);
    ASSERT_TRUE(st.Close());
    EXPECT_EQ(ReadFile(path), written) << "the stamp went in with the first write";

    const Bytes stamped = ReadFile(path);
    EXPECT_EQ(Slice(stamped, 0, 8), kTrailer);
    EXPECT_EQ(Slice(stamped, 32, 8), kTrailer);
    ASSERT_EQ(stamped.size(), 40u);
    uint8_t digest[16];
    CQNF_MD5Digest::Compute(stamped.data() + 24, 16, digest);
    EXPECT_EQ(std::memcmp(stamped.data() + 8, digest, 16), 0);
    EXPECT_EQ(Slice(stamped, 24, 8), Bytes(8, 0));
}

TEST(StorageFormat, GoldenRecords)
{
    TempDir dir;
    const std::string path = dir.File("golden.qns");
    CQNF_Storage st;
    ASSERT_TRUE(st.Open(CQNF_String(path.c_str()), 2));

    ASSERT_TRUE(st.AddFolder("A"));
    Bytes f = ReadFile(path);
    ASSERT_EQ(f.size(), 56u);
    EXPECT_EQ(Get32(f, 24), 1u) << "record count";
    EXPECT_EQ(Get32(f, 28), 1u) << "last id";
    EXPECT_EQ(Slice(f, 32, 16), (Bytes{0, 0, 0, 0x0C, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 0, 1, 'A'}));
    EXPECT_EQ(Slice(f, 48, 8), kTrailer);

    ASSERT_TRUE(st.SetRecord("A>V", uint32_t(0x01020304)));
    f = ReadFile(path);
    EXPECT_EQ(Slice(f, 48, 20),
              (Bytes{0, 0, 0, 0x10, 3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 1, 'V', 1, 2, 3, 4}));
    EXPECT_EQ(Get32(f, 24), 2u);
    EXPECT_EQ(Get32(f, 28), 2u);

    ASSERT_TRUE(st.SetRecord("S", CQNF_String("ab")));
    f = ReadFile(path);
    // length n + 15 + c = 1 + 15 + 3; count 3, then 'a', 'b', 0.
    EXPECT_EQ(Slice(f, 68, 23), (Bytes{0, 0, 0, 19, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 3, 0, 1, 'S', 0, 0, 0, 3,
                                       'a', 'b', 0}));

    ASSERT_TRUE(st.SetRecord("D", 1.0));
    f = ReadFile(path);
    EXPECT_EQ(Get32(f, 91), 1u + 19);
    EXPECT_EQ(Slice(f, 91 + 16, 8), (Bytes{0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));

    ASSERT_TRUE(st.SetRecord("B", uint8_t(7)));
    ASSERT_TRUE(st.SetRecord("W", uint16_t(0xBEEF)));
    f = ReadFile(path);
    const size_t b = 91 + 24;
    EXPECT_EQ(Get32(f, b), 13u);
    EXPECT_EQ(f[b + 16], 7);
    EXPECT_EQ(Get32(f, b + 17), 14u);
    EXPECT_EQ(Slice(f, b + 17 + 16, 2), (Bytes{0xBE, 0xEF}));
    EXPECT_EQ(Slice(f, f.size() - 8, 8), kTrailer);

    // A removal changes one byte besides the stamp: the type becomes 0x63.
    const Bytes before = ReadFile(path);
    ASSERT_TRUE(st.KillRec("S"));
    const Bytes after = ReadFile(path);
    ASSERT_EQ(after.size(), before.size());
    size_t diffs = 0;
    for (size_t i = 24; i < after.size(); ++i)
        diffs += after[i] != before[i];
    EXPECT_EQ(diffs, 1u);
    EXPECT_EQ(after[68 + 4], 0x63);
    EXPECT_EQ(Get32(after, 24), 6u) << "the count does not drop";

    ASSERT_TRUE(st.Close());
    const Bytes closed = ReadFile(path);
    uint8_t digest[16];
    CQNF_MD5Digest::Compute(closed.data() + 24, closed.size() - 24, digest);
    EXPECT_EQ(std::memcmp(closed.data() + 8, digest, 16), 0);
    EXPECT_EQ(Slice(closed, 0, 8), kTrailer);
    EXPECT_EQ(Slice(closed, 24, closed.size() - 24), Slice(after, 24, after.size() - 24));
}

TEST(StorageFormat, HandBuiltContainerReadsBack)
{
    // The same bytes made without the writer read as the writer meant them.
    const Bytes img = Build({{0, 0xFFFFFFFF, 1, "A", {}},
                             {3, 1, 2, "V", Payload32(0x01020304)},
                             {4, 0xFFFFFFFF, 3, "S", PayloadText("ab")},
                             {6, 0xFFFFFFFF, 4, "D", {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}}},
                            4);
    CQNF_Storage st;
    ASSERT_TRUE(st.Open(img.data(), img.size())) << st.GetError();
    uint32_t v = 0;
    EXPECT_TRUE(st.GetRec("A>V", v));
    EXPECT_EQ(v, 0x01020304u);
    CQNF_String s;
    EXPECT_TRUE(st.GetRec("S", s));
    EXPECT_EQ(s, "ab");
    EXPECT_EQ(s.GetLength(), 2u);
    double d = 0;
    EXPECT_TRUE(st.GetRec("D", d));
    EXPECT_EQ(d, 1.0);
    EXPECT_EQ(st.GetTotalRecords(), 4u);
}
