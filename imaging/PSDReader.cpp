// Reading PSD documents: the header, the merged image, and layer by layer.
#include "imaging/PSDBytes.h"
#include "imaging/PSDCodec.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

using qnpsd::Cursor;

namespace {

// The fewest packed bytes a row of width bytes can take: a run covers at
// most 128 bytes for two bytes of input.
uint64_t MinPackedRow(uint64_t width) { return 2 * ((width + 127) / 128); }

// The bytes a table of packed row lengths gives its rows in all.
uint64_t RowTableSum(const unsigned char* table, uint64_t rows)
{
    uint64_t sum = 0;
    for (uint64_t row = 0; row < rows; ++row)
        sum += qnpsd::GetU16(table + 2 * row);
    return sum;
}

// What a channel's decoding found wrong, with the channel named: the
// decoder's reason without its "damaged: ", which the caller puts back.
std::string ChannelFault(const std::string& reason, const std::string& channel)
{
    const std::string damaged = "damaged: ";
    return channel + ": " + (reason.rfind(damaged, 0) == 0 ? reason.substr(damaged.size()) : reason);
}

// A colour or transparency channel (-1..3) as a user knows it: by its
// colour in the document's mode (a codec mode).
std::string ChannelName(int id, uint8_t mode)
{
    static const char* const kColour[] = {"red", "green", "blue"};
    static const char* const kInk[] = {"cyan", "magenta", "yellow", "black"};
    if (id < 0)
        return "transparency channel";
    if (mode == qncodec::ModeGrey && id == 0)
        return "grey channel";
    if (mode == qncodec::ModeColour && id < 3)
        return std::string(kColour[id]) + " channel";
    if (mode == qncodec::ModeCMYK && id < 4)
        return std::string(kInk[id]) + " channel";
    return "channel " + std::to_string(id);
}

std::string CompressionName(uint32_t compression)
{
    switch (compression) {
    case 2: return "ZIP";
    case 3: return "ZIP with prediction";
    default: return "method " + std::to_string(compression);
    }
}

std::string ModeName(uint16_t mode)
{
    switch (mode) {
    case 2: return "indexed colours";
    case 7: return "multichannel";
    case 8: return "duotone";
    case 9: return "Lab colours";
    default: return "colour mode " + std::to_string(mode);
    }
}

// "mul " as it is written, any byte that is not printable as '?'.
std::string KeyText(const unsigned char* key)
{
    std::string text = "'";
    for (int i = 0; i < 4; ++i)
        text.push_back(key[i] >= 0x20 && key[i] < 0x7F ? char(key[i]) : '?');
    return text + "'";
}

}  // namespace

CQNF_ImagePSD::CQNF_ImagePSD() = default;

CQNF_ImagePSD::~CQNF_ImagePSD()
{
    Clean();
    WriteClean();
}

void CQNF_ImagePSD::Clean() { m_layers.clear(); }

bool CQNF_ImagePSD::GetLayerInfo(uint32_t index, PSDLayerInfoExt_s& info)
{
    if (index >= m_layers.size())
        return false;
    ReadLayer& l = *m_layers[index];
    info.left = l.left;
    info.top = l.top;
    info.width = l.width;
    info.height = l.height;
    info.channels = l.channels;
    info.name = l.name;
    info.folder = l.folder;
    info.sectionEnd = l.sectionEnd;
    info.visible = l.visible;
    info.opacity = l.opacity;
    info.transparency = l.planes[0].GetSize() ? &l.planes[0] : nullptr;
    for (int k = 0; k < 4; ++k)
        info.planes[k] = l.planes[k + 1].GetSize() ? &l.planes[k + 1] : nullptr;
    return true;
}

bool CQNF_ImagePSD::LParseByMem(CQNF_Mem& block) { return LParseByPtr(block.GetPtr(), block.GetSize()); }

bool CQNF_ImagePSD::LParseLocal() { return LParseByMem(m_local); }

bool CQNF_ImagePSD::LParseByFile(CQNF_StdFile& file)
{
    if (!i_LoadFile(file))
        return false;
    return LParseLocal();
}

