#include "resources/ResourceFile.h"

#include "core/ErrorWords.h"

#include "core/BlockProcessor.h"
#include "core/StdFile.h"
#include "core/StorageFormat.h"
#include "core/ZipBlock.h"
#include "imaging/Font.h"
#include "imaging/Image.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>

namespace qnres {

unsigned short DecodePicture(const uint8_t* data, size_t size, Picture& out)
{
    qnZipHeader header;
    if (!qnZipReadHeader(data, size, header))
        return qnerr::ZipNotABlock;
    std::vector<uint8_t> raw(header.rawSize);
    if (header.rawSize == 0)
        return kBadImage;
    if (const unsigned short e = qnZipInflate(data, header, raw.data()))
        return e;
    if (raw.size() < 8)
        return kBadImage;
    out.left = qnGetBE16(raw.data());
    out.top = qnGetBE16(raw.data() + 2);
    out.right = qnGetBE16(raw.data() + 4);
    out.bottom = qnGetBE16(raw.data() + 6);
    if (out.right <= out.left || out.bottom <= out.top ||
        raw.size() != 8 + size_t(4) * out.Width() * out.Height())
        return kBadImage;
    out.planes = std::move(raw);
    return 0;
}

const Record* ControlSkin::Find(const std::string& record) const
{
    for (const Record& r : records)
        if (r.name == record)
            return &r;
    return nullptr;
}

bool BelongsTo(const std::string& name, const std::string& window)
{
    if (name.size() <= window.size() || name[window.size()] != '_')
        return false;
    for (size_t i = 0; i < window.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != std::tolower(static_cast<unsigned char>(window[i])))
            return false;
    return true;
}

std::string ResourceFile::OpenNamed(const std::string& path)
{
    std::string why = qnRegularFileProblem(path);
    if (!why.empty())
        return why;
    return Open(path, why) ? std::string() : path + ": " + why;
}

bool ResourceFile::Open(const std::string& path, std::string& why)
{
    const CQNF_String p(path.c_str());
    // Words as the storage tool gives them: a file that is no container
    // reads so, a container whose stamp fails reads as that.
    if (!m_storage.CheckMD5(p)) {
        const unsigned short error = m_storage.GetError();
        why = error == qnerr::StorageStamp    ? "the MD5 stamp does not match the content"
              : error == qnerr::StorageFormat ? qnErrorWords(error)
                                              : qnFileProblem(path, false, error);
        return false;
    }
    if (!m_storage.Open(p, 1)) {
        why = qnErrorWords(qnerr::StorageFormat);
        return false;
    }
    m_children.clear();
    CQNF_StringArray* keys = m_storage.GetAllRecordsArray();
    if (!keys) {
        why = "cannot list the records";
        return false;
    }
    for (uint32_t i = 0; i < keys->GetSize(); ++i) {
        const std::string key = (*keys)[i].GetStr();
        const size_t cut = key.rfind('>');
        if (cut == std::string::npos)
            m_children[""].push_back(key);
        else
            m_children[key.substr(0, cut)].push_back(key.substr(cut + 1));
    }
    m_types.clear();
    for (const std::string& f : Children("UIResources"))
        if (f != "Windows" && f != "Fonts" && f != "Rects" && f != "Strings" &&
            m_storage.GetRecType(CQNF_String(("UIResources>" + f).c_str())) == qnstorage::kFolder)
            m_types.push_back(f);
    return true;
}

std::vector<std::string> ResourceFile::Children(const std::string& key)
{
    auto it = m_children.find(key);
    return it == m_children.end() ? std::vector<std::string>() : it->second;
}

std::vector<std::string> ResourceFile::WindowNames() { return Children("UIResources>Windows"); }

bool ResourceFile::LoadFolderRecords(const std::string& key, std::vector<Record>& out, std::string& why,
                                     Unpack unpack)
{
    for (const std::string& name : Children(key)) {
        Record r;
        r.name = name;
        const CQNF_String full((key + ">" + name).c_str());
        r.type = m_storage.GetRecType(full);
        if (r.type == qnstorage::kBinary) {
            CQNF_Mem block;
            if (!m_storage.GetRec(full, block)) {
                why = key + ">" + name + ": cannot be read";
                return false;
            }
            r.size = block.GetSize();
            // Only zip blocks are pictures; slider paths are raw.
            if (unpack == Unpack::Yes && r.size >= kQnZipHeaderSize && !std::memcmp(block.GetPtr(), kQnZipMagic, 8))
                if (const unsigned short e = DecodePicture(block.GetPtr(), block.GetSize(), r.picture)) {
                    why = key + ">" + name + ": not a valid image (" + std::string(qnErrorWords(e)) + ")";
                    return false;
                }
        } else if (r.type == qnstorage::kU8 || r.type == qnstorage::kU16 || r.type == qnstorage::kU32) {
            _QNSTORAGEDATA v{};
            m_storage.GetRec(full, v);
            r.value = r.type == qnstorage::kU8 ? v.u8 : r.type == qnstorage::kU16 ? v.u16 : v.u32;
        }
        out.push_back(std::move(r));
    }
    return true;
}

bool ResourceFile::LoadWindow(const std::string& name, WindowSkin& out, std::string& why, Unpack unpack)
{
    out = WindowSkin{};
    out.name = name;
    const std::string key = "UIResources>Windows>" + name;
    if (!LoadFolderRecords(key, out.windowRecords, why, unpack))
        return false;
    auto bg = std::find_if(out.windowRecords.begin(), out.windowRecords.end(),
                           [](const Record& r) { return r.name == "Background"; });
    if (bg == out.windowRecords.end() || (unpack == Unpack::Yes && bg->picture.planes.empty())) {
        why = "window '" + name + "' has no Background image";
        return false;
    }
    out.background = bg->picture;
    for (const std::string& type : m_types)
        for (const std::string& control : Children("UIResources>" + type)) {
            if (!BelongsTo(control, name))
                continue;
            ControlSkin skin{type, control, {}};
            if (!LoadFolderRecords("UIResources>" + type + ">" + control, skin.records, why, unpack))
                return false;
            out.controls.push_back(std::move(skin));
        }
    for (const std::string& rect : Children("UIResources>Rects")) {
        if (!BelongsTo(rect, name))
            continue;
        std::vector<uint32_t> v;
        for (const char* side : {">Rect Left", ">Rect Top", ">Rect Right", ">Rect Bottom"}) {
            uint16_t x = 0;
            m_storage.GetRec(CQNF_String(("UIResources>Rects>" + rect + side).c_str()), x);
            v.push_back(x);
        }
        out.rects.emplace_back(rect, v);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Contact sheets

namespace {

constexpr qntRGBA8 kSheet{0x12, 0x13, 0x15, 255};
constexpr qntRGBA8 kLabel{0xc8, 0xcb, 0xd0, 255};

struct Sheet {
    CQNF_Image& img;
    CQNF_Font* font;

    void Blend(int x, int y, uint8_t r, uint8_t g, uint8_t b, unsigned a)
    {
        if (x < 0 || y < 0 || x >= img.GetImageWidth() || y >= img.GetImageHeight() || a == 0)
            return;
        const size_t i = size_t(y) * img.GetImageWidth() + x;
        uint8_t* p[3] = {img.GetPlane(0) + i, img.GetPlane(1) + i, img.GetPlane(2) + i};
        const uint8_t c[3] = {r, g, b};
        for (int k = 0; k < 3; ++k)
            *p[k] = uint8_t((c[k] * a + *p[k] * (255 - a) + 127) / 255);
    }

    // The picture at its rectangle shifted by (ox, oy); optionally only the
    // pixels whose map value passes keep(x, y).
    template <class Keep>
    void Picture(const qnres::Picture& pic, int ox, int oy, unsigned opacity, Keep keep)
    {
        const int w = pic.Width(), h = pic.Height();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const size_t i = size_t(y) * w + x;
                if (!keep(x, y))
                    continue;
                Blend(ox + pic.left + x, oy + pic.top + y, pic.Plane(0)[i], pic.Plane(1)[i], pic.Plane(2)[i],
                      pic.Plane(3)[i] * opacity / 255);
            }
    }
    void Picture(const qnres::Picture& pic, int ox, int oy, unsigned opacity = 255)
    {
        Picture(pic, ox, oy, opacity, [](int, int) { return true; });
    }

    void Fill(int x, int y, int w, int h, qntRGBA8 c)
    {
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i)
                Blend(x + i, y + j, c.r, c.g, c.b, c.a);
    }

    // Text with its top at y, cut at maxWidth.
    int Text(int x, int y, const std::string& s, qntRGBA8 c, int maxWidth = 1 << 20)
    {
        if (!font)
            return x;
        short asc = 0, desc = 0;
        font->GetMaxAB(asc, desc);
        const int start = x;
        for (unsigned char ch : s) {
            short a, cc, top;
            unsigned long w, h;
            const unsigned char* cov = font->GetChar(ch, a, cc, top, w, h);
            if (!cov)
                continue;
            if (x + a + int(w) - start > maxWidth)
                break;
            for (unsigned long j = 0; j < h; ++j)
                for (unsigned long i = 0; i < w; ++i)
                    Blend(x + a + int(i), y + asc + top + int(j), c.r, c.g, c.b,
                          cov[j * w + i] * c.a / 255);
            x += a + int(w) + cc;
        }
        return x;
    }
};

// Sheet order of state records: the part (background before thumb), then
// the state as a control steps through them, "On" before "Off".
int StateRank(const std::string& record)
{
    std::string r = record;
    int part = 0;
    for (const char* prefix : {"Background_", "Foreground_", "Thumb_"}) {
        ++part;
        if (r.rfind(prefix, 0) == 0) {
            r = r.substr(std::strlen(prefix));
            break;
        }
    }
    int state = 9;
    const char* states[] = {"Normal", "Highlighted", "Working", "Pressed Mouse Out", "Pressed", "Disabled", "Selected"};
    for (int i = 0; i < 7; ++i)
        if (r.rfind(states[i], 0) == 0) {
            state = i;
            break;
        }
    const bool off = r.size() > 4 && r.compare(r.size() - 4, 4, " Off") == 0;
    return part * 100 + (state == 3 ? 45 : state * 10) + off;
}

bool IsAlternate(const std::string& name)
{
    return name.size() > 3 && name.compare(name.size() - 3, 3, "MAC") == 0;
}

// The control as a window shows it at rest.
void DrawResting(Sheet& s, const ControlSkin& c, int ox, int oy, std::map<uint32_t, bool>& groupShown)
{
    auto pic = [&](const char* name) -> const Picture* {
        const Record* r = c.Find(name);
        return r && !r->picture.planes.empty() ? &r->picture : nullptr;
    };
    auto rectOf = [&](int& l, int& t, int& r, int& b) {
        const Record *L = c.Find("Rect Left"), *T = c.Find("Rect Top"), *R = c.Find("Rect Right"),
                     *B = c.Find("Rect Bottom");
        if (!L || !T || !R || !B)
            return false;
        l = int(L->value), t = int(T->value), r = int(R->value), b = int(B->value);
        return true;
    };
    if (c.folder == "Buttons" || c.folder == "Static Images" || c.folder == "Progresses") {
        const Picture* p = pic("Normal");
        if (!p)
            return;
        if (c.folder == "Progresses") {
            const Picture* map = pic("Data");
            // Shown at 60 %.
            s.Picture(*p, ox, oy, 255, [&](int x, int y) {
                return !map || map->Plane(0)[size_t(y) * map->Width() + x] <= 153;
            });
            return;
        }
        bool colourOnly = true;
        for (int i = 0; i < p->Width() * p->Height() && colourOnly; ++i)
            colourOnly = p->Plane(3)[i] == 0;
        if (colourOnly) {
            // A ruler: ticks every 10 px in its colour.
            const bool vertical = p->Height() > p->Width();
            const qntRGBA8 ink{p->Plane(0)[0], p->Plane(1)[0], p->Plane(2)[0], 255};
            for (int k = 0; k < (vertical ? p->Height() : p->Width()); k += 10) {
                const int len = k % 50 == 0 ? (vertical ? p->Width() : p->Height()) / 2 : 4;
                if (vertical)
                    s.Fill(ox + p->right - len - 1, oy + p->top + k, len, 1, ink);
                else
                    s.Fill(ox + p->left + k, oy + p->bottom - len - 1, 1, len, ink);
            }
            return;
        }
        s.Picture(*p, ox, oy);
    } else if (c.folder == "Check Boxes") {
        if (const Picture* p = pic("Normal Off"))
            s.Picture(*p, ox, oy);
    } else if (c.folder == "Radio Buttons") {
        const Record* g = c.Find("Group ID");
        const uint32_t group = g ? g->value : 0;
        const bool on = !groupShown[group];
        groupShown[group] = true;
        if (const Picture* p = pic(on ? "Normal On" : "Normal Off"))
            s.Picture(*p, ox, oy);
    } else if (c.folder == "Sliders") {
        if (const Picture* p = pic("Background_Normal"))
            s.Picture(*p, ox, oy);
        // The thumb as the compiler placed it: on the path's first point.
        if (const Picture* t = pic("Thumb_Normal"))
            s.Picture(*t, ox, oy);
    } else if (c.folder == "Scroll Bars") {
        if (const Picture* p = pic("Background_Normal"))
            s.Picture(*p, ox, oy);
        const Picture* t = pic("Thumb_Normal");
        const Record* vert = c.Find("Is Vertical");
        int l, tp, r, b;
        if (!t || !vert || !rectOf(l, tp, r, b))
            return;
        // Head 6, a tile stretched to a third of the track, tail 6.
        const bool v = vert->value != 0;
        const int len = (v ? b - tp : r - l) / 3, w = t->Width(), h = t->Height();
        for (int k = 0; k < len; ++k) {
            const int src = k < 6 ? k : k >= len - 6 ? (v ? h : w) - (len - k) : 6;
            for (int a = 0; a < (v ? w : h); ++a) {
                const size_t i = v ? size_t(src) * w + a : size_t(a) * w + src;
                const int x = v ? t->left + a : l + k, y = v ? tp + k : t->top + a;
                s.Blend(ox + x, oy + y, t->Plane(0)[i], t->Plane(1)[i], t->Plane(2)[i], t->Plane(3)[i]);
            }
        }
    } else if (c.folder == "Lists") {
        if (const Picture* p = pic("Background_Normal"))
            s.Picture(*p, ox, oy);
        const Picture* sel = pic("Background_Selected");
        const Picture* fg = pic("Foreground_Normal");
        const Picture* fgs = pic("Foreground_Selected");
        int l, t, r, b;
        if (!rectOf(l, t, r, b) || !fg)
            return;
        for (int row = 0; row < 4 && t + 16 * (row + 1) <= b; ++row) {
            const int y = t + 16 * row;
            const bool selected = row == 1;
            if (selected && sel)
                s.Picture(*sel, ox, oy, 255, [&](int, int py) { return sel->top + py >= y && sel->top + py < y + 16; });
            const Picture* ink = selected && fgs ? fgs : fg;
            s.Text(ox + l + 6, oy + y + 2, "Item " + std::to_string(row + 1),
                   {ink->Plane(0)[0], ink->Plane(1)[0], ink->Plane(2)[0], 255}, r - l - 8);
        }
    } else if (c.folder == "Static Texts") {
        const Picture* p = pic("Normal");
        if (p)
            s.Text(ox + p->left + 2, oy + p->top + 1, c.name,
                   {p->Plane(0)[0], p->Plane(1)[0], p->Plane(2)[0], 160}, p->Width() - 4);
    } else if (c.folder == "Edits") {
        int l, t, r, b;
        if (rectOf(l, t, r, b)) {
            s.Fill(ox + l, oy + t, r - l, b - t, {0x1b, 0x1d, 0x20, 255});
            s.Text(ox + l + 4, oy + t + (b - t - 13) / 2, "100", {0xe2, 0xe4, 0xe8, 255}, r - l - 6);
        }
    }
}

}  // namespace

bool ComposeSheet(ResourceFile& file, const std::vector<WindowSkin>& windows, bool states, CQNF_Image& out,
                  std::string& why)
{
    auto font = std::make_unique<CQNF_Font>();
    if (!font->Open(&file.Storage(), CQNF_String("UIResources>Fonts>Info Font")))
        font.reset();
    constexpr int kGap = 24, kLabelH = 22, kMaxWidth = 2400;

    struct Placed {
        const WindowSkin* w;
        int x, y, width, height;
    };
    std::vector<Placed> placed;
    int x = kGap, y = kGap, rowH = 0, sheetW = 0;
    for (const WindowSkin& w : windows) {
        int width = w.background.right + w.background.left, height = w.background.bottom + w.background.top;
        if (states) {
            // One row per control: its name, then each state over the window's own background.
            width = 0;
            height = 0;
            for (const ControlSkin& c : w.controls) {
                int rw = 230, rh = 18;
                for (const Record& r : c.records)
                    if (!r.picture.planes.empty() && r.name.find("Data") == std::string::npos) {
                        rw += r.picture.Width() + 8 + 8;
                        rh = std::max(rh, r.picture.Height() + 8);
                    }
                width = std::max(width, rw);
                height += rh + 4;
            }
            width = std::max(width, 200);
        }
        if (x > kGap && x + width + kGap > kMaxWidth) {
            x = kGap;
            y += rowH + kGap;
            rowH = 0;
        }
        placed.push_back({&w, x, y + kLabelH, width, height});
        x += width + kGap;
        rowH = std::max(rowH, height + kLabelH);
        sheetW = std::max(sheetW, x);
    }
    const int sheetH = y + rowH + kGap;
    if (placed.empty() || sheetW > 65535 || sheetH > 65535) {
        why = placed.empty() ? "no windows to show" : "the sheet would be too large";
        return false;
    }
    if (!out.Create(uint16_t(sheetW), uint16_t(sheetH), 1)) {
        why = "out of memory";
        return false;
    }
    out.Set(kSheet, 0x7);
    Sheet s{out, font.get()};
    for (const Placed& p : placed) {
        const WindowSkin& w = *p.w;
        s.Text(p.x, p.y - kLabelH + 3, w.name + (states ? " - control states" : ""), kLabel);
        if (!states) {
            s.Picture(w.background, p.x, p.y);
            for (const Record& r : w.windowRecords)
                if (r.name == "Caption_Active")
                    s.Picture(r.picture, p.x, p.y);
            std::map<uint32_t, bool> groups;
            for (const ControlSkin& c : w.controls)
                if (!IsAlternate(c.name))
                    DrawResting(s, c, p.x, p.y, groups);
            continue;
        }
        int cy = p.y;
        for (const ControlSkin& c : w.controls) {
            s.Text(p.x, cy + 2, c.name, kLabel, 220);
            int cx = p.x + 230, rh = 18;
            std::vector<const Record*> ordered;
            for (const Record& r : c.records)
                ordered.push_back(&r);
            std::stable_sort(ordered.begin(), ordered.end(),
                             [](const Record* a, const Record* b) { return StateRank(a->name) < StateRank(b->name); });
            for (const Record* rp : ordered) {
                const Record& r = *rp;
                const Picture& pic = r.picture;
                if (pic.planes.empty() || r.name.find("Data") != std::string::npos)
                    continue;
                // The window's background under the state image, 4 px around it.
                const Picture& bg = w.background;
                s.Picture(bg, cx + 4 - pic.left, cy + 4 - pic.top, 255, [&](int bx, int by) {
                    const int wx = bg.left + bx, wy = bg.top + by;
                    return wx >= pic.left - 4 && wx < pic.right + 4 && wy >= pic.top - 4 && wy < pic.bottom + 4;
                });
                s.Picture(pic, cx + 4 - pic.left, cy + 4 - pic.top);
                cx += pic.Width() + 16;
                rh = std::max(rh, pic.Height() + 8);
            }
            cy += rh + 4;
        }
    }
    return true;
}

}  // namespace qnres
