// PSD writer: PackBits, the golden bytes, names, resolution, the merged
// image, round trips, limits, failed writes and progress.
#include "imaging/PSDCodec.h"

#include "imaging/Image.h"
#include "psd_test_doc.h"
#include "test_codec_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

using namespace codectest;
using namespace psdtest;

namespace {

Bytes Pack(const Bytes& row)
{
    Bytes out(PSD::PackBitsBound(row.size()));
    long n = 0;
    PSD::PackBits(row.data(), static_cast<long>(row.size()), out.data(), &n);
    out.resize(static_cast<size_t>(n));
    return out;
}

// The merged image of d read back must be every visible layer laid over
// white in order, pixel by pixel as "over" with the coverage scaled by the
// layer's opacity.
void ExpectMergedIsOver(const Doc& d, const Bytes& file, int colours)
{
    PSD r;
    ASSERT_TRUE(r.ParseImageByPtr(file.data(), file.size()));
    const int W = d.init.width, H = d.init.height;
    for (int c = 0; c < colours; ++c) {
        const unsigned char* got = r.GetImageDataPtr(static_cast<signed char>(c));
        ASSERT_NE(got, nullptr);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                int want = 255;
                for (const LayerData& l : d.layers) {
                    const auto& p = l.params;
                    if (!p.visible || x < p.x || x >= p.x + p.width || y < p.y || y >= p.y + p.height)
                        continue;
                    const size_t at = size_t(y - p.y) * l.stride + size_t(x - p.x);
                    const int cover = l.planes.back()[at] * p.opacity / 255;
                    want = (want * (255 - cover) + cover * l.planes[size_t(c)][at]) / 255;
                }
                ASSERT_EQ(got[y * W + x], want) << "channel " << c << " at " << x << "," << y;
            }
    }
}

}  // namespace

// ---------------------------------------------------------------- PackBits

TEST(CodecPSDPackBits, PublishedCases)
{
    EXPECT_EQ(Pack(Bytes(200, 7)), (Bytes{0x81, 7, 0xB9, 7}));  // -127, -71
    EXPECT_EQ(Pack(Bytes{1, 2, 2, 3}), (Bytes{0, 1, 0xFF, 2, 0, 3}));
    EXPECT_EQ(Pack(Bytes{9}), (Bytes{0, 9}));
    EXPECT_TRUE(Pack(Bytes{}).empty());
    // A literal stops at 128 bytes.
    Bytes ramp(130);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<unsigned char>(i);
    const Bytes packed = Pack(ramp);
    ASSERT_EQ(packed.size(), 1 + 128 + 1 + 2u);
    EXPECT_EQ(packed[0], 127);
    EXPECT_EQ(packed[129], 1);
}

TEST(CodecPSDPackBits, RandomRowsRoundTripWithinBound)
{
    std::mt19937 rng(5);
    PSD psd;
    for (int t = 0; t < 400; ++t) {
        Bytes row(rng() % 700);
        for (size_t i = 0; i < row.size();) {
            // Mixed runs and noise, the way piece rows look.
            const size_t n = 1 + rng() % (rng() % 2 ? 3 : 300);
            const unsigned char v = static_cast<unsigned char>(rng() % 4);
            for (size_t k = 0; k < n && i < row.size(); ++k, ++i)
                row[i] = rng() % 3 ? v : static_cast<unsigned char>(rng());
        }
        const Bytes packed = Pack(row);
        ASSERT_LE(packed.size(), PSD::PackBitsBound(row.size()));
        // Short runs between literals cost at most a third more.
        ASSERT_LE(packed.size(), (4 * row.size() + 2) / 3 + 1);
        Bytes back(row.size(), 0xEE);
        size_t used = 0;
        ASSERT_TRUE(psd.UnpackMacPack(packed.data(), packed.size(), back.data(), back.size(), &used));
        EXPECT_EQ(used, packed.size());
        ASSERT_EQ(back, row);

        // The row's plan is the headers of its packets, and the plan and
        // the row give the packed bytes back.
        Bytes want;
        for (size_t p = 0; p < packed.size(); p += packed[p] < 128 ? 2 + size_t{packed[p]} : 2)
            want.push_back(packed[p]);
        Bytes plan(PSD::PackBitsBound(row.size()));
        long planned = 0;
        ASSERT_EQ(PSD::PackBitsPlan(row.data(), long(row.size()), plan.data(), &planned), long(packed.size()));
        plan.resize(size_t(planned));
        ASSERT_EQ(plan, want);
        Bytes again(PSD::PackBitsBound(row.size()));
        long n = 0;
        ASSERT_EQ(PSD::PackBitsByPlan(row.data(), long(row.size()), plan.data(), again.data(), &n), plan.size());
        again.resize(size_t(n));
        ASSERT_EQ(again, packed);
        // Without out, only the packed row's length, the row not read.
        long counted = 0;
        ASSERT_EQ(PSD::PackBitsByPlan(nullptr, long(row.size()), plan.data(), nullptr, &counted), plan.size());
        ASSERT_EQ(counted, long(packed.size()));
    }
}

