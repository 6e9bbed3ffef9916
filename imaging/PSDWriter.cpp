// Writing layered PSD documents.
#include "imaging/PSDBytes.h"
#include "imaging/PSDCodec.h"
#include "imaging/PSDWriterParts.h"

#include "imaging/Div255.h"

#include "imaging/Image.h"
#include "imaging/RowScan.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

using qnpsdw::kKeptBytes;
using qnpsdw::kMergedBandRows;
using qnpsdw::RowStore;
using qnpsd::PutU16;
using qnpsd::PutU32;

namespace {

uint32_t ColourChannels(uint8_t mode)
{
    switch (mode) {
    case qncodec::ModeColour: return 3;
    case qncodec::ModeGrey: return 1;
    case qncodec::ModeCMYK: return 4;
    default: return 0;
    }
}

uint16_t FileColourMode(uint8_t mode)
{
    return mode == qncodec::ModeColour ? 3 : mode == qncodec::ModeGrey ? 1 : 4;
}

// A 16.16 fixed-point resolution. The field cannot hold a negative value
// or 65536 and more, so those are clamped rather than wrapped; a value that
// is no number at all becomes the usual 72.
void ResolutionField(double res, uint16_t& whole, uint16_t& fraction)
{
    if (!(res == res))
        res = 72.0;
    if (res < 0.0)
        res = 0.0;
    if (res >= 65536.0)
        res = 65535.0 + 65535.0 / 65536.0;
    const double w = std::floor(res);
    whole = static_cast<uint16_t>(w);
    fraction = static_cast<uint16_t>((res - w) * 65536.0);
}

// The length of name[0..n) without a character that n cuts in two: a name
// cut to a field's bytes must not end in half a UTF-8 sequence. Bytes that
// are no such sequence (Latin-1 text) are kept as they are.
size_t WholeCharacters(const char* name, size_t n)
{
    size_t start = n;
    while (start > 0 && n - start < 3 && (static_cast<unsigned char>(name[start - 1]) & 0xC0) == 0x80)
        --start;
    if (start == 0)
        return n;
    const auto lead = static_cast<unsigned char>(name[start - 1]);
    const size_t needs = lead >= 0xF0 && lead < 0xF8 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return lead >= 0xC0 && lead < 0xF8 && n - (start - 1) < needs ? start - 1 : n;
}

// The UTF-16 units of a layer name: the system's 8-bit text, as file names
// take it (UTF-8, or Latin-1 when the bytes are not valid UTF-8).
size_t NameUnits(const char* name, uint16_t* units)
{
    HFSUniStr255 u;
    if (CQNF_StdFile::HFSNameGetUnicodeName(name, &u, qnos::SystemEncoding) != qnos::NoErr)
        return 0;
    std::memcpy(units, u.unicode, size_t{u.length} * 2);
    return u.length;
}

}  // namespace

// --------------------------------------------------------------------------
// Collecting what to write

bool CQNF_ImagePSD::Write_Init(const PSDMLWRITE_INITPARAMS* params)
{
    if (!params) {
        SetError(qncodec::ErrArgument);
        return false;
    }
    m_writeParams = *params;
    m_writeInit = true;
    return true;
}

bool CQNF_ImagePSD::Write_AddLayer(const PSDMLWRITE_LAYERPARAMS* params, unsigned char* const* planes,
                                   uint32_t stride)
{
    if (!params || !planes) {
        SetError(qncodec::ErrArgument);
        return false;
    }
    std::unique_ptr<WriteLayer> layer(new (std::nothrow) WriteLayer);
    if (!layer) {
        SetError(qncodec::ErrMemory);
        return false;
    }
    layer->params = *params;
    // A caller's copy into the 64-byte field may have cut the last character;
    // only a name that fills the field can have been cut.
    const size_t given = strnlen(layer->params.name, 63);
    if (given == 63)
        layer->params.name[WholeCharacters(layer->params.name, given)] = 0;
    // Only the planes the mode uses are read: a colour caller may hand an
    // array of four. Before Write_Init the mode is not known yet.
    const uint32_t n = ColourChannels(m_writeParams.mode);
    const uint32_t take = m_writeInit && n ? n + 1 : 5;
    for (uint32_t k = 0; k < 5; ++k)
        layer->planes[k] = k < take ? planes[k] : nullptr;
    layer->stride = stride;
    try {
        m_writeLayers.push_back(std::move(layer));
    } catch (const std::bad_alloc&) {
        SetError(qncodec::ErrMemory);
        return false;
    }
    return true;
}

