// "psd write OUT.psd LAYER.png[@X,Y[:NAME]]..." builds a layered document
// from PNG layers; "psd read IN.psd OUTDIR" writes its merged image and each
// layer as PNG files and lists the layers.
#include "tools/Command.h"

#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/FileSeries.h"
#include "core/SafeFile.h"
#include "core/String.h"
#include "imaging/ImageFile.h"
#include "imaging/PSDCodec.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

const char* kName = "psd";

struct LayerArg {
    std::string path;
    int32_t x = 0;
    int32_t y = 0;
    std::string name;
    bool named = false;
};

// LAYER.png[@X,Y[:NAME]]: the first '@' followed by two integers and then
// the end or a colon starts the place, so file names may hold '@'
// themselves, and everything after the place's colon is the name, whatever
// it holds ('@', ':', a newline). A position a document cannot hold is a
// wrong command line.
bool ParseLayerArg(const std::string& arg, LayerArg& out)
{
    static const std::regex pos(R"(^(-?\d{1,12}),(-?\d{1,12})(:|$))");
    out = LayerArg{};
    std::smatch m;
    for (size_t at = arg.find('@'); at != std::string::npos; at = arg.find('@', at + 1)) {
        const std::string tail = arg.substr(at + 1);
        if (!std::regex_search(tail, m, pos))
            continue;
        out.path = arg.substr(0, at);
        int64_t x = 0, y = 0;
        if (!qnParseInteger(m[1].str(), -32768, 32767, x) || !qnParseInteger(m[2].str(), -32768, 32767, y))
            throw tool::BadArgument(arg + ": a layer is placed at X,Y from -32768 to 32767");
        out.x = int32_t(x);
        out.y = int32_t(y);
        if (m[3].length() > 0) {
            out.name = tail.substr(size_t(m.length(0)));
            out.named = true;
        }
        return !out.path.empty();
    }
    if (const size_t at = arg.rfind('@'); at != std::string::npos) {
        const std::string tail = arg.substr(at + 1);
        // Digits and commas after the '@' meant a position; a file of
        // that whole name is still taken as given.
        static const std::regex numbersOnly(R"(^[-0-9]*,[-0-9,]*(:[\s\S]*)?$)");
        std::error_code ec;
        if (std::regex_match(tail, numbersOnly) && !std::filesystem::exists(arg, ec))
            throw tool::BadArgument(arg + ": the position after '@' must be X,Y (two integers), not '" + tail + "'");
    }
    out.path = arg;
    return !arg.empty();
}

