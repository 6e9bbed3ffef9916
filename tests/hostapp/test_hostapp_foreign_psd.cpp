// PSD files through the host. Written by another program (ImageMagick, made
// at test time): a refusal names what was not read, and when only the layers
// cannot be read the host and the tool fall back to the merged image and say
// so. Written here: what a PSD output keeps of a PSD input, and what it
// refuses before any work.
#include "hostapp/HostProgram.h"
#include "hostapp/InputDocument.h"
#include "hostapp/RasterImage.h"
#include "host_programs.h"
#include "imaging/PSDBytes.h"
#include "imaging/PSDCodec.h"
#include "tests/need_program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#if defined(TESSOLO_PLUGIN_FILE) && defined(TESSOLO_HOST_FILE) && defined(TESSOLO_MKDESC_FILE) && \
    defined(TESSOLO_TOOL_FILE)

using namespace hostapp;
using namespace host_test;

namespace {

int Lines(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

TEST(HostForeignPsd, NamedReasonsAndTheMergedImage)
{
    NEED_PROGRAM("convert", "imagemagick");
    Bundle b;
    const std::string flat = b.Path("flat.psd"), two = b.Path("two.psd"), deep = b.Path("deep.psd");
    const std::string desc = b.Path("job.qnds");
    ASSERT_EQ(RunProgram("convert", "-size 90x60 gradient:red-blue -depth 8 -compress Zip " + flat), 0);
    ASSERT_EQ(RunProgram("convert", "-size 90x60 gradient:red-blue \\( -size 90x60 gradient:yellow-green -set label "
                                    "Base \\) \\( -size 30x20 xc:blue -set label Cat \\) -depth 8 -compress Zip " +
                                        two),
              0);
    ASSERT_EQ(RunProgram("convert", "-size 8x8 gradient:red-blue -depth 16 " + deep), 0);
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--grid 3x2 " + desc), 0);

    // Each file: what the host says, and the part of it the reason names.
    struct Case {
        std::string in;
        std::string reason;  // in the message
        bool opens;          // the merged image stands in for the layers
    };
    const std::vector<Case> cases = {
        {flat, "layer 0 (\"L1\"): channels compressed with ZIP are not read", true},
        {two, "layer 1 (\"Cat\"): ", true},
        {deep, "cannot read this PSD: 16 bits per channel", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        const std::string out = b.Path("out.png");
        fs::remove(out);
        std::string text;
        const int code = Host(b, "--descriptor " + desc + " " + c.in + " " + out, &text);
        const size_t at = text.find(c.reason);
        ASSERT_NE(at, std::string::npos) << text;
        EXPECT_EQ(text.find("(error"), std::string::npos) << text;
        if (!c.opens) {
            EXPECT_EQ(code, kExitHostError) << text;
            EXPECT_EQ(Lines(text), 1) << text;
            continue;
        }
        ASSERT_EQ(code, 0) << text;
        EXPECT_NE(text.find("the merged image is opened as one layer"), std::string::npos) << text;
        RasterImage cut, merged;
        std::string err;
        ASSERT_TRUE(ReadImageFile(out, cut, err)) << err;
        EXPECT_EQ(cut.width, 90);
        EXPECT_EQ(cut.height, 60);

        // The one layer is what --target and --add-layer count from.
        const std::string top = b.Path("top.png");
        ASSERT_EQ(Host(b, "--add-layer " + out + ":Top --target 1 --descriptor " + desc + " " + c.in + " " + top,
                       &text),
                  0)
            << text;
        // A layer the document does not have is a wrong command line.
        EXPECT_EQ(Host(b, "--target 1 --descriptor " + desc + " " + c.in + " " + out, &text), kExitBadArguments);
        EXPECT_NE(text.find("--target 1: the document has layer 0 only: --target takes 0\n"), std::string::npos) << text;
        EXPECT_EQ(Host(b, "--add-layer " + out + ":Top --target 2 --descriptor " + desc + " " + c.in + " " + top, &text),
                  kExitBadArguments);
        EXPECT_NE(text.find("--target 2: the document has layers 0 to 1: --target takes 0 to 1\n"), std::string::npos)
            << text;
        // A PSD written from it would have lost the layers: refused.
        const std::string layered = b.Path("layered.psd");
        EXPECT_EQ(Host(b, "--descriptor " + desc + " " + c.in + " " + layered, &text), kExitHostError);
        EXPECT_NE(text.find("the PSD would lose the input's layers (layer "), std::string::npos) << text;
        EXPECT_FALSE(fs::exists(layered));

        // The tool writes the merged image alone, and says so.
        const fs::path dir = b.dir / "parts";
        fs::remove_all(dir);
        fs::create_directory(dir);
        ASSERT_EQ(RunProgram(TESSOLO_TOOL_FILE, "psd read " + c.in + " " + dir.string(), &text), 0) << text;
        EXPECT_NE(text.find("only the merged image is written"), std::string::npos) << text;
        std::vector<std::string> written;
        for (const auto& e : fs::directory_iterator(dir))
            written.push_back(e.path().filename().string());
        EXPECT_EQ(written, std::vector<std::string>{"merged.png"});
        ASSERT_TRUE(ReadImageFile((dir / "merged.png").string(), merged, err)) << err;
        EXPECT_EQ(merged.width, 90);
    }
}

struct PsdLayer {
    int x, y, w, h;
    std::string name;
    uint8_t value;
};

// An RGB document of flat layers, bottom first, written by the codec.
void WritePsdLayers(const std::string& path, int w, int h, const std::vector<PsdLayer>& layers)
{
    CQNF_StdFile file;
    ASSERT_TRUE(file.Open(path.c_str(), 2));
    CQNF_ImagePSD psd;
    ASSERT_TRUE(psd.Create(file));
    CQNF_ImagePSD::PSDMLWRITE_INITPARAMS init;
    init.width = static_cast<uint16_t>(w);
    init.height = static_cast<uint16_t>(h);
    init.mode = qncodec::ModeColour;
    ASSERT_TRUE(psd.Write_Init(&init));
    std::vector<std::vector<uint8_t>> pixels;
    pixels.reserve(layers.size());
    for (const PsdLayer& l : layers) {
        const size_t n = size_t(l.w) * size_t(l.h);
        pixels.emplace_back(4 * n, l.value);
        std::fill(pixels.back().begin() + long(3 * n), pixels.back().end(), 255);
        unsigned char* planes[5] = {&pixels.back()[0], &pixels.back()[n], &pixels.back()[2 * n],
                                    &pixels.back()[3 * n], nullptr};
        CQNF_ImagePSD::PSDMLWRITE_LAYERPARAMS p;
        p.x = static_cast<int16_t>(l.x);
        p.y = static_cast<int16_t>(l.y);
        p.width = static_cast<uint16_t>(l.w);
        p.height = static_cast<uint16_t>(l.h);
        std::strncpy(p.name, l.name.c_str(), sizeof p.name - 1);
        ASSERT_TRUE(psd.Write_AddLayer(&p, planes, uint32_t(l.w)));
    }
    ASSERT_TRUE(psd.WritePSD());
    ASSERT_TRUE(file.Close());
}

std::vector<unsigned char> Bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Put(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
}

TEST(HostPsd, APsdOutputKeepsTheLayersWholeOrIsRefusedBeforeAnyWork)
{
    Bundle b;
    const std::string desc = b.Path("job.qnds");
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--grid 3x2 " + desc), 0);
    std::string text, err;

    // A layer hanging over the canvas's right and top edges, its name cut by
    // the 64-byte field inside its 32nd "\xC3\x9C" (U with diaeresis): the PSD
    // written keeps it whole at its place, its name ending between
    // characters, its pixels off the canvas as they were.
    std::string umlauts;
    for (int k = 0; k < 40; ++k)
        umlauts += "\xC3\x9C";
    const std::string hangs = b.Path("hangs.psd"), out = b.Path("out.psd");
    WritePsdLayers(hangs, 40, 30, {{0, 0, 40, 30, "Bottom", 10}, {30, -5, 20, 20, umlauts, 200}});
    ASSERT_EQ(Host(b, "--descriptor " + desc + " " + hangs + " " + out, &text), 0) << text;
    {
        CQNF_StdFile file;
        ASSERT_TRUE(file.Open(out.c_str(), 1));
        CQNF_ImagePSD psd;
        ASSERT_TRUE(psd.LParseByFile(file)) << psd.GetReason();
        ASSERT_EQ(psd.GetLayersCount(), 2u);
        CQNF_ImagePSD::PSDLayerInfoExt_s info{};
        ASSERT_TRUE(psd.GetLayerInfo(1, info));
        EXPECT_EQ(std::string(info.name), umlauts.substr(0, 54));
        EXPECT_EQ(info.left, 30);
        EXPECT_EQ(info.top, -5);
        ASSERT_EQ(info.width, 20u);
        ASSERT_EQ(info.height, 20u);
        ASSERT_NE(info.planes[0], nullptr);
        ASSERT_NE(info.transparency, nullptr);
        for (const auto& [x, y] : {std::pair{15, 2}, std::pair{3, 0}, std::pair{19, 19}}) {
            SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));  // off the canvas
            EXPECT_EQ(info.planes[0]->GetPtr()[y * 20 + x], 200);
            EXPECT_EQ(info.transparency->GetPtr()[y * 20 + x], 255);
        }
        ASSERT_TRUE(psd.GetLayerInfo(0, info));
        EXPECT_EQ(info.width, 40u);
    }

    // Each input a PSD output cannot carry whole is refused before the
    // plug-in runs (no "run 1" in the verbose log) and leaves no file.
    WritePsdLayers(b.Path("two.psd"), 8, 6, {{0, 0, 8, 6, "a", 1}, {1, 1, 3, 3, "b", 2}});
    const std::vector<unsigned char> two = Bytes(b.Path("two.psd"));
    const size_t section = 26 + 4 + 4 + 44, record = section + 4 + 4 + 2;
    const size_t extraLength = record + 18 + 4 * 6 + 12;
    // The first layer becomes a group's end marker: a section divider block
    // joins its extra data, the lengths around it grown to match.
    std::vector<unsigned char> grouped = two;
    const unsigned char divider[] = {'8', 'B', 'I', 'M', 'l', 's', 'c', 't', 0, 0, 0, 4, 0, 0, 0, 3};
    grouped.insert(grouped.begin() + long(extraLength + 4 + qnpsd::GetU32(&two[extraLength])), std::begin(divider),
                   std::end(divider));
    for (size_t at : {section, section + 4, extraLength})
        qnpsd::PutU32(&grouped[at], qnpsd::GetU32(&grouped[at]) + sizeof divider);
    std::vector<unsigned char> multiply = two;
    std::memcpy(&multiply[extraLength - 8], "mul ", 4);
    Put(b.Path("grouped.psd"), grouped);
    Put(b.Path("multiply.psd"), multiply);
    {
        // 32767 layers, and one more added.
        std::vector<PsdLayer> many(CQNF_ImagePSD::MaxLayers, PsdLayer{0, 0, 1, 1, "p", 7});
        WritePsdLayers(b.Path("many.psd"), 2, 2, many);
    }
    RasterImage dot;
    dot.Allocate(ColorMode::RGB, 2, 2, false, 9);
    ASSERT_TRUE(WritePngFile(b.Path("dot.png"), dot, err)) << err;
    struct Case {
        std::string args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {b.Path("grouped.psd"), ": the PSD would lose the input's layer groups, which the host does not keep"},
        {b.Path("multiply.psd"), ": the PSD would lose the input's layers (layer 0 (\"a\"): blend mode 'mul ' is not read"},
        {"--add-layer " + b.Path("dot.png") + " " + b.Path("many.psd"),
         ": a PSD file holds at most 32767 layers and the document has 32768"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        fs::remove(out);
        EXPECT_EQ(Host(b, "-v --descriptor " + desc + " " + c.args + " " + out, &text), kExitHostError);
        EXPECT_NE(text.find(out + c.says), std::string::npos) << text;
        EXPECT_EQ(text.find("run 1"), std::string::npos) << text;
        // The refusal is the only word on the input: no note first that it
        // is opened from its merged image.
        EXPECT_EQ(text.find("opened as one layer"), std::string::npos) << text;
        EXPECT_FALSE(fs::exists(out));
    }
    // Into a PNG the groups and the merged image stand as they are; the
    // run says the layers not read gave way to the merged image.
    EXPECT_EQ(Host(b, "--descriptor " + desc + " " + b.Path("grouped.psd") + " " + b.Path("g.png"), &text), 0)
        << text;
    EXPECT_EQ(Host(b, "--descriptor " + desc + " " + b.Path("multiply.psd") + " " + b.Path("m.png"), &text), 0)
        << text;
    EXPECT_EQ(text, "tessolo-host: " + b.Path("multiply.psd") +
                        ": the layers are not read (layer 0 (\"a\"): blend mode 'mul ' is not read); the merged image "
                        "is opened as one layer\nwrote " + b.Path("m.png") + ", 8 x 6 pixels at 72 dpi\n");

    // A layer count the records do not bear out is damage: refused, never
    // taken for layers not read with the merged image in their place.
    std::vector<unsigned char> lying = two;
    lying[record - 1] = 3;
    Put(b.Path("lying.psd"), lying);
    EXPECT_EQ(Host(b, "--descriptor " + desc + " " + b.Path("lying.psd") + " " + b.Path("l.png"), &text),
              kExitHostError);
    EXPECT_NE(text.find("damaged: layer 2: no layer record where the layer count puts one\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(Lines(text), 1) << text;
    EXPECT_FALSE(fs::exists(b.Path("l.png")));
}

// A PSD made byte by byte, as a damaged or foreign file comes: an RGB
// document whose merged image is raw, and its layers as given. Each
// channel's bytes begin with its compression word.
struct RawChannel {
    int16_t id;
    std::vector<unsigned char> bytes;
};
struct RawLayer {
    int32_t top, left, bottom, right;
    std::vector<RawChannel> channels;
};

void PutBE(std::vector<unsigned char>& v, uint64_t x, int bytes)
{
    for (int k = bytes - 1; k >= 0; --k)
        v.push_back(static_cast<unsigned char>(x >> (8 * k)));
}

std::vector<unsigned char> RawPsd(int w, int h, const std::vector<RawLayer>& layers)
{
    std::vector<unsigned char> info;
    PutBE(info, layers.size(), 2);
    for (const RawLayer& l : layers) {
        for (int32_t edge : {l.top, l.left, l.bottom, l.right})
            PutBE(info, uint32_t(edge), 4);
        PutBE(info, l.channels.size(), 2);
        for (const RawChannel& c : l.channels) {
            PutBE(info, uint16_t(c.id), 2);
            PutBE(info, c.bytes.size(), 4);
        }
        for (char ch : std::string("8BIMnorm"))
            info.push_back(static_cast<unsigned char>(ch));
        PutBE(info, 0xFF000000u, 4);  // opacity, clipping, flags, filler
        // No mask, no blending ranges, the name "L" padded to 4 bytes.
        PutBE(info, 12, 4);
        PutBE(info, 0, 8);
        info.insert(info.end(), {1, 'L', 0, 0});
    }
    for (const RawLayer& l : layers)
        for (const RawChannel& c : l.channels)
            info.insert(info.end(), c.bytes.begin(), c.bytes.end());
    if (info.size() % 2)
        info.push_back(0);
    std::vector<unsigned char> psd = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
    PutBE(psd, 3, 2);
    PutBE(psd, uint32_t(h), 4);
    PutBE(psd, uint32_t(w), 4);
    PutBE(psd, 8, 2);
    PutBE(psd, 3, 2);
    PutBE(psd, 0, 8);  // no colour table, no resources
    PutBE(psd, 4 + info.size() + 4, 4);
    PutBE(psd, info.size(), 4);
    psd.insert(psd.end(), info.begin(), info.end());
    PutBE(psd, 0, 4);  // no global mask
    PutBE(psd, 0, 2);  // the merged image, raw: a gradient
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < w * h; ++i)
            psd.push_back(static_cast<unsigned char>(i * (k + 1)));
    return psd;
}

// A raw channel of n bytes of value v.
RawChannel Raw(int16_t id, size_t n, unsigned char v)
{
    RawChannel c{id, {0, 0}};
    c.bytes.insert(c.bytes.end(), n, v);
    return c;
}

std::vector<std::string> Files(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// One judgement of a PSD in every program that opens one: a file whose
// layers their data do not bear out is damaged, refused in one line by the
// host (exit 3) and by every tool (exit 1), never opened from its merged
// image, whatever size its layers claim. Only layers refused for what they
// hold (here ZIP channels) leave the merged image standing in for them.
// The knives' export opens none: it takes its page from the header, and
// reads neither layers nor merged image.
TEST(HostPsd, EveryProgramRefusesADamagedPsdAndNoneOpensItsMergedImage)
{
    Bundle b;
    const std::string desc = b.Path("job.qnds"), layout = b.Path("grid.qntd");
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--grid 3x2 --lines " + desc), 0);
    ASSERT_EQ(RunProgram(TESSOLO_TOOL_FILE, "layout new --grid 3x2 " + layout), 0);
    const int W = 60, H = 40;
    auto fourRaw = [](size_t n) {
        return std::vector<RawChannel>{Raw(-1, n, 255), Raw(0, n, 10), Raw(1, n, 20), Raw(2, n, 30)};
    };
    auto twoBytes = [] {
        return std::vector<RawChannel>{Raw(-1, 0, 0), Raw(0, 0, 0), Raw(1, 0, 0), Raw(2, 0, 0)};
    };
    // 6 x 3 PackBits rows, each a run of 6 bytes in 2; the transparency's
    // table of row lengths as given, the others' 2 bytes a row.
    auto packed = [](std::vector<unsigned char> table) {
        std::vector<RawChannel> channels;
        for (int16_t id = -1; id < 3; ++id) {
            RawChannel c{id, {0, 1}};
            c.bytes.insert(c.bytes.end(), id < 0 ? table.begin() : table.end(), table.end());
            if (id >= 0)
                c.bytes.insert(c.bytes.end(), {0, 2, 0, 2, 0, 2});
            c.bytes.insert(c.bytes.end(), {0xFB, 7, 0xFB, 7, 0xFB, 7});
            channels.push_back(c);
        }
        return channels;
    };
    std::vector<RawChannel> zip = fourRaw(12);
    zip[1].bytes = {0, 2, 0x78, 0x9C, 1, 2, 3, 4, 5, 6};
    struct Case {
        const char* what;
        std::vector<RawLayer> layers;
        const char* reason;  // empty: the file is read
    };
    const std::vector<Case> cases = {
        {"sound", {{2, 3, 5, 7, fourRaw(12)}}, ""},
        {"ZIP channels, not read", {{2, 3, 5, 7, zip}}, ""},
        {"sound packed rows", {{0, 0, 3, 6, packed({0, 2, 0, 2, 0, 2})}}, ""},
        {"a row table that says 1 byte a row", {{0, 0, 3, 6, packed({0, 1, 0, 1, 0, 1})}},
         "layer 0 (\"L\"): its transparency channel: its table of row lengths gives its rows 3 bytes where 6 follow"},
        {"a row length of 65535", {{0, 0, 3, 6, packed({0xFF, 0xFF, 0, 2, 0, 2})}},
         "layer 0 (\"L\"): its transparency channel: its table of row lengths gives its rows 65539 bytes where 6 follow"},
        {"a row length 7 too large", {{0, 0, 3, 6, packed({0, 9, 0, 2, 0, 2})}},
         "layer 0 (\"L\"): its transparency channel: its table of row lengths gives its rows 13 bytes where 6 follow"},
        {"rows shifted, the lengths adding up", {{0, 0, 3, 6, packed({0, 2, 0, 4, 0, 0})}},
         "layer 0 (\"L\"): its transparency channel: its row 2 holds more than its 6 pixels in the 4 bytes"},
        {"a right edge left of the left edge", {{2, 7, 5, 3, twoBytes()}},
         "layer 0: its right edge (3) lies left of its left edge (7)"},
        {"a bottom edge above the top edge", {{5, 3, 2, 7, twoBytes()}},
         "layer 0: its bottom edge (2) lies above its top edge (5)"},
        {"channels too short for the layer", {{0, 0, 30, 40, fourRaw(12)}},
         "layer 0 (\"L\"): its transparency channel holds 14 bytes, too few for its 40 x 30 pixels"},
        {"a 30000 x 30000 layer backed by 2 bytes", {{0, 0, 30000, 30000, twoBytes()}},
         "layer 0 (\"L\"): its transparency channel holds 2 bytes, too few for its 30000 x 30000 pixels"},
        {"a 4e9 x 4e9 layer backed by 2 bytes", {{-2000000000, -2000000000, 2000000000, 2000000000, twoBytes()}},
         "layer 0 (\"L\"): its transparency channel holds 2 bytes, too few for its 4000000000 x 4000000000 pixels"},
    };
    const std::string in = b.Path("in.psd"), out = b.Path("out.png"), outPsd = b.Path("pieces.psd"),
                      eps = b.Path("knives.eps");
    const fs::path series = b.dir / "series", parts = b.dir / "parts";
    struct Program {
        std::string name, run;
        int refused;  // the exit of a refusal
    };
    // Runs a program; where it writes is emptied first, and wrote
    // says whether anything was written there.
    auto run = [&](const Program& p, std::string& text, bool& wrote) {
        for (const fs::path& dir : {series, parts}) {
            fs::remove_all(dir);
            fs::create_directory(dir);
        }
        for (const std::string& file : {out, outPsd, eps})
            fs::remove(file);
        const int code = RunProgram(p.run, "", &text);
        wrote = fs::exists(out) || fs::exists(outPsd) || fs::exists(eps) || !Files(series).empty() ||
                !Files(parts).empty();
        return code;
    };
    // The document the host adds a picture to, and one a pixel wider.
    const std::string base = b.Path("base.png"), wider = b.Path("wider.png");
    for (int w : {W, W + 1}) {
        RasterImage blank;
        blank.Allocate(ColorMode::RGB, w, H, false, 128);
        std::string err;
        ASSERT_TRUE(WritePngFile(w == W ? base : wider, blank, err)) << err;
    }
    // Every program that reads a picture, reading picture.
    auto programsReading = [&](const std::string& picture) {
        const std::string tool = std::string(TESSOLO_TOOL_FILE) + " ";
        const std::string host =
            std::string(TESSOLO_HOST_FILE) + " --plugin " + b.Path("Tessolo.so") + " --descriptor " + desc + " ";
        return std::vector<Program>{
            {"tessolo-host", host + picture + " " + out, kExitHostError},
            {"tessolo-host --add-layer", host + "--add-layer " + picture + ":P " + base + " " + out, kExitHostError},
            {"tessolo-host --selection", host + "--selection " + picture + " " + base + " " + out, kExitHostError},
            {"tessolo-host --channel", host + "--channel " + picture + ":P " + base + " " + out, kExitHostError},
            {"convert", tool + "convert " + picture + " " + out, 1},
            {"export pieces (PNG)", tool + "export pieces --to png " + layout + " " + picture + " " + series.string(), 1},
            {"export pieces (PSD)", tool + "export pieces " + layout + " " + picture + " " + outPsd, 1},
            {"psd read", tool + "psd read " + picture + " " + parts.string(), 1},
            {"export knives", tool + "export knives --picture " + picture + " " + layout + " " + eps, 1},
        };
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put(in, RawPsd(W, H, c.layers));
        const bool sound = std::string(c.reason).empty();
        for (const Program& p : programsReading(in)) {
            SCOPED_TRACE(p.name);
            std::string text;
            bool wrote = false;
            const int code = run(p, text, wrote);
            if (sound || p.name == "export knives") {
                EXPECT_EQ(code, 0) << text;
                EXPECT_TRUE(wrote);
                continue;
            }
            EXPECT_EQ(code, p.refused) << text;
            EXPECT_EQ(Lines(text), 1) << text;
            EXPECT_EQ(text.find(in + ": "), text.find(':') + 2) << text;
            EXPECT_NE(text.find(std::string("damaged: ") + c.reason), std::string::npos) << text;
            EXPECT_FALSE(wrote);
        }
        // Added to a document of another size, it is still damaged, not a
        // picture of the wrong size.
        for (const std::string option : {"--add-layer ", "--selection "}) {
            if (sound)
                break;
            SCOPED_TRACE(option);
            std::string text;
            bool wrote = false;
            const Program p{"", std::string(TESSOLO_HOST_FILE) + " --plugin " + b.Path("Tessolo.so") + " --descriptor " +
                                    desc + " " + option + in + " " + wider + " " + out,
                            kExitHostError};
            EXPECT_EQ(run(p, text, wrote), kExitHostError) << text;
            EXPECT_EQ(Lines(text), 1) << text;
            EXPECT_NE(text.find(in + ": PSD file is damaged: " + c.reason), std::string::npos) << text;
            EXPECT_FALSE(wrote);
        }
    }
    // A PNG cut short is refused alike by every program that reads a
    // picture. The knives' export takes only its page size, from the header
    // (whole here), and decodes no pixel.
    Put(in, RawPsd(W, H, {}));
    const std::string png = b.Path("cut.png");
    ASSERT_EQ(RunProgram(TESSOLO_TOOL_FILE, "convert " + in + " " + png), 0);
    std::ifstream whole(png, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(whole), std::istreambuf_iterator<char>()};
    ASSERT_GT(bytes.size(), 200u);
    std::ofstream(png, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size() / 2));
    for (const Program& p : programsReading(png)) {
        if (p.name == "psd read")
            continue;  // it reads only PSD files
        SCOPED_TRACE(p.name);
        std::string text;
        bool wrote = false;
        if (p.name == "export knives") {
            EXPECT_EQ(run(p, text, wrote), 0) << text;
            EXPECT_TRUE(wrote);
            continue;
        }
        EXPECT_EQ(run(p, text, wrote), p.refused) << text;
        EXPECT_EQ(Lines(text), 1) << text;
        EXPECT_NE(text.find(png + ": "), std::string::npos) << text;
        EXPECT_NE(text.find("truncated"), std::string::npos) << text;
        EXPECT_FALSE(wrote);
    }
}

}  // namespace

#endif
