#include "imaging/ImageFile.h"

#include "core/ErrorWords.h"
#include "core/SafeFile.h"
#include "imaging/Image.h"
#include "imaging/JPEGCodec.h"
#include "imaging/PNGCodec.h"
#include "imaging/PSDCodec.h"
#include "imaging/PhotoFacts.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

uint8_t KindOf(const unsigned char magic[4])
{
    if (magic[0] == 0x89 && std::memcmp(magic + 1, "PNG", 3) == 0)
        return CQNF_ImageFile::KindPNG;
    if (std::memcmp(magic, "8BPS", 4) == 0)
        return CQNF_ImageFile::KindPSD;
    if (magic[0] == 0xFF && magic[1] == 0xD8)
        return CQNF_ImageFile::KindJPEG;
    return 0;
}

const char* NameOf(uint8_t kind)
{
    switch (kind) {
    case CQNF_ImageFile::KindPNG: return "PNG";
    case CQNF_ImageFile::KindJPEG: return "JPEG";
    case CQNF_ImageFile::KindPSD: return "PSD";
    default: return "";
    }
}

// "PNG, JPEG or PSD" for the kinds of a mask.
std::string NamesOf(uint8_t kinds)
{
    std::string names;
    const uint8_t all[] = {CQNF_ImageFile::KindPNG, CQNF_ImageFile::KindJPEG, CQNF_ImageFile::KindPSD};
    int left = 0;
    for (uint8_t k : all)
        left += (kinds & k) != 0;
    for (uint8_t k : all) {
        if (!(kinds & k))
            continue;
        names += NameOf(k);
        --left;
        names += left > 1 ? ", " : left == 1 ? " or " : "";
    }
    return names;
}

}  // namespace

CQNF_ImageFile::CQNF_ImageFile() = default;
CQNF_ImageFile::~CQNF_ImageFile() = default;

const char* CQNF_ImageFile::GetKindName() const { return NameOf(m_kind); }

uint8_t CQNF_ImageFile::KindOfFile(const std::string& path)
{
    CQNF_StdFile file;
    unsigned char magic[4] = {};
    return file.Open(path.c_str(), 1) && file.Read(magic, 4) == 4 ? KindOf(magic) : 0;
}

unsigned char* CQNF_ImageFile::GetPlane(signed char index) const
{
    return m_reader && m_failure == Failure::None ? m_reader->GetImageDataPtr(index) : nullptr;
}

bool CQNF_ImageFile::i_Fail(Failure failure, const std::string& reason, unsigned short error)
{
    m_failure = failure;
    m_reason = reason;
    SetError(error);
    return false;
}

bool CQNF_ImageFile::i_Open(const std::string& path, uint8_t kinds, uint32_t maxSide, uint64_t maxBytes,
                            CQNF_StdFile& file)
{
    ResetError();
    m_reader.reset();
    m_failure = Failure::None;
    m_reason.clear();
    m_kind = 0;
    m_width = m_height = 0;
    m_mode = 0;
    m_hasAlpha = false;
    m_orientation = 1;
    m_resolutionX = m_resolutionY = 0.0;

    if (!file.Open(path.c_str(), 1))
        return i_Fail(Failure::CannotOpen, qnFileFailure(path, false, file.GetError()), file.GetError());
    unsigned char magic[4] = {};
    if (file.Read(magic, 4) != 4)
        return i_Fail(Failure::TooShort, path + ": too short to be a picture", qncodec::ErrCorrupt);
    const uint8_t kind = KindOf(magic) & kinds;
    if (!kind)
        return i_Fail(Failure::UnknownKind, path + ": not a " + NamesOf(kinds) + " file", qncodec::ErrUnsupported);
    if (kind == KindPNG)
        m_reader = std::make_unique<CQNF_ImagePNG>();
    else if (kind == KindJPEG)
        m_reader = std::make_unique<CQNF_ImageJPEG>();
    else
        m_reader = std::make_unique<CQNF_ImagePSD>();
    m_kind = kind;
    qntCODECLIMITS limits = m_reader->GetLimits();
    limits.maxSide = std::min(limits.maxSide, maxSide);
    limits.maxBytes = maxBytes;
    m_reader->SetLimits(limits);
    return true;
}

