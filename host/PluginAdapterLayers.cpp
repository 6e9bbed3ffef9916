// The document's layers through the host's channel-ports suite.
#include "host/PluginAdapter.h"

#include "imaging/Image.h"

#include <algorithm>
#include <cstring>

namespace {

// The bounds scan reads the transparency through one buffer of this size.
constexpr uint32_t kScanBuffer = 1048576;

constexpr char kCompositeName[] = "--COMPOSITE--";

FilterRect32 Rect32(const qntRECT_s& r)
{
    return FilterRect32{r.top, r.left, r.bottom, r.right};
}

qntRECT_s RectOf(const FilterRect32& r)
{
    return qntRECT_s{r.left, r.top, r.right, r.bottom};
}

bool ReadChannel(const ChannelPortsSuite* suite, const ChannelDescription* channel, const qntRECT_s& rect,
                 uint8_t* buffer, int32_t width)
{
    if (!channel || !channel->port)
        return false;
    const FilterRect32 r = Rect32(rect);
    PixelMemoryDesc desc{buffer, width * 8, 8, 0, 8};
    return suite->ReadPixelsFromLevel(channel->port, 0, &r, &desc) == 0;
}

}  // namespace

bool CQNF_8BFPluginVirtual::InitPSSuites()
{
    ResetError();
    if (m_pPortsSuite)
        return true;
    FilterRecord* r = m_pRecord;
    if (!r || !r->sSPBasic || !r->sSPBasic->AcquireSuite) {
        SetError(qnerr::BadArgument);
        return false;
    }
    const void* suite = nullptr;
    if (r->sSPBasic->AcquireSuite(filterChannelPortsSuiteName, filterChannelPortsSuiteVersion, &suite) != 0 ||
        !suite) {
        SetError(qnerr::BadArgument);
        return false;
    }
    const auto* ports = static_cast<const ChannelPortsSuite*>(suite);
    m_pPortsSuite = ports;
    m_pSuiteOwner = r->sSPBasic;
    if (!ports->CanRead || !ports->ReadPixelsFromLevel) {
        ReleasePSSuites();
        SetError(qnerr::BadArgument);
        return false;
    }
    return true;
}

void CQNF_8BFPluginVirtual::ReleasePSSuites()
{
    if (m_pPortsSuite && m_pSuiteOwner && m_pSuiteOwner->ReleaseSuite)
        m_pSuiteOwner->ReleaseSuite(filterChannelPortsSuiteName, filterChannelPortsSuiteVersion);
    m_pPortsSuite = nullptr;
    m_pSuiteOwner = nullptr;
}

const LayerDescription* CQNF_8BFPluginVirtual::i_FindLayer(int32_t id) const
{
    if (!m_pRecord || !m_pRecord->documentInfo)
        return nullptr;
    for (const LayerDescription* l = m_pRecord->documentInfo->layersDescriptor; l; l = l->next)
        if (l->isPixelBased && l->sheetID == id)
            return l;
    return nullptr;
}

void CQNF_8BFPluginVirtual::i_LayerChannels(int32_t id, const ChannelDescription*& colour,
                                            const ChannelDescription*& transparency) const
{
    colour = transparency = nullptr;
    const DocumentInfo* doc = m_pRecord ? m_pRecord->documentInfo : nullptr;
    if (id == -1 && doc) {
        colour = doc->mergedCompositeChannels;
        transparency = doc->mergedTransparency;
    } else if (const LayerDescription* l = i_FindLayer(id)) {
        colour = l->compositeChannelsList;
        transparency = l->transparency;
    }
}

const CQNF_8BFPluginVirtual::REALLAYERINFO* CQNF_8BFPluginVirtual::GetLayerTable(uint32_t& count) const
{
    count = m_nLayers;
    return m_pLayers;
}