int Write(const tool::Args& args)
{
    tool::RefuseOptions(args);
    if (args.size() < 3)
        return tool::BadArguments(kName, "expected: write OUT.psd LAYER.png[@X,Y[:NAME]]...");
    const std::string outPath = args[1];
    std::vector<std::string> inputs;
    for (size_t i = 2; i < args.size(); ++i) {
        LayerArg a;
        if (ParseLayerArg(args[i], a))
            inputs.push_back(a.path);
    }
    if (const int refused = tool::RefuseOutput(kName, outPath, inputs, {".psd"}, true))
        return refused;
    // Said before any layer is read: the format's own limit, not the
    // writer's bare refusal at the end.
    if (args.size() - 2 > CQNF_ImagePSD::MaxLayers)
        return tool::BadArguments(kName, "a PSD file holds at most " + std::to_string(CQNF_ImagePSD::MaxLayers) +
                                             " layers, and " + std::to_string(args.size() - 2) + " were given");
    struct Layer {
        CQNF_ImageFile png;
        CQNF_ImagePSD::PSDMLWRITE_LAYERPARAMS params;
    };
    std::vector<std::unique_ptr<Layer>> layers;
    int32_t right = 1, bottom = 1;
    for (size_t i = 2; i < args.size(); ++i) {
        LayerArg a;
        if (!ParseLayerArg(args[i], a))
            return tool::BadArguments(kName, "bad layer argument '" + args[i] + "'");
        auto l = std::make_unique<Layer>();
        if (!l->png.Load(a.path, CQNF_ImageFile::KindPNG))
            return tool::Fail(kName, l->png.Reason());
        const uint16_t w = l->png.GetWidth(), h = l->png.GetHeight();
        if (w > CQNF_ImagePSD::MaxSide || h > CQNF_ImagePSD::MaxSide)
            return tool::Fail(kName, a.path + ": a layer of " + std::to_string(w) + " x " + std::to_string(h) +
                                         " pixels is larger than a PSD document can be (" +
                                         std::to_string(CQNF_ImagePSD::MaxSide) + " a side)");
        auto& p = l->params;
        p.width = w;
        p.height = h;
        p.x = static_cast<int16_t>(a.x);
        p.y = static_cast<int16_t>(a.y);
        p.visible = 1;
        p.opacity = 255;
        const std::string name = a.named ? a.name : std::filesystem::path(a.path).stem().string();
        std::strncpy(p.name, name.c_str(), sizeof p.name - 1);
        right = std::max(right, a.x + int32_t{w});
        bottom = std::max(bottom, a.y + int32_t{h});
        layers.push_back(std::move(l));
    }
    if (right > int32_t(CQNF_ImagePSD::MaxSide) || bottom > int32_t(CQNF_ImagePSD::MaxSide))
        return tool::Fail(kName, "the document would exceed 30000 pixels a side");

    CQNF_ImagePSD psd;
    CQNF_ImagePSD::PSDMLWRITE_INITPARAMS init;
    init.width = static_cast<uint16_t>(right);
    init.height = static_cast<uint16_t>(bottom);
    init.mode = qncodec::ModeColour;
    init.resolution = 72.0;
    init.globalAngle = 130;
    psd.Write_Init(&init);
    for (auto& l : layers) {
        unsigned char* planes[5] = {};
        if (l->png.GetMode() == qncodec::ModeGrey) {
            planes[0] = planes[1] = planes[2] = l->png.GetPlane(0);
        } else {
            for (signed char k = 0; k < 3; ++k)
                planes[k] = l->png.GetPlane(k);
        }
        planes[3] = l->png.GetPlane(-1);
        if (!psd.Write_AddLayer(&l->params, planes, l->params.width))
            return tool::Fail(kName, "out of memory");
    }
    CQNF_SafeFile out;
    if (!out.Open(outPath.c_str()))
        return tool::Fail(kName, qnFileFailure(outPath, true, out.GetError()));
    if (!psd.Create(out.File()) || !psd.WritePSD())
        return tool::Fail(kName, qnFileFailure(outPath, true, psd.GetError()));
    if (!out.Commit())
        return tool::Fail(kName, qnFileFailure(outPath, true, out.GetError()));
    std::fprintf(qnReportStream(outPath), "%s: %d x %d, %zu layer%s\n", qnShownName(outPath).c_str(), right, bottom, layers.size(),
                 layers.size() == 1 ? "" : "s");
    return 0;
}

