// JPEG reader: pixels equal the library's own djpeg, colour spaces, the
// memory source, and bad or truncated data.
#include "imaging/ImageFile.h"
#include "imaging/JPEGCodec.h"
#include "imaging/JPEGSource.h"

#include "test_codec_util.h"
#include "tests/need_program.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>

using namespace codectest;
using JPEG = CQNF_ImageJPEG;

namespace {

struct Pnm {
    int channels = 0;
    uint32_t w = 0, h = 0;
    Bytes pixels;  // interleaved
};

bool ReadPnm(const Bytes& b, Pnm& out)
{
    std::string head(b.begin(), b.begin() + static_cast<long>(std::min<size_t>(b.size(), 64)));
    std::istringstream in(head);
    std::string magic;
    int maxval = 0;
    in >> magic >> out.w >> out.h >> maxval;
    if (!in || maxval != 255 || (magic != "P5" && magic != "P6"))
        return false;
    out.channels = magic == "P6" ? 3 : 1;
    const size_t start = static_cast<size_t>(in.tellg()) + 1;
    const size_t n = size_t{out.w} * out.h * out.channels;
    if (b.size() < start + n)
        return false;
    out.pixels.assign(b.begin() + static_cast<long>(start), b.begin() + static_cast<long>(start + n));
    return true;
}

Bytes MakePnm(int channels, uint32_t w, uint32_t h, unsigned seed)
{
    std::string head = (channels == 3 ? "P6\n" : "P5\n") + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    Bytes b(head.begin(), head.end());
    std::mt19937 rng(seed);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c)
                b.push_back(static_cast<unsigned char>((x * 7 + y * 3 + c * 60) ^ (rng() % 32)));
    return b;
}

class CodecJPEGVsDjpeg : public ::testing::Test {
protected:
    void SetUp() override
    {
        NEED_PROGRAM("cjpeg", "libjpeg-turbo-progs");
        NEED_PROGRAM("djpeg", "libjpeg-turbo-progs");
    }

    // Compresses a PNM with cjpeg and the options; returns the JPEG bytes.
    Bytes Compress(const Bytes& pnm, const std::string& options)
    {
        WriteAll(dir / "in.pnm", pnm);
        EXPECT_TRUE(Sh("cjpeg " + options + " -outfile '" + (dir / "x.jpg") + "' '" + (dir / "in.pnm") + "'"));
        return ReadAll(dir / "x.jpg");
    }

    // Decodes with djpeg and with the codec and compares every sample.
    void ExpectSameAsDjpeg(const Bytes& jpg, int channels)
    {
        WriteAll(dir / "y.jpg", jpg);
        ASSERT_TRUE(Sh("djpeg -pnm -outfile '" + (dir / "y.pnm") + "' '" + (dir / "y.jpg") + "'"));
        Pnm ref;
        ASSERT_TRUE(ReadPnm(ReadAll(dir / "y.pnm"), ref));
        ASSERT_EQ(ref.channels, channels);
        JPEG j;
        ASSERT_TRUE(j.ParseImageByPtr(jpg.data(), jpg.size())) << j.GetError();
        EXPECT_EQ(j.GetImageMode(), channels == 3 ? qncodec::ModeColour : qncodec::ModeGrey);
        unsigned short w, h;
        j.GetMainImageSize(w, h);
        ASSERT_EQ(w, ref.w);
        ASSERT_EQ(h, ref.h);
        EXPECT_EQ(j.GetImageDataPtr(-1), nullptr);
        for (int c = 0; c < channels; ++c) {
            const unsigned char* plane = j.GetImageDataPtr(static_cast<signed char>(c));
            ASSERT_NE(plane, nullptr);
            size_t diff = 0;
            for (size_t i = 0; i < size_t{w} * h; ++i)
                diff += plane[i] != ref.pixels[i * channels + c];
            EXPECT_EQ(diff, 0u) << "channel " << c;
        }
    }

    TempDir dir;
};

}  // namespace

