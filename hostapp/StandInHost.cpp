#include "hostapp/StandInHost.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace hostapp {

namespace {

StandInHost* g_current = nullptr;

constexpr int16_t kHostError = -1;
constexpr uint32_t kHandleMagic = 0x514E4844;  // "QNHD"

bool IsEmpty(const FilterRect16& r)
{
    return r.right <= r.left || r.bottom <= r.top;
}

int RectWidth(const FilterRect16& r)
{
    return r.right - r.left;
}

int RectHeight(const FilterRect16& r)
{
    return r.bottom - r.top;
}

bool Inside(const FilterRect16& r, int left, int top, int right, int bottom)
{
    return r.left >= left && r.top >= top && r.right <= right && r.bottom <= bottom;
}

std::string RectText(const FilterRect16& r)
{
    char text[64];
    std::snprintf(text, sizeof text, "(%d,%d)-(%d,%d)", r.left, r.top, r.right, r.bottom);
    return text;
}

const char* const kGrayNames[] = {"Gray"};
const char* const kRGBNames[] = {"Red", "Green", "Blue"};
const char* const kCMYKNames[] = {"Cyan", "Magenta", "Yellow", "Black"};

const char* ColourName(ColorMode mode, int c)
{
    switch (mode) {
    case ColorMode::Gray:
        return kGrayNames[0];
    case ColorMode::RGB:
        return kRGBNames[c];
    case ColorMode::CMYK:
        return kCMYKNames[c];
    }
    return "";
}

bool ValidSpace(int16_t space)
{
    return space == colorSpaceRGB || space == colorSpaceGray || space == colorSpaceCMYK;
}

}  // namespace

struct StandInHost::HandleRec {
    uint32_t magic = kHandleMagic;
    std::vector<char> bytes;  // one spare byte so that an empty handle still locks
    int32_t size = 0;
    int locks = 0;
};

struct StandInHost::PortRec {
    const std::vector<uint8_t>* plane = nullptr;
};

struct StandInHost::ReadToken {
    HostDescriptor descriptor;
    size_t next = 0;  // index of the item after the current one
};

struct StandInHost::WriteToken {
    HostDescriptor descriptor;
};

StandInHost::StandInHost(HostDocument document, HostSettings settings)
    : m_doc(std::move(document)), m_settings(settings)
{
}

StandInHost::~StandInHost()
{
    if (g_current == this)
        g_current = nullptr;
}

StandInHost* StandInHost::Current()
{
    return g_current;
}

void StandInHost::Violation(const std::string& what)
{
    m_violations.push_back(what);
}

void StandInHost::SetDescriptor(const std::vector<uint8_t>& bytes)
{
    m_descriptorBytes = bytes;
}

size_t StandInHost::LeakedHandles() const
{
    size_t n = 0;
    for (const auto& [rec, owned] : m_handles) {
        const FilterHandle h = reinterpret_cast<FilterHandle>(rec);
        if (h != m_iccHandle && h != m_descParams.descriptor && h != m_record.parameters)
            ++n;
    }
    return n;
}

// ---- Parameter block ----------------------------------------------------

int StandInHost::PlaneCount(bool absolute) const
{
    const RasterImage& t = m_doc.Target().pixels;
    const int relative = ColorPlanes(m_doc.mode) + (t.hasAlpha ? 1 : 0);
    return absolute ? relative + static_cast<int>(m_doc.channels.size()) : relative;
}

const std::vector<uint8_t>* StandInHost::InputPlane(int plane, bool absolute) const
{
    const int relative = PlaneCount(false);
    if (plane < 0)
        return nullptr;
    if (plane < relative)
        return &m_original.planes[static_cast<size_t>(plane)];
    if (absolute && plane < PlaneCount(true))
        return &m_doc.channels[static_cast<size_t>(plane - relative)].plane;
    return nullptr;
}