// Packing is greedy, so its bytes are fixed by three rules, checked here
// packet by packet on rows of every kind: a run is taken wherever two equal
// bytes start, as long as it lasts (at most 128); a literal goes on until
// two equal bytes start, the row ends or it holds 128 bytes.
TEST(CodecPSDPackBits, PacketsFollowTheGreedyRules)
{
    std::mt19937 rng(9);
    for (int t = 0; t < 600; ++t) {
        Bytes row(rng() % 900);
        for (size_t i = 0; i < row.size();) {
            const size_t n = 1 + rng() % (t % 3 == 0 ? 2 : t % 3 == 1 ? 20 : 400);
            const unsigned char v = static_cast<unsigned char>(rng() % 3);
            for (size_t k = 0; k < n && i < row.size(); ++k, ++i)
                row[i] = rng() % 4 ? v : static_cast<unsigned char>(rng() % (t % 2 ? 3 : 256));
        }
        const Bytes packed = Pack(row);
        const long len = static_cast<long>(row.size());
        auto pairAt = [&](long k) { return k + 1 < len && row[size_t(k)] == row[size_t(k) + 1]; };
        long at = 0;
        for (size_t p = 0; p < packed.size();) {
            const int h = static_cast<signed char>(packed[p]);
            ASSERT_NE(h, -128);
            if (h < 0) {
                const long n = 1 - h;
                ASSERT_TRUE(pairAt(at)) << t;
                for (long k = at; k < at + n; ++k)
                    ASSERT_EQ(row[size_t(k)], packed[p + 1]) << t;
                ASSERT_TRUE(n == 128 || at + n == len || row[size_t(at + n)] != packed[p + 1]) << t;
                at += n;
                p += 2;
            } else {
                const long n = h + 1;
                ASSERT_FALSE(pairAt(at)) << t;
                for (long k = at + 1; k < at + n; ++k)
                    ASSERT_FALSE(pairAt(k)) << t << " at " << k;
                ASSERT_TRUE(n == 128 || at + n == len || pairAt(at + n)) << t;
                ASSERT_EQ(Bytes(packed.begin() + long(p) + 1, packed.begin() + long(p) + 1 + n),
                          Bytes(row.begin() + at, row.begin() + at + n));
                at += n;
                p += size_t(n) + 1;
            }
        }
        EXPECT_EQ(at, len) << t;
    }
}

TEST(CodecPSDPackBits, UnpackEdges)
{
    PSD psd;
    unsigned char out[4] = {};
    size_t used = 0;
    // -128 is no operation.
    const unsigned char noop[] = {0x80, 0xFD, 5};
    ASSERT_TRUE(psd.UnpackMacPack(noop, sizeof noop, out, 4, &used));
    EXPECT_EQ(used, 3u);
    EXPECT_EQ(out[3], 5);
    // Input that runs out before the row is full.
    const unsigned char shortLiteral[] = {3, 1, 2};
    EXPECT_FALSE(psd.UnpackMacPack(shortLiteral, sizeof shortLiteral, out, 4, &used));
    const unsigned char shortRun[] = {0xFE};
    EXPECT_FALSE(psd.UnpackMacPack(shortRun, sizeof shortRun, out, 4, &used));
    // A run or a literal longer than the row is no row.
    const unsigned char longRun[] = {0x81, 9};
    EXPECT_FALSE(psd.UnpackMacPack(longRun, sizeof longRun, out, 4, &used));
    const unsigned char longLiteral[] = {4, 1, 2, 3, 4, 5};
    EXPECT_FALSE(psd.UnpackMacPack(longLiteral, sizeof longLiteral, out, 4, &used));
    const unsigned char fullRun[] = {0xFD, 9};
    ASSERT_TRUE(psd.UnpackMacPack(fullRun, sizeof fullRun, out, 4, &used));
    EXPECT_EQ(used, 2u);
    EXPECT_EQ(out[3], 9);

    // Channels: compression 2 is unsupported, leftovers are corrupt.
    unsigned char plane[4];
    const unsigned char channel[] = {0, 2, 0, 2, 0xFF, 1, 0xFF, 2};
    EXPECT_TRUE(psd.ExpandChanelPixels(1, channel, sizeof channel, plane, 2, 2, nullptr, 0));
    EXPECT_EQ(plane[2], 2);
    EXPECT_FALSE(psd.ExpandChanelPixels(1, channel, sizeof channel - 1, plane, 2, 2, nullptr, 0));
    EXPECT_EQ(psd.GetError(), qncodec::ErrCorrupt);
    EXPECT_FALSE(psd.ExpandChanelPixels(2, channel, sizeof channel, plane, 2, 2, nullptr, 0));
    EXPECT_EQ(psd.GetError(), qncodec::ErrUnsupported);
    EXPECT_FALSE(psd.ExpandChanelPixels(0, channel, 3, plane, 2, 2, nullptr, 0));
    EXPECT_EQ(psd.GetError(), qncodec::ErrCorrupt);
}