TEST_F(CodecJPEGVsDjpeg, BaselineColour) { ExpectSameAsDjpeg(Compress(MakePnm(3, 37, 23, 1), "-quality 85"), 3); }

TEST_F(CodecJPEGVsDjpeg, ProgressiveWithRestartsAndNoSubsampling)
{
    ExpectSameAsDjpeg(Compress(MakePnm(3, 64, 50, 2), "-progressive -restart 1 -sample 1x1"), 3);
}

TEST_F(CodecJPEGVsDjpeg, Greyscale)
{
    const Bytes jpg = Compress(MakePnm(1, 33, 17, 3), "-grayscale");
    ExpectSameAsDjpeg(jpg, 1);
    JPEG info;
    ASSERT_TRUE(info.GetImageInfoByPtr(jpg.data(), jpg.size()));
    EXPECT_EQ(info.GetImageMode(), qncodec::ModeGrey);
    EXPECT_EQ(info.GetImageBPP(), 8);
    EXPECT_EQ(info.GetImageDataPtr(0), nullptr);
}

TEST_F(CodecJPEGVsDjpeg, MissingEndMarkerStillDecodes)
{
    Bytes jpg = Compress(MakePnm(3, 40, 40, 4), "");
    ASSERT_EQ(jpg[jpg.size() - 2], 0xFF);
    ASSERT_EQ(jpg[jpg.size() - 1], 0xD9);
    const Bytes whole = jpg;
    jpg.resize(jpg.size() - 2);
    JPEG a, b;
    ASSERT_TRUE(a.ParseImageByPtr(whole.data(), whole.size()));
    ASSERT_TRUE(b.ParseImageByPtr(jpg.data(), jpg.size()));
    EXPECT_EQ(std::memcmp(a.GetImageDataPtr(0), b.GetImageDataPtr(0), 1600), 0);
}

TEST_F(CodecJPEGVsDjpeg, TruncatedDataFails)
{
    const Bytes jpg = Compress(MakePnm(3, 64, 64, 5), "");
    JPEG j;
    // Every cut inside the entropy-coded data, and the header.
    for (size_t n = 0; n + 40 < jpg.size(); n += 7) {
        Bytes cut(jpg.begin(), jpg.begin() + static_cast<long>(n));
        EXPECT_FALSE(j.ParseImageByPtr(cut.data(), cut.size())) << n;
        EXPECT_NE(j.GetError(), 0) << n;
        EXPECT_EQ(j.GetImageDataPtr(0), nullptr) << n;
    }
}

TEST(CodecJPEG, ShortAndForeignData)
{
    JPEG j;
    const unsigned char one[] = {0xFF};
    EXPECT_FALSE(j.GetImageInfoByPtr(one, 1));
    EXPECT_EQ(j.GetError(), qncodec::ErrCorrupt);
    EXPECT_FALSE(j.ParseImageByPtr(one, 1));
    EXPECT_EQ(j.GetError(), qncodec::ErrCorrupt);
    const unsigned char eoi[] = {0xFF, 0xD9, 0, 0};
    EXPECT_FALSE(j.GetImageInfoByPtr(eoi, sizeof eoi));
    EXPECT_EQ(j.GetError(), qncodec::ErrUnsupported);
    // An end marker before any frame: the picture was cut off.
    const unsigned char soiOnly[] = {0xFF, 0xD8, 0xFF, 0xD9};
    EXPECT_FALSE(j.GetImageInfoByPtr(soiOnly, sizeof soiOnly));
    EXPECT_EQ(j.GetError(), qncodec::ErrCorrupt);
    EXPECT_EQ(j.GetReason(), "truncated");
    EXPECT_FALSE(j.ParseImageByPtr(soiOnly, sizeof soiOnly));
    EXPECT_EQ(j.GetError(), qncodec::ErrCorrupt);
}