bool CQNF_ImagePSD::GetImageInfoByPtr(const void* data, size_t size)
{
    i_Begin();
    const auto* p = static_cast<const unsigned char*>(data);
    if (!p || size < 26)
        return i_Truncated("it ends inside its header");
    if (std::memcmp(p, "8BPS", 4) != 0)
        return i_Damaged("it does not begin with the PSD signature");
    const uint16_t version = qnpsd::GetU16(p + 4);
    // Version 2 is the large-document form, with 64-bit lengths.
    if (version == 2)
        return i_Unsupported("version 2 (a large document) is not read");
    if (version != 1)
        return i_Damaged("its header gives version " + std::to_string(version));
    const uint32_t height = qnpsd::GetU32(p + 14);
    const uint32_t width = qnpsd::GetU32(p + 18);
    const uint16_t depth = qnpsd::GetU16(p + 22);
    const uint16_t mode = qnpsd::GetU16(p + 24);
    if (depth != 8 && depth != 16 && depth != 32 && depth != 1)
        return i_Damaged("its header gives " + std::to_string(depth) + " bits per channel");
    uint8_t codecMode;
    switch (mode) {
    case 0:
    case 1: codecMode = qncodec::ModeGrey; break;
    case 3: codecMode = qncodec::ModeColour; break;
    case 4: codecMode = qncodec::ModeCMYK; break;
    default: return i_Unsupported(ModeName(mode));
    }
    // The size fields are 16-bit: a larger document is refused, never
    // truncated.
    if (!i_WithinLimits(width, height, 0))
        return false;
    m_fileChannels = qnpsd::GetU16(p + 12);
    // The format counts 1 to 56 channels; any other count is no PSD header.
    if (m_fileChannels < 1 || m_fileChannels > 56)
        return i_Damaged("its header gives " + std::to_string(m_fileChannels) + " channels");
    m_width = static_cast<uint16_t>(width);
    m_height = static_cast<uint16_t>(height);
    m_depth = static_cast<uint8_t>(depth);
    m_mode = codecMode;
    return true;
}

// --------------------------------------------------------------------------
// Merged image

bool CQNF_ImagePSD::ParseImageByPtr(const void* data, size_t size)
{
    // A failed decoding leaves no planes of an earlier one behind.
    if (i_ParseMerged(data, size, true))
        return true;
    i_FreePlanes();
    return false;
}

bool CQNF_ImagePSD::JudgeImageLocal() { return i_ParseMerged(m_local.GetPtr(), m_local.GetSize(), false); }

bool CQNF_ImagePSD::JudgeOpeningLocal()
{
    size_t end = 0;
    return i_OpenSections(m_local.GetPtr(), m_local.GetSize(), end, true);
}

void CQNF_ImagePSD::i_ReadResolution(const unsigned char* resources, size_t size)
{
    // Resources: "8BIM", id, a name padded to an even length, then data of
    // a length padded to an even one. The resolution resource holds the
    // horizontal resolution as 16.16 fixed point and its unit (1 per inch,
    // 2 per centimetre), a display unit, then the same for the vertical.
    constexpr uint16_t kResolutionInfo = 1005;
    Cursor r(resources, size);
    while (r.Has(12)) {
        if (std::memcmp(r.Here(), "8BIM", 4) != 0 || !r.Skip(4))
            return;
        const uint16_t id = r.U16();
        const uint8_t nameLength = r.U8();
        r.Skip(nameLength + ((nameLength + 1u) & 1u));
        const uint32_t length = r.U32();
        if (!r.Has(length))
            return;
        if (id == kResolutionInfo && length >= 16) {
            double both[2];
            for (double& res : both) {
                const double fixed = r.U32() / 65536.0;
                const uint16_t unit = r.U16();
                r.U16();
                res = unit == 2 ? fixed * 2.54 : fixed;
            }
            // One of the two alone stands for both.
            m_resolution = both[0] > 0.0 ? both[0] : both[1];
            m_resolutionY = both[1] > 0.0 ? both[1] : both[0];
            return;
        }
        r.Skip(length + (length & 1u));
    }
}

bool CQNF_ImagePSD::i_OpenSections(const void* data, size_t size, size_t& resourcesEnd, bool keepPlanes)
{
    if (!GetImageInfoByPtr(data, size))
        return false;
    if (m_depth != 8)
        return i_Unsupported(m_depth == 1 ? "1 bit per channel" : std::to_string(m_depth) + " bits per channel");
    Clean();
    if (!keepPlanes)
        i_FreePlanes();
    Cursor c(static_cast<const unsigned char*>(data), size, 26);
    const uint32_t colourData = c.U32();
    if (c.Ok() && colourData != 0)
        return i_Unsupported("a colour table");
    const uint32_t resources = c.U32();
    m_resolution = m_resolutionY = 0.0;
    if (c.Has(resources))
        i_ReadResolution(c.Here(), resources);
    c.Skip(resources);
    if (!c.Ok())
        return i_Truncated("it ends inside its image resources");
    resourcesEnd = c.Pos();
    return true;
}

