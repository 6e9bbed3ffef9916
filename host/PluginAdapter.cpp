// The adapter object, result codes, selector defaults and the document picture.
#include "host/PluginAdapter.h"

#include "core/Storage.h"
#include "imaging/ImageFile.h"

#include <algorithm>
#include <cstring>

namespace {

// More channel names than any document has; a host reporting more is not
// believed.
constexpr intptr_t kMaxChannelNames = 1000;

}  // namespace

CQNF_8BFPluginVirtual::CQNF_8BFPluginVirtual() = default;

CQNF_8BFPluginVirtual::~CQNF_8BFPluginVirtual()
{
    // Only reachable when a suite was acquired outside a dispatched host
    // call; the provider, unlike the parameter block, lives as long as the host.
    if (m_pPortsSuite && m_pSuiteOwner && m_pSuiteOwner->ReleaseSuite)
        m_pSuiteOwner->ReleaseSuite(filterChannelPortsSuiteName, filterChannelPortsSuiteVersion);
    delete m_pConfStorage;
}

void CQNF_8BFPluginVirtual::DoAbout() {}

void CQNF_8BFPluginVirtual::DoParameters()
{
    m_bDialogWanted = 1;
}

void CQNF_8BFPluginVirtual::DoPrepare() {}

void CQNF_8BFPluginVirtual::DoStart() {}

void CQNF_8BFPluginVirtual::DoContinue()
{
    EmptyRects();
}

void CQNF_8BFPluginVirtual::DoFinish()
{
    EmptyRects();
    m_bDialogWanted = 0;
}

void CQNF_8BFPluginVirtual::SetHostPointers(FilterRecord* record, intptr_t* data, int16_t* result)
{
    m_pRecord = record;
    m_pData = data;
    m_pResult = result;
}

void CQNF_8BFPluginVirtual::HostSetRetCode(int16_t code)
{
    if (m_pResult)
        *m_pResult = code;
}

int16_t CQNF_8BFPluginVirtual::HostGetRetCode() const
{
    return m_pResult ? *m_pResult : 0;
}

void CQNF_8BFPluginVirtual::EmptyRects()
{
    if (!m_pRecord)
        return;
    m_pRecord->inRect = FilterRect16{0, 0, 0, 0};
    m_pRecord->outRect = FilterRect16{0, 0, 0, 0};
    m_pRecord->maskRect = FilterRect16{0, 0, 0, 0};
}

bool CQNF_8BFPluginVirtual::GetDataFromHostParameters()
{
    return false;
}

bool CQNF_8BFPluginVirtual::PutDataToHostParameters()
{
    return false;
}

