// The stand-in host: the suites and the channel ports over host layers.
#include "hostapp/StandInHostParts.h"

#include <algorithm>
#include <cstring>

namespace hostapp {

using namespace standin;

// ---- Suites ------------------------------------------------------------------

int32_t StandInHost::AcquireSuite(const char* name, int32_t version, const void** suite)
{
    StandInHost* h = Current();
    if (suite)
        *suite = nullptr;
    if (!h || !name || !suite || std::strcmp(name, filterChannelPortsSuiteName) != 0 ||
        version != filterChannelPortsSuiteVersion)
        return kHostError;
    *suite = &h->m_portsSuite;
    ++h->m_suitesHeld;
    return 0;
}

int32_t StandInHost::ReleaseSuite(const char* name, int32_t version)
{
    StandInHost* h = Current();
    if (!h)
        return kHostError;
    if (!name || std::strcmp(name, filterChannelPortsSuiteName) != 0 || version != filterChannelPortsSuiteVersion ||
        h->m_suitesHeld <= 0) {
        h->Violation("release of a suite that was not acquired");
        return kHostError;
    }
    --h->m_suitesHeld;
    return 0;
}

StandInHost::PortRec* StandInHost::FindPort(ChannelReadPort port)
{
    for (PortRec& p : m_ports)
        if (reinterpret_cast<ChannelReadPort>(&p) == port)
            return &p;
    Violation("read from an unknown channel port");
    return nullptr;
}

bool StandInHost::CheckPixelDesc(const PixelMemoryDesc* dest, int32_t width, int32_t height)
{
    if (!dest || !dest->data || dest->depth != 8 || dest->colBits != 8 || dest->bitOffset != 0 ||
        dest->rowBits % 8 != 0 || dest->rowBits < width * 8 || width <= 0 || height <= 0) {
        Violation("channel read with a pixel description the host does not serve");
        return false;
    }
    return true;
}

int32_t StandInHost::PortCanRead(ChannelReadPort port, uint8_t* canRead)
{
    StandInHost* h = Current();
    if (!h || !canRead || !h->FindPort(port))
        return kHostError;
    *canRead = 1;
    return 0;
}

int32_t StandInHost::PortRead(ChannelReadPort port, int32_t level, const FilterRect32* rect,
                              const PixelMemoryDesc* dest)
{
    StandInHost* h = Current();
    if (!h || !rect)
        return kHostError;
    PortRec* p = h->FindPort(port);
    if (!p)
        return kHostError;
    const int32_t w = rect->right - rect->left;
    const int32_t ht = rect->bottom - rect->top;
    if (level != 0 || rect->left < 0 || rect->top < 0 || rect->right > h->m_doc.width ||
        rect->bottom > h->m_doc.height) {
        h->Violation("channel read outside the document or at a level the host does not have");
        return kHostError;
    }
    if (!h->CheckPixelDesc(dest, w, ht))
        return kHostError;
    ++h->m_suiteReads;
    const size_t rowBytes = static_cast<size_t>(dest->rowBits / 8);
    for (int32_t y = 0; y < ht; ++y)
        std::memcpy(static_cast<uint8_t*>(dest->data) + y * rowBytes,
                    p->plane->data() + static_cast<size_t>(rect->top + y) * h->m_doc.width + rect->left,
                    static_cast<size_t>(w));
    return 0;
}

int32_t StandInHost::PortReadScaled(ChannelReadPort port, const FilterRect32* destRect, const ScalingDesc* scaling,
                                    const PixelMemoryDesc* dest)
{
    StandInHost* h = Current();
    if (!h || !destRect || !scaling)
        return kHostError;
    PortRec* p = h->FindPort(port);
    if (!p)
        return kHostError;
    const FilterRect32& s = scaling->sourceRect;
    const FilterRect32& d = scaling->destinationRect;
    const int64_t sw = s.right - s.left, sh = s.bottom - s.top;
    const int64_t dw = d.right - d.left, dh = d.bottom - d.top;
    const int32_t w = destRect->right - destRect->left;
    const int32_t ht = destRect->bottom - destRect->top;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || s.left < 0 || s.top < 0 || s.right > h->m_doc.width ||
        s.bottom > h->m_doc.height || destRect->left < d.left || destRect->top < d.top || destRect->right > d.right ||
        destRect->bottom > d.bottom) {
        h->Violation("scaled channel read with rectangles the host cannot serve");
        return kHostError;
    }
    if (!h->CheckPixelDesc(dest, w, ht))
        return kHostError;
    ++h->m_suiteReads;
    // Nearest source pixel; the destination memory starts at destRect's corner.
    const size_t rowBytes = static_cast<size_t>(dest->rowBits / 8);
    for (int32_t y = 0; y < ht; ++y) {
        const int64_t sy = s.top + (destRect->top + y - d.top) * sh / dh;
        uint8_t* row = static_cast<uint8_t*>(dest->data) + y * rowBytes;
        for (int32_t x = 0; x < w; ++x) {
            const int64_t sx = s.left + (destRect->left + x - d.left) * sw / dw;
            row[x] = (*p->plane)[static_cast<size_t>(sy) * h->m_doc.width + static_cast<size_t>(sx)];
        }
    }
    return 0;
}

}  // namespace hostapp
