// The reader and writer bases and the placeholder.
#include "imaging/CodecFormat.h"
#include "imaging/PNGCodec.h"
#include "imaging/PSDCodec.h"

#include "test_codec_util.h"

#include <gtest/gtest.h>

using namespace codectest;

namespace {

// Counts calls of the pointer forms to show the chains reach them.
class CountingReader : public CQNF_ImageReader {
public:
    bool GetImageInfoByPtr(const void*, size_t size) override
    {
        ++infos;
        lastSize = size;
        return true;
    }
    bool ParseImageByPtr(const void* data, size_t size) override
    {
        ++parses;
        lastSize = size;
        first = size ? *static_cast<const unsigned char*>(data) : 0;
        return true;
    }
    int infos = 0, parses = 0;
    size_t lastSize = 0;
    unsigned char first = 0;
};

}  // namespace

TEST(CodecFramework, PlanesOutsideTheRangeAreNull)
{
    CQNF_ImagePNG png;
    EXPECT_EQ(png.GetImageDataPtr(4), nullptr);
    EXPECT_EQ(png.GetImageDataPtr(-2), nullptr);
    EXPECT_EQ(png.GetImageDataPtr(0), nullptr);
    EXPECT_EQ(png.GetImageDataMem(-1), nullptr);
    EXPECT_EQ(png.GetComments().GetLength(), 0u);
    EXPECT_EQ(png.GetEXIF().GetLength(), 0u);
    unsigned short w = 9, h = 9;
    EXPECT_TRUE(png.GetMainImageSize(w, h));
    EXPECT_EQ(w, 0);
}

TEST(CodecFramework, FileChainsAndEmptyFiles)
{
    TempDir dir;
    WriteAll(dir / "empty", {});
    WriteAll(dir / "five", {7, 1, 2, 3, 4});
    CountingReader r;
    CQNF_StdFile file;
    ASSERT_TRUE(file.Open((dir / "empty").c_str(), 1));
    EXPECT_FALSE(r.ParseImageByFile(file));
    EXPECT_EQ(r.GetError(), qncodec::ErrCorrupt);
    EXPECT_FALSE(r.GetImageInfoByFile(file));
    EXPECT_EQ(r.parses + r.infos, 0);

    ASSERT_TRUE(file.Open((dir / "five").c_str(), 1));
    file.SetPos(3);
    ASSERT_TRUE(r.ParseImageByFile(file));
    EXPECT_EQ(r.parses, 1);
    EXPECT_EQ(r.lastSize, 5u);
    EXPECT_EQ(r.first, 7);  // read from the start whatever the position
    ASSERT_TRUE(r.GetImageInfoLocal());
    EXPECT_EQ(r.infos, 1);
    CQNF_Mem block(3);
    ASSERT_TRUE(r.ParseImageByMem(block));
    EXPECT_EQ(r.lastSize, 3u);

    // The base decodes nothing and sets no error.
    CQNF_ImageReader base;
    EXPECT_FALSE(base.ParseImageByPtr(block.GetPtr(), 3));
    EXPECT_EQ(base.GetError(), 0);
}

TEST(CodecFramework, WriterBindingAndPositionedWrites)
{
    TempDir dir;
    WriteAll(dir / "ro", {1});
    CQNF_StdFile ro;
    ASSERT_TRUE(ro.Open((dir / "ro").c_str(), 1));
    CQNF_ImagePSD psd;
    EXPECT_FALSE(psd.Create(ro));
    EXPECT_EQ(psd.GetError(), qncodec::ErrArgument);
    EXPECT_EQ(psd.Write_SetPos(qncodec::CurrentPos), 0xFFFFFFFFu);
    EXPECT_FALSE(psd.Write_MACWord(1));
    EXPECT_FALSE(psd.Write_Flush());

    CQNF_StdFile f;
    ASSERT_TRUE(f.Open((dir / "w").c_str(), 4));
    ASSERT_TRUE(psd.Create(f));
    ASSERT_TRUE(psd.Write_MACDWord(0));
    ASSERT_TRUE(psd.Write_MACWord(0xABCD));
    EXPECT_EQ(psd.Write_SetPos(qncodec::CurrentPos), 6u);
    // A patch at an earlier position leaves the position where it was.
    ASSERT_TRUE(psd.Write_MACDWord(0x01020304, 0));
    EXPECT_EQ(psd.Write_SetPos(qncodec::CurrentPos), 6u);
    ASSERT_TRUE(psd.Write_MACWord(0xEEFF));
    ASSERT_TRUE(psd.Write_Flush());
    f.Close();
    EXPECT_EQ(ReadAll(dir / "w"), (Bytes{1, 2, 3, 4, 0xAB, 0xCD, 0xEE, 0xFF}));
}

TEST(CodecFramework, PostScriptPlaceholderReportsSuccess)
{
    CQNF_PostScriptGenerator ps;
    qntFPOS a{1, 2}, b{3, 4};
    CQNF_String s;
    EXPECT_TRUE(ps.EPS_AddPath(&a, &b, 1));
    EXPECT_TRUE(ps.EPS_GetData(&s));
    EXPECT_TRUE(ps.AI_AddPath(&a, &b, 1));
    EXPECT_TRUE(ps.AI_GetData(&s));
    ps.Clean();
    EXPECT_EQ(ps.GetError(), 0);
}