void StandInHost::BuildRecord()
{
    FilterRecord& r = m_record;
    r = FilterRecord{};
    const RasterImage& t = m_doc.Target().pixels;
    const bool hasAlpha = t.hasAlpha;
    const bool hasSelection = !m_doc.selection.empty();

    r.hostSig = m_settings.hostSig;
    switch (m_doc.mode) {
    case ColorMode::Gray:
        r.imageMode = filterModeGray;
        break;
    case ColorMode::RGB:
        r.imageMode = filterModeRGB;
        break;
    case ColorMode::CMYK:
        r.imageMode = filterModeCMYK;
        break;
    }
    if (m_settings.imageMode)
        r.imageMode = static_cast<int16_t>(*m_settings.imageMode);
    r.depth = static_cast<int16_t>(m_settings.depth);
    if (!hasAlpha)
        r.filterCase = hasSelection ? filterCaseFlatImageWithSelection : filterCaseFlatImageNoSelection;
    else if (m_settings.protectTransparency)
        r.filterCase = hasSelection ? filterCaseProtectedTransparencyWithSelection
                                    : filterCaseProtectedTransparencyNoSelection;
    else
        r.filterCase =
            hasSelection ? filterCaseEditableTransparencyWithSelection : filterCaseEditableTransparencyNoSelection;
    if (m_settings.filterCase)
        r.filterCase = static_cast<int16_t>(*m_settings.filterCase);
    r.haveMask = hasSelection ? 1 : 0;
    r.supportsAbsolute = 1;

    // The filter works on the selection's bounding box, or the whole canvas.
    int left = 0, top = 0, right = m_doc.width, bottom = m_doc.height;
    if (hasSelection) {
        left = m_doc.width;
        top = m_doc.height;
        right = 0;
        bottom = 0;
        for (int y = 0; y < m_doc.height; ++y)
            for (int x = 0; x < m_doc.width; ++x)
                if (m_doc.selection[static_cast<size_t>(y) * m_doc.width + x]) {
                    left = std::min(left, x);
                    right = std::max(right, x + 1);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y + 1);
                }
        if (right <= left)
            left = top = right = bottom = 0;
    }
    r.filterRect = FilterRect16{static_cast<int16_t>(top), static_cast<int16_t>(left), static_cast<int16_t>(bottom),
                                static_cast<int16_t>(right)};
    r.imageSize = FilterPoint{m_doc.width, m_doc.height};
    r.wholeSize = r.imageSize;
    r.floatCoord = FilterPoint{0, 0};
    r.imageHRes = r.imageVRes = static_cast<int32_t>(m_doc.resolution * 65536.0);
    if (m_settings.hostSig != filterHostSigReference) {
        r.inTransparencyMask = hasAlpha ? 1 : 0;
        r.outTransparencyMask = hasAlpha && !m_settings.protectTransparency ? 1 : 0;
    }
    ColorInMode(m_doc.foreground, m_doc.mode, r.foreColor);
    ColorInMode(m_doc.background, m_doc.mode, r.backColor);
    r.maxSpace = m_settings.maxSpace;

    if (m_settings.offerAdvanceState)
        r.advanceState = &StandInHost::AdvanceState;
    if (m_settings.offerAbort)
        r.abortProc = &StandInHost::TestAbort;
    if (m_settings.offerProgress)
        r.progressProc = &StandInHost::UpdateProgress;
    r.processEvent = &StandInHost::ProcessEvent;
    if (m_settings.offerProperties)
        r.getPropertyProc = &StandInHost::GetProperty;
    if (m_settings.offerColorServices)
        r.colorServices = &StandInHost::ColorServices;

    m_handleProcs = HandleProcs{1,
                                6,
                                &StandInHost::HandleNew,
                                &StandInHost::HandleDispose,
                                &StandInHost::HandleGetSize,
                                &StandInHost::HandleSetSize,
                                &StandInHost::HandleLock,
                                &StandInHost::HandleUnlock};
    if (m_settings.offerHandles)
        r.handleProcs = &m_handleProcs;

    if (!m_doc.icc.empty() && m_settings.offerHandles) {
        m_iccHandle = NewHandle(m_doc.icc.data(), m_doc.icc.size());
        r.canUseICCProfiles = 1;
        r.iCCprofileData = m_iccHandle;
        r.iCCprofileSize = static_cast<int32_t>(m_doc.icc.size());
    }

    m_readProcs = ReadDescriptorProcs{1,
                                      5,
                                      &StandInHost::OpenRead,
                                      &StandInHost::CloseRead,
                                      &StandInHost::GetKey,
                                      &StandInHost::GetInteger,
                                      &StandInHost::GetText};
    m_writeProcs = WriteDescriptorProcs{
        1, 4, &StandInHost::OpenWrite, &StandInHost::CloseWrite, &StandInHost::PutInteger, &StandInHost::PutText};
    m_descParams = DescriptorParameters{};
    m_descParams.descriptorParametersVersion = 1;
    m_descParams.playInfo = m_settings.playInfo;
    m_descParams.recordInfo = descriptorRecordSilent;
    m_descParams.readDescriptorProcs = &m_readProcs;
    m_descParams.writeDescriptorProcs = &m_writeProcs;
    if (!m_descriptorBytes.empty())
        m_descParams.descriptor = NewHandle(m_descriptorBytes.data(), m_descriptorBytes.size());
    if (m_settings.offerDescriptors)
        r.descriptorParameters = &m_descParams;

    m_basicSuite = BasicSuite{&StandInHost::AcquireSuite, &StandInHost::ReleaseSuite};
    m_portsSuite = ChannelPortsSuite{&StandInHost::PortCanRead, &StandInHost::PortRead, &StandInHost::PortReadScaled};
    if (m_settings.offerSuites)
        r.sSPBasic = &m_basicSuite;
    BuildDocumentInfo();
    if (m_settings.offerDocumentInfo)
        r.documentInfo = &m_docInfo;
}