// ---------------------------------------------------------------- writer

TEST(CodecPSDWrite, GoldenOnePixelDocument)
{
    TempDir dir;
    Doc d(1, 1);
    d.layers.push_back(MakeLayer(0, 0, 1, 1, "L", {10, 20, 30, 255}));
    const Bytes got = WriteDocBytes(d, dir);

    BE e;
    e.tag("8BPS").u16(1).zeros(6).u16(3).u32(1).u32(1).u16(8).u16(3);
    e.u32(0);
    e.u32(44);
    e.tag("8BIM").u16(1005).u16(0).u32(16).u16(72).u16(0).u16(1).u16(1).u16(72).u16(0).u16(1).u16(1);
    e.tag("8BIM").u16(1037).u16(0).u32(4).u32(130);
    e.u32(124).u32(116).u16(1);
    e.u32(0).u32(0).u32(1).u32(1).u16(4);
    e.u16(0).u32(6).u16(1).u32(6).u16(2).u32(6).u16(0xFFFF).u32(6);
    e.tag("8BIMnorm").u8(255).u8(0).u8(0).u8(0);
    e.u32(32).u32(0).u32(0);
    e.u8(1).tag("L").u8(0).u8(0);
    e.tag("8BIMluni").u32(8).u32(1).u16('L').u16(0);
    for (unsigned v : {10u, 20u, 30u, 255u})
        e.u16(1).u16(2).u8(0).u8(v);
    e.u32(0);
    e.u16(1).u16(2).u16(2).u16(2);
    e.u8(0).u8(10).u8(0).u8(20).u8(0).u8(30);
    EXPECT_EQ(got, e.b);
}