int Read(const tool::Args& args)
{
    tool::RefuseOptions(args);
    if (args.size() != 3)
        return tool::BadArguments(kName, "expected: read IN.psd OUTDIR");
    if (const std::string why = qnStandardOutputFolderRefusal(args[2]); !why.empty())
        return tool::Fail(kName, why);
    const std::string inPath = args[1];
    const std::filesystem::path dir = args[2];
    // Where the files go is settled before the document is read: DIR, a
    // folder that is there, as every writer of a series takes it.
    // "layer_65535.png" is the longest name.
    if (const QnRefusal refused = CQNF_FileSeries::Refusal(dir.string(), std::strlen("layer_65535.png")); !refused.empty())
        return tool::Fail(kName, refused.Line());
    // The reader loads the whole file: devices and files larger than a
    // document can be go before that (its sections have 32-bit lengths).
    // Junk is refused by the picture reader from its first bytes, in the
    // words convert gives it.
    std::string why;
    if (!qnCheckInputFile(inPath, UINT32_MAX, why))
        return tool::Fail(kName, why);
    // The document is judged as every program judges it, by the one reader
    // of picture files: a damaged PSD reads the same here as in convert, the
    // host and export pieces. Its merged image comes first; the layers are
    // then read from the same copy of the file.
    CQNF_ImageFile picture;
    if (!picture.Load(inPath, CQNF_ImageFile::KindPSD))
        return tool::Fail(kName, picture.Reason());
    auto& psd = static_cast<CQNF_ImagePSD&>(*picture.GetReader());
    unsigned short w, h;
    psd.GetMainImageSize(w, h);
    // The files go into DIR all or none: a damaged document or a failed write
    // leaves DIR as it was.
    CQNF_FileSeries series;
    series.Protect({inPath});
    auto fail = [&](const std::string& message) {
        series.Abandon();
        return tool::Fail(kName, message);
    };
    if (!series.Begin(dir.string()))
        return fail("cannot write " + series.Failure());
    const uint8_t mode = psd.GetImageMode();
    unsigned short error = 0;
    unsigned files = 0;
    // The merged image first, as Load decoded it (it is decoded once), and
    // then let go: the layers are read and written without it beside them,
    // so that a document costs no more memory than its layers do.
    {
        const unsigned char* planes[4] = {};
        for (signed char k = 0; k < 4; ++k)
            planes[k] = psd.GetImageDataPtr(k);
        if (!qnCodecSavePNG(series.StagedPath("merged.png").c_str(), w, h, mode, planes, nullptr, w, 72.0,
                            "tessolo-tool", error))
            return fail(qnFileFailure((dir / "merged.png").string(), true, error));
        series.Add("merged.png");
        ++files;
        psd.FreeImageData();
    }
    // Layers of a kind not read leave the merged image, written alone.
    if (!psd.LParseLayersLocal()) {
        const std::string refused = psd.GetReason().empty() ? qnErrorText(psd.GetError()) : psd.GetReason();
        if (psd.GetError() != qncodec::ErrUnsupported)
            return fail(inPath + ": cannot read the PSD layers: " + refused);
        std::fprintf(stderr, "tessolo-tool %s: %s: the layers are not read (%s); only the merged image is written\n",
                     kName, qnShownName(inPath).c_str(), refused.c_str());
    }
    // The layers are listed once their files are in place: a run refused
    // when it puts them there says only why.
    std::string listing;
    for (uint32_t i = 0; i < psd.GetLayersCount(); ++i) {
        CQNF_ImagePSD::PSDLayerInfoExt_s info;
        psd.GetLayerInfo(i, info);
        char rest[128];
        std::snprintf(rest, sizeof rest, "%s left %d top %d width %u height %u opacity %u%s\n",
                      info.visible ? "visible" : "hidden", info.left, info.top, info.width, info.height,
                      info.opacity, info.folder ? " group" : info.sectionEnd ? " group-end" : "");
        listing += "layer " + std::to_string(i) + ": \"" + qnShownName(info.name) + "\" " + rest;
        if (!info.width || !info.height || info.width > 65535 || info.height > 65535)
            continue;
        const unsigned char* planes[4] = {};
        bool any = false;
        for (int k = 0; k < 4; ++k) {
            planes[k] = info.planes[k] ? info.planes[k]->GetPtr() : nullptr;
            any = any || planes[k];
        }
        if (!any && !info.transparency)
            continue;
        char name[32];
        std::snprintf(name, sizeof name, "layer_%03u.png", i);
        if (!qnCodecSavePNG(series.StagedPath(name).c_str(), static_cast<uint16_t>(info.width),
                            static_cast<uint16_t>(info.height), mode, planes,
                            info.transparency ? info.transparency->GetPtr() : nullptr, info.width, 72.0,
                            "tessolo-tool", error))
            return fail(qnFileFailure((dir / name).string(), true, error));
        series.Add(name);
        ++files;
    }
    const uint32_t count = psd.GetLayersCount();
    if (!series.Commit())
        return fail("cannot write " + series.Failure() + "; nothing was written");
    std::fputs(listing.c_str(), stdout);
    std::printf("merged: %u x %u, %u layer%s\n", w, h, count, count == 1 ? "" : "s");
    std::printf("wrote %u PNG file%s in %s\n", files, files == 1 ? "" : "s", qnShownName(dir.string()).c_str());
    return 0;
}

int Run(const tool::Args& args)
{
    if (!args.empty() && args[0] == "write")
        return Write(args);
    if (!args.empty() && args[0] == "read")
        return Read(args);
    return tool::BadArguments(kName, "expected 'write OUT.psd LAYER.png[@X,Y[:NAME]]...' or 'read IN.psd OUTDIR'");
}

tool::Registrar reg({kName, "psd write OUT.psd LAYER.png[@X,Y[:NAME]]... | psd read IN.psd OUTDIR",
                     "write a layered PSD from PNG layers, or split a PSD into PNG files", Run});

}  // namespace