void StandInHost::BuildDocumentInfo()
{
    m_channelDescs.clear();
    m_layerDescs.clear();
    m_ports.clear();
    m_names.clear();
    m_composite = m_doc.Composite();
    const FilterRect32 canvas{0, 0, m_doc.height, m_doc.width};

    // Builds a list of channel descriptions over the given planes.
    auto chain = [&](const std::vector<const std::vector<uint8_t>*>& planes,
                     const std::vector<std::string>& names) -> ChannelDescription* {
        ChannelDescription* first = nullptr;
        ChannelDescription* last = nullptr;
        for (size_t i = 0; i < planes.size(); ++i) {
            m_ports.push_back(PortRec{planes[i]});
            m_names.push_back(names[i]);
            m_channelDescs.push_back(ChannelDescription{});
            ChannelDescription& d = m_channelDescs.back();
            d.port = reinterpret_cast<ChannelReadPort>(&m_ports.back());
            d.bounds = canvas;
            d.depth = 8;
            d.name = m_names.back().c_str();
            if (last)
                last->next = &d;
            else
                first = &d;
            last = &d;
        }
        return first;
    };

    const int colours = ColorPlanes(m_doc.mode);
    std::vector<std::string> colourNames;
    for (int c = 0; c < colours; ++c)
        colourNames.push_back(ColourName(m_doc.mode, c));

    LayerDescription* previous = nullptr;
    for (const HostLayer& layer : m_doc.layers) {
        std::vector<const std::vector<uint8_t>*> planes;
        for (int c = 0; c < colours; ++c)
            planes.push_back(&layer.pixels.planes[static_cast<size_t>(c)]);
        m_layerDescs.push_back(LayerDescription{});
        LayerDescription& l = m_layerDescs.back();
        l.compositeChannelsList = chain(planes, colourNames);
        if (layer.pixels.hasAlpha)
            l.transparency = chain({&layer.pixels.planes[static_cast<size_t>(colours)]}, {"Transparency"});
        l.sheetID = layer.id;
        m_names.push_back(layer.name);
        l.name = m_names.back().c_str();
        l.isPixelBased = 1;
        if (previous)
            previous->next = &l;
        previous = &l;
    }

    m_docInfo = DocumentInfo{};
    m_docInfo.version = 2;
    m_docInfo.depth = 8;
    m_docInfo.bounds = canvas;
    std::vector<const std::vector<uint8_t>*> merged;
    for (int c = 0; c < colours; ++c)
        merged.push_back(&m_composite.planes[static_cast<size_t>(c)]);
    m_docInfo.mergedCompositeChannels = chain(merged, colourNames);
    if (m_composite.hasAlpha)
        m_docInfo.mergedTransparency = chain({&m_composite.planes[static_cast<size_t>(colours)]}, {"Transparency"});
    std::vector<const std::vector<uint8_t>*> extra;
    std::vector<std::string> extraNames;
    for (const HostChannel& ch : m_doc.channels) {
        extra.push_back(&ch.plane);
        extraNames.push_back(ch.name);
    }
    m_docInfo.alphaChannels = chain(extra, extraNames);
    m_docInfo.layersDescriptor = m_layerDescs.empty() ? nullptr : &m_layerDescs.front();
}

// ---- Running the plug-in --------------------------------------------------

int16_t StandInHost::Call(FilterEntryProc entry, int16_t selector)
{
    g_current = this;
    int16_t result = 0;
    intptr_t data = 0;
    entry(selector, &m_record, &data, &result);
    CommitPending();
    m_inBuffer.reset();
    m_maskBuffer.reset();
    m_record.inData = nullptr;
    m_record.outData = nullptr;
    m_record.maskData = nullptr;
    CheckAfterCall();
    return result;
}