bool CQNF_ImagePSD::Write_AddLayer(const PSDMLWRITE_LAYERPARAMS* params, CQNF_Image* image)
{
    if (!params || !image) {
        SetError(qncodec::ErrArgument);
        return false;
    }
    const uint32_t n = ColourChannels(m_writeParams.mode);
    if (!n) {
        SetError(qncodec::ErrArgument);
        return false;
    }
    const uint32_t w = image->GetImageWidth();
    const uint32_t h = image->GetImageHeight();
    CQNF_Mem* block = image->GetMemObj();
    const uint64_t plane = uint64_t{w} * h;
    // The image must really hold every plane the mode takes (an RGB image
    // has no transparency plane to give) and the layer must fit inside it.
    if (!block || !block->GetPtr() || plane == 0 || block->GetSize() < plane * (n + 1) || params->width > w ||
        params->height > h) {
        SetError(qncodec::ErrArgument);
        return false;
    }
    unsigned char* planes[5] = {};
    for (uint32_t k = 0; k <= n; ++k)
        planes[k] = block->GetPtr() + k * plane;
    return Write_AddLayer(params, planes, w);
}

bool CQNF_ImagePSD::Write_SetMerged(const unsigned char* const* planes, uint32_t stride)
{
    m_mergedSource = nullptr;
    m_mergedGiven = false;
    std::fill(std::begin(m_merged), std::end(m_merged), nullptr);
    m_mergedStride = 0;
    if (!planes)
        return true;
    // Colour planes and transparency: as many as the mode takes (checked
    // against the mode and the width when the document is written).
    const uint32_t n = ColourChannels(m_writeParams.mode);
    if (!m_writeInit || !n) {
        SetError(qncodec::ErrArgument);
        return false;
    }
    for (uint32_t k = 0; k <= n; ++k)
        m_merged[k] = planes[k];
    m_mergedStride = stride;
    m_mergedGiven = true;
    return true;
}

bool CQNF_ImagePSD::Write_SetMergedSource(MergedSource source)
{
    Write_SetMerged(nullptr, 0);
    if (!source)
        return true;
    if (!m_writeInit || !ColourChannels(m_writeParams.mode)) {
        SetError(qncodec::ErrArgument);
        return false;
    }
    m_mergedSource = std::move(source);
    return true;
}

void CQNF_ImagePSD::WriteClean()
{
    m_writeLayers.clear();
    Write_SetMerged(nullptr, 0);
}

bool CQNF_ImagePSD::Write_MACWord(uint16_t value, uint32_t position)
{
    unsigned char b[2];
    PutU16(b, value);
    return Write_Buffer(b, 2, position);
}

bool CQNF_ImagePSD::Write_MACDWord(uint32_t value, uint32_t position)
{
    unsigned char b[4];
    PutU32(b, value);
    return Write_Buffer(b, 4, position);
}

// --------------------------------------------------------------------------
// The file

bool CQNF_ImagePSD::WritePSD()
{
    if (!m_file)
        return false;
    ResetError();
    Writer w(*this);
    return w.Run();
}

