// The photo road as a user meets it: camera JPEGs turned upright, print
// resolution kept, the output format the name asks for, refusals that leave
// every file as it was, messages a person can act on, and a progress bar
// only where a person watches. ImageMagick, exiftool, djpeg and psd-tools
// are the independent judges; a test whose judge is missing is skipped.
#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "hostapp/HostProgram.h"
#include "hostapp/InputDocument.h"
#include "hostapp/RasterImage.h"
#include "host_programs.h"
#include "tests/need_program.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <utility>
#include <vector>

#if defined(TESSOLO_PLUGIN_FILE) && defined(TESSOLO_HOST_FILE) && defined(TESSOLO_MKDESC_FILE)

using namespace hostapp;
using namespace host_test;

namespace {

std::vector<uint8_t> Bytes(const std::string& path)
{
    std::vector<uint8_t> bytes;
    std::string err;
    if (!fs::exists(path) || !qnReadWholeFile(path, bytes, err))
        bytes.clear();
    return bytes;
}

// A picture whose every turn and mirror looks different: colour bands that
// change along x and y at different rates, and no symmetry.
void WriteBands(const std::string& path, int w, int h)
{
    RasterImage img;
    img.Allocate(ColorMode::RGB, w, h, false, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            img.planes[0][i] = static_cast<uint8_t>(x * 255 / (w - 1));
            img.planes[1][i] = static_cast<uint8_t>(y * 255 / (h - 1));
            img.planes[2][i] = static_cast<uint8_t>((x < w / 3 && y < h / 4) ? 255 : 40);
        }
    std::string err;
    ASSERT_TRUE(WritePngFile(path, img, err)) << err;
}

int Shell(const std::string& command) { return RunProgram("sh -c", "'" + command + "'"); }

// A lines-mode descriptor: the quickest replay that changes pixels.
std::string LinesDescriptor(const Bundle& b)
{
    const std::string d = b.Path("lines.qnds");
    EXPECT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--grid 3x2 --lines " + d), 0);
    return d;
}

TEST(HostPhotos, EveryExifOrientationComesOutUpright)
{
    NEED_PROGRAM("convert", "imagemagick");
    NEED_PROGRAM("exiftool", "libimage-exiftool-perl");
    Bundle b;
    const std::string png = b.Path("bands.png");
    WriteBands(png, 24, 14);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        const std::string jpg = b.Path("o" + std::to_string(orientation) + ".jpg");
        const std::string upright = b.Path("o" + std::to_string(orientation) + "_im.png");
        ASSERT_EQ(Shell("convert " + png + " -quality 95 " + jpg + " && exiftool -q -overwrite_original "
                        "-Orientation#=" + std::to_string(orientation) + " " + jpg + " && convert " + jpg +
                        " -auto-orient " + upright),
                  0);
        HostDocument doc;
        InputFacts facts;
        std::string err;
        ASSERT_TRUE(LoadInputDocument(jpg, doc, facts, err)) << err;
        EXPECT_EQ(facts.orientation, orientation);
        RasterImage want;
        ASSERT_TRUE(ReadImageFile(upright, want, err)) << err;
        const RasterImage& got = doc.Target().pixels;
        ASSERT_EQ(got.width, want.width);
        ASSERT_EQ(got.height, want.height);
        // Both decode the same JPEG data with libjpeg; only the turn differs.
        int worst = 0;
        for (size_t p = 0; p < 3; ++p)
            for (size_t i = 0; i < got.PixelCount(); ++i)
                worst = std::max(worst, std::abs(int(got.planes[p][i]) - int(want.planes[p][i])));
        EXPECT_LE(worst, 1);
    }
}

