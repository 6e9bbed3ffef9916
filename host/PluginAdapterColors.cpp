// Colours through the host's colour services, and the small services the
// windows call (opening the help document or a web link).
#include "host/PluginAdapter.h"

#include "core/Launcher.h"
#include "core/StdFile.h"

#include <cstring>

namespace {

CQNF_8BFPluginVirtual::SystemColorPicker& SystemPicker()
{
    static CQNF_8BFPluginVirtual::SystemColorPicker picker;
    return picker;
}

}  // namespace

void CQNF_8BFPluginVirtual::SetSystemColorPicker(SystemColorPicker picker)
{
    SystemPicker() = std::move(picker);
}

bool CQNF_8BFPluginVirtual::i_ConvertColor(int16_t sourceSpace, int16_t resultSpace, int16_t components[4])
{
    if (!m_pRecord || !m_pRecord->colorServices)
        return false;
    ColorServicesInfo info{};
    info.infoSize = sizeof info;
    info.selector = colorServicesConvertColor;
    info.sourceSpace = sourceSpace;
    info.resultSpace = resultSpace;
    std::memcpy(info.components, components, sizeof info.components);
    if (m_pRecord->colorServices(&info) != 0)
        return false;
    std::memcpy(components, info.components, sizeof info.components);
    return true;
}

bool CQNF_8BFPluginVirtual::Fill8ByteColorLineFromRGB(uint8_t line[8])
{
    if (!i_Require(line))
        return false;
    const uint8_t r = line[1], g = line[2], b = line[3];
    int16_t gray[4] = {r, g, b, 0};
    if (i_ConvertColor(colorSpaceRGB, colorSpaceGray, gray))
        line[0] = static_cast<uint8_t>(gray[0]);
    else
        line[0] = static_cast<uint8_t>((r + g + b) / 3);
    int16_t cmyk[4] = {r, g, b, 0};
    if (i_ConvertColor(colorSpaceRGB, colorSpaceCMYK, cmyk)) {
        for (int c = 0; c < 4; ++c)
            line[4 + c] = static_cast<uint8_t>(cmyk[c]);
    } else {
        // CMYK bytes are in the host's plane form (255 = no ink) everywhere in
        // this system, so the plain conversion keeps that form too.
        line[4] = r;
        line[5] = g;
        line[6] = b;
        line[7] = 255;
    }
    return true;
}

bool CQNF_8BFPluginVirtual::SelectColor_RGB(qntRGBA8* colour)
{
    if (!i_Require(colour && m_pRecord))
        return false;
    if (!m_pRecord->colorServices) {
        // Without the host's picker the desktop's opens, on 16-bit channels.
        const SystemColorPicker& picker = SystemPicker();
        uint16_t rgb[3] = {uint16_t(colour->r * 257), uint16_t(colour->g * 257), uint16_t(colour->b * 257)};
        if (!picker || !picker(rgb))
            return false;
        colour->r = uint8_t(rgb[0] / 257);
        colour->g = uint8_t(rgb[1] / 257);
        colour->b = uint8_t(rgb[2] / 257);
        colour->a = 255;
        return true;
    }
    ColorServicesInfo info{};
    info.infoSize = sizeof info;
    info.selector = colorServicesChooseColor;
    info.sourceSpace = colorSpaceRGB;
    info.resultSpace = colorSpaceRGB;
    info.components[0] = colour->r;
    info.components[1] = colour->g;
    info.components[2] = colour->b;
    info.prompt = nullptr;
    if (m_pRecord->colorServices(&info) != 0)
        return false;
    for (int c = 0; c < 3; ++c)
        if (info.components[c] < 0 || info.components[c] > 255)
            return false;
    colour->r = static_cast<uint8_t>(info.components[0]);
    colour->g = static_cast<uint8_t>(info.components[1]);
    colour->b = static_cast<uint8_t>(info.components[2]);
    colour->a = 255;
    return true;
}

bool CQNF_8BFPluginVirtual::SelectColor_ALL(uint8_t line[8])
{
    if (!i_Require(line))
        return false;
    qntRGBA8 c{line[1], line[2], line[3], 255};
    if (!SelectColor_RGB(&c))
        return false;
    line[1] = c.r;
    line[2] = c.g;
    line[3] = c.b;
    return Fill8ByteColorLineFromRGB(line);
}