std::string CQNF_ImageFile::i_Unreadable(const std::string& path, unsigned short error) const
{
    // The reader names the cause where it can: "in.jpg: JPEG file is
    // truncated", "in.png: PNG file is damaged: the checksum of its IDAT
    // chunk does not match", "in.psd: cannot read this PSD: layer 2
    // ("Cat"): channels compressed with ZIP are not read".
    const std::string& named = m_reader->GetReason();
    return path + ": " +
           (error == qncodec::ErrCorrupt
                ? std::string(NameOf(m_kind)) + " file is " + (named.empty() ? "damaged or truncated" : named)
                : std::string("cannot read this ") + NameOf(m_kind) + ": " + (named.empty() ? qnErrorWords(error) : named));
}

bool CQNF_ImageFile::i_HeaderRefused(const std::string& path)
{
    const unsigned short error = m_reader->GetError();
    if (m_reader->OverLimits())
        return i_Fail(Failure::TooLarge,
                      path + ": the picture is too large: " + m_reader->GetReason(), error);
    return i_Fail(Failure::Undecodable, i_Unreadable(path, error), error);
}

void CQNF_ImageFile::i_ReadFacts()
{
    m_reader->GetMainImageSize(m_width, m_height);
    m_mode = m_reader->GetImageMode();
    if (m_kind == KindPNG)
        m_hasAlpha = static_cast<CQNF_ImagePNG*>(m_reader.get())->HasAlpha();
    if (m_kind == KindPSD) {
        const auto* psd = static_cast<const CQNF_ImagePSD*>(m_reader.get());
        m_resolutionX = psd->GetResolution();
        m_resolutionY = psd->GetResolutionY();
        qnTakenResolution(m_resolutionX, m_resolutionY);
        return;
    }
    const CQNF_Mem& bytes = m_reader->GetLocalCopy();
    const qntPHOTOFACTS facts = m_kind == KindJPEG ? qnJpegPhotoFacts(bytes.GetPtr(), bytes.GetSize())
                                                   : qnPngPhotoFacts(bytes.GetPtr(), bytes.GetSize());
    m_orientation = facts.orientation;
    m_resolutionX = facts.resolutionX;
    m_resolutionY = facts.resolutionY;
    // A quarter turn swaps what lies across and what lies down.
    if (m_orientation >= 5) {
        std::swap(m_width, m_height);
        std::swap(m_resolutionX, m_resolutionY);
    }    qnTakenResolution(m_resolutionX, m_resolutionY);
}

bool CQNF_ImageFile::i_TurnUpright()
{
    if (m_orientation == 1)
        return true;
    // The stored size: the upright one turned back.
    const bool turned = m_orientation >= 5;
    const int w = turned ? m_height : m_width, h = turned ? m_width : m_height;
    for (signed char k = -1; k <= 3; ++k) {
        CQNF_Mem* plane = m_reader->GetImageDataMem(k);
        if (!plane)
            continue;
        CQNF_Mem upright;
        if (!upright.alloc(plane->GetSize()))
            return false;
        qnTurnUpright(plane->GetPtr(), w, h, m_orientation, upright.GetPtr());
        *plane = std::move(upright);
    }
    return true;
}