TEST(CodecPSDWrite, NamesShortAndUnicodeBlocks)
{
    TempDir dir;
    Doc d(4, 4);
    const std::string sixty(60, 'n');
    d.layers.push_back(MakeLayer(0, 0, 1, 1, sixty.c_str(), {1, 2, 3, 4}));
    Bytes got = WriteDocBytes(d, dir);
    // Extra data after the 4+4 empty mask and ranges: length byte 55, 56
    // bytes in all, then the Unicode block with N = 60 and 61 units.
    const size_t extra = 26 + 4 + 4 + 44 + 4 + 4 + 2 + 16 + 2 + 4 * 6 + 12;
    const size_t name = extra + 4 + 8;
    ASSERT_GT(got.size(), name + 56 + 16);
    EXPECT_EQ(got[name], 55);
    EXPECT_EQ(std::memcmp(&got[name + 1], sixty.data(), 55), 0);
    EXPECT_EQ(std::memcmp(&got[name + 56], "8BIMluni", 8), 0);
    BE luni;
    luni.u32(2 * 60 + 6).u32(60);
    EXPECT_TRUE(std::equal(luni.b.begin(), luni.b.end(), got.begin() + static_cast<long>(name + 64)));
    BE extraLength;
    extraLength.u32(8 + 56 + 16 + 2 * 61);
    EXPECT_TRUE(std::equal(extraLength.b.begin(), extraLength.b.end(), got.begin() + static_cast<long>(extra)));

    // An empty name: four zero bytes and a Unicode block of length 6.
    Doc e(4, 4);
    e.layers.push_back(MakeLayer(0, 0, 1, 1, "", {1, 2, 3, 4}));
    got = WriteDocBytes(e, dir);
    BE empty;
    empty.u32(0).tag("8BIMluni").u32(6).u32(0).u16(0);
    EXPECT_TRUE(std::equal(empty.b.begin(), empty.b.end(), got.begin() + static_cast<long>(name)));

    // A UTF-8 name becomes its UTF-16 units.
    Doc u(4, 4);
    u.layers.push_back(MakeLayer(0, 0, 1, 1, "\xC3\xA9t\xC3\xA9", {1, 2, 3, 4}));
    got = WriteDocBytes(u, dir);
    BE units;
    units.tag("8BIMluni").u32(3 * 2 + 6).u32(3).u16(0xE9).u16('t').u16(0xE9).u16(0);
    EXPECT_TRUE(std::equal(units.b.begin(), units.b.end(), got.begin() + static_cast<long>(name + 8)));

    // Names cut to their fields end between characters: 40 x "\xC3\x9C" (U
    // with diaeresis, 2 bytes) copied into the 64-byte field keeps 31 and
    // the first byte of the 32nd, the short name's 55 bytes end inside the
    // 28th. Both keep whole characters only, and read back whole.
    std::string umlauts;
    for (int k = 0; k < 40; ++k)
        umlauts += "\xC3\x9C";
    Doc c(4, 4);
    c.layers.push_back(MakeLayer(0, 0, 1, 1, umlauts.c_str(), {1, 2, 3, 4}));
    got = WriteDocBytes(c, dir);
    ASSERT_GT(got.size(), name + 56 + 12 + 2 * 32);
    EXPECT_EQ(got[name], 54);
    BE cut;
    cut.tag("8BIMluni").u32(2 * 31 + 6).u32(31);
    for (int k = 0; k < 31; ++k)
        cut.u16(0xDC);
    cut.u16(0);
    EXPECT_TRUE(std::equal(cut.b.begin(), cut.b.end(), got.begin() + static_cast<long>(name + 56)));
    PSD r;
    ASSERT_TRUE(r.LParseByPtr(got.data(), got.size()));
    PSD::PSDLayerInfoExt_s info;
    ASSERT_TRUE(r.GetLayerInfo(0, info));
    EXPECT_EQ(std::string(info.name), umlauts.substr(0, 54));
}

TEST(CodecPSDWrite, ResolutionIccAndAngle)
{
    TempDir dir;
    Doc d(2, 2);
    d.init.resolution = 72.5;
    const unsigned char icc[5] = {1, 2, 3, 4, 5};
    d.init.iccProfile = icc;
    d.init.iccSize = 5;
    d.layers.push_back(MakeLayer(0, 0, 2, 2, "a", {1, 2, 3, 4}));
    const Bytes got = WriteDocBytes(d, dir);
    BE e;
    // An odd profile is padded to even; the section length counts the pad.
    e.u32(56 + 5 + 1);
    e.tag("8BIM").u16(1005).u16(0).u32(16).u16(72).u16(32768).u16(1).u16(1).u16(72).u16(32768).u16(1).u16(1);
    e.tag("8BIM").u16(1037).u16(0).u32(4).u32(130);
    e.tag("8BIM").u16(1039).u16(0).u32(5).u8(1).u8(2).u8(3).u8(4).u8(5).u8(0);
    ASSERT_GE(got.size(), 30 + e.b.size());
    EXPECT_TRUE(std::equal(e.b.begin(), e.b.end(), got.begin() + 30));

    // A resolution beyond the 16.16 field is clamped, not wrapped.
    Doc big(2, 2);
    big.init.resolution = 70000.0;
    big.layers.push_back(MakeLayer(0, 0, 2, 2, "a", {1, 2, 3, 4}));
    const Bytes b = WriteDocBytes(big, dir);
    EXPECT_EQ(b[46], 0xFF);
    EXPECT_EQ(b[47], 0xFF);
}