TEST(HostPhotos, ResolutionRoundTripsThroughEveryFormat)
{
    NEED_PROGRAM("convert", "imagemagick");
    Bundle b;
    const std::string d = LinesDescriptor(b), src = b.Path("src.png");
    WriteBands(src, 40, 30);
    struct Case {
        const char* input;
        const char* output;
        double dpi;
    };
    // PNG and JPEG inputs are made by ImageMagick; the PSD input is the
    // output of the case before it.
    const Case cases[] = {{"in.png", "out.png", 300}, {"in.jpg", "out.jpg", 240}, {"p150.png", "mid.psd", 150},
                          {"mid.psd", "out.psd", 150}, {"mid.psd", "back.png", 150}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.input) + " -> " + c.output);
        const std::string in = b.Path(c.input), out = b.Path(c.output);
        if (!fs::exists(in)) {
            const std::string dpi = std::to_string(int(c.dpi));
            ASSERT_EQ(Shell("convert " + src + " -units PixelsPerInch -density " + dpi + " " + in), 0);
        }
        std::string text;
        ASSERT_EQ(Host(b, "--descriptor " + d + " " + in + " " + out, &text), 0) << text;
        ASSERT_EQ(RunProgram("convert", out + "[0] -units PixelsPerInch -format %x info:", &text), 0) << text;
        EXPECT_NEAR(std::atof(text.c_str()), c.dpi, 0.5) << text;
    }
    // The command line wins over the file.
    std::string text;
    ASSERT_EQ(Host(b, "--resolution 600 --descriptor " + d + " " + b.Path("in.jpg") + " " + b.Path("r.png"), &text), 0);
    ASSERT_EQ(RunProgram("convert", b.Path("r.png") + " -units PixelsPerInch -format %x info:", &text), 0);
    EXPECT_NEAR(std::atof(text.c_str()), 600, 0.5);
}

TEST(HostPhotos, OutputFormatFollowsTheName)
{
    NEED_PROGRAM("djpeg", "libjpeg-turbo-progs");
    NEED_PYTHON_MODULE("psd_tools", "python3-psd-tools");
    Bundle b;
    const std::string d = LinesDescriptor(b), in = b.Path("in.png");
    WriteBands(in, 32, 20);
    std::string text;
    // A quality is a JPEG output's only.
    for (const auto& [name, quality] : {std::pair<const char*, const char*>{"a.png", ""},
                                        {"b.JPG", "--quality 80 "},
                                        {"c.jpeg", "--quality 80 "},
                                        {"d.psd", ""}})
        ASSERT_EQ(Host(b, quality + ("--descriptor " + d) + " " + in + " " + b.Path(name), &text), 0) << name << text;
    EXPECT_EQ(Bytes(b.Path("a.png")).at(1), 'P');
    for (const char* jpeg : {"b.JPG", "c.jpeg"}) {
        const std::vector<uint8_t> bytes = Bytes(b.Path(jpeg));
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes[0], 0xFF);
        EXPECT_EQ(bytes[1], 0xD8);
        EXPECT_EQ(RunProgram("djpeg", "-outfile /dev/null " + b.Path(jpeg)), 0) << jpeg;
    }
    // Debian's own Python, where psd-tools is installed, before any other.
    const std::string python = "/usr/bin/python3";
    {
        // The input's layer, filtered in place, at the input's size.
        ASSERT_EQ(RunProgram(python, "-c 'from psd_tools import PSDImage; p = PSDImage.open(\"" + b.Path("d.psd") +
                                            "\"); print(len(list(p)), p.width, p.height)'",
                             &text),
                  0)
            << text;
        EXPECT_EQ(text, "1 32 20\n");
    }
    // A PSD input keeps its layers; the filtered one is in its place.
    ASSERT_EQ(Host(b, "--add-layer " + in + ":Top --target 1 --descriptor " + d + " " + in + " " + b.Path("two.psd"),
                   &text),
              0)
        << text;
    HostDocument doc;
    InputFacts facts;
    ASSERT_TRUE(LoadInputDocument(b.Path("two.psd"), doc, facts, text)) << text;
    ASSERT_EQ(doc.layers.size(), 2u);
    EXPECT_EQ(doc.layers[1].name, "Top");
    RasterImage source;
    ASSERT_TRUE(ReadImageFile(in, source, text)) << text;
    for (size_t p = 0; p < 3; ++p) {
        EXPECT_EQ(doc.layers[0].pixels.planes[p], source.planes[p]) << "the layer below stays as it was";
        EXPECT_NE(doc.layers[1].pixels.planes[p], source.planes[p]) << "the filtered layer is in its place";
    }
}