bool CQNF_8BFPluginVirtual::PS_FillRealLayerBounds(qntRECT_s clip, uint8_t force)
{
    // The channel-ports suite; an existing table is kept unless forced.
    if (!InitPSSuites())
        return false;
    if (m_pLayers && !force)
        return true;
    const DocumentInfo* doc = m_pRecord->documentInfo;
    if (!doc) {
        SetError(qnerr::BadArgument);
        return false;
    }

    // Forget the old table; the document's layers are counted next.
    m_memLayers.free();
    m_pLayers = nullptr;
    m_nLayers = 0;
    uint32_t count = 1;
    for (const LayerDescription* l = doc->layersDescriptor; l; l = l->next)
        if (l->isPixelBased)
            ++count;
    CQNF_Mem table;
    if (!table.Zalloc(qnMulSize({count, sizeof(REALLAYERINFO)}))) {
        SetError(table.GetError() ? table.GetError() : qnerr::NoMemory);
        return false;
    }
    CQNF_Mem scratch;
    if (!scratch.alloc(kScanBuffer)) {
        SetError(qnerr::NoMemory);
        return false;
    }
    auto* entries = reinterpret_cast<REALLAYERINFO*>(table.GetPtr());

    // One entry per layer: id, name, channels.
    const LayerDescription* layer = doc->layersDescriptor;
    for (uint32_t i = 0; i < count; ++i) {
        REALLAYERINFO& e = entries[i];
        std::memset(e.name, 0, sizeof e.name);
        const ChannelDescription* colour = nullptr;
        const ChannelDescription* transparency = nullptr;
        if (i + 1 < count) {
            while (!layer->isPixelBased)
                layer = layer->next;
            e.id = layer->sheetID;
            if (layer->name)
                std::strncpy(e.name, layer->name, sizeof e.name - 1);
            colour = layer->compositeChannelsList;
            transparency = layer->transparency;
            layer = layer->next;
        } else {
            e.id = -1;
            std::strncpy(e.name, kCompositeName, sizeof e.name - 1);
            colour = doc->mergedCompositeChannels;
            transparency = doc->mergedTransparency;
        }

        // Bounds of the colour channels, clipped to the clip rectangle.
        qntRECT_s b = colour ? RectOf(colour->bounds) : qntRECT_s{0, 0, 0, 0};
        if (!qnIsNullRect(clip)) {
            b.left = std::max(b.left, clip.left);
            b.top = std::max(b.top, clip.top);
            b.right = std::min(b.right, clip.right);
            b.bottom = std::min(b.bottom, clip.bottom);
        }
        if (b.right <= b.left || b.bottom <= b.top) {
            e.left = e.top = e.right = e.bottom = -32000;
            continue;
        }

        // Shrink to the non-transparent pixels.
        if (transparency && transparency->port) {
            const int32_t width = b.right - b.left;
            if (static_cast<uint32_t>(width) > kScanBuffer / 2) {
                SetError(qnerr::BadArgument);
                return false;
            }
            const int32_t rowsPerRead = static_cast<int32_t>(kScanBuffer / static_cast<uint32_t>(width)) - 1;
            int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = -1, maxY = -1;
            for (int32_t top = b.top; top < b.bottom; top += rowsPerRead) {
                const int32_t bottom = std::min(b.bottom, top + rowsPerRead);
                if (!ReadChannel(m_pPortsSuite, transparency, qntRECT_s{b.left, top, b.right, bottom},
                                 scratch.GetPtr(), width)) {
                    SetError(qnerr::BadArgument);
                    return false;
                }
                for (int32_t y = top; y < bottom; ++y) {
                    const uint8_t* row = scratch.GetPtr() + static_cast<size_t>(y - top) * width;
                    for (int32_t x = 0; x < width; ++x)
                        if (row[x]) {
                            minX = std::min(minX, b.left + x);
                            maxX = std::max(maxX, b.left + x);
                            minY = std::min(minY, y);
                            maxY = std::max(maxY, y);
                        }
                }
            }
            if (maxX < 0)
                b = qntRECT_s{-32000, -32000, -32000, -32000};
            else
                b = qntRECT_s{minX, minY, maxX + 1, maxY + 1};
        }
        e.left = b.left;
        e.top = b.top;
        e.right = b.right;
        e.bottom = b.bottom;
    }

    // The new table replaces the old one only when complete.
    m_memLayers = std::move(table);
    m_pLayers = reinterpret_cast<REALLAYERINFO*>(m_memLayers.GetPtr());
    m_nLayers = count;
    return true;
}

bool CQNF_8BFPluginVirtual::i_ReadLayer(int32_t id, uint8_t** planes, int32_t width, int32_t height,
                                        uint8_t planeCount, qntRECT_s rect, bool convert)
{
    // The suite and the arguments.
    if (!InitPSSuites())
        return false;
    if (!planes || planeCount < 2 || width <= 0 || height <= 0 || rect.right - rect.left != width ||
        rect.bottom - rect.top != height) {
        SetError(qnerr::BadArgument);
        return false;
    }
    const ChannelDescription* first = nullptr;
    const ChannelDescription* transparency = nullptr;
    i_LayerChannels(id, first, transparency);
    uint8_t canRead = 0;
    if (!first || !first->port || m_pPortsSuite->CanRead(first->port, &canRead) != 0 || !canRead) {
        SetError(qnerr::BadArgument);
        return false;
    }
    // The colour channels, up to four.
    const uint8_t wanted = std::min<uint8_t>(4, planeCount);
    uint8_t read = 0;
    for (const ChannelDescription* ch = first; ch && read < wanted; ch = ch->next, ++read)
        if (!ReadChannel(m_pPortsSuite, ch, rect, planes[read], width)) {
            SetError(qnerr::BadArgument);
            return false;
        }
    // A layer of another mode: gray spread to three planes, CMYK to RGB.
    if (read != planeCount - 1) {
        const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
        if (!convert || planeCount != 4 || (read != 1 && read != 4)) {
            SetError(qnerr::BadArgument);
            return false;
        }
        if (read == 1) {
            std::memcpy(planes[1], planes[0], n);
            std::memcpy(planes[2], planes[0], n);
        } else {
            for (int c = 0; c < 3; ++c)
                for (size_t i = 0; i < n; ++i)
                    planes[c][i] = static_cast<uint8_t>(planes[c][i] * planes[3][i] / 256);
        }
    }
    // The transparency plane, or opaque.
    uint8_t* alpha = planes[planeCount - 1];
    if (transparency && transparency->port) {
        if (!ReadChannel(m_pPortsSuite, transparency, rect, alpha, width)) {
            SetError(qnerr::BadArgument);
            return false;
        }
        return true;
    }
    std::memset(alpha, 255, static_cast<size_t>(width) * static_cast<size_t>(height));
    return true;
}

