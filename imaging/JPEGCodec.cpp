#include "imaging/JPEGCodec.h"

#include "imaging/JPEGSource.h"

#include <jerror.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cstring>
#include <string>

using qnjpeg::Guard;

namespace {

// No encoder writes more than a few dozen scans; every scan of a
// progressive file is a pass over all of the blocks it covers, which a
// crafted file can code in a few bytes (one run of empty blocks), so a
// file of very many keeps the decoder busy far beyond what its size says.
constexpr int kMostScans = 256;

// Which components a scan of the file has carried so far, and where each
// coefficient of a progressive file stands: the library calls its progress
// hook before each step of reading a file of several scans, with the scan
// being read described in the decompressor.
struct ScanWatch {
    jpeg_progress_mgr pub;
    bool seen[MAX_COMPONENTS];
    int scan;
    int bits[MAX_COMPONENTS][DCTSIZE2];
    // Why the reading was stopped here: a scan that sends nothing new (its
    // number), or one scan too many.
    int repeated;
    bool tooMany;
};

extern "C" void NoteScan(j_common_ptr common)
{
    auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
    auto* watch = reinterpret_cast<ScanWatch*>(cinfo->progress);
    for (int i = 0; i < cinfo->comps_in_scan && i < MAX_COMPONENTS; ++i)
        if (const jpeg_component_info* c = cinfo->cur_comp_info[i]; c && c->component_index < MAX_COMPONENTS)
            watch->seen[c->component_index] = true;
    if (cinfo->input_scan_number == watch->scan)
        return;
    watch->scan = cinfo->input_scan_number;
    if (watch->scan > kMostScans)
        watch->tooMany = true;
    if (cinfo->progressive_mode && cinfo->coef_bits) {
        // Each scan of a progressive file sends a coefficient first or one
        // bit of it further, and the library has noted how far each went
        // before the scan's data is read: a scan that moved none of them
        // sends again what was sent (the library warns only of some such).
        const int components = std::min(cinfo->num_components, MAX_COMPONENTS);
        bool moved = false;
        for (int c = 0; c < components; ++c)
            for (int k = 0; k < DCTSIZE2; ++k)
                if (cinfo->coef_bits[c][k] != watch->bits[c][k]) {
                    watch->bits[c][k] = cinfo->coef_bits[c][k];
                    moved = true;
                }
        if (!moved)
            watch->repeated = watch->scan;
    }
    if (watch->tooMany || watch->repeated)
        longjmp(reinterpret_cast<qntJPEGERROR*>(cinfo->err)->recovery, 1);
}

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

// The fewest bytes of coded data the frame's blocks can take. With Huffman
// coding every block of every component costs at least one code of a bit:
// sequential scans code a DC difference and at least an end of block, the
// first DC scan of a progressive file one DC code. Arithmetic coding can
// take almost nothing for a flat picture, so it promises no minimum.
uint64_t LeastCodedBytes(const jpeg_decompress_struct& cinfo)
{
    if (cinfo.arith_code)
        return 0;
    const uint64_t bitsPerBlock = cinfo.progressive_mode ? 1 : 2;
    uint64_t blocks = 0;
    for (int c = 0; c < cinfo.num_components; ++c)
        blocks += uint64_t{cinfo.comp_info[c].width_in_blocks} * cinfo.comp_info[c].height_in_blocks;
    return (blocks * bitsPerBlock + 7) / 8;
}

// Whether every component got all of its coded data from the scans read:
// a progressive file cut between scans, or a file of one scan per
// component cut before its last, decodes without a warning into a picture
// missing detail or whole colours.
bool ScansComplete(const jpeg_decompress_struct& cinfo, const bool* seen)
{
    if (cinfo.progressive_mode) {
        // The last bit position each coefficient was sent down to: 0 once
        // it is whole, -1 when no scan carried it.
        for (int c = 0; c < cinfo.num_components; ++c)
            for (int k = 0; k < DCTSIZE2; ++k)
                if (cinfo.coef_bits[c][k] != 0)
                    return false;
        return true;
    }
    for (int c = 0; c < cinfo.num_components; ++c)
        if (!seen[c])
            return false;
    return true;
}

// The library's message for its last error, with a small first letter.
std::string LibraryWords(jpeg_decompress_struct& cinfo)
{
    char text[JMSG_LENGTH_MAX] = {};
    (*cinfo.err->format_message)(reinterpret_cast<j_common_ptr>(&cinfo), text);
    if (text[0] >= 'A' && text[0] <= 'Z' && !(text[1] >= 'A' && text[1] <= 'Z'))
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

}  // namespace

// One decompressor with its error manager; destroyed on every way out.
struct CQNF_ImageJPEG::Job {
    jpeg_decompress_struct cinfo;
    qntJPEGERROR err;
    ScanWatch watch;
    bool created = false;
    Job()
    {
        qnJpegErrorSetup(&cinfo, &err);
        std::memset(&watch, 0, sizeof watch);
        watch.pub.progress_monitor = NoteScan;
        // The library's mark for a coefficient no scan has sent.
        for (auto& component : watch.bits)
            std::fill(std::begin(component), std::end(component), -1);
    }
    ~Job()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // Whether the data ran out before the library stopped.
    bool Ended() const
    {
        const auto* src = reinterpret_cast<const qntJPEGMEMSOURCE*>(cinfo.src);
        return src && src->ended;
    }
};

bool CQNF_ImageJPEG::i_Failed(Job& job)
{
    if (job.watch.tooMany)
        return i_Damaged("it has more than " + std::to_string(kMostScans) + " scans");
    if (job.watch.repeated)
        return i_Damaged("its scan " + std::to_string(job.watch.repeated) + " sends again what earlier scans sent");
    // Whatever the library met after the data had run out comes of the
    // data being cut.
    if (job.Ended() || job.err.truncated)
        return i_Truncated();
    if (job.err.damaged) {
        if (job.err.pub.msg_code == JWRN_HIT_MARKER) {
            char marker[8];
            std::snprintf(marker, sizeof marker, "0x%02X", static_cast<unsigned>(job.err.marker) & 0xFFu);
            return i_Damaged(std::string("a scan's coded data stops at a marker (") + marker +
                             ") in the middle of the file");
        }
        return i_Damaged(LibraryWords(job.cinfo));
    }
    const jpeg_error_mgr& e = job.err.pub;
    switch (e.msg_code) {
    case JERR_NO_IMAGE:  // an end marker before any frame
    case JERR_INPUT_EOF:
    case JERR_INPUT_EMPTY:
        return i_Truncated();
    case JERR_EMPTY_IMAGE: {
        const jpeg_decompress_struct& c = job.cinfo;
        // A height of 0 says a later marker gives it (DNL), which the
        // library does not read; a width or component count of 0 is damage.
        if (c.image_height == 0 && c.image_width > 0 && c.num_components > 0)
            return i_Refuse("a height given after the picture's data (DNL marker) is not read");
        return i_Damaged("it describes a picture of " + std::to_string(c.image_width) + " x " +
                         std::to_string(c.image_height) + " pixels");
    }
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
        if (!i_WithinLimits(job.cinfo.image_width, job.cinfo.image_height, 0))
            return false;
        return i_Refuse(std::to_string(job.cinfo.image_width) + " x " + std::to_string(job.cinfo.image_height) +
                        " pixels, more than the decoder takes");
    case JERR_BAD_PRECISION:
        return i_Refuse(std::to_string(e.msg_parm.i[0]) + " bits per sample are not read");
    case JERR_SOF_UNSUPPORTED:
    case JERR_ARITH_NOTIMPL:
    case JERR_NOT_COMPILED:
    case JERR_NOTIMPL:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_CCIR601_NOTIMPL:
    case JERR_FRACT_SAMPLE_NOTIMPL:
    case JERR_COMPONENT_COUNT:
        return i_Refuse(LibraryWords(job.cinfo));
    case JERR_OUT_OF_MEMORY:
    case JERR_NO_BACKING_STORE:
        // The library's working memory is held to what the limits leave
        // beside the planes.
        return i_Refuse(std::to_string(job.cinfo.image_width) + " x " + std::to_string(job.cinfo.image_height) +
                        " pixels coded this way need more memory to decode than one picture may take");
    default:
        return i_Damaged(LibraryWords(job.cinfo));
    }
}

bool CQNF_ImageJPEG::i_ReadHeader(Job& job, const unsigned char* data, size_t size)
{
    j_decompress_ptr cinfo = &job.cinfo;
    bool& created = job.created;
    // Planes are allocated by us and counted against the limits first; the
    // library gets what is left (i_Parse narrows it once the planes are known).
    const long maxMemory = static_cast<long>(m_limits.maxBytes > 0x7FFFFFFF ? 0x7FFFFFFF : m_limits.maxBytes);
    if (!Guard(job.err, [&] {
            jpeg_create_decompress(cinfo);
            created = true;
            cinfo->mem->max_memory_to_use = maxMemory;
            jpeg_frommem_src(cinfo, data, size);
            jpeg_read_header(cinfo, TRUE);
        }))
        return i_Failed(job);
    // Headers read past the end of the data were made of the end marker the
    // source hands out there.
    if (job.Ended())
        return i_Truncated("it ends inside its headers");
    m_inverted = cinfo->saw_Adobe_marker != 0;
    const uint8_t mode = ModeOf(cinfo->out_color_space);
    if (!mode)
        return i_Refuse(std::to_string(cinfo->num_components) + " colour components are not read");
    const uint64_t planes = mode == qncodec::ModeColour ? 3 : mode == qncodec::ModeGrey ? 1 : 4;
    if (!i_WithinLimits(cinfo->image_width, cinfo->image_height,
                        uint64_t{cinfo->image_width} * cinfo->image_height * planes))
        return false;
    // A file too small to hold the data of the picture its header describes
    // is cut: refused before anything of the picture's size is allocated.
    const uint64_t least = LeastCodedBytes(*cinfo);
    if (!m_headerOnly && size < least)
        return i_Truncated("the file has " + std::to_string(size) + " bytes, fewer than the " + std::to_string(least) +
                           " the coded data of its " + std::to_string(cinfo->image_width) + " x " +
                           std::to_string(cinfo->image_height) + " picture needs");
    m_width = static_cast<uint16_t>(cinfo->image_width);
    m_height = static_cast<uint16_t>(cinfo->image_height);
    m_depth = 8;
    m_mode = mode;
    return true;
}

bool CQNF_ImageJPEG::GetImageInfoByPtr(const void* data, size_t size)
{
    i_Begin();
    m_inverted = false;
    const auto* p = static_cast<const unsigned char*>(data);
    if (!p || size < 2)
        return i_Truncated();
    if (!StartsLikeJpeg(p))
        return i_Refuse("not a JPEG file");
    Job job;
    return i_ReadHeader(job, p, size);
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
    i_Begin();
    m_inverted = false;
    i_FreePlanes();
    if (!i_Report(0))
        return false;
    const auto* p = static_cast<const unsigned char*>(data);
    if (!p || size < 2)
        return i_Truncated();
    Job job;
    j_decompress_ptr cinfo = &job.cinfo;
    if (!i_Report(1) || !i_Report(2))
        return false;
    if (!i_ReadHeader(job, p, size))
        return false;
    if (!i_Report(3))
        return false;
    const uint64_t planes = m_mode == qncodec::ModeColour ? 3 : m_mode == qncodec::ModeGrey ? 1 : 4;
    const uint64_t pixels = uint64_t{m_width} * m_height;
    // The library's working memory (a progressive file's coefficients, for
    // one) comes out of what the planes leave of the limit.
    cinfo->mem->max_memory_to_use =
        static_cast<long>(std::clamp<uint64_t>(m_limits.maxBytes - pixels * planes, 1, 0x7FFFFFFF));
    // A file of several scans is read whole here, before any plane exists.
    const bool scans = cinfo->progressive_mode || cinfo->comps_in_scan < cinfo->num_components;
    if (scans)
        cinfo->progress = &job.watch.pub;
    // Junk between the headers is dropped; among the coded data (which a
    // file of several scans reads whole here) a great many unused bytes
    // were never part of the picture.
    const long unusedInHeaders = job.err.unusedBytes;
    if (!Guard(job.err, [&] { jpeg_start_decompress(cinfo); }))
        return i_Failed(job);
    if (job.err.truncated || job.err.damaged)
        return i_Failed(job);
    if (job.err.unusedBytes - unusedInHeaders > kJpegMostPaddingBytes)
        return i_Damaged(std::to_string(job.err.unusedBytes - unusedInHeaders) + " bytes of its data were never decoded");
    if (scans && !ScansComplete(*cinfo, job.watch.seen))
        return i_Truncated("scans of its picture are missing");
    if (!i_Report(4))
        return false;
    const uint32_t width = cinfo->output_width;
    const uint32_t height = cinfo->output_height;
    const uint32_t components = static_cast<uint32_t>(cinfo->output_components);
    if (width != m_width || height != m_height || components != planes)
        return i_Damaged("its frame does not decode to the size it gives");

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
        }))
        return i_Failed(job);
    if (!i_Report(11))
        return false;

    unsigned char* out[4] = {};
    for (uint64_t k = 0; k < planes; ++k)
        out[k] = i_Plane(static_cast<signed char>(k)).GetPtr();
    for (uint32_t y = 0; y < height; ++y) {
        if (!i_Report(static_cast<uint8_t>(11 + 88 * uint64_t{y} / height)))
            return false;
        JDIMENSION got = 0;
        if (!Guard(job.err, [&] { got = jpeg_read_scanlines(cinfo, row, 1); }))
            return i_Failed(job);
        // Rows decoded once the data had run short are the library's grey
        // fill, not the picture: the decoding stops at the first.
        if (job.err.truncated || job.err.damaged || got != 1)
            return i_Failed(job);
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
    // The end of the data is read only now: a great many bytes left over
    // before it mean the last rows came of whatever filled the file (a
    // download cut and padded with zeros), not of the picture.
    if (!Guard(job.err, [&] { jpeg_finish_decompress(cinfo); }))
        return i_Failed(job);
    if (job.err.unusedBytes - unusedInHeaders > kJpegMostPaddingBytes)
        return i_Damaged(std::to_string(job.err.unusedBytes - unusedInHeaders) + " bytes of its data were never decoded");
    if (m_progress)
        m_progress->Progress(100, m_progress->GetUserDataPtr());
    return true;
}
