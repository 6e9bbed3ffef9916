// "convert IN OUT.png": a PNG, JPEG or PSD picture (its merged image) into a PNG
// at the picture's resolution; a photo comes upright by its EXIF orientation,
// as every program reads it.
#include "tools/Command.h"

#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
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
    if (const int refused = tool::RefuseOutput(kName, args[1], {args[0]}, {".png"}, true))
        return refused;
    CQNF_ImageFile in;
    if (!in.Load(args[0]))
        return tool::Fail(kName, in.Reason());
    // The picture comes upright and keeps the resolution its file names
    // (72 where it names none), as the host opens it.
    const uint16_t w = in.GetWidth(), h = in.GetHeight();
    const unsigned char* planes[4] = {};
    for (signed char k = 0; k < 4; ++k)
        planes[k] = in.GetPlane(k);
    unsigned short error = 0;
    if (!qnCodecSavePNG(args[1].c_str(), w, h, in.GetMode(), planes, in.GetPlane(-1), w, in.GetResolutionX(),
                        in.GetResolutionY(), "tessolo-tool", error))
        return tool::Fail(kName, qnFileFailure(args[1], true, error));
    std::fprintf(qnReportStream(args[1]), "%s: %s %u x %u -> %s\n", qnShownName(args[0]).c_str(), in.GetKindName(), w, h, qnShownName(args[1]).c_str());
    return 0;
}

tool::Registrar reg({kName, "convert IN OUT.png", "convert a PNG, JPEG or PSD picture into a PNG file, upright by its EXIF orientation", Run});

}  // namespace