TEST(HostPhotos, RefusalsLeaveEveryFileAsItWas)
{
    Bundle b;
    const std::string d = LinesDescriptor(b), in = b.Path("in.png");
    WriteBands(in, 16, 12);
    const std::string readOnly = b.Path("locked.png");
    ASSERT_EQ(qnReplaceFile(readOnly, "old", 3), 0);
    ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
    ASSERT_EQ(qnReplaceFile(b.Path("out.gif"), "gif", 3), 0);
    struct Case {
        std::string args;
        int code;
        const char* says;
    };
    const std::vector<Case> cases = {
        {in + " " + b.Path("out.gif"), kExitBadArguments, "must end in .png, .jpg, .jpeg or .psd"},
        {in + " " + in, kExitHostError, "it would write over the input"},
        {in + " " + b.Path("./in.png"), kExitHostError, "it would write over the input"},
        {in + " " + readOnly, kExitHostError, "the file has no write permission"},
    };
    const std::vector<uint8_t> before = Bytes(in);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        std::string text;
        EXPECT_EQ(Host(b, "--descriptor " + d + " " + c.args, &text), c.code) << text;
        EXPECT_NE(text.find(c.says), std::string::npos) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    }
    // The input named as the descriptor of a replay, which only reads it:
    // it holds no settings, which is what is said, not a write over it.
    std::string text;
    EXPECT_EQ(Host(b, "--descriptor " + in + " " + in + " " + b.Path("fresh.png"), &text), kExitPluginError) << text;
    EXPECT_NE(text.find(in + " is damaged: "), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_EQ(Bytes(in), before);
    EXPECT_EQ(Bytes(readOnly), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(Bytes(b.Path("out.gif")), (std::vector<uint8_t>{'g', 'i', 'f'}));
}

TEST(HostPhotos, FailuresSayWhyInWords)
{
    Bundle b;
    const std::string d = LinesDescriptor(b), in = b.Path("in.png");
    WriteBands(in, 16, 12);
    std::vector<uint8_t> png = Bytes(in);
    const std::string cut = b.Path("cut.png"), text = b.Path("text.jpg");
    ASSERT_EQ(qnReplaceFile(cut, png.data(), png.size() / 2), 0);
    ASSERT_EQ(qnReplaceFile(text, "hello", 5), 0);
    fs::create_directory(b.dir / "closed");
    ASSERT_EQ(chmod((b.dir / "closed").c_str(), 0555), 0);
    struct Case {
        std::string args;
        const char* says;
    };
    const std::vector<Case> cases = {
        {in + " " + b.Path("nodir/out.png"), "no such folder"},
        {in + " " + b.Path("closed/out.png"), "the folder has no write permission"},
        {b.Path("missing.jpg") + " " + b.Path("o.png"), "missing.jpg: no such file"},
        {cut + " " + b.Path("o.png"), "PNG file is truncated"},
        {text + " " + b.Path("o.png"), "not a PNG, JPEG or PSD file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        std::string out;
        EXPECT_EQ(Host(b, "--descriptor " + d + " " + c.args, &out), kExitHostError) << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
    }
    chmod((b.dir / "closed").c_str(), 0755);
}

TEST(HostPhotos, ProgressBarOnlyOnATerminal)
{
    NEED_PROGRAM("script", "bsdutils");
    Bundle b;
    const std::string in = b.Path("in.png"), d = b.Path("pieces.qnds");
    WriteBands(in, 64, 48);
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--grid 3x2 " + d), 0);
    const std::string run = std::string(TESSOLO_HOST_FILE) + " --plugin " + b.Path("Tessolo.so") + " --descriptor " +
                            d + " " + in + " " + b.Path("out.png");
    std::string piped, terminal;
    ASSERT_EQ(RunProgram(run, "", &piped), 0) << piped;
    // In a pipe, the line that says what was written alone; on a terminal
    // the bar, cleared before that line.
    const std::string wrote = "wrote " + b.Path("out.png") + ", 64 x 48 pixels at 72 dpi\n";
    EXPECT_EQ(piped, wrote);
    ASSERT_EQ(RunProgram("script", "-qec \"" + run + "\" /dev/null", &terminal), 0) << terminal;
    EXPECT_NE(terminal.find("] 100%"), std::string::npos) << terminal;
    EXPECT_NE(terminal.find("\r" + wrote.substr(0, wrote.size() - 1)), std::string::npos) << terminal;
}

// What a reader sees in an output: its resolution across and down, in
// pixels per inch, by ImageMagick.
std::pair<double, double> Density(const std::string& path)
{
    std::string text;
    EXPECT_EQ(RunProgram("convert", path + "[0] -units PixelsPerInch -format \"%x %y\" info:", &text), 0) << text;
    double x = 0, y = 0;
    EXPECT_EQ(std::sscanf(text.c_str(), "%lf %lf", &x, &y), 2) << text;
    return {x, y};
}

TEST(HostPhotos, BothResolutionsReachEveryWriterTurnedWithThePhoto)
{
    NEED_PROGRAM("convert", "imagemagick");
    NEED_PROGRAM("exiftool", "libimage-exiftool-perl");
    Bundle b;
    const std::string d = LinesDescriptor(b), src = b.Path("src.png");
    WriteBands(src, 40, 30);
    // 300 dpi across the stored photo and 150 down it, shown turned a
    // quarter (EXIF orientation 6): upright, 150 across and 300 down.
    const std::string turned = b.Path("turned.jpg"), cm = b.Path("cm.jpg"), phys = b.Path("phys.png");
    ASSERT_EQ(Shell("convert " + src + " -units PixelsPerInch -density 300x150 " + turned +
                    " && exiftool -q -overwrite_original -Orientation#=6 " + turned),
              0);
    // JFIF in dots per centimetre (100 x 50: 254 x 127 dpi), and pHYs.
    ASSERT_EQ(Shell("convert " + src + " -units PixelsPerCentimeter -density 100x50 " + cm), 0);
    ASSERT_EQ(Shell("convert " + src + " -units PixelsPerInch -density 300x150 " + phys), 0);
    struct Case {
        std::string run;  // a host run's input and output, or a tool's command line
        std::string output;
        double x, y;
    };
    auto host = [&](const std::string& in, const std::string& out) {
        return Case{"host " + in + " " + b.Path(out), b.Path(out), 0, 0};
    };
    std::vector<Case> cases;
    for (const char* out : {"t.png", "t.jpg", "t.psd"})
        cases.push_back(host(turned, out));
    cases.push_back(host(b.Path("t.psd"), "back.jpg"));  // the PSD resource read back
    cases.push_back(host(cm, "cm.psd"));
    cases.push_back(host(phys, "phys.jpg"));
    for (size_t k = 0; k < cases.size(); ++k) {
        const bool upright = k < 4;
        cases[k].x = upright ? 150 : k == 4 ? 254 : 300;
        cases[k].y = upright ? 300 : k == 4 ? 127 : 150;
    }
    cases.push_back({"tool convert " + turned + " " + b.Path("c.png"), b.Path("c.png"), 150, 300});
    cases.push_back({"tool convert " + cm + " " + b.Path("c2.png"), b.Path("c2.png"), 254, 127});
    cases.push_back({"tool convert " + b.Path("t.psd") + " " + b.Path("c3.png"), b.Path("c3.png"), 150, 300});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.run);
        std::string text;
        if (c.run.rfind("host ", 0) == 0)
            ASSERT_EQ(Host(b, "--descriptor " + d + " " + c.run.substr(5), &text), 0) << text;
        else
            ASSERT_EQ(RunProgram(TESSOLO_TOOL_FILE, c.run.substr(5), &text), 0) << text;
        const auto [x, y] = Density(c.output);
        EXPECT_NEAR(x, c.x, 0.5);
        EXPECT_NEAR(y, c.y, 0.5);
    }
}

