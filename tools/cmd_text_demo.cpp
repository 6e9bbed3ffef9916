// "text-demo FONTFILE TEXT OUT.png [--size N]": makes a bitmap font from a
// scalable font file, stores it the way fonts ship (a zip-packed record of a
// storage container), opens it from there and renders TEXT with a text layer
// over a white background. In TEXT, "\n" starts a new line and "\t" moves to
// the next tab stop (every 96 pixels); UTF-8 text is taken as Latin-1 codes.
#include "tools/Command.h"

#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/Storage.h"
#include "core/StdFile.h"
#include "core/String.h"
#include "imaging/Font.h"
#include "imaging/FontBuilder.h"
#include "imaging/ImageFile.h"
#include "imaging/Layer.h"
#include "imaging/TextLayer.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* kName = "text-demo";
constexpr int kMargin = 12;

// The argument as 8-bit codes: "\\n" and "\\t" become a new line and a tab, and
// UTF-8 sequences of the first 256 code points become those codes (others
// '?'), since the fonts hold the Latin-1 range. Bytes that are not UTF-8
// pass through as they are.
std::string ToCodes(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        if (b == '\\' && i + 1 < s.size() && (s[i + 1] == 'n' || s[i + 1] == 't')) {
            out += s[++i] == 'n' ? '\n' : '\t';
            continue;
        }
        size_t len = b >= 0xF0 && b < 0xF8 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        if (len > 1 && i + len <= s.size()) {
            unsigned cp = b & (0x7F >> len);
            bool ok = true;
            for (size_t k = 1; k < len; ++k) {
                const unsigned char t = static_cast<unsigned char>(s[i + k]);
                ok &= (t & 0xC0) == 0x80;
                cp = (cp << 6) | (t & 0x3F);
            }
            if (ok) {
                out += cp < 256 ? static_cast<char>(cp) : '?';
                i += len - 1;
                continue;
            }
        }
        out += static_cast<char>(b);
    }
    return out;
}

int Run(const tool::Args& args)
{
    unsigned size = 16;
    std::vector<std::string> pos;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--size") {
            if (i + 1 >= args.size())
                return tool::BadArguments(kName, "--size needs a value");
            int64_t v = 0;
            if (!qnParseInteger(args[++i], 4, 120, v))
                return tool::BadArguments(kName, "--size must be 4..120 pixels");
            size = static_cast<unsigned>(v);
        } else if (args[i].size() > 2 && args[i].compare(0, 2, "--") == 0) {
            // Only long options: the TEXT may well begin with one dash.
            return tool::BadArguments(kName, "unknown option " + args[i]);
        } else {
            pos.push_back(args[i]);
        }
    }
    if (pos.size() != 3)
        return tool::BadArguments(kName, "expected FONTFILE TEXT OUT.png");
    if (const int refused = tool::RefuseOutput(kName, pos[2], {pos[0]}, {".png"}, true))
        return refused;

    // The font is opened by name; a FIFO would hold the run for ever.
    if (const std::string why = qnRegularFileProblem(pos[0]); !why.empty())
        return tool::Fail(kName, why);
    CQNF_FontBuilder builder;
    CQNF_Mem record, packed;
    if (!builder.Build(pos[0].c_str(), size, 0, 255, record) || !builder.Pack(record, packed))
        return tool::Fail(kName, builder.GetErrorText());

    // The font's storage lives in a scratch folder: gone with the run,
    // also when it is stopped.
    const CQNF_ScratchFolder dir("tessolo_text");
    if (dir.Path().empty())
        return tool::Fail(kName, "cannot create a temporary folder");
    CQNF_Storage storage;
    const CQNF_String key = "UIResources>Fonts>Demo";
    if (!storage.Open(CQNF_String((dir.Path() + "/font.qns").c_str()), 2) || !storage.AddFolder("UIResources") ||
        !storage.AddFolder("UIResources>Fonts") || !storage.SetRecord(key, packed.GetPtr(), packed.GetSize()))
        return tool::Fail(kName, "cannot store the font: " + std::string(qnErrorWords(storage.GetError())));
    CQNF_Font font;
    if (!font.Open(&storage, key))
        return tool::Fail(kName, "cannot open the font: " + std::string(qnErrorWords(font.GetError())));

    // The text's measure leaves tabs out, so a layer of fixed size makes
    // room for them.
    const std::string body = ToCodes(pos[1]);
    const CQNF_String str(body.c_str());
    const unsigned short lineStep = static_cast<unsigned short>(font.GetFontHeight() + 2);
    unsigned long tw = 0, th = 0;
    font.GetTextSize(str, lineStep, tw, th);
    tw += 96ul * static_cast<unsigned long>(std::count(body.begin(), body.end(), '\t'));
    if (tw == 0 || th == 0 || tw > 30000 || th > 30000)
        return tool::Fail(kName, "the text is empty or too large");
    CQNF_TextLayer text;
    if (!text.Create(kMargin, kMargin, 1, static_cast<unsigned short>(tw), static_cast<unsigned short>(th)))
        return tool::Fail(kName, "out of memory");
    for (unsigned short x = 96; x < tw; x += 96)
        text.AddTab(x);
    text.SetFont(&font);
    if (!text.SetText(str, qntRGBA8{20, 30, 90, 255}, lineStep, 0, 0))
        return tool::Fail(kName, "cannot draw the text: " + std::string(qnErrorWords(text.GetError())));

    CQNF_LayerSet set;
    CQNF_Layer background;
    const int w = text.GetImageWidth() + 2 * kMargin;
    const int h = text.GetImageHeight() + 2 * kMargin;
    if (w > 65535 || h > 65535 || !set.Create(uint16_t(w), uint16_t(h)) ||
        !background.Create(qntRECT_s{0, 0, w, h}, qnimg::ModeRGB))
        return tool::Fail(kName, "the picture is too large");
    background.Set(qntRGBA8{255, 255, 255, 255}, 0x0F, qnNullRect);
    set.AddLayer(&background);
    set.AddLayer(&text);
    if (!set.Render(qnNullRect))
        return tool::Fail(kName, "cannot composite the text");
    unsigned short error = 0;
    if (!qnSaveImagePNG(pos[2].c_str(), *set.GetCanvas(), "tessolo-tool", error))
        return tool::Fail(kName, qnFileFailure(pos[2], true, error));
    std::fprintf(qnReportStream(pos[2]), "wrote %s\n", qnShownName(pos[2]).c_str());
    return 0;
}

tool::Registrar reg({kName, "text-demo FONTFILE TEXT OUT.png [--size N]",
                     "render TEXT with a bitmap font made from FONTFILE (TrueType/OpenType) into a PNG", Run});

}  // namespace
