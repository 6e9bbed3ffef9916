// The stand-in host: its state, the parameter block and the selector sequence.
#include "hostapp/StandInHostParts.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace hostapp {

using namespace standin;

namespace {

StandInHost* g_current = nullptr;

}  // namespace

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
        return &Original().planes[static_cast<size_t>(plane)];
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
    // 16.16 fixed point holds less than 32,768 dpi: a file that names more
    // (a JFIF density, a pHYs chunk, a PSD resource can) gets the most the
    // field holds; the document keeps the file's value for the output.
    auto field = [](double resolution) {
        const double fixed = resolution * 65536.0;
        return fixed >= double(INT32_MAX) ? INT32_MAX : fixed >= 1.0 ? static_cast<int32_t>(fixed) : 72 * 65536;
    };
    r.imageHRes = field(m_doc.resolution);
    r.imageVRes = field(m_doc.VerticalResolution());
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
    // A document of one opaque layer at full opacity is its own composite:
    // the merged channels read the layer (unchanged until the run ends)
    // instead of a copy of it.
    const bool own = m_doc.layers.size() == 1 && m_doc.layers[0].visible && !m_doc.layers[0].pixels.hasAlpha &&
                     m_doc.layers[0].opacity == 255;
    m_composite = own ? RasterImage{} : m_doc.Composite();
    const RasterImage& composite = own ? m_doc.layers[0].pixels : m_composite;
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
        merged.push_back(&composite.planes[static_cast<size_t>(c)]);
    m_docInfo.mergedCompositeChannels = chain(merged, colourNames);
    if (composite.hasAlpha)
        m_docInfo.mergedTransparency = chain({&composite.planes[static_cast<size_t>(colours)]}, {"Transparency"});
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
    m_working = Original();
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
    if (!masked && fr.left == 0 && fr.top == 0 && fr.right == m_doc.width && fr.bottom == m_doc.height) {
        // The whole picture is the result: the working planes become the
        // target's, no copy.
        for (size_t p = 0; p < target.planes.size(); ++p)
            target.planes[p].swap(m_working.planes[p]);
        return;
    }
    for (size_t p = 0; p < target.planes.size(); ++p)
        for (int y = fr.top; y < fr.bottom; ++y) {
            const size_t row = static_cast<size_t>(y) * m_doc.width;
            if (!masked) {
                if (fr.right > fr.left)
                    std::memcpy(target.planes[p].data() + row + fr.left, m_working.planes[p].data() + row + fr.left,
                                static_cast<size_t>(fr.right - fr.left));
                continue;
            }
            for (int x = fr.left; x < fr.right; ++x) {
                const size_t i = row + x;
                const uint32_t res = m_working.planes[p][i];
                const uint32_t m = m_doc.selection[i];
                const uint32_t orig = target.planes[p][i];  // not yet written: the original
                target.planes[p][i] = static_cast<uint8_t>((res * m + orig * (255 - m) + 127) / 255);
            }
        }
}

}  // namespace hostapp
