// PSD reader: header kinds, layer details, section dividers, truncation,
// hostile counts and sizes, duplicate channels and file chains.
#include "imaging/PSDCodec.h"

#include "imaging/Image.h"
#include "psd_test_doc.h"
#include "test_codec_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace codectest;
using namespace psdtest;

// ---------------------------------------------------------------- reader

namespace {

// A minimal document: header, empty sections, raw or packed merged data.
Bytes Header(uint16_t channels, uint32_t h, uint32_t w, uint16_t depth, uint16_t mode)
{
    BE e;
    e.tag("8BPS").u16(1).zeros(6).u16(channels).u32(h).u32(w).u16(depth).u16(mode);
    return e.b;
}

uint32_t U32At(const Bytes& b, size_t at)
{
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

void PutU32At(Bytes& b, size_t at, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        b[at + k] = static_cast<unsigned char>(v >> (24 - 8 * k));
}

}  // namespace

TEST(CodecPSDRead, HeaderKinds)
{
    PSD r;
    BE indexed;
    indexed.raw(Header(1, 2, 2, 8, 2)).u32(0).u32(0).u32(0).u16(0).zeros(4);
    EXPECT_FALSE(r.GetImageInfoByPtr(indexed.b.data(), indexed.b.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrUnsupported);

    BE deep;
    deep.raw(Header(3, 2, 2, 16, 3)).u32(0).u32(0).u32(0).u16(0).zeros(24);
    ASSERT_TRUE(r.GetImageInfoByPtr(deep.b.data(), deep.b.size()));
    EXPECT_EQ(r.GetImageBPP(), 16);
    EXPECT_EQ(r.GetImageMode(), qncodec::ModeColour);
    EXPECT_FALSE(r.ParseImageByPtr(deep.b.data(), deep.b.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrUnsupported);

    BE odd;
    odd.raw(Header(3, 2, 2, 7, 3));
    EXPECT_FALSE(r.GetImageInfoByPtr(odd.b.data(), odd.b.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrCorrupt);

    BE huge;
    huge.raw(Header(3, 70000, 2, 8, 3));
    EXPECT_FALSE(r.GetImageInfoByPtr(huge.b.data(), huge.b.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrUnsupported);

    const Bytes shortHeader(25, 0);
    EXPECT_FALSE(r.GetImageInfoByPtr(shortHeader.data(), shortHeader.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrCorrupt);
    EXPECT_FALSE(r.GetImageInfoByPtr(nullptr, 0));

    BE cmyk;
    cmyk.raw(Header(4, 1, 1, 8, 4)).u32(0).u32(0).u32(0).u16(0).u8(1).u8(2).u8(3).u8(4);
    ASSERT_TRUE(r.ParseImageByPtr(cmyk.b.data(), cmyk.b.size()));
    EXPECT_EQ(r.GetImageMode(), qncodec::ModeCMYK);
    EXPECT_EQ(r.GetImageDataPtr(3)[0], 4);
    BE colourData;
    colourData.raw(Header(4, 1, 1, 8, 4)).u32(2).u16(0).u32(0).u32(0).u16(0).zeros(4);
    EXPECT_FALSE(r.ParseImageByPtr(colourData.b.data(), colourData.b.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrUnsupported);
}

TEST(CodecPSDRead, LayerDetails)
{
    TempDir dir;
    Doc d(8, 8);
    d.layers.push_back(MakeLayer(0, 0, 2, 2, "", {1, 2, 3, 4}));
    Bytes file = WriteDocBytes(d, dir);
    PSD r;
    ASSERT_TRUE(r.LParseByPtr(file.data(), file.size()));
    PSD::PSDLayerInfoExt_s info;
    ASSERT_TRUE(r.GetLayerInfo(0, info));
    EXPECT_STREQ(info.name, "background");

    // A document without layers gives its merged image.
    BE flat;
    flat.raw(Header(1, 1, 2, 8, 1)).u32(0).u32(0).u32(0).u16(0).u8(7).u8(8);
    ASSERT_TRUE(r.LParseByPtr(flat.b.data(), flat.b.size()));
    EXPECT_EQ(r.GetLayersCount(), 0u);
    EXPECT_EQ(r.GetImageMode(), qncodec::ModeGrey);
    EXPECT_EQ(r.GetImageDataPtr(0)[1], 8);

    // The blend mode of the first layer sits 18 + 4 x 6 + 4 bytes into its
    // record; any other mode is not supported.
    const size_t record = 26 + 4 + 4 + 44 + 4 + 4 + 2;
    const size_t blend = record + 18 + 4 * 6 + 4;
    ASSERT_EQ(std::memcmp(&file[blend], "norm", 4), 0);
    Bytes other = file;
    std::memcpy(&other[blend], "mul ", 4);
    EXPECT_FALSE(r.LParseByPtr(other.data(), other.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrUnsupported);
    Bytes badSig = file;
    badSig[blend - 4] = 'X';
    EXPECT_FALSE(r.LParseByPtr(badSig.data(), badSig.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrCorrupt);
    // More than 100 channels: 97 entries of an extra channel (id 16, no
    // data) join the record's four, the lengths around them grown to match.
    Bytes many = file;
    many[record + 16] = 0;
    many[record + 17] = 101;
    BE extra;
    for (int k = 0; k < 97; ++k)
        extra.u16(16).u32(0);
    many.insert(many.begin() + static_cast<long>(record + 18 + 4 * 6), extra.b.begin(), extra.b.end());
    for (size_t length : {record - 10, record - 6})
        PutU32At(many, length, U32At(many, length) + static_cast<uint32_t>(extra.b.size()));
    EXPECT_FALSE(r.LParseByPtr(many.data(), many.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrUnsupported);
    // An extent turned inside out.
    Bytes inverted = file;
    inverted[record + 8 + 3] = 0;  // bottom 0 < top... top is 0: make right < left instead
    inverted[record + 4 + 3] = 5;  // left 5 > right 2
    EXPECT_FALSE(r.LParseByPtr(inverted.data(), inverted.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrCorrupt);
    EXPECT_EQ(r.GetLayersCount(), 0u);
}

namespace {

// Adds an additional-information block to the extra data of the first
// layer of a one-layer document and patches the lengths around it.
Bytes WithBlock(Bytes file, const Bytes& block)
{
    const size_t section = 26 + 4 + 4 + 44;
    const size_t record = section + 4 + 4 + 2;
    const size_t extraLen = record + 18 + 4 * 6 + 12;
    const uint32_t extra = U32At(file, extraLen);
    file.insert(file.begin() + static_cast<long>(extraLen + 4 + extra), block.begin(), block.end());
    const uint32_t n = static_cast<uint32_t>(block.size());
    PutU32At(file, extraLen, extra + n);
    PutU32At(file, section + 4, U32At(file, section + 4) + n);
    PutU32At(file, section, U32At(file, section) + n);
    return file;
}

}  // namespace

TEST(CodecPSDRead, SectionDividers)
{
    TempDir dir;
    Doc d(4, 4);
    d.layers.push_back(MakeLayer(0, 0, 1, 1, "g", {1, 2, 3, 4}));
    const Bytes file = WriteDocBytes(d, dir);
    PSD r;
    PSD::PSDLayerInfoExt_s info;
    for (uint32_t type : {0u, 1u, 2u, 3u}) {
        BE block;
        block.tag("8BIMlsct").u32(4).u32(type);
        const Bytes f = WithBlock(file, block.b);
        ASSERT_TRUE(r.LParseByPtr(f.data(), f.size())) << type;
        ASSERT_TRUE(r.GetLayerInfo(0, info));
        EXPECT_EQ(info.folder, type == 1 || type == 2);
        EXPECT_EQ(info.sectionEnd, type == 3);
        ASSERT_NE(info.planes[0], nullptr);
        EXPECT_EQ(info.planes[0]->GetPtr()[0], 1);
    }
    BE unknown;
    unknown.tag("8BIMlsct").u32(4).u32(9);
    Bytes f = WithBlock(file, unknown.b);
    EXPECT_FALSE(r.LParseByPtr(f.data(), f.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrUnsupported);
    // A block claiming more than the extra data holds.
    BE overlong;
    overlong.tag("8BIMabcd").u32(1000);
    f = WithBlock(file, overlong.b);
    EXPECT_FALSE(r.LParseByPtr(f.data(), f.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrCorrupt);
}

TEST(CodecPSDRead, EveryTruncationFailsCleanly)
{
    TempDir dir;
    Doc d(9, 7);
    d.layers.push_back(MakeLayer(1, 1, 5, 5, "a", {1, 2, 3, 200}));
    d.layers.push_back(MakeLayer(-2, 3, 6, 2, "b", {9, 8, 7, 100}));
    const Bytes file = WriteDocBytes(d, dir);
    PSD r;
    ASSERT_TRUE(r.LParseByPtr(file.data(), file.size()));
    ASSERT_TRUE(r.ParseImageByPtr(file.data(), file.size()));
    for (size_t n = 0; n < file.size(); ++n) {
        // An exact-size copy, so the sanitizers see any read past the end.
        Bytes cut(file.begin(), file.begin() + static_cast<long>(n));
        EXPECT_FALSE(r.ParseImageByPtr(cut.data(), cut.size())) << n;
        EXPECT_NE(r.GetError(), 0) << n;
        EXPECT_EQ(r.GetImageDataPtr(0), nullptr);
        // The layers are whole once the layer section is.
        const size_t sectionEnd = 26 + 4 + 4 + 44 + 4 + U32At(file, 26 + 4 + 4 + 44);
        EXPECT_EQ(r.LParseByPtr(cut.data(), cut.size()), n >= sectionEnd) << n;
    }
}

TEST(CodecPSDRead, HostileCountsAndSizesAllocateNothingLarge)
{
    TempDir dir;
    Doc d(4, 4);
    d.layers.push_back(MakeLayer(0, 0, 2, 2, "a", {1, 2, 3, 4}));
    const Bytes file = WriteDocBytes(d, dir);
    const size_t section = 26 + 4 + 4 + 44;
    const size_t record = section + 4 + 4 + 2;
    PSD r;
    // A layer count far beyond the records present.
    Bytes count = file;
    count[record - 2] = 0x7F;
    count[record - 1] = 0xFF;
    EXPECT_FALSE(r.LParseByPtr(count.data(), count.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrCorrupt);
    // A 30000 x 30000 layer whose channels hold a few bytes.
    Bytes big = file;
    PutU32At(big, record + 8, 30000);
    PutU32At(big, record + 12, 30000);
    EXPECT_FALSE(r.LParseByPtr(big.data(), big.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrCorrupt);
    // A merged image larger than the limits allow.
    BE merged;
    merged.raw(Header(3, 20000, 20000, 8, 3)).u32(0).u32(0).u32(0).u16(0);
    merged.zeros(size_t{3} * 20000 * 20000 / 1000);
    EXPECT_FALSE(r.ParseImageByPtr(merged.b.data(), merged.b.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrCorrupt);  // the raw data is not there
    qntCODECLIMITS small;
    small.maxBytes = 1000;
    r.SetLimits(small);
    BE fits;
    fits.raw(Header(1, 40, 40, 8, 1)).u32(0).u32(0).u32(0).u16(0).zeros(1600);
    EXPECT_FALSE(r.ParseImageByPtr(fits.b.data(), fits.b.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrUnsupported);
    // Section lengths that wrap in 32 bits.
    Bytes wrap = file;
    PutU32At(wrap, 26 + 4, 0xFFFFFFF0);
    EXPECT_FALSE(r.ParseImageByPtr(wrap.data(), wrap.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrCorrupt);
}

TEST(CodecPSDRead, DuplicateChannelsAreCorrupt)
{
    TempDir dir;
    Doc d(4, 4);
    d.layers.push_back(MakeLayer(0, 0, 1, 1, "a", {1, 2, 3, 4}));
    Bytes file = WriteDocBytes(d, dir);
    const size_t record = 26 + 4 + 4 + 44 + 4 + 4 + 2;
    // Channel entry 1 (id 1) becomes a second channel 0.
    file[record + 18 + 6 + 1] = 0;
    PSD r;
    EXPECT_FALSE(r.LParseByPtr(file.data(), file.size()));
    EXPECT_EQ(r.GetError(), qncodec::ErrCorrupt);
}

TEST(CodecPSDRead, FileChain)
{
    TempDir dir;
    Doc d(3, 2);
    d.layers.push_back(MakeLayer(0, 0, 3, 2, "a", {5, 6, 7, 255}));
    PSD w;
    ASSERT_TRUE(WriteDoc(d, dir / "f.psd", w));
    CQNF_StdFile file;
    ASSERT_TRUE(file.Open((dir / "f.psd").c_str(), 1));
    PSD r;
    ASSERT_TRUE(r.LParseByFile(file));
    EXPECT_EQ(r.GetLayersCount(), 1u);
    ASSERT_TRUE(r.ParseImageByFile(file));
    EXPECT_EQ(r.GetImageDataPtr(1)[5], 6);
    EXPECT_EQ(r.GetLocalCopy().GetSize(), ReadAll(dir / "f.psd").size());
}

TEST(CodecPSDRead, EveryHostileFileIsRefusedWithItsCause)
{
    // Read from a file, as the programs read: the header is judged before
    // the file is read whole.
    TempDir dir;
    auto document = [](Bytes header, size_t pixels) {
        BE e;
        e.raw(header).u32(0).u32(0).u32(0).u16(0).zeros(pixels);
        return e.b;
    };
    const Bytes good = document(Header(3, 2, 2, 8, 3), 12);
    Bytes version2 = good;
    version2[5] = 2;
    const Bytes large = document(Header(3, 30000, 30000, 8, 3), 0);
    // A packed 2 x 2 merged image: the table of row lengths, then each row
    // as one literal of two bytes, a no-op byte after it where the length
    // says 4 (as some writers end their rows).
    auto packed = [](uint16_t channels, std::vector<uint16_t> lengths, uint16_t rowsPresent) {
        BE e;
        e.raw(Header(channels, 2, 2, 8, 3)).u32(0).u32(0).u32(0).u16(1);
        for (uint16_t length : lengths)
            e.u16(length);
        for (uint16_t row = 0; row < rowsPresent; ++row) {
            e.u8(1).u8(uint8_t(row)).u8(uint8_t(row + 1));
            if (row < lengths.size() && lengths[row] == 4)
                e.u8(0x80);
        }
        return e.b;
    };
    // The last row a run of 3 where a literal of 2 was: its length
    // unchanged, the run reaches beyond the row.
    Bytes runPast = packed(3, std::vector<uint16_t>(6, 3), 6);
    runPast[runPast.size() - 3] = 0xFE;
    struct Case {
        const char* what;
        Bytes file;
        uint64_t sparseSize;  // > 0: the file is made that long, with holes
        unsigned short error;
        const char* reason;  // how the reason begins
        bool byHeader;       // refused before the file is read whole
    };
    const std::vector<Case> cases = {
        {"version 2", version2, 0, qncodec::ErrUnsupported, "version 2 (a large document) is not read", true},
        {"0 bits per channel", document(Header(3, 2, 2, 0, 3), 12), 0, qncodec::ErrCorrupt,
         "damaged: its header gives 0 bits per channel", true},
        {"0 x 0 pixels", document(Header(3, 0, 0, 8, 3), 0), 0, qncodec::ErrCorrupt,
         "damaged: it describes a picture of 0 x 0 pixels", true},
        {"no channels", document(Header(0, 2, 2, 8, 3), 12), 0, qncodec::ErrCorrupt,
         "damaged: its header gives 0 channels", true},
        {"57 channels", document(Header(57, 2, 2, 8, 3), 12), 0, qncodec::ErrCorrupt,
         "damaged: its header gives 57 channels", true},
        {"30000 x 30000 in colour", large, uint64_t{30000} * 30000 * 3 + large.size(), qncodec::ErrUnsupported,
         "30000 x 30000 pixels, which take 2575 MiB", true},
        {"cut inside its header", Bytes(good.begin(), good.begin() + 20), 0, qncodec::ErrCorrupt,
         "truncated: it ends inside its header", true},
        {"32 bits per channel", document(Header(3, 2, 2, 32, 3), 48), 0, qncodec::ErrUnsupported,
         "32 bits per channel", false},
        {"cut inside its merged image", Bytes(good.begin(), good.end() - 3), 0, qncodec::ErrCorrupt,
         "truncated: it ends inside its merged image", false},
        {"its alpha channel cut", document(Header(4, 2, 2, 8, 3), 12), 0, qncodec::ErrCorrupt,
         "truncated: it ends inside its merged image", false},
        {"packed, its alpha channel cut", packed(4, std::vector<uint16_t>(8, 3), 6), 0, qncodec::ErrCorrupt,
         "damaged: the row lengths of its merged image add up to more than the rest of the file", false},
        {"packed, a row length far too large", packed(3, {3, 3, 0xFFFF, 3, 3, 3}, 6), 0, qncodec::ErrCorrupt,
         "damaged: the row lengths of its merged image add up to more than the rest of the file", false},
        {"packed, row lengths of 0", packed(3, std::vector<uint16_t>(6, 0), 6), 0, qncodec::ErrCorrupt,
         "damaged: its merged image's red channel: its row 1 holds fewer than its 2 pixels in the 0 bytes", false},
        // The lengths add up, but row 1 is given 2 bytes of row 2 and row 4
        // 2 bytes too few.
        {"packed, rows shifted", packed(3, {3, 5, 1, 3, 3, 3}, 6), 0, qncodec::ErrCorrupt,
         "damaged: its merged image's red channel: its row 2 holds more than its 2 pixels in the 5 bytes", false},
        {"packed, rows shifted in the second channel", packed(3, {3, 3, 2, 4, 3, 3}, 6), 0, qncodec::ErrCorrupt,
         "damaged: its merged image's green channel: its row 1 holds fewer than its 2 pixels in the 2 bytes", false},
        {"packed, a run past the end of its row", runPast, 0, qncodec::ErrCorrupt,
         "damaged: its merged image's blue channel: its row 2 holds more than its 2 pixels in the 3 bytes", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir / "hostile.psd";
        WriteAll(path, c.file);
        if (c.sparseSize)
            std::filesystem::resize_file(path, c.sparseSize);
        CQNF_StdFile file;
        ASSERT_TRUE(file.Open(path.c_str(), 1));
        PSD r;
        EXPECT_FALSE(r.ParseImageByFile(file));
        EXPECT_EQ(r.GetError(), c.error);
        EXPECT_EQ(r.GetReason().rfind(c.reason, 0), 0u) << r.GetReason();
        if (c.byHeader) {
            EXPECT_EQ(r.GetLocalCopy().GetSize(), 0u) << "read whole before the refusal";
        }
    }
    for (const Bytes& whole : {good, packed(3, std::vector<uint16_t>(6, 3), 6), packed(3, {4, 4, 3, 4, 3, 4}, 6)}) {
        WriteAll(dir / "good.psd", whole);
        CQNF_StdFile file;
        ASSERT_TRUE(file.Open((dir / "good.psd").c_str(), 1));
        PSD r;
        EXPECT_TRUE(r.ParseImageByFile(file)) << "the files the cases spoil read whole: " << r.GetReason();
    }
}

TEST(CodecPSDRead, CountsAndRowTablesTheLayersDoNotBearOutAreDamage)
{
    TempDir dir;
    Doc d(8, 4);
    d.layers.push_back(MakeLayer(0, 0, 6, 3, "a", {1, 2, 3, 255}));
    d.layers.push_back(MakeLayer(2, 1, 6, 3, "b", {9, 8, 7, 100}));
    const Bytes file = WriteDocBytes(d, dir);
    const size_t record = 26 + 4 + 4 + 44 + 4 + 4 + 2;
    PSD r;
    ASSERT_TRUE(r.LParseByPtr(file.data(), file.size()));
    ASSERT_EQ(r.GetLayersCount(), 2u);

    struct Case {
        const char* what;
        Bytes file;
        const char* reason;  // how the reason begins
    };
    Bytes three = file, one = file, rows = file, huge = file, big = file, shifted = file, runPast = file;
    three[record - 1] = 3;
    one[record - 1] = 1;
    // The first channel of the first layer follows both records: its
    // compression word, then a row length for each of its 3 rows, each said
    // to be 1 byte where a row of 6 equal bytes packs into 2.
    size_t channel = record;
    for (int k = 0; k < 2; ++k)
        channel += 18 + 4 * 6 + 12 + 4 + U32At(file, channel + 18 + 4 * 6 + 12);
    ASSERT_EQ(rows[channel + 1], 1) << "PackBits";
    for (size_t row = 0; row < 3; ++row) {
        ASSERT_EQ(rows[channel + 2 + 2 * row + 1], 2);
        rows[channel + 2 + 2 * row + 1] = 1;
    }
    // Row 1's length made 65535, or 7 more than its 2 bytes; or 2 bytes of
    // row 2 given to row 1, the lengths still adding up; or row 1's run
    // made 7 long in a row of 6, its length unchanged.
    huge[channel + 2] = huge[channel + 3] = 0xFF;
    big[channel + 3] = 9;
    shifted[channel + 3] = 4;
    shifted[channel + 5] = 0;
    ASSERT_EQ(runPast[channel + 8], 0xFB) << "a run of 6";
    runPast[channel + 8] = 0xFA;
    // Damage is judged before what the reader does not take and before
    // size: the second layer's blend mode is one not read, and the first
    // layer's rows still make the file damaged.
    Bytes blended = rows;
    const size_t second = record + 18 + 4 * 6 + 12 + 4 + U32At(file, record + 18 + 4 * 6 + 12);
    ASSERT_EQ(std::memcmp(&blended[second + 18 + 4 * 6 + 4], "norm", 4), 0);
    std::memcpy(&blended[second + 18 + 4 * 6 + 4], "mul ", 4);
    const std::vector<Case> cases = {
        {"3 layers counted, 2 recorded", three, "damaged: layer 2: no layer record where the layer count puts one"},
        {"1 layer counted, 2 recorded", one, "damaged: its layer count of 1 leaves"},
        {"a row table that says 1 byte a row", rows,
         "damaged: layer 0 (\"a\"): its red channel: its table of row lengths gives its rows 3 bytes where 6 follow"},
        {"that row table, and a blend mode not read", blended,
         "damaged: layer 0 (\"a\"): its red channel: its table of row lengths gives its rows 3 bytes where 6 follow"},
        {"a row length of 65535", huge,
         "damaged: layer 0 (\"a\"): its red channel: its table of row lengths gives its rows 65539 bytes where 6 "
         "follow"},
        {"a row length 7 too large", big,
         "damaged: layer 0 (\"a\"): its red channel: its table of row lengths gives its rows 13 bytes where 6 follow"},
        {"rows shifted", shifted,
         "damaged: layer 0 (\"a\"): its red channel: its row 1 holds more than its 6 pixels in the 4 bytes"},
        {"a run past the end of its row", runPast,
         "damaged: layer 0 (\"a\"): its red channel: its row 1 holds more than its 6 pixels in the 2 bytes"},
    };
    // Limits the merged image fits (96 bytes) and the layers do not: the
    // verdict stays the same.
    qntCODECLIMITS tiny;
    tiny.maxBytes = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const qntCODECLIMITS& limits : {qntCODECLIMITS{}, tiny}) {
            r.SetLimits(limits);
            EXPECT_FALSE(r.LParseByPtr(c.file.data(), c.file.size()));
            EXPECT_EQ(r.GetError(), qncodec::ErrCorrupt);
            EXPECT_EQ(r.GetReason().rfind(c.reason, 0), 0u) << r.GetReason();
            EXPECT_EQ(r.GetLayersCount(), 0u);
            // The judgement alone, beside a merged image decoded: the same
            // verdict, and the merged image left as it was.
            ASSERT_TRUE(r.ParseImageByPtr(c.file.data(), c.file.size()));
            EXPECT_FALSE(r.LJudgeByPtr(c.file.data(), c.file.size()));
            EXPECT_EQ(r.GetError(), qncodec::ErrCorrupt);
            EXPECT_EQ(r.GetReason().rfind(c.reason, 0), 0u) << r.GetReason();
            EXPECT_NE(r.GetImageDataPtr(0), nullptr);
        }
    }
    // Sound layers: within the limits they are read; beyond them, or with a
    // blend mode not read, refused for that (48), not as damage.
    Bytes multiply = file;
    std::memcpy(&multiply[second + 18 + 4 * 6 + 4], "mul ", 4);
    for (const qntCODECLIMITS& limits : {qntCODECLIMITS{}, tiny}) {
        r.SetLimits(limits);
        const bool fits = limits.maxBytes > tiny.maxBytes;
        EXPECT_EQ(r.LJudgeByPtr(file.data(), file.size()), fits);
        EXPECT_EQ(r.LParseByPtr(file.data(), file.size()), fits);
        EXPECT_EQ(r.GetError(), fits ? 0 : qncodec::ErrUnsupported);
        EXPECT_FALSE(r.LJudgeByPtr(multiply.data(), multiply.size()));
        EXPECT_EQ(r.GetError(), qncodec::ErrUnsupported);
        EXPECT_EQ(r.GetReason(), "layer 1 (\"b\"): blend mode 'mul ' is not read");
    }
}