bool CQNF_ImagePSD::Writer::Validate()
{
    if (!m_c.m_writeInit) {
        m_c.SetError(qncodec::ErrArgument);
        return false;
    }
    m_n = ColourChannels(P().mode);
    const auto& layers = m_c.m_writeLayers;
    bool ok = m_n != 0 && P().width >= 1 && P().height >= 1 && P().width <= MaxSide && P().height <= MaxSide &&
              layers.size() <= MaxLayers && (P().iccSize == 0 || P().iccProfile);
    uint32_t widest = P().width;
    for (const auto& l : layers) {
        if (!ok)
            break;
        const auto& p = l->params;
        if (p.width > MaxSide || p.height > MaxSide) {
            ok = false;
            break;
        }
        if (p.width && p.height) {
            ok = l->stride >= p.width;
            for (uint32_t k = 0; k <= m_n && ok; ++k)
                ok = l->planes[k] != nullptr;
        }
        if (p.width > widest)
            widest = p.width;
    }
    if (ok && m_c.m_mergedGiven) {
        ok = m_c.m_mergedStride >= P().width;
        for (uint32_t k = 0; k <= m_n && ok; ++k)
            ok = m_c.m_merged[k] != nullptr;
    }
    if (!ok) {
        m_c.SetError(qncodec::ErrArgument);
        return false;
    }
    // One scratch row for packing, big enough for the canvas rows of the
    // merged image as well as the widest layer, then a band of canvas rows
    // (one row for a picture made by the caller's source, which is put over
    // white a row at a time and then read where it lies).
    const uint32_t bandRows = m_c.m_mergedSource ? 1 : kMergedBandRows;
    if (!m_scratch.alloc(qnMulSize({PackBitsBound(widest), 1}) + qnMulSize({P().width, bandRows}))) {
        m_c.SetError(m_scratch.GetError());
        return false;
    }
    return true;
}

// The file is written from its first byte to its last and never gone back
// into: a disk that misplaces a write into what it holds already (a vfat
// stick through FUSE does) gets the same bytes as any other. So every
// length is known before it is written: the layers' records are gathered
// first, each channel packed once, its rows kept as plans (their packets'
// headers; the bytes the packets take the layer's planes still hold) until
// they are written after the records.
bool CQNF_ImagePSD::Writer::Run()
{
    if (!Validate())
        return false;
    const auto& layers = m_c.m_writeLayers;
    const uint64_t count = layers.size();

    if (!Report(0) || !Header() || !Report(2))
        return false;

    // Layer and mask information: the records, then every layer's channels.
    const size_t channels = m_n + 1;
    // A channel's row table is kept only where its rows' plans are not.
    std::vector<std::vector<unsigned char>> tables;
    std::vector<uint32_t> lengths;
    std::vector<unsigned char> kept;
    try {
        tables.resize(layers.size() * channels);
        lengths.assign(layers.size() * channels, 0);
        kept.assign(layers.size() * channels, 0);
    } catch (const std::bad_alloc&) {
        m_c.SetError(qncodec::ErrMemory);
        return false;
    }
    uint64_t info = 2;
    for (size_t i = 0; i < layers.size(); ++i) {
        const WriteLayer& l = *layers[i];
        const auto& p = l.params;
        // A layer without pixels still has its channels: the compression
        // word and a row table of zeros, which is not kept.
        const bool empty = !p.width || !p.height;
        for (size_t k = 0; k < channels; ++k) {
            uint32_t& length = lengths[i * channels + k];
            bool keptRows = false;
            if (empty)
                length = 2 + p.height * uint32_t{2};
            else if (!MeasureChannel(l.planes[k], l.stride, p.width, p.height, tables[i * channels + k], length,
                                     keptRows))
                return false;
            kept[i * channels + k] = keptRows;
            info += length;
        }
        // The record's length: the record counted, not written yet.
        m_counting = true;
        m_counted = 0;
        const bool counted = LayerRecord(l, &lengths[i * channels]);
        m_counting = false;
        info += m_counted;
        if (!counted || !Report(2 + 8 * i / count))
            return false;
    }
    const uint32_t pad = info & 1;
    info += pad;
    // The section: the information's length and the information, then an
    // empty global mask (its length 0).
    if (!Fits(m_written + 4 + 4 + info + 4) || !U32(static_cast<uint32_t>(4 + info + 4)) ||
        !U32(static_cast<uint32_t>(info)) || !U16(static_cast<uint16_t>(count)))
        return false;
    for (size_t i = 0; i < layers.size(); ++i)
        if (!LayerRecord(*layers[i], &lengths[i * channels]))
            return false;
    for (size_t i = 0; i < layers.size(); ++i) {
        if (!Report(10 + 50 * i / count))
            return false;
        const WriteLayer& l = *layers[i];
        const auto& p = l.params;
        const bool empty = !p.width || !p.height;
        for (size_t k = 0; k < channels; ++k) {
            if (!PackedChannel(empty ? nullptr : l.planes[k], l.stride, empty ? 0 : p.width, p.height,
                               tables[i * channels + k], kept[i * channels + k] != 0))
                return false;
            std::vector<unsigned char>().swap(tables[i * channels + k]);
        }
    }
    // What the layers took is let go before the merged image is made.
    m_plans.Clear();
    std::vector<std::vector<unsigned char>>().swap(tables);
    std::vector<uint32_t>().swap(lengths);
    std::vector<unsigned char>().swap(kept);
    std::vector<unsigned char>().swap(m_rows);
    if ((pad && !U8(0)) || !U32(0))
        return false;
    if (!Report(60) || !Merged())
        return false;
    return Report(100);
}