TEST(CodecPSDWrite, MergedImageCompositesVisibleLayersOverWhite)
{
    TempDir dir;
    Doc d(20, 2);
    // Bottom: opaque red at x = -10 (only its columns 10.. reach the canvas).
    d.layers.push_back(MakeLayer(-10, 0, 15, 2, "red", {200, 0, 0, 255}));
    // A hidden black layer over everything: it must not darken the merged image.
    LayerData hidden = MakeLayer(0, 0, 20, 2, "hidden", {0, 0, 0, 255});
    hidden.params.visible = 0;
    d.layers.push_back(hidden);
    // Half-opaque blue, at opacity 128.
    LayerData blue = MakeLayer(10, 1, 5, 1, "blue", {0, 0, 255, 255});
    blue.params.opacity = 128;
    d.layers.push_back(blue);
    const Bytes file = WriteDocBytes(d, dir);

    PSD r;
    ASSERT_TRUE(r.ParseImageByPtr(file.data(), file.size()));
    unsigned short w, h;
    r.GetMainImageSize(w, h);
    ASSERT_EQ(w, 20);
    ASSERT_EQ(h, 2);
    const unsigned char* R = r.GetImageDataPtr(0);
    const unsigned char* B = r.GetImageDataPtr(2);
    EXPECT_EQ(R[0], 200);   // red covers 0..4
    EXPECT_EQ(R[4], 200);
    EXPECT_EQ(R[5], 255);   // white: the hidden layer is not composited
    EXPECT_EQ(B[5], 255);
    // Blue over white at a' = 255 * 128 / 255 = 128: (255 * 127 + 128 * 0) / 255 = 127.
    EXPECT_EQ(R[20 + 10], 127);
    EXPECT_EQ(B[20 + 10], 255);
    EXPECT_EQ(r.GetImageDataPtr(-1), nullptr);
    EXPECT_EQ(r.GetImageDataPtr(3), nullptr);

    // The layer records keep what was written.
    PSD l;
    ASSERT_TRUE(l.LParseByPtr(file.data(), file.size()));
    ASSERT_EQ(l.GetLayersCount(), 3u);
    PSD::PSDLayerInfoExt_s info;
    ASSERT_TRUE(l.GetLayerInfo(0, info));
    EXPECT_EQ(info.left, -10);
    EXPECT_EQ(info.width, 15u);
    EXPECT_STREQ(info.name, "red");
    ASSERT_TRUE(l.GetLayerInfo(1, info));
    EXPECT_EQ(info.visible, 0);
    EXPECT_STREQ(info.name, "hidden");
    ASSERT_TRUE(l.GetLayerInfo(2, info));
    EXPECT_EQ(info.opacity, 128);
    EXPECT_EQ(info.top, 1);
    EXPECT_FALSE(l.GetLayerInfo(3, info));
}

// Many overlapping layers, partly off the canvas, over more rows than the
// writer composites at once, some hidden or at reduced opacity: the merged
// image read back is every visible layer laid over white in order, pixel by
// pixel as "over" with the coverage scaled by the layer's opacity.
TEST(CodecPSDWrite, MergedImageOfManyOverlappingLayersIsTheirOverInOrder)
{
    TempDir dir;
    std::mt19937 rng(21);
    for (uint8_t mode : {qncodec::ModeColour, qncodec::ModeCMYK}) {
        const int colours = mode == qncodec::ModeColour ? 3 : 4;
        const int W = 90, H = 150;
        Doc d(W, H, mode);
        for (int i = 0; i < 25; ++i) {
            LayerData l = MakeLayer(int(rng() % 110) - 20, int(rng() % 180) - 30, 1 + int(rng() % 60),
                                    1 + int(rng() % 120), "l", std::vector<unsigned char>(5, 0), colours + 1);
            for (auto& p : l.planes)
                for (auto& v : p)
                    v = static_cast<unsigned char>(rng());
            // Coverage as pieces have it: mostly none or full.
            for (auto& a : l.planes.back())
                a = a < 90 ? 0 : a < 200 ? 255 : a;
            l.params.visible = i % 9 != 4;
            l.params.opacity = i % 4 == 1 ? static_cast<uint8_t>(rng()) : 255;
            d.layers.push_back(l);
        }
        SCOPED_TRACE(int(mode));
        ExpectMergedIsOver(d, WriteDocBytes(d, dir), colours);
    }
}