bool CQNF_ImageFile::Load(const std::string& path, uint8_t kinds, uint32_t maxSide)
{
    CQNF_StdFile file;
    if (!i_Open(path, kinds, maxSide, qntCODECLIMITS{}.maxBytes, file))
        return false;
    // The header first, so that a picture too large is refused before its
    // planes are allocated, and before the file is read when the header
    // tells.
    if (!m_reader->GetImageInfoByFile(file))
        return i_HeaderRefused(path);
    if (!m_reader->ParseImageLocal())
        return i_Fail(Failure::Undecodable, i_Unreadable(path, m_reader->GetError()), m_reader->GetError());
    // A PSD is judged whole, its layers too, though only its merged image
    // is taken here: a damaged one is refused by every program, and only
    // layers the reader does not take (or too large) leave the merged image
    // standing in for them.
    if (m_kind == KindPSD) {
        auto* psd = static_cast<CQNF_ImagePSD*>(m_reader.get());
        if (!psd->LJudgeLocal() && psd->GetError() != qncodec::ErrUnsupported)
            return i_Fail(Failure::Undecodable, i_Unreadable(path, psd->GetError()), psd->GetError());
    }
    i_ReadFacts();
    if (!i_TurnUpright())
        return i_Fail(Failure::Undecodable, path + ": too little memory to turn the photo upright",
                      qncodec::ErrMemory);
    if (m_kind == KindJPEG && m_mode == qncodec::ModeCMYK &&
        !static_cast<CQNF_ImageJPEG*>(m_reader.get())->InvertedCMYK()) {
        const size_t n = size_t{m_width} * m_height;
        for (signed char c = 0; c < 4; ++c) {
            unsigned char* p = m_reader->GetImageDataPtr(c);
            for (size_t i = 0; i < n; ++i)
                p[i] = static_cast<unsigned char>(255 - p[i]);
        }
    }
    return true;
}

bool CQNF_ImageFile::LoadHeader(const std::string& path, uint8_t kinds, uint32_t maxSide, uint64_t maxBytes,
                                PsdRead psdRead)
{
    CQNF_StdFile file;
    if (!i_Open(path, kinds, maxSide, maxBytes, file))
        return false;
    const bool whole = m_kind == KindPSD && psdRead == PsdRead::Whole;
    if (!(whole ? m_reader->GetImageInfoByFile(file) : m_reader->GetImageInfoByFileHead(file)))
        return i_HeaderRefused(path);
    // A PSD read whole is judged as Load judges it, without decoding, so
    // that a damaged one reads as damaged here too, before anything its
    // header says (its size) is weighed. Its opening alone (header, colour
    // data, image resources) is judged as far as it goes, and gives the
    // resolution.
    if (m_kind == KindPSD) {
        auto* psd = static_cast<CQNF_ImagePSD*>(m_reader.get());
        const bool sound = whole ? psd->JudgeImageLocal() &&
                                       (psd->LJudgeLocal() || psd->GetError() == qncodec::ErrUnsupported)
                                 : psd->JudgeOpeningLocal();
        if (!sound)
            return i_Fail(Failure::Undecodable, i_Unreadable(path, psd->GetError()), psd->GetError());
    }
    i_ReadFacts();
    // Nothing is decoded: no plane to hand out.
    m_failure = Failure::None;
    return true;
}

void qnTakenResolution(double& x, double& y)
{
    // Files say "no resolution" in many ways: a pHYs or JFIF density of 0
    // or in no unit, an EXIF resolution of 0, a PSD resource of 0 (which
    // some writers store as 1/65536). Under 1 pixel per inch (a pixel
    // wider than an inch) none of them names a size a print could have.
    auto names = [](double r) { return std::isfinite(r) && r >= 1.0; };
    if (!names(x))
        x = names(y) ? y : kQnNoResolution;
    if (!names(y))
        y = x;
}

bool qnCodecSavePNG(const char* path, uint16_t width, uint16_t height, uint8_t codecMode,
                    const unsigned char* const planes[4], const unsigned char* alpha, uint32_t stride,
                    double resolution, const char* product, unsigned short& error, bool alphaChannel)
{
    return qnCodecSavePNG(path, width, height, codecMode, planes, alpha, stride, resolution, resolution, product, error,
                          alphaChannel);
}