void StandInHost::CheckAfterCall()
{
    if (m_suitesHeld > 0)
        Violation("a suite is still held after the selector returned");
}

int16_t StandInHost::Run(FilterEntryProc entry, Sequence sequence)
{
    // What the plug-in did is counted per run.
    m_requests.clear();
    m_progressDone.clear();
    m_abortCalls = m_advanceCalls = m_processEvents = m_suiteReads = 0;
    m_original = m_doc.Target().pixels;
    m_working = m_original;
    BuildRecord();

    int16_t result = 0;
    if (sequence == Sequence::About) {
        result = Call(entry, filterSelectorAbout);
    } else {
        if (sequence == Sequence::Dialog)
            result = Call(entry, filterSelectorParameters);
        if (result == 0)
            result = Call(entry, filterSelectorPrepare);
        if (result == 0)
            result = Call(entry, filterSelectorStart);
        // A plug-in that leaves a request standing gets Continue rounds.
        long rounds = 0;
        while (result == 0 && (!IsEmpty(m_record.inRect) || !IsEmpty(m_record.outRect) ||
                               !IsEmpty(m_record.maskRect))) {
            if (++rounds > 1000000) {
                Violation("the plug-in never stopped asking for Continue");
                result = filterBadParameters;
                break;
            }
            result = Call(entry, filterSelectorContinue);
        }
        if (result == 0)
            result = Call(entry, filterSelectorFinish);
        if (result == 0)
            ApplyResult();
    }

    // Take over the descriptor the plug-in left; only a successful run is
    // recorded.
    m_recordInfo = m_descParams.recordInfo;
    if (m_descParams.descriptor) {
        if (result == 0)
            m_descriptorBytes = HandleBytes(m_descParams.descriptor);
        HandleDispose(m_descParams.descriptor);
        m_descParams.descriptor = nullptr;
    } else if (result == 0 && sequence != Sequence::About) {
        m_descriptorBytes.clear();
    }
    if (m_iccHandle) {
        HandleDispose(m_iccHandle);
        m_iccHandle = nullptr;
    }
    m_record.iCCprofileData = nullptr;

    const size_t leaked = LeakedHandles();
    if (leaked > 0)
        Violation(std::to_string(leaked) + " handle(s) never disposed");
    m_handles.clear();
    if (!m_readTokens.empty())
        Violation("a read descriptor was never closed");
    if (!m_writeTokens.empty())
        Violation("a write descriptor was never closed");
    m_readTokens.clear();
    m_writeTokens.clear();
    return result;
}

void StandInHost::ApplyResult()
{
    const FilterRect16& fr = m_record.filterRect;
    RasterImage& target = m_doc.Target().pixels;
    const bool masked = !m_doc.selection.empty();
    for (size_t p = 0; p < target.planes.size(); ++p)
        for (int y = fr.top; y < fr.bottom; ++y)
            for (int x = fr.left; x < fr.right; ++x) {
                const size_t i = static_cast<size_t>(y) * m_doc.width + x;
                const uint32_t res = m_working.planes[p][i];
                if (!masked) {
                    target.planes[p][i] = static_cast<uint8_t>(res);
                    continue;
                }
                const uint32_t m = m_doc.selection[i];
                const uint32_t orig = m_original.planes[p][i];
                target.planes[p][i] = static_cast<uint8_t>((res * m + orig * (255 - m) + 127) / 255);
            }
}

// ---- Pixel requests ---------------------------------------------------------

void StandInHost::CommitPending()
{
    if (!m_pending.buffer)
        return;
    const FilterRect16& r = m_pending.rect;
    const int planes = m_pending.hi - m_pending.lo + 1;
    for (int y = 0; y < RectHeight(r); ++y) {
        const uint8_t* row = m_pending.buffer.get() + static_cast<size_t>(y) * m_pending.rowBytes;
        for (int p = 0; p < planes; ++p) {
            std::vector<uint8_t>& plane = m_working.planes[static_cast<size_t>(m_pending.lo + p)];
            const size_t base = static_cast<size_t>(r.top + y) * m_doc.width + r.left;
            for (int x = 0; x < RectWidth(r); ++x)
                plane[base + x] = row[static_cast<size_t>(x) * planes + p];
        }
    }
    m_pending = PendingOutput{};
}