bool CQNF_ImagePSD::Writer::Header()
{
    unsigned char h[26] = {'8', 'B', 'P', 'S'};
    PutU16(h + 4, 1);
    PutU16(h + 12, static_cast<uint16_t>(m_n));
    PutU32(h + 14, P().height);
    PutU32(h + 18, P().width);
    PutU16(h + 22, 8);
    PutU16(h + 24, FileColourMode(P().mode));
    if (!Put(h, sizeof h) || !U32(0))
        return false;

    // Image resources: resolution, global light angle, ICC profile. A
    // resource's data is padded to an even length.
    const bool icc = P().iccProfile && P().iccSize;
    const uint32_t iccPad = P().iccSize & 1;
    const uint64_t length = icc ? 56 + uint64_t{P().iccSize} + iccPad : 44;
    if (length > 0xFFFFFFF0u) {
        m_c.SetError(qncodec::ErrArgument);
        return false;
    }
    unsigned char r[44] = {};
    std::memcpy(r, "8BIM", 4);
    PutU16(r + 4, 1005);
    PutU32(r + 8, 16);
    // Across, then down.
    const double resolutions[2] = {P().resolution, P().resolutionY > 0.0 ? P().resolutionY : P().resolution};
    for (int k = 0; k < 2; ++k) {
        uint16_t whole, fraction;
        ResolutionField(resolutions[k], whole, fraction);
        unsigned char* f = r + 12 + 8 * k;
        PutU16(f, whole);
        PutU16(f + 2, fraction);
        PutU16(f + 4, 1);
        PutU16(f + 6, 1);
    }
    std::memcpy(r + 28, "8BIM", 4);
    PutU16(r + 32, 1037);
    PutU32(r + 36, 4);
    PutU32(r + 40, P().globalAngle);
    if (!U32(static_cast<uint32_t>(length)) || !Put(r, sizeof r))
        return false;
    if (icc) {
        unsigned char e[12] = {'8', 'B', 'I', 'M'};
        PutU16(e + 4, 1039);
        PutU32(e + 8, P().iccSize);
        if (!Put(e, sizeof e) || !Put(P().iccProfile, P().iccSize) || (iccPad && !U8(0)))
            return false;
    }
    return true;
}

bool CQNF_ImagePSD::Writer::LayerRecord(const WriteLayer& l, const uint32_t* lengths)
{
    const auto& p = l.params;
    unsigned char b[18];
    PutU32(b, static_cast<uint32_t>(int32_t{p.y}));
    PutU32(b + 4, static_cast<uint32_t>(int32_t{p.x}));
    PutU32(b + 8, static_cast<uint32_t>(int32_t{p.y} + p.height));
    PutU32(b + 12, static_cast<uint32_t>(int32_t{p.x} + p.width));
    PutU16(b + 16, static_cast<uint16_t>(m_n + 1));
    if (!Put(b, sizeof b))
        return false;
    for (uint32_t k = 0; k <= m_n; ++k) {
        if (!U16(k < m_n ? static_cast<uint16_t>(k) : 0xFFFF) || !U32(lengths[k]))
            return false;
    }
    unsigned char blend[12] = {'8', 'B', 'I', 'M', 'n', 'o', 'r', 'm'};
    blend[8] = p.opacity;
    blend[9] = 0;
    blend[10] = p.visible ? 0 : 2;
    blend[11] = 0;
    if (!Put(blend, sizeof blend))
        return false;

    // Extra data: no mask, no blending ranges, the short name, the
    // Unicode name.
    const size_t full = strnlen(p.name, 63);
    const size_t shortLength = full > 55 ? WholeCharacters(p.name, 55) : full;
    const size_t shortBytes = (shortLength / 4) * 4 + 4;
    char nameText[64] = {};
    std::memcpy(nameText, p.name, full);
    uint16_t units[64];
    const size_t n = NameUnits(nameText, units);
    const size_t luni = 8 + 4 + 4 + 2 * (n + 1);
    if (!U32(static_cast<uint32_t>(8 + shortBytes + luni)) || !U32(0) || !U32(0))
        return false;
    unsigned char name[60] = {};
    name[0] = static_cast<unsigned char>(shortLength);
    std::memcpy(name + 1, p.name, shortLength);
    if (!Put(name, shortBytes) || !Tag("8BIM") || !Tag("luni") || !U32(static_cast<uint32_t>(2 * n + 6)) ||
        !U32(static_cast<uint32_t>(n)))
        return false;
    unsigned char u[2 * 64 + 2] = {};
    for (size_t k = 0; k < n; ++k)
        PutU16(u + 2 * k, units[k]);
    return Put(u, 2 * (n + 1));
}

