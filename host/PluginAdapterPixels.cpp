// Pixels in and out of the host, one plane at a time in row bands.
#include "host/PluginAdapter.h"

#include <cstring>

namespace {

// The parameter block's rectangles are 16-bit: coordinates wrap.
FilterRect16 Rect16(int32_t top, int32_t left, int32_t bottom, int32_t right)
{
    return FilterRect16{static_cast<int16_t>(top), static_cast<int16_t>(left), static_cast<int16_t>(bottom),
                        static_cast<int16_t>(right)};
}

}  // namespace

bool CQNF_8BFPluginVirtual::HostDoIt()
{
    HostSetRetCode_NoError();
    if (!m_pRecord || !m_pRecord->advanceState) {
        HostSetRetCode_BadParam();
        return false;
    }
    if (m_pRecord->advanceState() != 0) {
        HostSetRetCode_Cancel();
        return false;
    }
    return true;
}

uint8_t CQNF_8BFPluginVirtual::HostCancel()
{
    if (!m_pRecord || !m_pRecord->abortProc)
        return 0;
    return m_pRecord->abortProc() ? 1 : 0;
}

bool CQNF_8BFPluginVirtual::HostProgress(uint32_t total, uint32_t done)
{
    if (!m_pRecord || !m_pRecord->progressProc)
        return false;
    m_pRecord->progressProc(static_cast<int32_t>(done), static_cast<int32_t>(total));
    return true;
}

bool CQNF_8BFPluginVirtual::HostGetChanel(uint8_t plane, qntRECT_s rect, uint8_t* buffer, uint32_t rowBytes)
{
    return i_Transfer(plane == 255 ? Transfer::GetMask : Transfer::Get, plane, rect, buffer, nullptr, rowBytes, 0);
}

bool CQNF_8BFPluginVirtual::HostGetAlphaChanel(uint16_t plane, qntRECT_s rect, uint8_t* buffer, uint32_t rowBytes)
{
    return i_Transfer(Transfer::GetAbsolute, plane, rect, buffer, nullptr, rowBytes, 0);
}

bool CQNF_8BFPluginVirtual::HostPutChanel(uint8_t plane, qntRECT_s rect, const uint8_t* buffer, uint32_t rowBytes)
{
    return i_Transfer(Transfer::Put, plane, rect, nullptr, buffer, rowBytes, 0);
}

bool CQNF_8BFPluginVirtual::HostPutChanel(uint8_t plane, qntRECT_s rect, uint8_t value)
{
    return i_Transfer(Transfer::PutValue, plane, rect, nullptr, nullptr, 0, value);
}

bool CQNF_8BFPluginVirtual::i_Transfer(Transfer kind, int plane, qntRECT_s rect, uint8_t* buffer,
                                       const uint8_t* source, uint32_t rowBytes, uint8_t value)
{
    // Start clean.
    ResetError();
    HostSetRetCode_NoError();
    FilterRecord* r = m_pRecord;
    if (!r) {
        SetError(qnerr::BadArgument);
        return false;
    }
    const bool reading = kind == Transfer::Get || kind == Transfer::GetMask || kind == Transfer::GetAbsolute;
    // No request stands from an earlier transfer.
    EmptyRects();
    // Check the space the host offers and the arguments.
    if (r->maxSpace <= 0) {
        HostSetRetCode_BadParam();
        return false;
    }
    const int64_t width = int64_t{rect.right} - rect.left;
    const int64_t height = int64_t{rect.bottom} - rect.top;
    if (width <= 0 || height <= 0) {
        SetError(qnerr::BadArgument);
        return false;
    }
    if ((reading && !buffer) || (kind == Transfer::Put && !source) || (kind != Transfer::PutValue && rowBytes < width)) {
        SetError(qnerr::BadArgument);
        return false;
    }
    if (kind == Transfer::GetAbsolute && !r->supportsAbsolute) {
        SetError(qnerr::BadArgument);
        return false;
    }
    // Rows per band within the host's space.
    int64_t rowsPerBand = r->maxSpace / width;
    if (rowsPerBand > height)
        rowsPerBand = height;
    if (rowsPerBand == 0) {
        SetError(qnerr::BadArgument);
        HostSetRetCode_BadParam();
        return false;
    }
    if (kind == Transfer::Get || kind == Transfer::GetMask)
        r->wantsAbsolute = 0;
    else if (kind == Transfer::GetAbsolute)
        r->wantsAbsolute = 1;

    // Band by band: ask the host, copy, advance.
    for (int64_t done = 0; done < height; done += rowsPerBand) {
        const int64_t rows = done + rowsPerBand > height ? height - done : rowsPerBand;
        const int32_t top = static_cast<int32_t>(rect.top + done);
        const FilterRect16 band = Rect16(top, rect.left, static_cast<int32_t>(top + rows), rect.right);
        switch (kind) {
        case Transfer::Get:
        case Transfer::GetAbsolute:
            r->inRect = band;
            r->inLoPlane = r->inHiPlane = static_cast<int16_t>(plane);
            break;
        case Transfer::GetMask:
            r->maskRect = band;
            break;
        case Transfer::Put:
        case Transfer::PutValue:
            r->outRect = band;
            r->outLoPlane = r->outHiPlane = static_cast<int16_t>(plane);
            break;
        }
        if (!HostDoIt())
            return false;

        const uint8_t* hostIn = nullptr;
        uint8_t* hostOut = nullptr;
        int32_t hostRowBytes = 0;
        switch (kind) {
        case Transfer::Get:
        case Transfer::GetAbsolute:
            hostIn = static_cast<const uint8_t*>(r->inData);
            hostRowBytes = r->inRowBytes;
            break;
        case Transfer::GetMask:
            hostIn = static_cast<const uint8_t*>(r->maskData);
            hostRowBytes = r->maskRowBytes;
            break;
        case Transfer::Put:
        case Transfer::PutValue:
            hostOut = static_cast<uint8_t*>(r->outData);
            hostRowBytes = r->outRowBytes;
            break;
        }
        // A host row shorter than the band would be read or written past its end.
        if ((!hostIn && !hostOut) || hostRowBytes < width) {
            HostSetRetCode_BadParam();
            return false;
        }
        for (int64_t y = 0; y < rows; ++y) {
            const size_t hostOffset = static_cast<size_t>(y) * static_cast<size_t>(hostRowBytes);
            const size_t ourOffset = static_cast<size_t>(done + y) * rowBytes;
            switch (kind) {
            case Transfer::Get:
            case Transfer::GetAbsolute:
            case Transfer::GetMask:
                std::memcpy(buffer + ourOffset, hostIn + hostOffset, static_cast<size_t>(width));
                break;
            case Transfer::Put:
                std::memcpy(hostOut + hostOffset, source + ourOffset, static_cast<size_t>(width));
                break;
            case Transfer::PutValue:
                std::memset(hostOut + hostOffset, value, static_cast<size_t>(width));
                break;
            }
        }
    }
    // Leave no request standing.
    EmptyRects();
    return true;
}