int16_t StandInHost::DoAdvanceState()
{
    ++m_advanceCalls;
    CommitPending();
    m_inBuffer.reset();
    m_maskBuffer.reset();
    FilterRecord& r = m_record;
    r.inData = nullptr;
    r.outData = nullptr;
    r.maskData = nullptr;
    r.inRowBytes = r.outRowBytes = r.maskRowBytes = 0;

    const bool wantIn = !IsEmpty(r.inRect);
    const bool wantOut = !IsEmpty(r.outRect);
    const bool wantMask = !IsEmpty(r.maskRect);
    const bool absolute = r.wantsAbsolute != 0;
    const int colours = ColorPlanes(m_doc.mode);
    const bool editable = m_original.hasAlpha && !m_settings.protectTransparency;
    const FilterRect16& fr = r.filterRect;
    size_t bytes = 0;

    if (wantIn) {
        m_requests.push_back(PixelRequest{'i', r.inRect, r.inLoPlane, r.inHiPlane, absolute});
        if (!Inside(r.inRect, 0, 0, m_doc.width, m_doc.height)) {
            Violation("input request " + RectText(r.inRect) + " outside the image");
            return kHostError;
        }
        if (r.inLoPlane < 0 || r.inHiPlane < r.inLoPlane || r.inHiPlane >= PlaneCount(absolute)) {
            Violation("input request for planes " + std::to_string(r.inLoPlane) + ".." + std::to_string(r.inHiPlane) +
                      " that do not exist");
            return kHostError;
        }
        bytes += static_cast<size_t>(RectWidth(r.inRect)) * RectHeight(r.inRect) * (r.inHiPlane - r.inLoPlane + 1);
    }
    if (wantOut) {
        m_requests.push_back(PixelRequest{'o', r.outRect, r.outLoPlane, r.outHiPlane, false});
        if (!Inside(r.outRect, fr.left, fr.top, fr.right, fr.bottom)) {
            Violation("output request " + RectText(r.outRect) + " outside the filter rectangle");
            return kHostError;
        }
        if (r.outLoPlane < 0 || r.outHiPlane < r.outLoPlane || r.outHiPlane >= PlaneCount(false)) {
            Violation("output request for planes " + std::to_string(r.outLoPlane) + ".." +
                      std::to_string(r.outHiPlane) + " that do not exist");
            return kHostError;
        }
        if (!editable && r.outHiPlane >= colours) {
            Violation("output request for protected transparency");
            return kHostError;
        }
        bytes += static_cast<size_t>(RectWidth(r.outRect)) * RectHeight(r.outRect) * (r.outHiPlane - r.outLoPlane + 1);
    }
    if (wantMask) {
        m_requests.push_back(PixelRequest{'m', r.maskRect, 0, 0, false});
        if (!Inside(r.maskRect, 0, 0, m_doc.width, m_doc.height)) {
            Violation("mask request " + RectText(r.maskRect) + " outside the image");
            return kHostError;
        }
        bytes += static_cast<size_t>(RectWidth(r.maskRect)) * RectHeight(r.maskRect);
    }
    if (m_settings.strictSpace && bytes > static_cast<size_t>(std::max<int32_t>(m_settings.maxSpace, 0))) {
        Violation("requests of " + std::to_string(bytes) + " bytes above the " + std::to_string(m_settings.maxSpace) +
                  " offered");
        return kHostError;
    }

    const size_t pad = static_cast<size_t>(std::max(m_settings.rowPad, 0));
    if (wantIn) {
        const int planes = r.inHiPlane - r.inLoPlane + 1;
        const size_t rowBytes = static_cast<size_t>(RectWidth(r.inRect)) * planes + pad;
        m_inBuffer.reset(new uint8_t[rowBytes * RectHeight(r.inRect)]);
        std::memset(m_inBuffer.get(), 0xA5, rowBytes * RectHeight(r.inRect));
        for (int p = 0; p < planes; ++p) {
            const std::vector<uint8_t>& plane = *InputPlane(r.inLoPlane + p, absolute);
            for (int y = 0; y < RectHeight(r.inRect); ++y) {
                const size_t base = static_cast<size_t>(r.inRect.top + y) * m_doc.width + r.inRect.left;
                uint8_t* row = m_inBuffer.get() + y * rowBytes;
                for (int x = 0; x < RectWidth(r.inRect); ++x)
                    row[static_cast<size_t>(x) * planes + p] = plane[base + x];
            }
        }
        r.inData = m_inBuffer.get();
        r.inRowBytes = static_cast<int32_t>(rowBytes);
    }
    if (wantOut) {
        const int planes = r.outHiPlane - r.outLoPlane + 1;
        const size_t rowBytes = static_cast<size_t>(RectWidth(r.outRect)) * planes + pad;
        m_pending.buffer.reset(new uint8_t[rowBytes * RectHeight(r.outRect)]);
        std::memset(m_pending.buffer.get(), 0xA5, rowBytes * RectHeight(r.outRect));
        for (int p = 0; p < planes; ++p) {
            const std::vector<uint8_t>& plane = m_working.planes[static_cast<size_t>(r.outLoPlane + p)];
            for (int y = 0; y < RectHeight(r.outRect); ++y) {
                const size_t base = static_cast<size_t>(r.outRect.top + y) * m_doc.width + r.outRect.left;
                uint8_t* row = m_pending.buffer.get() + y * rowBytes;
                for (int x = 0; x < RectWidth(r.outRect); ++x)
                    row[static_cast<size_t>(x) * planes + p] = plane[base + x];
            }
        }
        m_pending.rect = r.outRect;
        m_pending.lo = r.outLoPlane;
        m_pending.hi = r.outHiPlane;
        m_pending.rowBytes = static_cast<int32_t>(rowBytes);
        r.outData = m_pending.buffer.get();
        r.outRowBytes = m_pending.rowBytes;
    }
    if (wantMask && !m_doc.selection.empty()) {
        const size_t rowBytes = static_cast<size_t>(RectWidth(r.maskRect)) + pad;
        m_maskBuffer.reset(new uint8_t[rowBytes * RectHeight(r.maskRect)]);
        for (int y = 0; y < RectHeight(r.maskRect); ++y) {
            const size_t base = static_cast<size_t>(r.maskRect.top + y) * m_doc.width + r.maskRect.left;
            std::memcpy(m_maskBuffer.get() + y * rowBytes, m_doc.selection.data() + base,
                        static_cast<size_t>(RectWidth(r.maskRect)));
        }
        r.maskData = m_maskBuffer.get();
        r.maskRowBytes = static_cast<int32_t>(rowBytes);
    }
    return 0;
}

