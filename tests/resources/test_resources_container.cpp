// The one-pass container writer against the core's storage reader.
#include "core/MD5Digest.h"
#include "core/Storage.h"
#include "core/StorageFormat.h"
#include "resources/compiler/Container.h"
#include "resources/compiler/Error.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

CQNF_String S(const char* s) { return CQNF_String(s); }

TEST(ResourceContainer, TinyContainerIsByteExact)
{
    rc::ContainerWriter w;
    w.U16("F>v", 0x1234);
    w.String("s", "ab");
    const std::vector<uint8_t> got = w.Finish();

    // Hand-assembled: header, three records, trailer; stamp filled in last.
    std::vector<uint8_t> want = {'Q', 'N', 'C', 'P', 'S', 'v', '4', '0'};
    want.resize(24, 0);
    const uint8_t counts[] = {0, 0, 0, 3, 0, 0, 0, 3};
    want.insert(want.end(), counts, counts + 8);
    const uint8_t folder[] = {0, 0, 0, 12, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 0, 1, 'F'};
    const uint8_t value[] = {0, 0, 0, 14, 2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 1, 'v', 0x12, 0x34};
    const uint8_t text[] = {0, 0, 0, 19, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 3, 0, 1, 's', 0, 0, 0, 3, 'a', 'b', 0};
    want.insert(want.end(), folder, folder + sizeof folder);
    want.insert(want.end(), value, value + sizeof value);
    want.insert(want.end(), text, text + sizeof text);
    want.insert(want.end(), {'Q', 'N', 'C', 'P', 'S', 'v', '4', '0'});
    CQNF_MD5Digest::Compute(want.data() + 24, want.size() - 24, want.data() + 8);
    EXPECT_EQ(got, want);
}

TEST(ResourceContainer, EveryRecordKindReadsBackThroughTheStorage)
{
    rc::ContainerWriter w;
    w.Folder("UIResources>Empty");
    w.U8("UIResources>Buttons>B>Group ID", 7);
    w.U16("UIResources>Rects>R>Rect Left", 640);
    w.U32("UIResources>Sliders>S>Data_ValueEnd", 4000000000u);
    w.String("UIResources>Strings>Version", "Tessolo");
    w.Binary("DefSet", {1, 2, 3, 0, 255});
    const std::vector<uint8_t> image = w.Finish();

    CQNF_Storage st;
    ASSERT_TRUE(st.CheckMD5(image.data(), image.size()));
    ASSERT_TRUE(st.Open(image.data(), image.size()));
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    CQNF_String text;
    CQNF_Mem bin;
    EXPECT_TRUE(st.GetRec(S("UIResources>Buttons>B>Group ID"), u8));
    EXPECT_TRUE(st.GetRec(S("UIResources>Rects>R>Rect Left"), u16));
    EXPECT_TRUE(st.GetRec(S("UIResources>Sliders>S>Data_ValueEnd"), u32));
    EXPECT_TRUE(st.GetRec(S("UIResources>Strings>Version"), text));
    EXPECT_TRUE(st.GetRec(S("DefSet"), bin));
    EXPECT_EQ(u8, 7);
    EXPECT_EQ(u16, 640);
    EXPECT_EQ(u32, 4000000000u);
    EXPECT_STREQ(text.GetStr(), "Tessolo");
    ASSERT_EQ(bin.GetSize(), 5u);
    EXPECT_EQ(bin.GetPtr()[4], 255);
    EXPECT_EQ(st.GetRecType(S("UIResources>Empty")), qnstorage::kFolder);
    // The typed readers insist on the exact type.
    EXPECT_FALSE(st.GetRec(S("UIResources>Rects>R>Rect Left"), u8));

    CQNF_StringArray children;
    ASSERT_TRUE(st.GetAllRecords(S("UIResources"), children));
    ASSERT_EQ(children.GetSize(), 5u);  // in file order
    EXPECT_STREQ(children[0].GetStr(), "Empty");
    EXPECT_STREQ(children[4].GetStr(), "Strings");
}

TEST(ResourceContainer, StampCoversEveryByteAfterTheHeader)
{
    rc::ContainerWriter w;
    w.String("a", "stamped");
    std::vector<uint8_t> image = w.Finish();
    CQNF_Storage st;
    for (size_t at : {size_t(24), image.size() / 2, image.size() - 1}) {
        std::vector<uint8_t> bad = image;
        bad[at] ^= 1;
        EXPECT_FALSE(st.CheckMD5(bad.data(), bad.size())) << "byte " << at;
        EXPECT_EQ(st.GetError(), qnerr::StorageStamp);
    }
}

TEST(ResourceContainer, RefusesKeysItCannotWrite)
{
    struct Case {
        const char* what;
        void (*write)(rc::ContainerWriter&);
    } cases[] = {
        {"same value twice", [](rc::ContainerWriter& w) { w.U8("a>b", 1), w.U8("a>b", 2); }},
        {"folder twice", [](rc::ContainerWriter& w) { w.Folder("a"), w.Folder("a"); }},
        {"value as a folder", [](rc::ContainerWriter& w) { w.U8("a", 1), w.U8("a>b", 2); }},
        {"folder as a value", [](rc::ContainerWriter& w) { w.Folder("a"), w.U8("a", 2); }},
        {"empty name", [](rc::ContainerWriter& w) { w.U8("a>>b", 1); }},
    };
    for (const Case& c : cases) {
        rc::ContainerWriter w;
        EXPECT_THROW(c.write(w), rc::Error) << c.what;
    }
}

}  // namespace