// Pieces as a cut gives them: wide layers whose coverage is long stretches
// of none and full with soft edges between, rows clear at either end or
// wholly, partly off the canvas, overlapping: whatever the stretches' lengths
// and where they start, the merged image is still the plain "over".
TEST(CodecPSDWrite, MergedImageOfPieceLikeCoverageIsTheirOver)
{
    TempDir dir;
    std::mt19937 rng(5);
    struct Case {
        const char* what;
        int left;         // of the first layer; the others follow it
        uint8_t opacity;  // of every other layer
        int stretch;      // longest stretch of one coverage
    } cases[] = {
        {"inside, full opacity, long stretches", 3, 255, 200},
        {"off the left edge, full opacity", -45, 255, 90},
        {"off the left edge, half opacity", -45, 128, 90},
        {"short stretches around the block size", 0, 255, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int W = 260, H = 70;
        Doc d(W, H);
        for (int i = 0; i < 6; ++i) {
            const int w = 120 + int(rng() % 140), h = 20 + int(rng() % 50);
            LayerData l = MakeLayer(c.left + 40 * i, int(rng() % 40) - 10, w, h, "p", std::vector<unsigned char>(4, 0));
            for (int k = 0; k < 3; ++k)
                for (auto& v : l.planes[size_t(k)])
                    v = static_cast<unsigned char>(rng());
            Bytes& a = l.planes.back();
            for (int y = 0; y < h; ++y) {
                unsigned char* row = a.data() + size_t(y) * w;
                if (y % 7 == 3)
                    continue;  // a row with no coverage at all
                for (int x = 0; x < w;) {
                    const int n = 1 + int(rng() % unsigned(c.stretch));
                    const unsigned kind = rng() % 5;
                    for (int e = x; e < std::min(w, x + n); ++e)
                        row[e] = kind < 2 ? 0 : kind < 4 ? 255 : static_cast<unsigned char>(rng());
                    x += n;
                }
                // Clear ends, as the corners of a piece's box.
                std::fill(row, row + std::min(w, int(rng() % 50)), 0);
                std::fill(row + std::max(0, w - int(rng() % 50)), row + w, 0);
            }
            l.params.opacity = i % 2 ? c.opacity : 255;
            l.params.visible = i != 4;
            d.layers.push_back(l);
        }
        ExpectMergedIsOver(d, WriteDocBytes(d, dir), 3);
    }
}

// A merged picture the caller composited (pieces whose soft edges add up,
// which no stack of layers gives) is what the file shows without its
// layers, laid over white, in every mode, whether given or made when the
// writer reaches it; without all its planes nothing is written.
TEST(CodecPSDWrite, GivenMergedPictureIsWrittenOverWhite)
{
    TempDir dir;
    std::mt19937 rng(17);
    for (uint8_t mode : {qncodec::ModeColour, qncodec::ModeGrey, qncodec::ModeCMYK}) {
        SCOPED_TRACE(int(mode));
        const int colours = mode == qncodec::ModeColour ? 3 : mode == qncodec::ModeGrey ? 1 : 4;
        const int W = 41, H = 9, stride = 50;
        Doc d(W, H, mode);
        // A layer that, stacked, would give another picture.
        d.layers.push_back(MakeLayer(2, 1, 20, 5, "p", std::vector<unsigned char>(size_t(colours) + 1, 90),
                                     colours + 1));
        std::vector<Bytes> given(size_t(colours) + 1, Bytes(size_t(stride) * H));
        for (Bytes& p : given)
            for (auto& v : p)
                v = static_cast<unsigned char>(rng());
        std::fill(given.back().begin(), given.back().begin() + stride, 0);    // clear: white
        std::fill(given.back().begin() + stride, given.back().begin() + 2 * stride, 255);  // opaque
        const unsigned char* planes[5] = {};
        for (size_t k = 0; k < given.size(); ++k)
            planes[k] = given[k].data();
        PSD psd;
        ASSERT_TRUE(WriteDoc(d, dir / "given.psd", psd, nullptr, planes, stride));
        const Bytes file = ReadAll(dir / "given.psd");
        PSD r;
        ASSERT_TRUE(r.ParseImageByPtr(file.data(), file.size()));
        for (int c = 0; c < colours; ++c) {
            const unsigned char* got = r.GetImageDataPtr(static_cast<signed char>(c));
            ASSERT_NE(got, nullptr);
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    const int s = given[size_t(c)][size_t(y) * stride + x], a = given.back()[size_t(y) * stride + x];
                    ASSERT_EQ(got[y * W + x], (s * a + 255 * (255 - a)) / 255) << c << " at " << x << "," << y;
                }
        }
        // The layer itself is kept as it was given.
        ASSERT_TRUE(r.LParseByPtr(file.data(), file.size()));
        ASSERT_EQ(r.GetLayersCount(), 1u);

        // The same picture made only when the writer comes to it, into
        // planes the writer holds: the same bytes. A source that fails
        // stops the write without an error of the writer's.
        for (const bool fails : {false, true}) {
            int asked = 0;
            const auto source = [&](unsigned char* const* into) {
                ++asked;
                for (size_t k = 0; k < given.size(); ++k)
                    for (int y = 0; y < H; ++y)
                        std::memcpy(into[k] + size_t(y) * W, given[k].data() + size_t(y) * stride, W);
                return !fails;
            };
            PSD made;
            EXPECT_EQ(WriteDoc(d, dir / "made.psd", made, nullptr, nullptr, 0, source), !fails);
            EXPECT_EQ(made.GetError(), 0u);
            EXPECT_EQ(asked, 1);
            if (!fails) {
                EXPECT_TRUE(ReadAll(dir / "made.psd") == file) << "a made picture is written as a given one";
            }
        }

        // A picture without its transparency is refused before anything is written.
        planes[colours] = nullptr;
        PSD refused;
        EXPECT_FALSE(WriteDoc(d, dir / "refused.psd", refused, nullptr, planes, stride));
        EXPECT_EQ(refused.GetError(), qncodec::ErrArgument);
        EXPECT_EQ(ReadAll(dir / "refused.psd").size(), 0u);
    }
}

