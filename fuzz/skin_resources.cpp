// Skin resources as the windows decode them: a resource container built from
// the input (a window, control folders, rectangles, and image records that are
// either raw bytes or real zip blocks around a rectangle and pixels the input
// gives, sizes not always agreeing), read by the resource reader and by a
// control's own image loading. Every image either of them accepts must fill
// its rectangle exactly.
#include "fuzz/FuzzInput.h"
#include "core/StdFile.h"
#include "core/Storage.h"
#include "core/ZipBlock.h"
#include "resources/ResourceFile.h"
#include "ui/Control.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// A control that loads its images from the given container.
class Probe : public CQNF_Control {
public:
    explicit Probe(CQNF_Storage* st) { m_storage = st; }
};

// An image record: a zip block around a rectangle and pixels, or bytes.
std::vector<uint8_t> ImageRecord(FuzzInput& in)
{
    const uint8_t kind = in.Byte();
    if (kind % 4 == 0)
        return in.Bytes(in.Byte());
    std::vector<uint8_t> raw(8);
    // Left and top may pass right and bottom (an inverted rectangle).
    for (int i = 0; i < 8; i += 2) {
        raw[size_t(i)] = (kind & 0x80) && i < 4 ? in.Byte() % 2 : 0;
        raw[size_t(i) + 1] = in.Byte() % 24;
    }
    const int w = int(raw[4] << 8 | raw[5]) - int(raw[0] << 8 | raw[1]);
    const int h = int(raw[6] << 8 | raw[7]) - int(raw[2] << 8 | raw[3]);
    size_t pixels = w > 0 && h > 0 ? size_t(4) * size_t(w) * size_t(h) : 0;
    if (kind % 4 == 2)
        pixels += in.Byte() % 7;  // a size that does not agree
    std::vector<uint8_t> fill = in.Bytes(pixels);
    fill.resize(pixels, 0x7F);
    raw.insert(raw.end(), fill.begin(), fill.end());
    CQNF_ZipBlock zip;
    CQNF_Mem packed;
    zip.SetMode(3);
    zip.SetSourceBlock(raw.data(), raw.size());
    zip.SetDestBlock(&packed);
    if (!zip.Process())
        return {};
    std::vector<uint8_t> out(packed.GetPtr(), packed.GetPtr() + packed.GetSize());
    if (kind % 4 == 3 && out.size() > kQnZipHeaderSize)
        out[size_t(in.Byte()) % out.size()] ^= in.Byte();  // damaged on the way
    return out;
}

void CheckPicture(const qnres::Picture& p)
{
    if (p.planes.empty())
        return;
    if (p.Width() <= 0 || p.Height() <= 0 || p.planes.size() != 8 + size_t(4) * p.Width() * p.Height())
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = ::memfd_create("skin_fuzz", 0);
    if (fd < 0)
        return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    FuzzInput in(data, size);
    std::vector<std::string> images;
    {
        CQNF_StdFile written;
        CQNF_Storage st;
        if (!written.Open(CQNF_String(path.c_str()), qnfile::kUpdate) || !st.Open(&written, 2)) {
            ::close(fd);
            return 0;
        }
        for (const char* f : {"UIResources", "UIResources>Windows", "UIResources>Windows>W", "UIResources>Buttons",
                              "UIResources>Buttons>W_B", "UIResources>Rects", "UIResources>Rects>W_R"})
            st.AddFolder(CQNF_String(f));
        const char* const records[] = {"UIResources>Windows>W>Background", "UIResources>Buttons>W_B>Normal",
                                       "UIResources>Buttons>W_B>Pressed", "UIResources>Windows>W>Caption"};
        for (const char* key : records) {
            const std::vector<uint8_t> bytes = ImageRecord(in);
            st.SetRecord(CQNF_String(key), bytes.data(), uint32_t(bytes.size()));
            images.push_back(key);
        }
        while (in.More()) {
            const uint8_t pick = in.Byte();
            const std::string key = std::string("UIResources>Rects>W_R>Rect ") +
                                    (pick % 4 == 0 ? "Left" : pick % 4 == 1 ? "Top" : pick % 4 == 2 ? "Right" : "Bottom");
            if (pick & 0x80)
                st.SetRecord(CQNF_String(key.c_str()), uint16_t(in.Byte() << 8 | in.Byte()));
            else
                st.SetRecord(CQNF_String(key.c_str()), in.Byte());
        }
        st.Close();
    }

    qnres::ResourceFile file;
    std::string why;
    if (file.Open(path, why)) {
        for (const std::string& name : file.WindowNames()) {
            qnres::WindowSkin skin;
            if (!file.LoadWindow(name, skin, why))
                continue;
            CheckPicture(skin.background);
            for (const qnres::Record& r : skin.windowRecords)
                CheckPicture(r.picture);
            for (const qnres::ControlSkin& c : skin.controls)
                for (const qnres::Record& r : c.records)
                    CheckPicture(r.picture);
        }
        // The road the windows take.
        Probe control(&file.Storage());
        for (const std::string& key : images) {
            qntRECT_s rect{};
            CQNF_Mem pixels;
            if (!control.LoadImageData(CQNF_String(key.c_str()), &rect, &pixels))
                continue;
            const uint64_t w = uint64_t(rect.right - rect.left), h = uint64_t(rect.bottom - rect.top);
            if (rect.right < rect.left || rect.bottom < rect.top || pixels.GetSize() != 8 + 4 * w * h)
                __builtin_trap();
        }
    }
    ::close(fd);
    return 0;
}