int16_t StandInHost::AdvanceState()
{
    StandInHost* h = Current();
    return h ? h->DoAdvanceState() : kHostError;
}

uint8_t StandInHost::TestAbort()
{
    StandInHost* h = Current();
    if (!h)
        return 0;
    ++h->m_abortCalls;
    return h->m_settings.abortAfter >= 1 && h->m_abortCalls >= h->m_settings.abortAfter ? 1 : 0;
}

void StandInHost::UpdateProgress(int32_t done, int32_t total)
{
    StandInHost* h = Current();
    if (!h)
        return;
    if (total <= 0 || done < 0 || done > total)
        h->Violation("progress " + std::to_string(done) + " of " + std::to_string(total));
    h->m_progressDone.push_back(done);
}

void StandInHost::ProcessEvent(void*)
{
    if (StandInHost* h = Current())
        ++h->m_processEvents;
}

// ---- Properties and colours ---------------------------------------------------

int16_t StandInHost::GetProperty(uint32_t signature, uint32_t key, int32_t index, intptr_t* simple,
                                 FilterHandle* complex)
{
    StandInHost* h = Current();
    if (!h || signature != filterPropSignature)
        return kHostError;
    if (key == filterPropRulerUnits || key == filterPropNumberOfChannels) {
        if (!simple)
            return kHostError;
        *simple = key == filterPropRulerUnits ? h->m_doc.ruler : h->PlaneCount(true);
        return 0;
    }
    if (key == filterPropChannelName) {
        if (!complex || index < 0 || index >= h->PlaneCount(true))
            return kHostError;
        const int colours = ColorPlanes(h->m_doc.mode);
        const int relative = h->PlaneCount(false);
        std::string name;
        if (index < colours)
            name = ColourName(h->m_doc.mode, index);
        else if (index < relative)
            name = "Transparency";
        else
            name = h->m_doc.channels[static_cast<size_t>(index - relative)].name;
        *complex = h->NewHandle(name.data(), name.size());
        return *complex ? 0 : kHostError;
    }
    return kHostError;
}