bool CQNF_ImagePSD::i_ParseMerged(const void* data, size_t size, bool decode)
{
    size_t at = 0;
    if (!i_OpenSections(data, size, at, !decode))
        return false;
    const auto* p = static_cast<const unsigned char*>(data);
    Cursor c(p, size, at);
    c.Skip(c.U32());  // layer and mask information
    const uint16_t compression = c.U16();
    if (!c.Ok())
        return i_Truncated("it ends before its merged image");
    if (compression > 1)
        return i_Unsupported("the merged image is compressed with " + CompressionName(compression));
    const uint32_t n = ColourPlanes(m_mode);
    const uint64_t W = m_width, H = m_height;
    if (m_fileChannels < n)
        return i_Damaged("its header gives " + std::to_string(m_fileChannels) + " channels, fewer than its colour mode has");
    // The data must be able to hold what the header promises, every channel
    // of it (alpha and spot channels too, though only the colours are
    // kept), before any plane is allocated for it.
    const uint64_t table = compression ? uint64_t{m_fileChannels} * H * 2 : 0;
    const uint64_t least = table + m_fileChannels * H * (compression ? MinPackedRow(W) : W);
    if (!c.Has(least))
        return i_Truncated("it ends inside its merged image");
    // The packed rows' lengths: all of them must lie in the file, and the
    // colour channels' rows must fit in theirs.
    const unsigned char* rowTable = c.Here();
    if (compression && RowTableSum(rowTable, m_fileChannels * H) > c.Left() - table)
        return i_Damaged("the row lengths of its merged image add up to more than the rest of the file");
    if (!i_WithinLimits(W, H, n * W * H))
        return false;
    for (uint32_t k = 0; decode && k < n; ++k) {
        CQNF_Mem& plane = i_Plane(static_cast<signed char>(k));
        if (!plane.alloc(W * H)) {
            SetError(plane.GetError());
            i_FreePlanes();
            return false;
        }
    }
    c.Skip(table);
    for (uint32_t k = 0; k < n; ++k) {
        size_t used = 0;
        if (!ExpandChanelPixels(static_cast<unsigned char>(compression), c.Here(), c.Left(),
                                decode ? i_Plane(static_cast<signed char>(k)).GetPtr() : nullptr, m_width,
                                m_height, &used, rowTable + 2 * k * H)) {
            if (decode)
                i_FreePlanes();
            if (GetError() == qncodec::ErrCorrupt && !GetReason().empty())
                return i_Damaged(ChannelFault(GetReason(), "its merged image's " + ChannelName(int(k), m_mode)));
            return false;
        }
        c.Skip(used);
    }
    return true;
}

// --------------------------------------------------------------------------
// Layers

class CQNF_ImagePSD::Reader {
public:
    Reader(CQNF_ImagePSD& codec, const unsigned char* data, bool decode)
        : m_c(codec), m_data(data), m_decode(decode)
    {
    }

    // Reads the layer records and their channels from the layer info.
    bool Run(Cursor& info, uint32_t count);

private:
    bool Record(Cursor& c, ReadLayer& l, uint32_t index);
    bool Extra(Cursor& e, ReadLayer& l, uint32_t index);
    // Judges (decode false) or decodes one layer's channels from c.
    bool Channels(Cursor& c, ReadLayer& l, uint32_t index, bool decode);
    bool Fail(unsigned short error)
    {
        m_c.SetError(error);
        return false;
    }
    bool Damaged(uint32_t index, const ReadLayer* l, const std::string& what)
    {
        return m_c.i_Damaged(Where(index, l) + ": " + what);
    }
    // "layer 2 ("Cat"): what", layers counted from 0 in file order (bottom
    // first), as psd read lists them and --target counts them; without the
    // name when it has not been read yet.
    static std::string Where(uint32_t index, const ReadLayer* l)
    {
        std::string where = "layer " + std::to_string(index);
        if (l)
            where += std::string(" (\"") + l->name + "\")";
        return where;
    }
    // A channel that does not decode: its fault named with the layer and
    // the channel.
    bool ChannelDamaged(uint32_t index, const ReadLayer& l, int16_t id)
    {
        if (m_c.GetError() != qncodec::ErrCorrupt || m_c.GetReason().empty())
            return false;
        return Damaged(index, &l, ChannelFault(m_c.GetReason(), "its " + ChannelName(id, m_c.m_mode)));
    }
    bool Unsupported(uint32_t index, const ReadLayer* l, const std::string& what)
    {
        return m_c.i_Unsupported(Where(index, l) + ": " + what);
    }
    // What the reader does not take is refused only once the whole layer
    // info is judged sound: the first such thing is kept until then.
    void NotRead(uint32_t index, const ReadLayer* l, const std::string& what)
    {
        if (m_notRead.empty())
            m_notRead = Where(index, l) + ": " + what;
    }