bool CQNF_8BFPluginVirtual::FillPluginData()
{
    ResetError();
    m_Data = PLUGINDATA{};
    m_ChannelNames.Empty();
    // A layer table describes the document of an earlier Start.
    m_memLayers.free();
    m_pLayers = nullptr;
    m_nLayers = 0;
    FilterRecord* r = m_pRecord;
    if (!r) {
        SetError(qnerr::BadArgument);
        return false;
    }
    PLUGINDATA& d = m_Data;

    // Rectangles and sizes.
    d.filterRect = qntRECT_s{r->filterRect.left, r->filterRect.top, r->filterRect.right, r->filterRect.bottom};
    const int32_t fw = d.filterRect.right - d.filterRect.left;
    const int32_t fh = d.filterRect.bottom - d.filterRect.top;
    if (fw < 0 || fh < 0) {
        SetError(qnerr::BadArgument);
        return false;
    }
    if (r->wholeSize.h == 0 || r->wholeSize.v == 0) {
        d.wholeSize = qntSIZE_s{fw, fh};
        d.imageSize = qntSIZE_s{fw, fh};
        d.offset = qntPOS{0, 0};
    } else {
        d.wholeSize = qntSIZE_s{r->wholeSize.h, r->wholeSize.v};
        d.imageSize = qntSIZE_s{r->imageSize.h, r->imageSize.v};
        d.offset = qntPOS{r->floatCoord.h, r->floatCoord.v};
    }
    // The work rectangle in document coordinates: the filter rectangle moved
    // by the floating offset, here and after the work rectangle shrinks.
    d.documentRect = qntRECT_s{d.offset.x + d.filterRect.left, d.offset.y + d.filterRect.top,
                               d.offset.x + d.filterRect.right, d.offset.y + d.filterRect.bottom};

    // Mode and depth; only 8 bits per channel are taken.
    uint8_t colourPlanes = 0;
    switch (r->imageMode) {
    case filterModeGray:
        d.colorMode = 0;
        colourPlanes = 1;
        break;
    case filterModeRGB:
        d.colorMode = 1;
        colourPlanes = 3;
        break;
    case filterModeCMYK:
        d.colorMode = 2;
        colourPlanes = 4;
        break;
    default:
        SetError(qnerr::HostUnsupportedImage);
        return false;
    }
    if (r->depth != 8) {
        SetError(qnerr::HostUnsupportedImage);
        return false;
    }
    d.depth = 8;
    d.planes = colourPlanes;
    d.hostMask = r->haveMask ? 1 : 0;

    // Filter case.
    static const uint8_t kCases[8][3] = {
        // has transparency, editable, with selection (2: as haveMask)
        {0, 0, 2}, {0, 0, 0}, {0, 0, 1}, {1, 1, 1}, {1, 1, 0}, {1, 1, 1}, {1, 0, 0}, {1, 0, 1},
    };
    if (r->filterCase < 0 || r->filterCase > 7) {
        SetError(qnerr::HostUnsupportedImage);
        return false;
    }
    const uint8_t* c = kCases[r->filterCase];
    d.hasTransparency = c[0];
    d.transparencyEditable = c[1];
    d.withSelection = c[2] == 2 ? d.hostMask : c[2];
    if (r->filterCase >= 1 && r->hostSig != filterHostSigReference) {
        if (!d.hasTransparency && r->inTransparencyMask >= 1)
            d.hasTransparency = 1;
        if (!d.transparencyEditable && r->outTransparencyMask >= 1)
            d.transparencyEditable = 1;
    }
    if (d.hasTransparency)
        d.planes = static_cast<uint8_t>(d.planes + 1);
    // Editable transparency without a transparency plane cannot be written.
    if (!d.hasTransparency)
        d.transparencyEditable = 0;

    // Colours.
    std::memcpy(d.foreColor, r->foreColor, 4);
    std::memcpy(d.backColor, r->backColor, 4);

    // Resolution.
    // Taken as a file's is: a host's 0 (or a pixel wider than an inch)
    // names none, one direction without takes the other's.
    d.resolutionH = r->imageHRes / 65536.0;
    d.resolutionV = r->imageVRes / 65536.0;
    qnTakenResolution(d.resolutionH, d.resolutionV);

    // Ruler unit.
    if (r->getPropertyProc) {
        intptr_t unit = 0;
        if (r->getPropertyProc(filterPropSignature, filterPropRulerUnits, 0, &unit, nullptr) == 0)
            d.rulerUnit = unit >= 0 && unit <= 3 ? static_cast<uint8_t>(unit) : unit == 6 ? 4 : 0;
    }

    // Channel names.
    if (r->supportsAbsolute && r->getPropertyProc) {
        intptr_t count = 0;
        if (r->getPropertyProc(filterPropSignature, filterPropNumberOfChannels, 0, &count, nullptr) == 0 &&
            count > 0 && count <= kMaxChannelNames) {
            d.channelNamesPresent = 1;
            d.channelCount = static_cast<uint16_t>(count);
            const HandleProcs* hp = r->handleProcs;
            for (intptr_t i = 0; i < count; ++i) {
                CQNF_String name;
                bool named = false;
                FilterHandle h = nullptr;
                if (hp && hp->lockProc && hp->unlockProc && hp->disposeProc && hp->getSizeProc &&
                    r->getPropertyProc(filterPropSignature, filterPropChannelName, static_cast<int32_t>(i), nullptr,
                                       &h) == 0) {
                    if (h) {
                        const int32_t size = hp->getSizeProc(h);
                        const char* bytes = hp->lockProc(h, 0);
                        if (bytes && size >= 0) {
                            // A name ends at its first NUL or at the handle's end.
                            const size_t n = strnlen(bytes, static_cast<size_t>(size));
                            name = std::string(bytes, n).c_str();
                            named = true;
                        }
                        hp->unlockProc(h);
                        hp->disposeProc(h);
                    } else {
                        named = true;  // an empty handle is the empty name
                    }
                }
                if (!named)
                    name.Format("Channel %d", static_cast<int>(i + 1));
                m_ChannelNames.Add(name, static_cast<uint32_t>(i));
            }
        }
    }

    // ICC profile.
    const HandleProcs* hp = r->handleProcs;
    if (hp && hp->lockProc && hp->unlockProc && r->canUseICCProfiles && r->iCCprofileData && r->iCCprofileSize > 0) {
        uint32_t size = static_cast<uint32_t>(r->iCCprofileSize);
        // Never copy more than the handle holds.
        if (hp->getSizeProc) {
            const int32_t held = hp->getSizeProc(r->iCCprofileData);
            size = held > 0 ? std::min(size, static_cast<uint32_t>(held)) : 0;
        }
        if (size > 0 && (m_memICC.GetSize() >= size || m_memICC.Resize(size))) {
            const char* bytes = hp->lockProc(r->iCCprofileData, 0);
            if (bytes) {
                std::memcpy(m_memICC.GetPtr(), bytes, size);
                d.iccProfile = m_memICC.GetPtr();
                d.iccSize = size;
            }
            hp->unlockProc(r->iCCprofileData);
        }
    }

    // Layers.
    if (r->sSPBasic && r->sSPBasic->AcquireSuite && r->documentInfo && r->documentInfo->version >= 2 &&
        r->documentInfo->layersDescriptor && InitPSSuites())
        d.layersAvailable = 1;
    ResetError();
    return true;
}

CQNF_Storage* CQNF_8BFPluginVirtual::ConfStorage_GetStorage()
{
    return m_bConfOpen ? m_pConfStorage : nullptr;
}