TEST(CodecPSDWrite, RoundTripKeepsEveryPlane)
{
    TempDir dir;
    std::mt19937 rng(11);
    for (uint8_t mode : {qncodec::ModeColour, qncodec::ModeGrey, qncodec::ModeCMYK}) {
        const int planes = mode == qncodec::ModeColour ? 4 : mode == qncodec::ModeGrey ? 2 : 5;
        Doc d(37, 23, mode);
        for (int i = 0; i < 4; ++i) {
            LayerData l = MakeLayer(int(rng() % 40) - 10, int(rng() % 30) - 5, 1 + int(rng() % 50), 1 + int(rng() % 30),
                                    ("layer " + std::to_string(i)).c_str(), std::vector<unsigned char>(5, 0), planes);
            l.stride = l.params.width + 3u;  // a stride wider than the layer
            for (auto& p : l.planes) {
                p.assign(size_t{l.stride} * l.params.height, 0);
                for (auto& v : p)
                    v = rng() % 2 ? static_cast<unsigned char>(rng()) : 42;
            }
            d.layers.push_back(l);
        }
        const Bytes file = WriteDocBytes(d, dir);
        PSD r;
        ASSERT_TRUE(r.LParseByPtr(file.data(), file.size())) << int(r.GetError());
        EXPECT_EQ(r.GetImageMode(), mode);
        ASSERT_EQ(r.GetLayersCount(), 4u);
        for (uint32_t i = 0; i < 4; ++i) {
            PSD::PSDLayerInfoExt_s info;
            ASSERT_TRUE(r.GetLayerInfo(i, info));
            const LayerData& l = d.layers[i];
            EXPECT_EQ(info.left, l.params.x);
            EXPECT_EQ(info.top, l.params.y);
            EXPECT_EQ(info.channels, planes);
            for (int k = 0; k < planes; ++k) {
                CQNF_Mem* m = k == planes - 1 ? info.transparency : info.planes[k];
                ASSERT_NE(m, nullptr);
                for (uint32_t y = 0; y < info.height; ++y)
                    ASSERT_EQ(std::memcmp(m->GetPtr() + y * info.width, l.planes[k].data() + y * l.stride, info.width), 0);
            }
        }
    }
}

TEST(CodecPSDWrite, WideCanvasOverNarrowLayersPacksSafely)
{
    // The merged rows are as wide as the canvas, far wider than any layer:
    // the packing buffer must be sized for them (checked by the sanitizers).
    TempDir dir;
    Doc d(3000, 3);
    LayerData l = MakeLayer(0, 0, 4, 3, "tiny", {0, 0, 0, 255});
    d.layers.push_back(l);
    for (int i = 0; i < 60; ++i) {
        LayerData n = MakeLayer(i * 50, 0, 50, 3, "noise", {0, 0, 0, 255});
        for (int c = 0; c < 3; ++c)
            for (size_t k = 0; k < n.planes[c].size(); ++k)
                n.planes[c][k] = static_cast<unsigned char>(k * 37 + i);
        d.layers.push_back(n);
    }
    PSD psd;
    ASSERT_TRUE(WriteDoc(d, dir / "wide.psd", psd));
    const Bytes file = ReadAll(dir / "wide.psd");
    PSD r;
    ASSERT_TRUE(r.ParseImageByPtr(file.data(), file.size()));
    EXPECT_EQ(r.GetImageDataPtr(0)[50 * 7 + 3], static_cast<unsigned char>(3 * 37 + 7));
}