    CQNF_ImagePSD& m_c;
    const unsigned char* m_data;
    const bool m_decode;
    std::string m_notRead;
};

bool CQNF_ImagePSD::LParseByPtr(const void* data, size_t size)
{
    if (i_ParseLayers(data, size, Layers::AndMerged))
        return true;
    Clean();
    i_FreePlanes();
    return false;
}

bool CQNF_ImagePSD::LParseLayersLocal()
{
    if (i_ParseLayers(m_local.GetPtr(), m_local.GetSize(), Layers::Alone))
        return true;
    Clean();
    return false;
}

bool CQNF_ImagePSD::LJudgeByPtr(const void* data, size_t size)
{
    const bool sound = i_ParseLayers(data, size, Layers::Judged);
    Clean();
    return sound;
}

bool CQNF_ImagePSD::LJudgeLocal() { return LJudgeByPtr(m_local.GetPtr(), m_local.GetSize()); }

bool CQNF_ImagePSD::i_ParseLayers(const void* data, size_t size, Layers what)
{
    const bool decode = what != Layers::Judged;
    // Without layers, LParse* gives the merged image in their stead.
    const bool merged = what == Layers::AndMerged;
    size_t at = 0;
    if (!i_OpenSections(data, size, at, !merged))
        return false;
    const auto* p = static_cast<const unsigned char*>(data);
    Cursor c(p, size, at);
    const uint32_t sectionLength = c.U32();
    if (!c.Ok() || !c.Has(sectionLength)) {
        SetError(qncodec::ErrCorrupt);
        return false;
    }
    if (sectionLength == 0)
        return !merged || ParseImageByPtr(data, size);
    Cursor section(p, c.Pos() + sectionLength, c.Pos());
    const uint32_t infoLength = section.U32();
    if (!section.Ok() || !section.Has(infoLength)) {
        SetError(qncodec::ErrCorrupt);
        return false;
    }
    if (infoLength == 0)
        return !merged || ParseImageByPtr(data, size);
    Cursor info(p, section.Pos() + infoLength, section.Pos());
    const int32_t signedCount = static_cast<int16_t>(info.U16());
    if (!info.Ok()) {
        SetError(qncodec::ErrCorrupt);
        return false;
    }
    Reader r(*this, p, decode);
    return r.Run(info, static_cast<uint32_t>(signedCount < 0 ? -signedCount : signedCount));
}