TEST(HostPhotos, APictureWithoutResolutionIsTakenAt72)
{
    NEED_PROGRAM("convert", "imagemagick");
    NEED_PROGRAM("exiftool", "libimage-exiftool-perl");
    Bundle b;
    const std::string d = LinesDescriptor(b), src = b.Path("src.png");
    WriteBands(src, 40, 30);
    // Each names no size: ImageMagick's PSD of a picture without one (its
    // resource says 0, stored as 1/65536; its layers, ZIP, are not read, so
    // no PSD is written of it), pHYs of 0 per metre, of 1 per
    // metre (a pixel 39 inches wide) and in no unit, JFIF density 0 and an
    // EXIF resolution of 0.
    const std::string at300 = " -units PixelsPerInch -density 300 ";
    const std::pair<const char*, std::string> inputs[] = {
        {"im.psd", "convert " + src + " -units Undefined -density 0 %s"},
        {"zero.png", "convert " + src + at300 + "%s && exiftool -q -overwrite_original -PixelsPerUnitX=0 "
                                                 "-PixelsPerUnitY=0 %s"},
        {"one.png", "convert " + src + at300 + "%s && exiftool -q -overwrite_original -PixelsPerUnitX=1 "
                                                "-PixelsPerUnitY=1 %s"},
        {"aspect.png", "convert " + src + at300 + "%s && exiftool -q -overwrite_original -PixelUnits=Unknown %s"},
        {"jfif.jpg", "convert " + src + at300 + "%s && exiftool -q -overwrite_original -JFIF:XResolution=0 "
                                                 "-JFIF:YResolution=0 %s"},
        {"exif.jpg", "convert " + src + at300 + "%s && exiftool -q -overwrite_original -JFIF:XResolution=0 "
                                                 "-JFIF:YResolution=0 -EXIF:XResolution=0 -EXIF:YResolution=0 "
                                                 "-EXIF:ResolutionUnit=inches %s"},
    };
    for (const auto& [name, make] : inputs) {
        SCOPED_TRACE(name);
        const std::string in = b.Path(name);
        std::string command = make;
        for (size_t at; (at = command.find("%s")) != std::string::npos;)
            command.replace(at, 2, in);
        ASSERT_EQ(Shell(command), 0) << command;
        HostDocument doc;
        InputFacts facts;
        std::string err;
        ASSERT_TRUE(LoadInputDocument(in, doc, facts, err)) << err;
        EXPECT_EQ(facts.resolution, 72.0);
        EXPECT_EQ(facts.resolutionY, 72.0);
        // The replay into each format and the tool's conversion say 72.
        const std::string stem = b.Path(std::string(name) + "_out");
        for (const std::string kind : {".png", ".jpg", ".psd"}) {
            if (kind == ".psd" && fs::path(in).extension() == ".psd")
                continue;
            std::string text;
            ASSERT_EQ(Host(b, "--descriptor " + d + " " + in + " " + stem + kind, &text), 0) << text;
            EXPECT_NE(text.find("at 72 dpi"), std::string::npos) << text;
            const auto [x, y] = Density(stem + kind);
            EXPECT_NEAR(x, 72, 0.05) << kind;
            EXPECT_NEAR(y, 72, 0.05) << kind;
        }
        std::string text;
        ASSERT_EQ(RunProgram(TESSOLO_TOOL_FILE, "convert " + in + " " + stem + "_c.png", &text), 0) << text;
        const auto [x, y] = Density(stem + "_c.png");
        EXPECT_NEAR(x, 72, 0.05);
        EXPECT_NEAR(y, 72, 0.05);
    }
}