int16_t StandInHost::ColorServices(ColorServicesInfo* info)
{
    StandInHost* h = Current();
    if (!h || !info || !ValidSpace(info->sourceSpace) || !ValidSpace(info->resultSpace))
        return kHostError;
    auto toMode = [](int16_t space) {
        return space == colorSpaceGray ? ColorMode::Gray : space == colorSpaceCMYK ? ColorMode::CMYK : ColorMode::RGB;
    };
    uint8_t rgb[3];
    if (info->selector == colorServicesChooseColor) {
        if (h->m_settings.pickCancels)
            return userCanceledErr;
        std::memcpy(rgb, h->m_settings.pick, 3);
    } else if (info->selector == colorServicesConvertColor) {
        uint8_t in[4];
        for (int c = 0; c < 4; ++c) {
            if (info->components[c] < 0 || info->components[c] > 255)
                return kHostError;
            in[c] = static_cast<uint8_t>(info->components[c]);
        }
        switch (toMode(info->sourceSpace)) {
        case ColorMode::Gray:
            rgb[0] = rgb[1] = rgb[2] = in[0];
            break;
        case ColorMode::RGB:
            std::memcpy(rgb, in, 3);
            break;
        case ColorMode::CMYK:
            RGBFromCMYK(in, rgb);
            break;
        }
    } else {
        return kHostError;
    }
    uint8_t out[4];
    ColorInMode(rgb, toMode(info->resultSpace), out);
    for (int c = 0; c < 4; ++c)
        info->components[c] = out[c];
    return 0;
}

// ---- Handles ---------------------------------------------------------------

FilterHandle StandInHost::NewHandle(const void* bytes, size_t size)
{
    auto rec = std::make_unique<HandleRec>();
    rec->bytes.assign(size + 1, 0);
    if (size && bytes)
        std::memcpy(rec->bytes.data(), bytes, size);
    rec->size = static_cast<int32_t>(size);
    HandleRec* raw = rec.get();
    m_handles.emplace(raw, std::move(rec));
    return reinterpret_cast<FilterHandle>(raw);
}

std::vector<uint8_t> StandInHost::HandleBytes(FilterHandle h) const
{
    auto it = m_handles.find(reinterpret_cast<HandleRec*>(h));
    if (it == m_handles.end())
        return {};
    const HandleRec& rec = *it->second;
    return std::vector<uint8_t>(rec.bytes.begin(), rec.bytes.begin() + rec.size);
}

StandInHost::HandleRec* StandInHost::FindHandle(FilterHandle h, const char* what)
{
    auto it = m_handles.find(reinterpret_cast<HandleRec*>(h));
    if (it == m_handles.end() || it->second->magic != kHandleMagic) {
        Violation(std::string(what) + " of a handle the host does not know");
        return nullptr;
    }
    return it->second.get();
}

FilterHandle StandInHost::HandleNew(int32_t size)
{
    StandInHost* h = Current();
    if (!h || size < 0)
        return nullptr;
    return h->NewHandle(nullptr, static_cast<size_t>(size));
}

void StandInHost::HandleDispose(FilterHandle handle)
{
    StandInHost* h = Current();
    if (!h || !handle)
        return;
    if (HandleRec* rec = h->FindHandle(handle, "disposal"))
        h->m_handles.erase(rec);
}

int32_t StandInHost::HandleGetSize(FilterHandle handle)
{
    StandInHost* h = Current();
    HandleRec* rec = h ? h->FindHandle(handle, "size query") : nullptr;
    return rec ? rec->size : 0;
}

int16_t StandInHost::HandleSetSize(FilterHandle handle, int32_t size)
{
    StandInHost* h = Current();
    HandleRec* rec = h ? h->FindHandle(handle, "resize") : nullptr;
    if (!rec || size < 0 || rec->locks > 0)
        return kHostError;
    rec->bytes.resize(static_cast<size_t>(size) + 1, 0);
    rec->size = size;
    return 0;
}

char* StandInHost::HandleLock(FilterHandle handle, uint8_t)
{
    StandInHost* h = Current();
    HandleRec* rec = h ? h->FindHandle(handle, "lock") : nullptr;
    if (!rec)
        return nullptr;
    ++rec->locks;
    return rec->bytes.data();
}

void StandInHost::HandleUnlock(FilterHandle handle)
{
    StandInHost* h = Current();
    HandleRec* rec = h ? h->FindHandle(handle, "unlock") : nullptr;
    if (rec && rec->locks > 0)
        --rec->locks;
}

// ---- Scripting descriptors ---------------------------------------------------

DescriptorReadToken StandInHost::OpenRead(FilterHandle descriptor, const DescriptorKey*)
{
    StandInHost* h = Current();
    if (!h || !descriptor)
        return nullptr;
    HandleRec* rec = h->FindHandle(descriptor, "descriptor read");
    if (!rec)
        return nullptr;
    auto token = std::make_unique<ReadToken>();
    std::string err;
    if (!HostDescriptor::Parse(reinterpret_cast<const uint8_t*>(rec->bytes.data()), static_cast<size_t>(rec->size),
                               token->descriptor, err))
        return nullptr;
    ReadToken* raw = token.get();
    h->m_readTokens.emplace(raw, std::move(token));
    return reinterpret_cast<DescriptorReadToken>(raw);
}

