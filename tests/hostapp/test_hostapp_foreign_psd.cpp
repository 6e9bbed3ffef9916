// PSD files written by another program (ImageMagick, made at test time): a
// refusal names what was not read, and when only the layers cannot be read
// the host and the tool fall back to the merged image and say so.
#include "hostapp/HostProgram.h"
#include "hostapp/InputDocument.h"
#include "hostapp/RasterImage.h"
#include "host_programs.h"
#include "tests/need_program.h"

#include <gtest/gtest.h>

#include <algorithm>

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
        std::string reason;  // in the message, before "(error 48)"
        bool opens;          // the merged image stands in for the layers
    };
    const std::vector<Case> cases = {
        {flat, "layer 1 (\"L1\"): channels compressed with ZIP are not read", true},
        {two, "(\"Cat\"): ", true},
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
        EXPECT_NE(text.find("(error 48)", at), std::string::npos) << text;
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
        const std::string layered = b.Path("layered.psd");
        fs::remove(layered);
        ASSERT_EQ(Host(b, "--add-layer " + out + ":Top --target 1 --descriptor " + desc + " " + c.in + " " + layered,
                       &text),
                  0)
            << text;
        EXPECT_EQ(Host(b, "--target 1 --descriptor " + desc + " " + c.in + " " + out, &text), kExitHostError);
        EXPECT_NE(text.find("--target 1: the document has 1 layer(s)"), std::string::npos) << text;
        HostDocument doc;
        InputFacts facts;
        ASSERT_TRUE(LoadInputDocument(layered, doc, facts, err)) << err;
        ASSERT_EQ(doc.layers.size(), 2u);
        EXPECT_EQ(doc.layers[1].name, "Top");

        // The tool writes the merged image alone, and says so.
        const fs::path dir = b.dir / "parts";
        fs::remove_all(dir);
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

}  // namespace

#endif