bool CQNF_ImagePSD::Writer::MeasureChannel(const unsigned char* plane, uint32_t stride, uint32_t width,
                                           uint32_t height, std::vector<unsigned char>& table, uint32_t& length,
                                           bool& kept)
{
    try {
        m_rows.resize(size_t{height} * 2);
    } catch (const std::bad_alloc&) {
        m_c.SetError(qncodec::ErrMemory);
        return false;
    }
    uint64_t packed = 0;
    unsigned char* out = m_scratch.GetPtr();
    const auto start = m_plans.End();
    kept = m_keep;
    for (uint32_t y = 0; y < height; ++y) {
        long planned = 0;
        const long n = PackBitsPlan(plane + size_t{y} * stride, width, out, &planned);
        PutU16(m_rows.data() + 2 * size_t{y}, static_cast<uint16_t>(n));
        packed += static_cast<uint64_t>(n);
        const auto p = static_cast<size_t>(planned);
        // Past what may be kept (or without the memory for it) this and
        // every later channel is packed again to be written.
        if (kept && (m_plans.Size() + p > kKeptBytes || !m_plans.Add(out, p))) {
            m_plans.DropFrom(start);
            kept = m_keep = false;
        }
    }
    const uint64_t total = 2 + size_t{height} * 2 + packed;
    if (!Fits(total))
        return false;
    length = static_cast<uint32_t>(total);
    if (!kept) {
        try {
            table = m_rows;
        } catch (const std::bad_alloc&) {
            m_c.SetError(qncodec::ErrMemory);
            return false;
        }
    }
    return true;
}

bool CQNF_ImagePSD::Writer::PackedChannel(const unsigned char* plane, uint32_t stride, uint32_t width,
                                          uint32_t height, const std::vector<unsigned char>& table, bool kept)
{
    if (!U16(1))
        return false;
    if (kept) {
        // The row table again from the plans, without taking them.
        try {
            m_rows.resize(size_t{height} * 2);
        } catch (const std::bad_alloc&) {
            m_c.SetError(qncodec::ErrMemory);
            return false;
        }
        RowStore::Place at = m_plans.Here();
        for (uint32_t y = 0; y < height; ++y) {
            long n = 0;
            const unsigned char* plan = m_plans.At(at);
            at.at += PackBitsByPlan(nullptr, width, plan, nullptr, &n);
            PutU16(m_rows.data() + 2 * size_t{y}, static_cast<uint16_t>(n));
        }
        if (!Put(m_rows.data(), m_rows.size()))
            return false;
    } else if (table.empty()) {
        // The empty layer's rows: each packed to nothing.
        const unsigned char zeros[256] = {};
        for (size_t left = size_t{height} * 2; left > 0; left -= std::min(left, sizeof zeros))
            if (!Put(zeros, std::min(left, sizeof zeros)))
                return false;
        return true;
    } else if (!Put(table.data(), table.size())) {
        return false;
    }
    unsigned char* out = m_scratch.GetPtr();
    for (uint32_t y = 0; width && y < height; ++y) {
        const unsigned char* row = plane + size_t{y} * stride;
        long n = 0;
        if (kept)
            m_plans.Took(PackBitsByPlan(row, width, m_plans.Next(), out, &n));
        else
            PackBits(row, width, out, &n);
        if (!Put(out, static_cast<size_t>(n)))
            return false;
    }
    return true;
}