TEST(CodecPSDWrite, RefusesWhatTheFormatCannotHold)
{
    TempDir dir;
    {
        Doc d(30001, 2);
        PSD psd;
        EXPECT_FALSE(WriteDoc(d, dir / "a.psd", psd));
        EXPECT_EQ(psd.GetError(), qncodec::ErrArgument);
    }
    {
        Doc d(10, 10, 4);
        PSD psd;
        EXPECT_FALSE(WriteDoc(d, dir / "b.psd", psd));
        EXPECT_EQ(psd.GetError(), qncodec::ErrArgument);
    }
    {
        // Missing transparency plane.
        Doc d(10, 10);
        d.layers.push_back(MakeLayer(0, 0, 2, 2, "x", {1, 2, 3, 4}, 3));
        PSD psd;
        EXPECT_FALSE(WriteDoc(d, dir / "c.psd", psd));
        EXPECT_EQ(psd.GetError(), qncodec::ErrArgument);
        EXPECT_EQ(ReadAll(dir / "c.psd").size(), 0u);  // nothing written
    }
    {
        // Without Write_Init there is nothing to write.
        CQNF_StdFile file;
        ASSERT_TRUE(file.Open((dir / "d.psd").c_str(), 2));
        PSD psd;
        ASSERT_TRUE(psd.Create(file));
        EXPECT_FALSE(psd.WritePSD());
        EXPECT_EQ(psd.GetError(), qncodec::ErrArgument);
    }
    {
        // Without a file: false, no error.
        PSD psd;
        EXPECT_FALSE(psd.WritePSD());
        EXPECT_EQ(psd.GetError(), 0);
    }
}

TEST(CodecPSDWrite, AddLayerFromImageNeedsEveryPlane)
{
    PSD psd;
    Doc d(8, 8);
    ASSERT_TRUE(psd.Write_Init(&d.init));
    PSD::PSDMLWRITE_LAYERPARAMS p;
    p.width = 4;
    p.height = 4;
    CQNF_Image rgb;
    ASSERT_TRUE(rgb.Create(4, 4, 1));
    EXPECT_FALSE(psd.Write_AddLayer(&p, &rgb));  // no transparency plane to take
    EXPECT_EQ(psd.GetError(), qncodec::ErrArgument);
    CQNF_Image rgba;
    ASSERT_TRUE(rgba.Create(4, 4, 2));
    EXPECT_TRUE(psd.Write_AddLayer(&p, &rgba));
    p.width = 5;
    EXPECT_FALSE(psd.Write_AddLayer(&p, &rgba));  // larger than the image
}

TEST(CodecPSDWrite, FailedWriteIsAFailure)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    Doc d(300, 300);
    d.layers.push_back(MakeLayer(0, 0, 300, 300, "a", {1, 2, 3, 4}));
    PSD psd;
    CQNF_StdFile file;
    ASSERT_TRUE(file.Open("/dev/full", 2));
    ASSERT_TRUE(psd.Create(file));
    ASSERT_TRUE(psd.Write_Init(&d.init));
    unsigned char* planes[5] = {d.layers[0].planes[0].data(), d.layers[0].planes[1].data(),
                                d.layers[0].planes[2].data(), d.layers[0].planes[3].data(), nullptr};
    ASSERT_TRUE(psd.Write_AddLayer(&d.layers[0].params, planes, 300));
    EXPECT_FALSE(psd.WritePSD());
    EXPECT_NE(psd.GetError(), 0);
}

TEST(CodecPSDWrite, ProgressRisesAndCancelStopsWithoutError)
{
    TempDir dir;
    Doc d(50, 50);
    for (int i = 0; i < 5; ++i)
        d.layers.push_back(MakeLayer(i * 10, 0, 10, 50, "p", {1, 2, 3, 255}));
    {
        RecordingProgress prog;
        int marker = 0;
        prog.SetUserDataPtr(&marker);
        PSD psd;
        ASSERT_TRUE(WriteDoc(d, dir / "a.psd", psd, &prog));
        ASSERT_FALSE(prog.reports.empty());
        EXPECT_EQ(prog.reports.front(), 0);
        EXPECT_EQ(prog.reports.back(), 100);
        EXPECT_TRUE(Rising(prog.reports));
        EXPECT_EQ(prog.lastData, &marker);
    }
    {
        RecordingProgress prog(30);
        PSD psd;
        EXPECT_FALSE(WriteDoc(d, dir / "b.psd", psd, &prog));
        EXPECT_EQ(psd.GetError(), 0);
        EXPECT_NE(prog.reports.back(), 100);
    }
}