bool CQNF_8BFPluginVirtual::PS_GetLayerWithColorConversionIfNeeded(int32_t id, uint8_t** planes, int32_t width,
                                                                    int32_t height, uint8_t planeCount,
                                                                    qntRECT_s rect)
{
    return i_ReadLayer(id, planes, width, height, planeCount, rect, true);
}

bool CQNF_8BFPluginVirtual::PS_GetLayer(int32_t id, uint8_t** planes, int32_t width, int32_t height,
                                        uint8_t planeCount, qntRECT_s rect)
{
    return i_ReadLayer(id, planes, width, height, planeCount, rect, false);
}

qntRECT_s CQNF_8BFPluginVirtual::PS_GetLayerBounds(int32_t id)
{
    if (!InitPSSuites())
        return qnNullRect;
    const ChannelDescription* first = nullptr;
    const ChannelDescription* transparency = nullptr;
    i_LayerChannels(id, first, transparency);
    return first ? RectOf(first->bounds) : qnNullRect;
}

bool CQNF_8BFPluginVirtual::PS_GetScaledLayerRGB(int32_t id, CQNF_Image* dest, qntRECT_s rect)
{
    if (!InitPSSuites())
        return false;
    if (!dest || !dest->HasPixels() || rect.right <= rect.left || rect.bottom <= rect.top ||
        !m_pPortsSuite->ReadScaledPixels) {
        SetError(qnerr::BadArgument);
        return false;
    }
    const ChannelDescription* first = nullptr;
    const ChannelDescription* transparency = nullptr;
    i_LayerChannels(id, first, transparency);
    if (!first) {
        SetError(qnerr::BadArgument);
        return false;
    }
    const int32_t w = dest->GetImageWidth();
    const int32_t h = dest->GetImageHeight();
    const ScalingDesc scaling{Rect32(rect), FilterRect32{0, 0, h, w}};
    const FilterRect32 whole{0, 0, h, w};
    auto readScaled = [&](const ChannelDescription* ch, uint8_t* plane) {
        PixelMemoryDesc desc{plane, w * 8, 8, 0, 8};
        return ch && ch->port && m_pPortsSuite->ReadScaledPixels(ch->port, &whole, &scaling, &desc) == 0;
    };
    // The layer's colour channels: one (gray), three (RGB) or four (CMYK).
    const ChannelDescription* colour[4] = {};
    unsigned count = 0;
    for (const ChannelDescription* ch = first; ch && count < 4; ch = ch->next)
        colour[count++] = ch;
    if (count != 1 && count != 3 && count != 4) {
        SetError(qnerr::BadArgument);
        return false;
    }
    // Gray spreads to all three planes; CMYK needs its black channel to
    // become RGB, the same conversion as the unscaled reader's.
    CQNF_Mem black;
    if (count == 4 && !black.alloc(dest->PlaneSize())) {
        SetError(qnerr::NoMemory);
        return false;
    }
    for (unsigned p = 0; p < 3; ++p) {
        if (!readScaled(colour[count == 1 ? 0 : p], dest->GetPlane(p))) {
            SetError(qnerr::BadArgument);
            return false;
        }
    }
    if (count == 4) {
        if (!readScaled(colour[3], black.GetPtr())) {
            SetError(qnerr::BadArgument);
            return false;
        }
        const size_t n = dest->PlaneSize();
        for (unsigned c = 0; c < 3; ++c) {
            uint8_t* plane = dest->GetPlane(c);
            for (size_t i = 0; i < n; ++i)
                plane[i] = static_cast<uint8_t>(plane[i] * black.GetPtr()[i] / 256);
        }
    }
    if (dest->GetImageMode() == qnimg::ModeRGBA) {
        if (transparency) {
            if (!readScaled(transparency, dest->GetPlane(3))) {
                SetError(qnerr::BadArgument);
                return false;
            }
        } else {
            std::memset(dest->GetPlane(3), 255, dest->PlaneSize());
        }
    }
    return true;
}
