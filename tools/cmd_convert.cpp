// "convert IN OUT.png": a PNG, JPEG or PSD picture (its merged image) into a PNG;
// a photo is turned upright by its EXIF orientation, as the host opens it.
#include "tools/Command.h"

#include "core/ErrorWords.h"
#include "core/SafeFile.h"
#include "hostapp/InputDocument.h"
#include "hostapp/RasterImage.h"
#include "imaging/ImageFile.h"

#include <cstdio>
#include <string>

namespace {

const char* kName = "convert";

int Run(const tool::Args& args)
{
    tool::RefuseOptions(args);
    if (args.size() != 2)
        return tool::BadArguments(kName, "expected two arguments IN OUT");
    tool::RefuseEmptyName(args[0], "IN");
    tool::RefuseEmptyName(args[1], "OUT");
    if (const int refused = tool::RefuseOutput(kName, args[1], {args[0]}, {".png"}))
        return refused;
    CQNF_ImageFile in;
    if (!in.Load(args[0]))
        return tool::Fail(kName, in.Reason());
    // A photo comes out upright, as the host opens it.
    hostapp::RasterImage upright;
    const int orientation = hostapp::PhotoOrientation(in);
    uint16_t w = in.GetWidth(), h = in.GetHeight();
    const unsigned char* planes[4] = {};
    const unsigned char* alpha = in.GetPlane(-1);
    for (signed char k = 0; k < 4; ++k)
        planes[k] = in.GetPlane(k);
    if (orientation != 1) {
        hostapp::ImageFromFile(in, upright);
        // The picture keeps the form it has unturned, an opaque alpha plane
        // and all.
        if (alpha && !upright.hasAlpha) {
            upright.planes.emplace_back(alpha, alpha + upright.PixelCount());
            upright.hasAlpha = true;
        }
        hostapp::ApplyOrientation(upright, orientation);
        w = static_cast<uint16_t>(upright.width);
        h = static_cast<uint16_t>(upright.height);
        const size_t colours = static_cast<size_t>(hostapp::ColorPlanes(upright.mode));
        for (size_t k = 0; k < 4; ++k)
            planes[k] = k < colours ? upright.planes[k].data() : nullptr;
        alpha = upright.hasAlpha ? upright.planes.back().data() : nullptr;
    }
    unsigned short error = 0;
    if (!qnCodecSavePNG(args[1].c_str(), w, h, in.GetMode(), planes, alpha, w, 72.0, "tessolo-tool", error))
        return tool::Fail(kName, qnFileFailure(args[1], true, error));
    std::fprintf(qnReportStream(args[1]), "%s: %s %u x %u -> %s\n", args[0].c_str(), in.GetKindName(), w, h, args[1].c_str());
    return 0;
}

tool::Registrar reg({kName, "convert IN OUT.png", "convert a PNG, JPEG or PSD picture into a PNG file, upright by its EXIF orientation", Run});

}  // namespace