bool CQNF_8BFPluginVirtual::ConvertFilterColorToRGB(const uint8_t colour[4], qntRGBA8* out)
{
    if (!i_Require(colour && out && m_pRecord && m_pRecord->colorServices))
        return false;
    int16_t space;
    switch (m_pRecord->imageMode) {
    case filterModeRGB:
        space = colorSpaceRGB;
        break;
    case filterModeCMYK:
        space = colorSpaceCMYK;
        break;
    case filterModeGray:
        space = colorSpaceGray;
        break;
    default:
        SetError(qnerr::BadArgument);
        return false;
    }
    int16_t comps[4] = {colour[0], colour[1], colour[2], colour[3]};
    if (!i_ConvertColor(space, colorSpaceRGB, comps)) {
        SetError(qnerr::BadArgument);
        return false;
    }
    *out = qntRGBA8{static_cast<uint8_t>(comps[0]), static_cast<uint8_t>(comps[1]), static_cast<uint8_t>(comps[2]), 255};
    return true;
}

bool CQNF_8BFPluginVirtual::i_RecordColorToRGB(const uint8_t colour[4], qntRGBA8* out)
{
    if (out && m_pRecord->imageMode == filterModeRGB) {
        *out = qntRGBA8{colour[0], colour[1], colour[2], 255};
        return true;
    }
    return ConvertFilterColorToRGB(colour, out);
}

bool CQNF_8BFPluginVirtual::GetForeColor_RGB(qntRGBA8* out)
{
    return m_pRecord && i_RecordColorToRGB(m_pRecord->foreColor, out);
}

bool CQNF_8BFPluginVirtual::GetBgColor_RGB(qntRGBA8* out)
{
    return m_pRecord && i_RecordColorToRGB(m_pRecord->backColor, out);
}

bool CQNF_8BFPluginVirtual::ConvertArrayToRGB_Internal(uint8_t** in, uint8_t** out, uint32_t n)
{
    if (!i_Require(in && out))
        return false;
    switch (m_Data.colorMode) {
    case 1:
        for (int c = 0; c < 3; ++c)
            if (out[c] != in[c])
                std::memmove(out[c], in[c], n);
        return true;
    case 2:
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t k = in[3][i];
            for (int c = 0; c < 3; ++c)
                out[c][i] = static_cast<uint8_t>(in[c][i] * k / 256);
        }
        return true;
    case 0:
        for (int c = 0; c < 3; ++c)
            if (out[c] != in[0])
                std::memmove(out[c], in[0], n);
        return true;
    default:
        SetError(qnerr::BadArgument);
        return false;
    }
}

bool CQNF_8BFPluginVirtual::ConvertArrayToRGB(uint8_t** in, uint8_t** out, uint32_t n)
{
    if (!i_Require(in && out && m_pRecord && m_pRecord->colorServices))
        return false;
    int16_t space;
    int channels;
    switch (m_Data.colorMode) {
    case 1:
        for (int c = 0; c < 3; ++c)
            if (out[c] != in[c])
                std::memmove(out[c], in[c], n);
        return true;
    case 2:
        space = colorSpaceCMYK;
        channels = 4;
        break;
    case 0:
        space = colorSpaceGray;
        channels = 1;
        break;
    default:
        SetError(qnerr::BadArgument);
        return false;
    }
    for (uint32_t i = 0; i < n; ++i) {
        int16_t comps[4] = {0, 0, 0, 0};
        for (int c = 0; c < channels; ++c)
            comps[c] = in[c][i];
        if (!i_ConvertColor(space, colorSpaceRGB, comps)) {
            SetError(qnerr::BadArgument);
            return false;
        }
        for (int c = 0; c < 3; ++c)
            out[c][i] = static_cast<uint8_t>(comps[c]);
    }
    return true;
}

bool CQNF_8BFPluginVirtual::LaunchFile(const char* name)
{
    if (!i_Require(name))
        return false;
    CQNF_StdFile file;
    if (!file.LaunchFile(CQNF_String(name), &m_Folder)) {
        SetError(file.GetError());
        return false;
    }
    return true;
}

bool CQNF_8BFPluginVirtual::LaunchURL(const char* url)
{
    ResetError();
    // Only web and mail links are handed to the desktop; anything else could
    // open a local program.
    if (!url || !(std::strncmp(url, "http://", 7) == 0 || std::strncmp(url, "https://", 8) == 0 ||
                  std::strncmp(url, "mailto:", 7) == 0)) {
        SetError(qnerr::BadArgument);
        return false;
    }
    return CQNF_Launcher::Open(url);
}
