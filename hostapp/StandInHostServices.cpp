// The stand-in host: properties, colour services and handles.
#include "hostapp/StandInHostParts.h"

#include <algorithm>
#include <cstring>

namespace hostapp {

using namespace standin;

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

}  // namespace hostapp