bool qnCodecSavePNG(const char* path, uint16_t width, uint16_t height, uint8_t codecMode,
                    const unsigned char* const planes[4], const unsigned char* alpha, uint32_t stride,
                    double resolutionX, double resolutionY, const char* product, unsigned short& error,
                    bool alphaChannel)
{
    error = 0;
    const size_t n = size_t{width} * height;
    if (!n || stride < width) {
        error = qncodec::ErrArgument;
        return false;
    }
    const bool grey = codecMode == qncodec::ModeGrey;
    const int colours = grey ? 1 : 3;
    const int out = colours + (alphaChannel ? 1 : 0);
    const unsigned char* dst[4] = {};
    uint32_t dstStride = stride;
    // Planes that are there as the file wants them are written from where
    // they lie; only CMYK, a missing plane or a missing transparency takes
    // a converted copy.
    bool direct = codecMode != qncodec::ModeCMYK && (!alphaChannel || alpha);
    for (int c = 0; c < colours; ++c)
        direct = direct && planes[c];
    CQNF_Mem block;
    if (direct) {
        for (int c = 0; c < colours; ++c)
            dst[c] = planes[c];
        if (alphaChannel)
            dst[colours] = alpha;
    } else {
        if (!block.alloc(qnMulSize({n, static_cast<uint64_t>(out)}))) {
            error = block.GetError();
            return false;
        }
        unsigned char* copy[4] = {};
        for (int k = 0; k < out; ++k)
            dst[k] = copy[k] = block.GetPtr() + k * n;
        dstStride = width;
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                const size_t s = size_t{y} * stride + x;
                const size_t d = size_t{y} * width + x;
                auto at = [&](int c) -> unsigned { return planes[c] ? planes[c][s] : 0u; };
                if (grey) {
                    copy[0][d] = static_cast<unsigned char>(at(0));
                } else if (codecMode == qncodec::ModeCMYK) {
                    const unsigned k = at(3);
                    for (int c = 0; c < 3; ++c)
                        copy[c][d] = qncodec::RGBFromCMYK(at(c), k);
                } else {
                    for (int c = 0; c < 3; ++c)
                        copy[c][d] = static_cast<unsigned char>(at(c));
                }
                if (alphaChannel)
                    copy[colours][d] = alpha ? alpha[s] : 255;
            }
        }
    }
    CQNF_ImagePNG::PNGWRITE_PARAMS p;
    p.width = width;
    p.height = height;
    if (alphaChannel)
        p.mode = grey ? CQNF_ImagePNG::WriteGreyAlpha : CQNF_ImagePNG::WriteRGBA;
    else
        p.mode = grey ? CQNF_ImagePNG::WriteGrey : CQNF_ImagePNG::WriteRGB;
    for (int k = 0; k < out; ++k)
        p.planes[k] = const_cast<unsigned char*>(dst[k]);
    p.stride = dstStride;
    p.product = product;
    qnTakenResolution(resolutionX, resolutionY);
    p.resolution = resolutionX;
    p.resolutionY = resolutionY;
    p.speed = CQNF_ImagePNG::PNGWRITE_PARAMS::Speed::Fast;
    CQNF_SafeFile file;
    if (!file.Open(path)) {
        error = file.GetError();
        return false;
    }
    CQNF_ImagePNG png;
    if (!png.Create(file.File()) || !png.WritePNG(&p)) {
        error = png.GetError() ? png.GetError() : qnerr::FileWrite;
        return false;  // the temporary file goes with `file`
    }
    if (!file.Commit()) {
        error = file.GetError();
        return false;
    }
    return true;
}

bool qnSaveImagePNG(const char* path, CQNF_Image& image, const char* product, unsigned short& error)
{
    const uint8_t mode = image.GetImageMode();
    if (!image.HasPixels() || (mode != qnimg::ModeRGB && mode != qnimg::ModeRGBA)) {
        error = qncodec::ErrArgument;
        return false;
    }
    const unsigned char* planes[4] = {image.GetPlane(0), image.GetPlane(1), image.GetPlane(2), nullptr};
    const bool alpha = mode == qnimg::ModeRGBA;
    return qnCodecSavePNG(path, image.GetImageWidth(), image.GetImageHeight(), qncodec::ModeColour, planes,
                          alpha ? image.GetPlane(3) : nullptr, image.GetImageWidth(), 72.0, product, error, alpha);
}