// A PNG of w x h cut after the length and type of its image data chunk: its
// headers whole, its picture not there to decode.
std::string HeadersOnlyPng(const Bundle& b, const std::string& name, int w, int h, bool alpha)
{
    RasterImage img;
    img.Allocate(ColorMode::RGB, w, h, alpha, 200);
    const std::string path = b.Path(name);
    std::string err;
    EXPECT_TRUE(WritePngFile(path, img, err)) << err;
    std::vector<uint8_t> png = Bytes(path);
    const char idat[] = "IDAT";
    const auto at = std::search(png.begin(), png.end(), idat, idat + 4);
    EXPECT_NE(at, png.end());
    png.erase(at + 4, png.end());
    EXPECT_EQ(qnReplaceFile(path, png.data(), png.size()), 0);
    return path;
}

TEST(HostPhotos, AddedLayersAreJudgedByTheirHeadersBeforeAnyIsDecoded)
{
    NEED_PROGRAM("convert", "imagemagick");
    Bundle b;
    const std::string d = LinesDescriptor(b), in = b.Path("in.png");
    WriteBands(in, 2048, 2048);
    // Layers whose headers say 2048 x 2048 and whose pictures are not there:
    // decoding any of them would fail. A PNG with transparency takes four
    // planes in an RGB document, a JPEG three.
    const std::string png = HeadersOnlyPng(b, "rgba.png", 2048, 2048, true);
    const std::string jpeg = b.Path("grey.jpg");
    {
        ASSERT_EQ(Shell("convert -size 16x16 xc:gray -type TrueColor " + jpeg), 0);
        std::vector<uint8_t> bytes = Bytes(jpeg);
        const uint8_t frame[] = {0xFF, 0xC0};
        const auto sof = std::search(bytes.begin(), bytes.end(), frame, frame + 2);
        ASSERT_NE(sof, bytes.end());
        for (int k : {5, 7}) {
            sof[k] = uint8_t(2048 >> 8);
            sof[k + 1] = uint8_t(2048 & 0xFF);
        }
        ASSERT_EQ(qnReplaceFile(jpeg, bytes.data(), bytes.size()), 0);
    }
    // 12 MiB of input, 100 x 16 MiB and 50 x 12 MiB of layers: 2212 MiB.
    std::string layers;
    for (int k = 0; k < 150; ++k)
        layers += " --add-layer " + (k < 100 ? png : jpeg);
    std::string text;
    EXPECT_EQ(Host(b, "--descriptor " + d + layers + " " + in + " " + b.Path("out.psd"), &text), kExitHostError);
    EXPECT_EQ(text, "tessolo-host: the document would take 2212 MiB with all its layers at 2048 x 2048, more than the "
                    "2048 MiB a document may take\n");
    // A layer of another size is refused from its header too, by its size.
    const std::string small = HeadersOnlyPng(b, "small.png", 2048, 2047, false);
    EXPECT_EQ(Host(b, "--descriptor " + d + " --add-layer " + png + " --add-layer " + small + ":Small " + in + " " +
                          b.Path("out.psd"),
                   &text),
              kExitHostError);
    EXPECT_EQ(text, "tessolo-host: layer \"Small\" (" + small +
                        ") is 2048 x 2047 pixels, not the document's 2048 x 2048\n");
    // Within the limit, the layers are decoded, and the first says why it
    // cannot be.
    EXPECT_EQ(Host(b, "--descriptor " + d + " --add-layer " + png + " " + in + " " + b.Path("out.psd"), &text),
              kExitHostError);
    EXPECT_NE(text.find(png + ": PNG file is truncated"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(b.Path("out.psd")));
    // INPUT is judged by its header as well, before it is decoded: its
    // picture is not there either, and the document's size is refused,
    // with INPUT's transparency counted (4 MiB more than in.png's).
    EXPECT_EQ(Host(b, "--descriptor " + d + layers + " " + png + " " + b.Path("out.psd"), &text), kExitHostError);
    EXPECT_EQ(text, "tessolo-host: the document would take 2216 MiB with all its layers at 2048 x 2048, more than the "
                    "2048 MiB a document may take\n");
    EXPECT_FALSE(fs::exists(b.Path("out.psd")));
}

// A selection, a channel or an added layer is read as every picture is, a
// PSD as its merged image, and must have the document's width and height,
// not only its pixel count: the same picture turned on its side is refused
// from its header, named with both sizes as a layer is, and nothing is
// written.
TEST(HostPhotos, AddedPicturesAreReadAsAnyPictureAndMustHaveTheDocumentsSize)
{
    Bundle b;
    const std::string d = LinesDescriptor(b), in = b.Path("in.png"), out = b.Path("out.png");
    WriteBands(in, 45, 30);
    RasterImage mask;
    std::string err, text;
    mask.Allocate(ColorMode::Gray, 45, 30, false, 255);
    ASSERT_TRUE(WritePngFile(b.Path("upright.png"), mask, err)) << err;
    mask.Allocate(ColorMode::Gray, 30, 45, false, 255);
    ASSERT_TRUE(WritePngFile(b.Path("sideways.png"), mask, err)) << err;
    // The same pictures as PSD files, written by the host.
    for (const char* name : {"upright", "sideways", "in"})
        ASSERT_EQ(Host(b, "--descriptor " + d + " " + b.Path(name + std::string(".png")) + " " +
                              b.Path(name + std::string(".psd")),
                       &text),
                  0)
            << text;
    for (const char* ext : {".png", ".psd"}) {
        SCOPED_TRACE(ext);
        const std::string upright = b.Path("upright" + std::string(ext)), sideways = b.Path("sideways" + std::string(ext));
        fs::remove(out);
        EXPECT_EQ(Host(b, "--descriptor " + d + " --selection " + sideways + " " + in + " " + out, &text),
                  kExitHostError);
        EXPECT_EQ(text,
                  "tessolo-host: the selection (" + sideways + ") is 30 x 45 pixels, not the document's 45 x 30\n");
        EXPECT_EQ(Host(b, "--descriptor " + d + " --channel " + upright + ":Mask --channel " + sideways + ":Spots " +
                              in + " " + out,
                       &text),
                  kExitHostError);
        EXPECT_EQ(text,
                  "tessolo-host: channel \"Spots\" (" + sideways + ") is 30 x 45 pixels, not the document's 45 x 30\n");
        EXPECT_FALSE(fs::exists(out));
        // Pictures of the document's size are taken.
        EXPECT_EQ(Host(b, "--descriptor " + d + " --selection " + upright + " --channel " + upright + ":Mask " + in +
                              " " + out,
                       &text),
                  0)
            << text;
        EXPECT_TRUE(fs::exists(out));
    }
    // A PSD layer is its merged image, here left as it was under the
    // filtered input.
    const std::string layered = b.Path("layered.psd");
    ASSERT_EQ(Host(b, "--descriptor " + d + " --add-layer " + b.Path("in.psd") + ":L --target 0 " + in + " " +
                          layered,
                   &text),
              0)
        << text;
    HostDocument doc, psd;
    InputFacts facts;
    ASSERT_TRUE(LoadInputDocument(layered, doc, facts, err)) << err;
    ASSERT_TRUE(LoadInputDocument(b.Path("in.psd"), psd, facts, err)) << err;
    ASSERT_EQ(doc.layers.size(), 2u);
    EXPECT_EQ(doc.layers[1].name, "L");
    for (size_t p = 0; p < 3; ++p)
        EXPECT_EQ(doc.layers[1].pixels.planes[p], psd.layers[0].pixels.planes[p]);
}

}  // namespace

#endif