bool CQNF_ImagePSD::Reader::Run(Cursor& info, uint32_t count)
{
    // Each record takes at least 38 bytes: refuse a count the data cannot
    // hold before making room for it. The count is 16-bit, so the records
    // take a few MB at most.
    if (!info.Has(uint64_t{count} * 38))
        return Fail(qncodec::ErrCorrupt);
    auto& layers = m_c.m_layers;
    try {
        layers.reserve(count);
    } catch (const std::bad_alloc&) {
        return Fail(qncodec::ErrMemory);
    }
    for (uint32_t i = 0; i < count; ++i) {
        std::unique_ptr<ReadLayer> l(new (std::nothrow) ReadLayer);
        if (!l)
            return Fail(qncodec::ErrMemory);
        if (!Record(info, *l, i))
            return false;
        layers.push_back(std::move(l));
    }
    // The records' channels fill the rest of the layer info, but for the
    // padding some writers add to an even length or a multiple of 4: judged
    // before any is decoded. More left over means the count says fewer
    // layers than the file holds.
    uint64_t channelBytes = 0;
    for (const auto& l : layers)
        for (uint16_t k = 0; k < l->channels; ++k)
            channelBytes += l->lengths[k];
    if (channelBytes > info.Left())
        return m_c.i_Damaged("the channels of its " + std::to_string(count) +
                             " layers take more bytes than its layer data holds");
    if (info.Left() - channelBytes > 3)
        return m_c.i_Damaged("its layer count of " + std::to_string(count) + " leaves " +
                             std::to_string(info.Left() - channelBytes) + " bytes of layer data unread");
    // Every channel's data, judged before any layer is sized or decoded:
    // damage anywhere is damage, whatever else the file holds.
    Cursor judged = info;
    for (uint32_t i = 0; i < layers.size(); ++i)
        if (!Channels(judged, *layers[i], i, false))
            return false;
    if (!m_notRead.empty())
        return m_c.i_Unsupported(m_notRead);
    // Sound: now its size. The records and the planes share the budget of
    // one parse.
    const qntCODECLIMITS& limits = m_c.GetLimits();
    uint64_t bytes = uint64_t{count} * sizeof(ReadLayer);
    for (uint32_t i = 0; i < layers.size(); ++i) {
        const ReadLayer& l = *layers[i];
        const uint64_t W = l.width, H = l.height;
        if (W > limits.maxSide || H > limits.maxSide || W > 65535 || H > 65535)
            return Unsupported(i, nullptr, std::to_string(W) + " x " + std::to_string(H) + " pixels");
        for (uint16_t k = 0; k < l.channels; ++k)
            if (l.ids[k] >= -1 && l.ids[k] <= 3 && l.lengths[k] > 2)
                bytes += W * H;
    }
    if (bytes > limits.maxBytes)
        return m_c.i_Unsupported("the layers need more than " + std::to_string(limits.maxBytes) + " bytes of memory");
    if (!m_decode)
        return true;
    for (uint32_t i = 0; i < layers.size(); ++i)
        if (!Channels(info, *layers[i], i, true))
            return false;
    return true;
}

bool CQNF_ImagePSD::Reader::Record(Cursor& c, ReadLayer& l, uint32_t index)
{
    const int64_t top = c.I32(), left = c.I32(), bottom = c.I32(), right = c.I32();
    const uint16_t channels = c.U16();
    if (!c.Ok())
        return Fail(qncodec::ErrCorrupt);
    // A record has its blend signature where its channel count puts it.
    // Without it these bytes are no record (a layer count the records do
    // not bear out ends here), and nothing else they seem to say is judged.
    if (!c.Has(uint64_t{channels} * 6 + 4) || std::memcmp(c.Here() + size_t{channels} * 6, "8BIM", 4) != 0)
        return Damaged(index, nullptr, "no layer record where the layer count puts one");
    if (right < left)
        return Damaged(index, nullptr,
                       "its right edge (" + std::to_string(right) + ") lies left of its left edge (" +
                           std::to_string(left) + ")");
    if (bottom < top)
        return Damaged(index, nullptr,
                       "its bottom edge (" + std::to_string(bottom) + ") lies above its top edge (" +
                           std::to_string(top) + ")");
    if (channels > 100)
        return Unsupported(index, nullptr, std::to_string(channels) + " channels");
    // Edges of 32 bits: the width and the height fit in 32 bits unsigned.
    l.top = static_cast<int32_t>(top);
    l.left = static_cast<int32_t>(left);
    l.width = static_cast<uint32_t>(right - left);
    l.height = static_cast<uint32_t>(bottom - top);
    l.channels = channels;
    for (uint16_t k = 0; k < channels; ++k) {
        l.ids[k] = static_cast<int16_t>(c.U16());
        l.lengths[k] = c.U32();
    }
    c.Skip(4);  // the signature, checked above
    unsigned char blend[4] = {};
    if (c.Has(4))
        std::memcpy(blend, c.Here(), 4);
    const bool normal = c.Tag("norm");
    l.opacity = c.U8();
    c.U8();  // clipping
    const uint8_t flags = c.U8();
    c.U8();  // filler
    const uint32_t extraLength = c.U32();
    if (!c.Ok() || !c.Has(extraLength))
        return Fail(qncodec::ErrCorrupt);
    l.visible = (flags & 2) ? 0 : 1;
    Cursor e(m_data, c.Pos() + extraLength, c.Pos());
    c.Skip(extraLength);
    if (!Extra(e, l, index))
        return false;
    // The blend mode is named once the name is known, to name the layer.
    if (!normal)
        NotRead(index, &l, "blend mode " + KeyText(blend) + " is not read");
    return true;
}