namespace {

// How a test file is coded: the library's defaults, progressive, with a
// restart marker after every MCU, or one scan for each component.
enum class Coding { Baseline, Progressive, Restarts, ScanPerComponent };

// A JPEG made with the library's compressor, in any input colour space;
// adobe false leaves out the Adobe marker the library writes for CMYK.
// A script, when given, sets the file's scans.
Bytes CompressWithLibrary(J_COLOR_SPACE space, int components, uint32_t w, uint32_t h, const Bytes& pixels,
                          bool adobe = true, Coding coding = Coding::Baseline,
                          const std::vector<jpeg_scan_info>& script = {})
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = w;
    c.image_height = h;
    c.input_components = components;
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    if (!adobe)
        c.write_Adobe_marker = FALSE;
    jpeg_scan_info scans[3] = {};
    if (coding == Coding::Progressive)
        jpeg_simple_progression(&c);
    if (coding == Coding::Restarts)
        c.restart_interval = 1;
    if (coding == Coding::ScanPerComponent) {
        for (int k = 0; k < 3; ++k) {
            scans[k].comps_in_scan = 1;
            scans[k].component_index[0] = k;
            scans[k].Ss = 0;
            scans[k].Se = 63;
        }
        c.scan_info = scans;
        c.num_scans = 3;
    }
    if (!script.empty()) {
        c.scan_info = script.data();
        c.num_scans = static_cast<int>(script.size());
    }
    jpeg_start_compress(&c, TRUE);
    for (uint32_t y = 0; y < h; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + size_t{y} * w * components);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(mem, mem + size);
    std::free(mem);
    return out;
}

}  // namespace

TEST(CodecJPEG, CmykDecodesToFourPlanes)
{
    const uint32_t w = 16, h = 8;
    Bytes px(size_t{w} * h * 4);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = static_cast<unsigned char>(i % 4 * 60 + 10);
    const Bytes jpg = CompressWithLibrary(JCS_CMYK, 4, w, h, px);
    JPEG j;
    ASSERT_TRUE(j.ParseImageByPtr(jpg.data(), jpg.size()));
    EXPECT_EQ(j.GetImageMode(), qncodec::ModeCMYK);
    for (int c = 0; c < 4; ++c) {
        ASSERT_NE(j.GetImageDataPtr(static_cast<signed char>(c)), nullptr);
        EXPECT_NEAR(j.GetImageDataPtr(static_cast<signed char>(c))[37], c * 60 + 10, 2);
    }
    EXPECT_EQ(j.GetImageDataPtr(-1), nullptr);
}

TEST(CodecJPEG, ImageFileTurnsInkAmountsIntoInvertedCmyk)
{
    // With the Adobe marker the stored bytes are the inverted form already;
    // without it they are ink amounts.
    TempDir dir;
    const uint32_t w = 16, h = 8;
    const Bytes px(size_t{w} * h * 4, 40);
    for (bool adobe : {true, false}) {
        const Bytes jpg = CompressWithLibrary(JCS_CMYK, 4, w, h, px, adobe);
        JPEG j;
        ASSERT_TRUE(j.GetImageInfoByPtr(jpg.data(), jpg.size()));
        EXPECT_EQ(j.InvertedCMYK(), adobe);
        WriteAll(dir / "k.jpg", jpg);
        CQNF_ImageFile f;
        ASSERT_TRUE(f.Load(dir / "k.jpg"));
        EXPECT_EQ(f.GetKind(), CQNF_ImageFile::KindJPEG);
        EXPECT_EQ(f.GetMode(), qncodec::ModeCMYK);
        for (signed char c = 0; c < 4; ++c)
            EXPECT_NEAR(f.GetPlane(c)[37], adobe ? 40 : 215, 1);
        EXPECT_EQ(f.GetPlane(-1), nullptr);
    }
}