int16_t StandInHost::CloseRead(DescriptorReadToken token)
{
    StandInHost* h = Current();
    if (!h)
        return kHostError;
    if (h->m_readTokens.erase(reinterpret_cast<ReadToken*>(token)) == 0) {
        h->Violation("close of an unknown read descriptor");
        return kHostError;
    }
    return 0;
}

uint8_t StandInHost::GetKey(DescriptorReadToken token, DescriptorKey* key, DescriptorType* type, int32_t* flags)
{
    StandInHost* h = Current();
    if (!h)
        return 0;
    auto it = h->m_readTokens.find(reinterpret_cast<ReadToken*>(token));
    if (it == h->m_readTokens.end()) {
        h->Violation("key query on an unknown read descriptor");
        return 0;
    }
    ReadToken& t = *it->second;
    if (t.next >= t.descriptor.items.size())
        return 0;
    const DescriptorItem& item = t.descriptor.items[t.next++];
    if (key)
        *key = item.key;
    if (type)
        *type = item.type;
    if (flags)
        *flags = 0;
    return 1;
}

int16_t StandInHost::GetInteger(DescriptorReadToken token, int32_t* value)
{
    StandInHost* h = Current();
    if (!h)
        return kHostError;
    auto it = h->m_readTokens.find(reinterpret_cast<ReadToken*>(token));
    if (it == h->m_readTokens.end() || it->second->next == 0 || !value)
        return kHostError;
    const DescriptorItem& item = it->second->descriptor.items[it->second->next - 1];
    if (item.type != descriptorTypeInteger)
        return kHostError;
    *value = HostDescriptor::IntegerOf(item);
    return 0;
}

int16_t StandInHost::GetText(DescriptorReadToken token, FilterHandle* text)
{
    StandInHost* h = Current();
    if (!h)
        return kHostError;
    auto it = h->m_readTokens.find(reinterpret_cast<ReadToken*>(token));
    if (it == h->m_readTokens.end() || it->second->next == 0 || !text)
        return kHostError;
    const DescriptorItem& item = it->second->descriptor.items[it->second->next - 1];
    if (item.type != descriptorTypeText)
        return kHostError;
    *text = h->NewHandle(item.value.data(), item.value.size());
    return 0;
}

DescriptorWriteToken StandInHost::OpenWrite()
{
    StandInHost* h = Current();
    if (!h)
        return nullptr;
    auto token = std::make_unique<WriteToken>();
    WriteToken* raw = token.get();
    h->m_writeTokens.emplace(raw, std::move(token));
    return reinterpret_cast<DescriptorWriteToken>(raw);
}

int16_t StandInHost::CloseWrite(DescriptorWriteToken token, FilterHandle* descriptor)
{
    StandInHost* h = Current();
    if (!h)
        return kHostError;
    auto it = h->m_writeTokens.find(reinterpret_cast<WriteToken*>(token));
    if (it == h->m_writeTokens.end()) {
        h->Violation("close of an unknown write descriptor");
        return kHostError;
    }
    const std::vector<uint8_t> bytes = it->second->descriptor.Serialize();
    h->m_writeTokens.erase(it);
    if (descriptor)
        *descriptor = h->NewHandle(bytes.data(), bytes.size());
    return 0;
}

int16_t StandInHost::PutInteger(DescriptorWriteToken token, DescriptorKey key, int32_t value)
{
    StandInHost* h = Current();
    if (!h)
        return kHostError;
    auto it = h->m_writeTokens.find(reinterpret_cast<WriteToken*>(token));
    if (it == h->m_writeTokens.end())
        return kHostError;
    it->second->descriptor.PutInteger(key, value);
    return 0;
}

int16_t StandInHost::PutText(DescriptorWriteToken token, DescriptorKey key, FilterHandle text)
{
    StandInHost* h = Current();
    if (!h)
        return kHostError;
    auto it = h->m_writeTokens.find(reinterpret_cast<WriteToken*>(token));
    HandleRec* rec = h->FindHandle(text, "text put");
    if (it == h->m_writeTokens.end() || !rec)
        return kHostError;
    if (h->m_settings.maxText >= 0 && rec->size > h->m_settings.maxText)
        return kHostError;
    it->second->descriptor.PutText(
        key, std::vector<uint8_t>(rec->bytes.begin(), rec->bytes.begin() + rec->size));
    return 0;
}

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