bool CQNF_ImagePSD::Reader::Extra(Cursor& e, ReadLayer& l, uint32_t index)
{
    e.Skip(e.U32());  // layer mask data
    e.Skip(e.U32());  // blending ranges
    const uint8_t nameLength = e.U8();
    if (!e.Ok() || !e.Has(nameLength))
        return Fail(qncodec::ErrCorrupt);
    std::memcpy(l.name, e.Here(), nameLength);
    l.name[nameLength] = 0;
    if (nameLength == 0)
        std::strcpy(l.name, "background");
    // The name with its length byte is padded to a multiple of 4; some
    // writers leave the padding off at the very end of the extra data.
    const size_t padded = ((size_t{nameLength} + 1 + 3) / 4) * 4 - 1;
    if (e.Has(padded))
        e.Skip(padded);
    else
        e.Skip(e.Left());
    while (e.Peek("8BIM")) {
        e.Skip(4);
        const bool section = e.Peek("lsct");
        e.Skip(4);
        const uint32_t length = e.U32();
        if (!e.Ok() || !e.Has(length))
            return Fail(qncodec::ErrCorrupt);
        if (section) {
            if (length < 4)
                return Fail(qncodec::ErrCorrupt);
            const uint32_t type = qnpsd::GetU32(e.Here());
            if (type == 1 || type == 2)
                l.folder = 1;
            else if (type == 3)
                l.sectionEnd = 1;
            else if (type != 0)
                NotRead(index, &l, "a section divider of type " + std::to_string(type) + " is not read");
        }
        e.Skip(length);
    }
    return true;
}

bool CQNF_ImagePSD::Reader::Channels(Cursor& c, ReadLayer& l, uint32_t index, bool decode)
{
    const uint64_t W = l.width, H = l.height;
    unsigned seen = 0;  // a bit for each channel -1..3 met
    for (uint16_t k = 0; k < l.channels; ++k) {
        const uint32_t length = l.lengths[k];
        if (!c.Has(length))
            return Fail(qncodec::ErrCorrupt);
        const int16_t id = l.ids[k];
        const unsigned char* at = c.Here();
        c.Skip(length);
        if (id < -1 || id > 3)
            continue;  // masks and extra channels are not kept
        if (length < 2)
            return Fail(qncodec::ErrCorrupt);
        // Each colour and transparency channel holds the whole rectangle:
        // a length that cannot is damage, judged before the rectangle's
        // size is.
        const uint64_t body = length - 2;
        const unsigned char compression = length > 2 ? at[1] : 0;
        auto tooFew = [&] {
            return Damaged(index, &l,
                           "its " + ChannelName(id, m_c.m_mode) + " holds " + std::to_string(length) +
                               " bytes, too few for its " + std::to_string(W) + " x " + std::to_string(H) + " pixels");
        };
        if (length == 2) {
            if (W * H > 0)
                return tooFew();
            continue;  // only the compression word: an empty layer's, no plane
        }
        const unsigned bit = 1u << (id + 1);
        if (seen & bit)
            return Fail(qncodec::ErrCorrupt);  // the same channel twice
        seen |= bit;
        if (compression > 1) {
            // Not read, but judged: deflate yields at most 1032 bytes for
            // each byte it takes (a 258-byte copy in two bits).
            if (W * H / 1032 > body)
                return tooFew();
            NotRead(index, &l, "channels compressed with " + CompressionName(compression) + " are not read");
            continue;
        }
        const uint64_t least = compression ? 2 * H + H * MinPackedRow(W) : W * H;
        if (body < least)
            return tooFew();
        if (compression == 0 && body != least)
            return Fail(qncodec::ErrCorrupt);
        if (!decode) {
            // Every row walked, nothing written: each row as its table gives
            // it, and the table giving the rows the channel's data exactly.
            if (!m_c.ExpandChanelPixels(compression, at + 2, static_cast<size_t>(body), nullptr,
                                        static_cast<uint32_t>(W), static_cast<uint32_t>(H), nullptr, nullptr))
                return ChannelDamaged(index, l, id);
            continue;
        }
        if (W * H == 0)
            continue;  // an empty layer: its rows are empty, nothing to keep
        CQNF_Mem& plane = l.planes[id + 1];
        if (!plane.alloc(W * H))
            return Fail(plane.GetError());
        if (!m_c.ExpandChanelPixels(compression, at + 2, static_cast<size_t>(body), plane.GetPtr(),
                                    static_cast<uint32_t>(W), static_cast<uint32_t>(H), nullptr, nullptr)) {
            plane.free();
            return ChannelDamaged(index, l, id);
        }
    }
    return true;
}