TEST(CodecJPEG, LimitsProgressAndCancel)
{
    const uint32_t w = 64, h = 64;
    Bytes px(size_t{w} * h * 3, 100);
    const Bytes jpg = CompressWithLibrary(JCS_RGB, 3, w, h, px);
    {
        RecordingProgress prog;
        int marker;
        prog.SetUserDataPtr(&marker);
        JPEG j;
        j.SetProgress(&prog);
        ASSERT_TRUE(j.ParseImageByPtr(jpg.data(), jpg.size()));
        EXPECT_EQ(prog.reports.front(), 0);
        EXPECT_EQ(prog.reports.back(), 100);
        EXPECT_TRUE(Rising(prog.reports));
        EXPECT_EQ(prog.lastData, &marker);
        EXPECT_EQ(j.GetImageDataPtr(1)[100], 100);
    }
    {
        RecordingProgress prog(50);
        JPEG j;
        j.SetProgress(&prog);
        EXPECT_FALSE(j.ParseImageByPtr(jpg.data(), jpg.size()));
        EXPECT_EQ(j.GetError(), 0);
        EXPECT_EQ(j.GetImageDataPtr(0), nullptr);
    }
    {
        qntCODECLIMITS small;
        small.maxBytes = 1000;
        JPEG j;
        j.SetLimits(small);
        EXPECT_FALSE(j.ParseImageByPtr(jpg.data(), jpg.size()));
        EXPECT_EQ(j.GetError(), qncodec::ErrUnsupported);
    }
}

TEST(CodecJPEG, MemorySourceSkipsAndEnds)
{
    jpeg_decompress_struct cinfo;
    qntJPEGERROR err;
    qnJpegErrorSetup(&cinfo, &err);
    jpeg_create_decompress(&cinfo);
    const unsigned char data[] = {1, 2, 3, 4, 5};
    jpeg_frommem_src(&cinfo, data, sizeof data);
    jpeg_source_mgr* src = cinfo.src;
    src->init_source(&cinfo);
    ASSERT_TRUE(src->fill_input_buffer(&cinfo));
    EXPECT_EQ(src->next_input_byte, data);
    EXPECT_EQ(src->bytes_in_buffer, sizeof data);
    src->skip_input_data(&cinfo, 0);
    EXPECT_EQ(src->bytes_in_buffer, 5u);
    src->skip_input_data(&cinfo, 2);
    EXPECT_EQ(src->next_input_byte, data + 2);
    // A skip beyond the data stops at its end.
    src->skip_input_data(&cinfo, 100);
    EXPECT_EQ(src->next_input_byte, data + sizeof data);
    EXPECT_EQ(src->bytes_in_buffer, 0u);
    // More data after the end is an end-of-image marker, never the buffer
    // again from its start.
    ASSERT_TRUE(src->fill_input_buffer(&cinfo));
    ASSERT_EQ(src->bytes_in_buffer, 2u);
    EXPECT_EQ(src->next_input_byte[0], 0xFF);
    EXPECT_EQ(src->next_input_byte[1], 0xD9);
    EXPECT_EQ(err.pub.num_warnings, 1);
    jpeg_destroy_decompress(&cinfo);
}

namespace {

// A noisy test picture coded as asked.
Bytes Encode(Coding coding, int components = 3, uint32_t w = 96, uint32_t h = 64)
{
    Bytes pixels(size_t{w} * h * components);
    std::mt19937 rng(7);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<unsigned char>(i / components % w * 2 + rng() % 64);
    const J_COLOR_SPACE space = components == 3 ? JCS_RGB : components == 1 ? JCS_GRAYSCALE : JCS_UNKNOWN;
    return CompressWithLibrary(space, components, w, h, pixels, true, coding);
}

// Where the marker code first (or last) occurs after the start of image.
size_t FindMarker(const Bytes& b, unsigned char code, bool last = false)
{
    size_t found = 0;
    for (size_t i = 2; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == code) {
            found = i;
            if (!last)
                break;
        }
    return found;
}

Bytes Prefix(const Bytes& b, size_t n, bool endMarker)
{
    Bytes out(b.begin(), b.begin() + static_cast<long>(n));
    if (endMarker) {
        out.push_back(0xFF);
        out.push_back(0xD9);
    }
    return out;
}

// Where the first restart marker past the middle of the file is.
size_t RestartPastMiddle(const Bytes& b)
{
    size_t at = b.size() / 2;
    while (at + 1 < b.size() && !(b[at] == 0xFF && (b[at + 1] & 0xF8) == 0xD0))
        ++at;
    return at;
}

// The baseline frame header rewritten: precision, height and width.
Bytes WithFrame(Bytes b, unsigned precision, unsigned height, unsigned width)
{
    const size_t sof = FindMarker(b, 0xC0);
    b[sof + 4] = static_cast<unsigned char>(precision);
    b[sof + 5] = static_cast<unsigned char>(height >> 8);
    b[sof + 6] = static_cast<unsigned char>(height);
    b[sof + 7] = static_cast<unsigned char>(width >> 8);
    b[sof + 8] = static_cast<unsigned char>(width);
    return b;
}

}  // namespace

