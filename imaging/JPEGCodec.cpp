#include "imaging/JPEGCodec.h"

#include "imaging/JPEGSource.h"

#include <cstring>

using qnjpeg::Guard;

namespace {

// One decompressor with its error manager; destroyed on every way out.
struct JpegJob {
    jpeg_decompress_struct cinfo;
    qntJPEGERROR err;
    bool created = false;
    JpegJob() { qnJpegErrorSetup(&cinfo, &err); }
    ~JpegJob()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
    JpegJob(const JpegJob&) = delete;
    JpegJob& operator=(const JpegJob&) = delete;
};

// Codec mode for the colour space the library will deliver; 0 for others.
uint8_t ModeOf(J_COLOR_SPACE space)
{
    switch (space) {
    case JCS_RGB: return qncodec::ModeColour;
    case JCS_GRAYSCALE: return qncodec::ModeGrey;
    case JCS_CMYK: return qncodec::ModeCMYK;
    default: return 0;
    }
}

bool StartsLikeJpeg(const unsigned char* p)
{
    return p[0] == 0xFF && (p[1] == 0xD8 || p[1] == 0xC0 || p[1] == 0xC1);
}

}  // namespace

bool CQNF_ImageJPEG::GetImageInfoByPtr(const void* data, size_t size)
{
    ResetError();
    m_inverted = false;
    const auto* p = static_cast<const unsigned char*>(data);
    if (!p || size < 2) {
        SetError(qncodec::ErrCorrupt);
        return false;
    }
    if (!StartsLikeJpeg(p)) {
        SetError(qncodec::ErrUnsupported);
        return false;
    }
    JpegJob job;
    j_decompress_ptr cinfo = &job.cinfo;
    bool& created = job.created;
    const long maxMemory = static_cast<long>(m_limits.maxBytes > 0x7FFFFFFF ? 0x7FFFFFFF : m_limits.maxBytes);
    if (!Guard(job.err, [&] {
            jpeg_create_decompress(cinfo);
            created = true;
            cinfo->mem->max_memory_to_use = maxMemory;
            jpeg_frommem_src(cinfo, p, size);
            jpeg_read_header(cinfo, TRUE);
        })) {
        SetError(qncodec::ErrUnsupported);
        return false;
    }
    m_inverted = cinfo->saw_Adobe_marker != 0;
    const uint8_t mode = ModeOf(cinfo->out_color_space);
    if (!mode) {
        SetError(qncodec::ErrUnsupported);
        return false;
    }
    if (!i_WithinLimits(cinfo->image_width, cinfo->image_height, 0))
        return false;
    m_width = static_cast<uint16_t>(cinfo->image_width);
    m_height = static_cast<uint16_t>(cinfo->image_height);
    m_depth = 8;
    m_mode = mode;
    return true;
}

bool CQNF_ImageJPEG::ParseImageByPtr(const void* data, size_t size)
{
    if (i_Parse(data, size))
        return true;
    i_FreePlanes();
    return false;
}

bool CQNF_ImageJPEG::i_Parse(const void* data, size_t size)
{
    ResetError();
    m_inverted = false;
    i_FreePlanes();
    if (!i_Report(0))
        return false;
    const auto* p = static_cast<const unsigned char*>(data);
    if (!p || size < 2) {
        SetError(qncodec::ErrCorrupt);
        return false;
    }
    JpegJob job;
    j_decompress_ptr cinfo = &job.cinfo;
    bool& created = job.created;
    auto failed = [this]() {
        SetError(qncodec::ErrCorrupt);
        return false;
    };
    const long maxMemory = static_cast<long>(m_limits.maxBytes > 0x7FFFFFFF ? 0x7FFFFFFF : m_limits.maxBytes);
    if (!Guard(job.err, [&] {
            jpeg_create_decompress(cinfo);
            created = true;
            cinfo->mem->max_memory_to_use = maxMemory;
        }))
        return failed();
    if (!i_Report(1))
        return false;
    jpeg_frommem_src(cinfo, p, size);
    if (!i_Report(2))
        return false;
    if (!Guard(job.err, [&] { jpeg_read_header(cinfo, TRUE); }))
        return failed();
    m_inverted = cinfo->saw_Adobe_marker != 0;
    if (!i_Report(3))
        return false;
    const uint8_t mode = ModeOf(cinfo->out_color_space);
    if (!mode) {
        SetError(qncodec::ErrUnsupported);
        return false;
    }
    const uint64_t planes = mode == qncodec::ModeColour ? 3 : mode == qncodec::ModeGrey ? 1 : 4;
    if (!i_WithinLimits(cinfo->image_width, cinfo->image_height,
                        uint64_t{cinfo->image_width} * cinfo->image_height * planes))
        return false;
    if (!Guard(job.err, [&] { jpeg_start_decompress(cinfo); }))
        return failed();
    if (!i_Report(4))
        return false;
    const uint32_t width = cinfo->output_width;
    const uint32_t height = cinfo->output_height;
    const uint32_t components = static_cast<uint32_t>(cinfo->output_components);
    if (width == 0 || height == 0 || width > 65535 || height > 65535 || components != planes)
        return failed();
    m_width = static_cast<uint16_t>(width);
    m_height = static_cast<uint16_t>(height);
    m_depth = 8;
    m_mode = mode;

    const uint64_t pixels = uint64_t{width} * height;
    for (uint64_t k = 0; k < planes; ++k) {
        CQNF_Mem& m = i_Plane(static_cast<signed char>(k));
        if (!m.alloc(pixels)) {
            SetError(qncodec::ErrMemory);
            return false;
        }
    }
    if (!i_Report(10))
        return false;
    JSAMPARRAY row = nullptr;
    if (!Guard(job.err, [&] {
            row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                              width * components, 1);
        })) {
        SetError(qncodec::ErrMemory);
        return false;
    }
    if (!i_Report(11))
        return false;

    unsigned char* out[4] = {};
    for (uint64_t k = 0; k < planes; ++k)
        out[k] = i_Plane(static_cast<signed char>(k)).GetPtr();
    for (uint32_t y = 0; y < height; ++y) {
        if (!i_Report(static_cast<uint8_t>(11 + 88 * uint64_t{y} / height)))
            return false;
        JDIMENSION got = 0;
        if (!Guard(job.err, [&] { got = jpeg_read_scanlines(cinfo, row, 1); }) || got != 1)
            return failed();
        const JSAMPLE* s = row[0];
        const size_t o = size_t{y} * width;
        if (components == 1) {
            std::memcpy(out[0] + o, s, width);
        } else {
            for (uint32_t x = 0; x < width; ++x, s += components)
                for (uint32_t c = 0; c < components; ++c)
                    out[c][o + x] = s[c];
        }
    }
    // Rows decoded from data that had already ended are the library's grey
    // fill, not the picture.
    if (job.err.truncated)
        return failed();
    if (!Guard(job.err, [&] { jpeg_finish_decompress(cinfo); }))
        return failed();
    if (m_progress)
        m_progress->Progress(100, m_progress->GetUserDataPtr());
    return true;
}
