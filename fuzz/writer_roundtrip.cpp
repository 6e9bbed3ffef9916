// The writers, read back: a layered PSD, a PNG and a knives drawing (EPS or
// AI) made from what the input describes are written to a file, and what is
// read from that file must be what was written. (Shape files are written and
// read back by the shape_file target.)
#include "app/KnivesExport.h"
#include "imaging/PNGCodec.h"
#include "imaging/PSDCodec.h"

#include "core/StdFile.h"
#include "core/String.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : uint8_t(m_at++ * 37); }
    int16_t Small(int range) { return int16_t(int(Byte()) % range); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

// A read-write file on an anonymous file, gone with the object.
struct Scratch {
    int fd = ::memfd_create("writer_fuzz", 0);
    CQNF_StdFile file;
    Scratch()
    {
        if (fd >= 0)
            file.Open(CQNF_String(("/proc/self/fd/" + std::to_string(fd)).c_str()), qnfile::kReadWrite);
    }
    ~Scratch()
    {
        file.Close();
        if (fd >= 0)
            ::close(fd);
    }
    std::string Text()
    {
        std::string s(size_t(std::max<int64_t>(file.GetLength(), 0)), '\0');
        if (!s.empty() && (file.SetPos(0) != 0 || file.Read(s.data(), uint32_t(s.size())) != int64_t(s.size())))
            __builtin_trap();
        return s;
    }
};

void Psd(Input& in)
{
    const uint8_t modes[] = {qncodec::ModeColour, qncodec::ModeGrey, qncodec::ModeCMYK};
    CQNF_ImagePSD::PSDMLWRITE_INITPARAMS init;
    init.mode = modes[in.Byte() % 3];
    init.width = uint16_t(1 + in.Small(40));
    init.height = uint16_t(1 + in.Small(40));
    const uint32_t colours = init.mode == qncodec::ModeColour ? 3 : init.mode == qncodec::ModeGrey ? 1 : 4;
    struct Layer {
        CQNF_ImagePSD::PSDMLWRITE_LAYERPARAMS p;
        std::vector<uint8_t> planes[5];
    };
    std::vector<Layer> layers(1 + in.Byte() % 3);
    CQNF_ImagePSD psd;
    if (!psd.Write_Init(&init))
        __builtin_trap();
    for (Layer& l : layers) {
        l.p.width = uint16_t(in.Small(30));
        l.p.height = uint16_t(in.Small(30));
        l.p.x = int16_t(in.Small(60) - 20);
        l.p.y = int16_t(in.Small(60) - 20);
        l.p.visible = in.Byte() & 1;
        l.p.opacity = in.Byte();
        const int nameLength = in.Small(64);
        for (int i = 0; i < nameLength; ++i)
            l.p.name[i] = char(in.Byte());
        // Runs and noise, so both packed forms are written.
        unsigned char* planes[5] = {};
        for (uint32_t k = 0; k <= colours; ++k) {
            const uint8_t run = in.Byte();
            l.planes[k].resize(size_t(l.p.width) * l.p.height + 1);
            for (size_t i = 0; i < l.planes[k].size(); ++i)
                l.planes[k][i] = (run & 1) ? run : in.Byte();
            planes[k] = l.planes[k].data();
        }
        if (!psd.Write_AddLayer(&l.p, planes, l.p.width))
            __builtin_trap();
    }
    Scratch s;
    if (!s.file.IsOpened())
        return;
    if (!psd.Create(s.file) || !psd.WritePSD())
        __builtin_trap();
    CQNF_ImagePSD back;
    if (!back.LParseByFile(s.file) || back.GetLayersCount() != layers.size())
        __builtin_trap();
    for (uint32_t i = 0; i < layers.size(); ++i) {
        const Layer& l = layers[i];
        CQNF_ImagePSD::PSDLayerInfoExt_s info;
        if (!back.GetLayerInfo(i, info) || info.width != l.p.width || info.height != l.p.height ||
            info.left != l.p.x || info.top != l.p.y || info.opacity != l.p.opacity || info.visible != l.p.visible)
            __builtin_trap();
        // The name as far as its short form holds it, less at most the
        // three bytes of a character the cut would have split.
        const size_t length = std::min<size_t>(strnlen(l.p.name, 63), 55);
        const std::string back = info.name;
        if (length && (back.size() > length || back.size() + 3 < length || std::string(l.p.name, back.size()) != back))
            __builtin_trap();
        const size_t n = size_t(l.p.width) * l.p.height;
        if (n == 0)
            continue;
        for (uint32_t k = 0; k < colours; ++k)
            if (!info.planes[k] || std::memcmp(info.planes[k]->GetPtr(), l.planes[k].data(), n) != 0)
                __builtin_trap();
        if (!info.transparency || std::memcmp(info.transparency->GetPtr(), l.planes[colours].data(), n) != 0)
            __builtin_trap();
    }
}

void Png(Input& in)
{
    CQNF_ImagePNG::PNGWRITE_PARAMS p;
    p.mode = uint8_t(1 + in.Byte() % 4);
    p.width = uint16_t(1 + in.Small(70));
    p.height = uint16_t(1 + in.Small(70));
    p.stride = p.width + uint32_t(in.Small(3));
    p.speed = (in.Byte() & 1) ? CQNF_ImagePNG::PNGWRITE_PARAMS::Speed::Fast
                              : CQNF_ImagePNG::PNGWRITE_PARAMS::Speed::Default;
    const int channels = p.mode == 1 ? 4 : p.mode == 2 ? 2 : p.mode == 3 ? 3 : 1;
    std::vector<uint8_t> planes[4];
    for (int k = 0; k < channels; ++k) {
        const uint8_t run = in.Byte();
        planes[k].resize(size_t(p.stride) * p.height);
        for (uint8_t& v : planes[k])
            v = (run & 1) ? uint8_t(run + (&v - planes[k].data()) / 7) : in.Byte();
        p.planes[k] = planes[k].data();
    }
    Scratch s;
    CQNF_ImagePNG png;
    if (!s.file.IsOpened())
        return;
    if (!png.Create(s.file) || !png.WritePNG(&p))
        __builtin_trap();
    CQNF_ImagePNG back;
    if (!back.ParseImageByFile(s.file))
        __builtin_trap();
    unsigned short w = 0, h = 0;
    back.GetMainImageSize(w, h);
    const bool grey = p.mode == 2 || p.mode == 4, alpha = p.mode == 1 || p.mode == 2;
    if (w != p.width || h != p.height || back.GetImageMode() != (grey ? qncodec::ModeGrey : qncodec::ModeColour))
        __builtin_trap();
    for (int k = 0; k < channels; ++k) {
        const bool isAlpha = alpha && k == channels - 1;
        const unsigned char* got = back.GetImageDataPtr(static_cast<signed char>(isAlpha ? -1 : k));
        if (!got)
            __builtin_trap();
        for (uint32_t y = 0; y < h; ++y)
            if (std::memcmp(got + size_t(y) * w, planes[k].data() + size_t(y) * p.stride, w) != 0)
                __builtin_trap();
    }
}

void Knives(Input& in)
{
    std::vector<CKnivesExport::PATH> paths(in.Byte() % 5);
    for (CKnivesExport::PATH& p : paths) {
        p.width = in.Byte() / 16.0;
        p.points.resize(in.Byte() % 6);
        for (qntFPOS& q : p.points)
            q = qntFPOS{in.Small(250) * 1.5 - 50, in.Small(250) * 1.25 - 50};
    }
    CKnivesExport::LMJOB job;
    job.paths = &paths;
    job.width = 1 + uint32_t(in.Small(200));
    job.height = 1 + uint32_t(in.Small(200));
    job.resolution = 36.0 + in.Byte();
    job.exportTo = (in.Byte() & 1) ? CExportLMSettings::kToAI : CExportLMSettings::kToEPS;
    Scratch s;
    if (!s.file.IsOpened())
        return;
    if (!CKnivesExport::stSaveLayoutToFileInEPSorAI(&s.file, &job))
        __builtin_trap();
    // Read back: a whole document of its kind, its page the picture's
    // printed size.
    const std::string text = s.Text();
    const auto ends = [&](const std::string& tail) {
        const size_t at = text.rfind("%%EOF");
        return at != std::string::npos && text.find_first_not_of("\r\n", at + 5) == std::string::npos &&
               text.compare(0, tail.size(), tail) == 0;
    };
    const long pw = std::lround(job.width * 72.0 / job.resolution), ph = std::lround(job.height * 72.0 / job.resolution);
    if (job.exportTo == CExportLMSettings::kToAI) {
        if (!ends("%PDF-") || text.find("/MediaBox") == std::string::npos)
            __builtin_trap();
    } else {
        // cairo bounds an EPS by its ink, which lies on the page.
        const size_t box = text.find("%%BoundingBox: ");
        long x0 = -1, y0 = -1, x1 = -1, y1 = -1;
        if (!ends("%!PS-Adobe-3.0 EPSF-3.0") || box == std::string::npos ||
            std::sscanf(text.c_str() + box, "%%%%BoundingBox: %ld %ld %ld %ld", &x0, &y0, &x1, &y1) != 4 || x0 < 0 ||
            y0 < 0 || x1 < x0 || y1 < y0 || x1 > pw + 1 || y1 > ph + 1)
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    switch (in.Byte() % 3) {
    case 0: Psd(in); break;
    case 1: Png(in); break;
    default: Knives(in); break;
    }
    return 0;
}