TEST(CodecJPEG, EveryHostileFileIsRefusedWithItsCause)
{
    const Bytes baseline = Encode(Coding::Baseline);
    const Bytes progressive = Encode(Coding::Progressive);
    const Bytes restarts = Encode(Coding::Restarts);
    const Bytes perComponent = Encode(Coding::ScanPerComponent);
    // The first restart marker past the middle of the file, and the file
    // with that marker's number changed: the coded data that follows is
    // not the interval the decoder counts on.
    const size_t restart = RestartPastMiddle(restarts);
    ASSERT_LT(restart + 2, restarts.size());
    Bytes misnumbered = restarts;
    misnumbered[restart + 1] = static_cast<unsigned char>(0xD0 | ((misnumbered[restart + 1] + 3) & 7));
    ASSERT_NE(FindMarker(progressive, 0xDA, true), FindMarker(progressive, 0xDA));

    qntCODECLIMITS sides;
    sides.maxSide = 30000;
    qntCODECLIMITS bytes;
    bytes.maxBytes = 4096;
    struct Case {
        const char* what;
        Bytes file;
        qntCODECLIMITS limits;
        unsigned short error;
        const char* reason;  // how the reason begins
    };
    // Cut and filled up with zeros, as a download stopped into a file of
    // its full size leaves it: zeros are codes the decoder takes, so only
    // the data it never used tells.
    auto zeroFilled = [](const Bytes& whole, bool endMarker) {
        Bytes b = Prefix(whole, whole.size() / 2, false);
        b.resize(b.size() + 8192, 0);
        if (endMarker) {
            b.push_back(0xFF);
            b.push_back(0xD9);
        }
        return b;
    };
    const std::vector<Case> cases = {
        {"cut in half, then an end marker", Prefix(baseline, baseline.size() / 2, true), {}, qncodec::ErrCorrupt,
         "truncated"},
        {"cut in half and filled with zeros", zeroFilled(baseline, false), {}, qncodec::ErrCorrupt, "damaged"},
        {"cut in half, filled with zeros, then an end marker", zeroFilled(baseline, true), {}, qncodec::ErrCorrupt,
         "damaged"},
        {"progressive, cut and filled with zeros", zeroFilled(progressive, true), {}, qncodec::ErrCorrupt, ""},
        {"cut in half", Prefix(baseline, baseline.size() / 2, false), {}, qncodec::ErrCorrupt, "truncated"},
        {"cut at a restart marker, then an end marker", Prefix(restarts, restart, true), {}, qncodec::ErrCorrupt,
         "truncated"},
        {"progressive, cut before its last scan", Prefix(progressive, FindMarker(progressive, 0xDA, true), true), {},
         qncodec::ErrCorrupt, "truncated: scans of its picture are missing"},
        {"a scan a component, cut before the last",
         Prefix(perComponent, FindMarker(perComponent, 0xDA, true), true), {}, qncodec::ErrCorrupt,
         "truncated: scans of its picture are missing"},
        {"cut inside its headers", Prefix(baseline, FindMarker(baseline, 0xC4) + 9, false), {}, qncodec::ErrCorrupt,
         "truncated"},
        {"cut inside its headers, then an end marker", Prefix(baseline, FindMarker(baseline, 0xC4) + 9, true), {},
         qncodec::ErrCorrupt, "truncated"},
        {"18000 x 18000 in a small file", WithFrame(baseline, 8, 18000, 18000), {}, qncodec::ErrCorrupt,
         "truncated: the file has"},
        {"a restart marker out of order", misnumbered, {}, qncodec::ErrCorrupt, "damaged"},
        {"0 x 0 pixels", WithFrame(baseline, 8, 0, 0), {}, qncodec::ErrCorrupt,
         "damaged: it describes a picture of 0 x 0 pixels"},
        {"a height given later", WithFrame(baseline, 8, 0, 1), {}, qncodec::ErrUnsupported, "a height given after"},
        {"40000 x 40000, more than the side limit", WithFrame(baseline, 8, 40000, 40000), sides,
         qncodec::ErrUnsupported, "40000 x 40000 pixels, more than the 30000 pixels a side"},
        {"more planes than the memory limit", baseline, bytes, qncodec::ErrUnsupported, "96 x 64 pixels, which take"},
        {"12 bits per sample", WithFrame(baseline, 12, 64, 96), {}, qncodec::ErrUnsupported,
         "12 bits per sample are not read"},
        {"two components", Encode(Coding::Baseline, 2), {}, qncodec::ErrUnsupported,
         "2 colour components are not read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        JPEG j;
        j.SetLimits(c.limits);
        EXPECT_FALSE(j.ParseImageByPtr(c.file.data(), c.file.size()));
        EXPECT_EQ(j.GetError(), c.error);
        EXPECT_EQ(j.GetReason().rfind(c.reason, 0), 0u) << j.GetReason();
        EXPECT_EQ(j.GetImageDataPtr(0), nullptr);
    }
    // Each coding whole decodes: the refusals come of the damage alone.
    for (const Bytes* whole : {&baseline, &progressive, &restarts, &perComponent}) {
        JPEG j;
        EXPECT_TRUE(j.ParseImageByPtr(whole->data(), whole->size())) << j.GetReason();
    }
}

namespace {

// A flat grey picture of side x side coded progressively: by the library's
// own progression, or by a script of scans.
Bytes GreyProgressive(uint32_t side, const std::vector<jpeg_scan_info>& script = {})
{
    Bytes pixels(size_t{side} * side);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<unsigned char>(100 + i % side / 64);
    return CompressWithLibrary(JCS_GRAYSCALE, 1, side, side, pixels, true,
                               script.empty() ? Coding::Progressive : Coding::Baseline, script);
}

// The file with its last scan sent again `times` more times before its end.
Bytes RepeatLastScan(const Bytes& whole, int times)
{
    const size_t last = FindMarker(whole, 0xDA, true);
    const Bytes scan(whole.begin() + static_cast<long>(last), whole.end() - 2);
    Bytes out(whole.begin(), whole.end() - 2);
    for (int k = 0; k < times; ++k)
        out.insert(out.end(), scan.begin(), scan.end());
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

jpeg_scan_info Scan(int Ss, int Se, int Ah, int Al)
{
    jpeg_scan_info s{};
    s.comps_in_scan = 1;
    s.component_index[0] = 0;
    s.Ss = Ss;
    s.Se = Se;
    s.Ah = Ah;
    s.Al = Al;
    return s;
}

}  // namespace

TEST(CodecJPEG, ScansThatSendNothingNewAreRefusedAtTheFirst)
{
    // Every coefficient sent whole in one scan each: a repeat of the AC
    // scan fits the library's own check of the progression.
    const std::vector<jpeg_scan_info> whole = {Scan(0, 0, 0, 0), Scan(1, 63, 0, 0)};
    // One coefficient at a time, each in four steps, and the DC value in
    // five: 257 scans, each of them sending something new.
    std::vector<jpeg_scan_info> many = {Scan(0, 0, 0, 4), Scan(0, 0, 4, 3), Scan(0, 0, 3, 2), Scan(0, 0, 2, 1),
                                        Scan(0, 0, 1, 0)};
    for (int k = 1; k < 64; ++k)
        for (int bit = 3; bit >= 0; --bit)
            many.push_back(bit == 3 ? Scan(k, k, 0, 3) : Scan(k, k, bit + 1, bit));
    ASSERT_EQ(many.size(), 257u);
    std::vector<jpeg_scan_info> fewer(many.begin() + 1, many.end());
    fewer.front() = Scan(0, 0, 0, 3);
    const Bytes simple = GreyProgressive(2000), oneEach = GreyProgressive(2000, whole);
    struct Case {
        const char* what;
        Bytes file;
        const char* reason;  // how the reason begins
    };
    const Case cases[] = {
        {"a refinement scan sent 300 times more", RepeatLastScan(simple, 300),
         "damaged: inconsistent progression sequence for component 0 coefficient 1"},
        {"a whole scan sent 300 times more", RepeatLastScan(oneEach, 300),
         "damaged: its scan 3 sends again what earlier scans sent"},
        {"257 scans", GreyProgressive(64, many), "damaged: it has more than 256 scans"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        JPEG j;
        EXPECT_FALSE(j.ParseImageByPtr(c.file.data(), c.file.size()));
        EXPECT_EQ(j.GetError(), qncodec::ErrCorrupt);
        EXPECT_EQ(j.GetReason(), c.reason);
        EXPECT_EQ(j.GetImageDataPtr(0), nullptr);
    }
    // Sent once, the same scans decode, and 256 scans are not too many.
    for (const Bytes& file : {simple, oneEach, GreyProgressive(64, fewer)}) {
        JPEG j;
        EXPECT_TRUE(j.ParseImageByPtr(file.data(), file.size())) << j.GetReason();
    }
}

TEST(CodecJPEG, DamageInTheMiddleIsNotCalledTruncated)
{
    const Bytes baseline = Encode(Coding::Baseline, 3, 256, 192);
    const Bytes restarts = Encode(Coding::Restarts);
    const size_t restart = RestartPastMiddle(restarts);
    ASSERT_LT(restart + 2, restarts.size());
    Bytes noRestart = restarts;
    noRestart.erase(noRestart.begin() + static_cast<long>(restart), noRestart.begin() + static_cast<long>(restart) + 2);
    // Ten bytes of coded data in the middle inverted, from a zero byte that
    // is not stuffing on: it turns into the first byte of a marker (not the
    // end marker), as inverting a run of coded bytes often does.
    size_t middle = baseline.size() / 2;
    while (middle + 11 < baseline.size() &&
           !(baseline[middle] == 0x00 && baseline[middle - 1] != 0xFF && baseline[middle + 1] != 0xFF &&
             baseline[middle + 1] != 0x00 && baseline[middle + 1] != 0x26))
        ++middle;
    ASSERT_LT(middle + 11, baseline.size() - 2);
    Bytes flipped = baseline;
    for (size_t i = middle; i < middle + 10; ++i)
        flipped[i] = static_cast<unsigned char>(~flipped[i]);
    struct Case {
        const char* what;
        Bytes file;
        const char* reason;  // how the reason begins
    };
    const Case cases[] = {
        {"a restart marker missing", noRestart, "damaged: corrupt JPEG data: found marker"},
        {"ten bytes inverted", flipped, "damaged: a scan's coded data stops at a marker"},
        {"cut where the restart marker was", Prefix(restarts, restart, false), "truncated"},
        {"cut where the bytes were inverted", Prefix(baseline, middle, true), "truncated"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        JPEG j;
        EXPECT_FALSE(j.ParseImageByPtr(c.file.data(), c.file.size()));
        EXPECT_EQ(j.GetError(), qncodec::ErrCorrupt);
        EXPECT_EQ(j.GetReason().rfind(c.reason, 0), 0u) << j.GetReason();
    }
}
