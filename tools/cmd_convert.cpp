// "convert IN OUT": a PNG, JPEG or PSD picture (its merged image) into a PNG.
#include "tools/Command.h"

#include "imaging/CodecFile.h"
#include "imaging/JPEGCodec.h"
#include "imaging/PNGCodec.h"
#include "imaging/PSDCodec.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

const char* kName = "convert";

int Run(const tool::Args& args)
{
    if (args.size() != 2)
        return tool::Fail(kName, "expected two arguments IN OUT");
    CQNF_StdFile file;
    if (!file.Open(args[0].c_str(), 1))
        return tool::Fail(kName, "cannot open " + args[0]);
    unsigned char magic[4] = {};
    if (file.Read(magic, 4) != 4)
        return tool::Fail(kName, args[0] + ": too short to be a picture");
    std::unique_ptr<CQNF_ImageReader> reader;
    const char* kind = "";
    if (magic[0] == 0x89 && std::memcmp(magic + 1, "PNG", 3) == 0) {
        reader = std::make_unique<CQNF_ImagePNG>();
        kind = "PNG";
    } else if (std::memcmp(magic, "8BPS", 4) == 0) {
        reader = std::make_unique<CQNF_ImagePSD>();
        kind = "PSD";
    } else if (magic[0] == 0xFF && magic[1] == 0xD8) {
        reader = std::make_unique<CQNF_ImageJPEG>();
        kind = "JPEG";
    } else {
        return tool::Fail(kName, args[0] + ": not a PNG, JPEG or PSD file");
    }
    if (!reader->ParseImageByFile(file))
        return tool::Fail(kName, args[0] + ": unreadable " + kind + " (error " + std::to_string(reader->GetError()) + ")");
    unsigned short w, h;
    reader->GetMainImageSize(w, h);
    const unsigned char* planes[4] = {};
    for (signed char k = 0; k < 4; ++k)
        planes[k] = reader->GetImageDataPtr(k);
    unsigned short error = 0;
    if (!qnCodecSavePNG(args[1].c_str(), w, h, reader->GetImageMode(), planes, reader->GetImageDataPtr(-1), w, 72.0,
                        "tessolo-tool", error))
        return tool::Fail(kName, "cannot write " + args[1] + " (error " + std::to_string(error) + ")");
    std::printf("%s: %s %u x %u -> %s\n", args[0].c_str(), kind, w, h, args[1].c_str());
    return 0;
}

tool::Registrar reg({kName, "convert IN OUT", "convert a PNG, JPEG or PSD picture into a PNG file", Run});

}  // namespace
