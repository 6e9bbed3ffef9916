#include "resources/compiler/Compile.h"

#include "core/BlockProcessor.h"
#include "imaging/FontBuilder.h"
#include "resources/compiler/Container.h"
#include "resources/compiler/Error.h"
#include "resources/compiler/Paint.h"

namespace rc {

namespace {

const char* const kRoot = "UIResources";
// Type folders the toolkit expects, present even when empty.
const char* const kTypeFolders[] = {"Windows", "Buttons", "Check Boxes", "Radio Buttons", "Edits",
                                    "Lists", "Sliders", "Scroll Bars", "Static Images", "Static Texts",
                                    "Progresses", "Fonts", "Rects", "Strings"};

std::string Key(std::initializer_list<std::string> parts)
{
    std::string k;
    for (const auto& p : parts)
        k += (k.empty() ? "" : ">") + p;
    return k;
}

void RectRecords(ContainerWriter& w, const std::string& folder, const Box& b)
{
    w.U16(folder + ">Rect Left", uint16_t(b.x));
    w.U16(folder + ">Rect Top", uint16_t(b.y));
    w.U16(folder + ">Rect Right", uint16_t(b.Right()));
    w.U16(folder + ">Rect Bottom", uint16_t(b.Bottom()));
}

void SliderRecords(ContainerWriter& w, const std::string& folder, const Control& c)
{
    const Painter::SliderPath path = Painter::PathOf(c);
    std::vector<uint8_t> coors(path.points.size() * 5, 0);
    for (size_t i = 0; i < path.points.size(); ++i) {
        qnPutBE16(coors.data() + 5 * i, uint16_t(path.points[i].first));
        qnPutBE16(coors.data() + 5 * i + 2, uint16_t(path.points[i].second));
        // Flag 0: the toolkit spreads the values between the two ends evenly,
        // one whole step per point when the path has one point per value.
    }
    w.U16(folder + ">Data_NumPoints", uint16_t(path.points.size()));
    w.Binary(folder + ">Data_Coors", coors);
    w.U32(folder + ">Data_ValueStart", uint32_t(c.vmin));
    w.U32(folder + ">Data_ValueEnd", uint32_t(c.vmax));
    w.U16(folder + ">HotSpot_X", uint16_t(path.hotX));
    w.U16(folder + ">HotSpot_Y", uint16_t(path.hotY));
}

}  // namespace

std::vector<uint8_t> Compile(const Manifest& m, const CompileOptions& options)
{
    ContainerWriter w;
    Painter painter(options.fontDir, m.iconDir);
    w.Folder(kRoot);
    for (const char* f : kTypeFolders)
        w.Folder(Key({kRoot, f}));
    w.String(Key({kRoot, "Strings", "Version"}), "Tessolo 3.1 resources");

    for (const FontDef& f : m.fonts) {
        CQNF_FontBuilder builder;
        CQNF_Mem record, packed;
        if (!builder.Build(f.file.c_str(), f.px, uint8_t(f.first), uint8_t(f.last), record) ||
            !builder.Pack(record, packed))
            throw Error(f.where.Tell() + ": font '" + f.name + "': " + builder.GetErrorText());
        w.Binary(Key({kRoot, "Fonts", f.name}), std::vector<uint8_t>(packed.GetPtr(), packed.GetPtr() + packed.GetSize()));
    }

    for (const Window& win : m.windows) {
        const std::string folder = Key({kRoot, "Windows", win.name});
        w.Binary(folder + ">Background", PackImage(painter.Background(win)));
        if (!win.title.empty()) {
            w.Binary(folder + ">Caption_Active", PackImage(painter.Caption(win, true)));
            w.Binary(folder + ">Caption_Inactive", PackImage(painter.Caption(win, false)));
        }
        for (const Item& r : win.rects)
            RectRecords(w, Key({kRoot, "Rects", r.name}), r.box);
        for (const Control& c : win.controls) {
            const std::string cf = Key({kRoot, KindFolder(c.kind), c.name});
            w.Folder(cf);
            try {
                for (const auto& [name, pix] : painter.Control(c))
                    w.Binary(cf + ">" + name, PackImage(pix));
            } catch (const Error& e) {
                throw Error(c.where.Tell() + ": " + e.what());
            }
            switch (c.kind) {
            case Kind::Radio:
                w.U8(cf + ">Group ID", uint8_t(c.group));
                break;
            case Kind::Edit:
                RectRecords(w, cf, c.box);
                break;
            case Kind::List:
                RectRecords(w, cf, {c.box.x + 4, c.box.y + 4, c.box.w - 8, c.box.h - 8});
                break;
            case Kind::Scroll:
                w.U8(cf + ">Is Vertical", c.vertical ? 1 : 0);
                RectRecords(w, cf, c.box);
                break;
            case Kind::Slider:
                SliderRecords(w, cf, c);
                break;
            default:
                break;
            }
        }
    }

    // The zip stage takes no empty block; a file without shortcuts or help
    // entries simply has no such record, which the readers accept.
    if (!m.shortcuts.empty())
        w.Binary(Key({kRoot, "Accelerators"}), Zip(ShortcutRecords(m.shortcuts)));
    const std::string help = HelpText(m.help);
    if (!help.empty())
        w.Binary("InfoM", Zip(std::vector<uint8_t>(help.begin(), help.end())));
    w.Binary("DefSet", ShapeSet(m.shapes));
    return w.Finish();
}

}  // namespace rc
