// The main window's pop-up menus, item by item.
#include "app/MainMenus.h"

#include "ui/PlatformPopupMenu.h"

namespace {

using namespace qnmenu;

struct Key {
    uint8_t command = 0, shift = 0, option = 0;
    const char* key = nullptr;
};
constexpr Key kNoKey{};
constexpr Key Cmd(const char* k) { return Key{1, 0, 0, k}; }
constexpr Key CmdShift(const char* k) { return Key{1, 1, 0, k}; }
constexpr Key CmdOpt(const char* k) { return Key{1, 0, 1, k}; }
constexpr Key CmdShiftOpt(const char* k) { return Key{1, 1, 1, k}; }

class Builder {
public:
    Builder& Item(const char* text, uint16_t id, bool disabled = false, bool checked = false, Key k = kNoKey)
    {
        qntMENUITEM it;
        it.text = text;
        it.id = id;
        it.disabled = disabled;
        it.checked = checked;
        it.command = k.command;
        it.shift = k.shift;
        it.option = k.option;
        if (k.key)
            it.key = k.key;
        m.push_back(std::move(it));
        return *this;
    }
    Builder& Sep()
    {
        m.push_back(qntMENUITEM{});
        return *this;
    }
    qntMENU m;
};

const char* Pick(const qntMENUSTATE& s, const char* knives, const char* pieces)
{
    return s.cutMode ? knives : pieces;
}

// The nine effect switches of the piece-mode menus, checked by the word.
void EffectSwitches(Builder& b, const qntMENUSTATE& s, uint16_t w)
{
    auto bit = [w](int n) { return (w >> n) & 1; };
    b.Item("Enable Bevel", EnBevel, false, bit(1))
        .Item("Enable Hue-Saturation", EnHSL, !s.documentRGB, bit(2))
        .Item("Enable Brightness-Contrast", EnBC, false, bit(4))
        .Item("Enable Gaussian Blur", EnBlur, false, bit(0))
        .Item("Enable Motion Blur", EnMBlur, false, bit(5))
        .Item("Enable Opacity", EnOpacity, false, bit(6))
        .Item("Enable Color Overlay", EnCOver, false, bit(3))
        .Item("Enable Image Overlay", EnIOver, !s.layersAvailable, bit(9))
        .Item("Enable Stroke", EnStroke, false, bit(8));
}

// The random selection items, then in piece mode the splitter piece's.
void RandomAndSplitter(Builder& b, const qntMENUSTATE& s, bool splitterFirst)
{
    auto splitter = [&] {
        if (!s.cutMode)
            b.Item("Add Splitter to Selection", AddSplitter, !s.splitterPiece, false, Cmd("P"))
                .Item("Deselect Splitter", DeselSplitter, !s.splitterPiece, false, CmdOpt("P"))
                .Sep();
    };
    if (splitterFirst)
        splitter();
    b.Item(Pick(s, "Add Randomly Selected Knives", "Add Randomly Selected Pieces"), SelRandom, !s.someUnselected,
           false, Cmd("["))
        .Item(Pick(s, "Deselect Random Knives", "Deselect Random Pieces"), DeselRandom, !s.someSelected, false,
              Cmd("]"))
        .Sep();
    if (!splitterFirst)
        splitter();
}

}  // namespace

std::string qntMENUITEM::ShortcutText() const
{
    if (key.empty())
        return "";
    std::string t;
    if (command)
        t += "Cmd+";
    if (shift)
        t += "Shift+";
    if (option)
        t += "Opt+";
    return t + key;
}

qntMENU qnMainMenu(const qntMENUSTATE& s)
{
    Builder b;
    b.Item("Undo", Undo, !s.undoHasStep, false, Cmd("Z"))
        .Sep()
        .Item("Save...", Save, false, false, Cmd("S"))
        .Item("Load...", Load, false, false, Cmd("L"))
        .Sep()
        .Item("Export...", Export, false, false, CmdShift("S"))
        .Sep()
        .Item("Relayout...", Relayout, s.cutMode)
        .Sep();
    if (s.cutMode)
        b.Item("Apply (Draw Splitter)", ApplyLM);
    else
        b.Item("Apply", Apply);
    b.Item("Cancel", Cancel).Sep().Item("Preferences...", Preferences);
    return b.m;
}

qntMENU qnSelectMenu(const qntMENUSTATE& s)
{
    Builder b;
    b.Item(Pick(s, "Select All Knives", "Select All Pieces"), SelectAll, !s.someUnselected, false, Cmd("A"))
        .Item(Pick(s, "Deselect Knives", "Deselect Pieces"), Deselect, !s.someSelected, false, Cmd("D"))
        .Item("Inverse Selection", Inverse, false, false, CmdShift("I"))
        .Sep()
        .Item(Pick(s, "Select All Hidden Knives", "Select All Hidden Pieces"), SelHidden)
        .Item(Pick(s, "Select All Shown Knives", "Select All Shown Pieces"), SelShown)
        .Sep();
    if (s.cutMode)
        b.Item("Select All Columns Splitters", SelColumns)
            .Item("Select All Rows Splitters", SelRows)
            .Item("Select All Extra Knives", SelExtra, !s.hasExtraKnife, false, CmdOpt("A"))
            .Sep();
    RandomAndSplitter(b, s, false);
    b.Item("Load Selection...", LoadSelection).Sep().Item("Show Extras", Extras, false, s.extrasShown, Cmd("H"));
    return b.m;
}

qntMENU qnAdjustMenu(const qntMENUSTATE& s)
{
    Builder b;
    if (s.cutMode) {
        const bool aux = s.auxOnlySelection;
        b.Item("Turn ON (Show) Knives", Show, !s.canShow)
            .Item("Turn OFF (Hide) Knives", Hide, !s.canHide)
            .Item("Reverse On<->Off", Reverse)
            .Sep()
            .Item("Add Extra Knife", AddExtra, !s.canAddKnives)
            .Item("Delete Extra Knife", DelExtra, !s.canDelKnives)
            .Sep()
            .Item("Copy Knife", Copy, false, false, Cmd("C"))
            .Item("Paste Knife", Paste, !s.knifeCopied, false, Cmd("V"))
            .Sep()
            .Item("Equalize Knobs Size", Equalize, !s.canEqualize)
            .Sep()
            .Item("Flip H", FlipH, false, false, Cmd("F"))
            .Item("Flip U", FlipU, false, false, CmdShift("F"))
            .Item("Flip HU", FlipHU, false, false, CmdShiftOpt("F"))
            .Sep()
            .Item("Flip H (Interleaved)", InterH, aux)
            .Item("Flip U (Interleaved)", InterU, aux)
            .Item("Flip HU (Interleaved)", InterHU, aux)
            .Sep()
            .Item("Flip H (Non-Interleaved)", NonInterH, aux)
            .Item("Flip U (Non-Interleaved)", NonInterU, aux)
            .Item("Flip HU (Non-Interleaved)", NonInterHU, aux)
            .Sep()
            .Item("Flip H (Random)", RandH, false, false, Cmd("M"))
            .Item("Flip U (Random)", RandU, false, false, CmdShift("M"))
            .Item("Flip HU (Random)", RandHU, false, false, CmdShiftOpt("M"));
        return b.m;
    }
    const uint16_t w = s.fxWord;
    b.Item("Turn ON (Show) Pieces", Show, (w >> 15) & 1)
        .Item("Turn OFF (Hide) Pieces", Hide, (w >> 14) & 1)
        .Sep()
        .Item("Reverse On<->Off", Reverse)
        .Sep()
        .Item("Copy Effects", Copy, false, false, Cmd("C"))
        .Item("Paste Effects", Paste, !s.fxClipboardFull, false, Cmd("V"))
        .Sep()
        .Item("Reset Effects", ResetFX)
        .Sep()
        .Item("Bevel...", Bevel, false, false, Cmd("B"))
        .Item("Hue-Saturation...", HSL, !s.documentRGB, false, Cmd("U"))
        .Item("Brightness-Contrast...", BC, false, false, CmdShift("U"))
        .Item("Gaussian Blur...", Blur, false, false, Cmd("R"))
        .Item("Motion Blur...", MBlur, false, false, CmdShift("R"))
        .Item("Opacity...", Opacity, false, false, Cmd("O"))
        .Item("Color Overlay...", COver, false, false, Cmd("E"))
        .Item("Image Overlay...", IOver, !s.layersAvailable, false, CmdShift("O"))
        .Item("Stroke...", Stroke, false, false, CmdShift("E"))
        .Sep();
    EffectSwitches(b, s, w);
    b.Sep().Item("Invert", Invert, false, (w >> 7) & 1, Cmd("I"));
    return b.m;
}

qntMENU qnGeneralViewMenu(const qntMENUSTATE& s)
{
    Builder b;
    b.Item("Actual Pixels", ActualPixels, false, false, CmdOpt("0"))
        .Item("Fit on Preview", FitOnPreview, false, false, Cmd("0"))
        .Item("Zoom In", ZoomIn, false, false, Cmd("+"))
        .Item("Zoom Out", ZoomOut, false, false, Cmd("-"))
        .Sep();
    if (!s.fxMode) {
        b.Item(Pick(s, "Select All Knives", "Select All Pieces"), SelectAll, !s.someUnselected, false, Cmd("A"))
            .Item(Pick(s, "Deselect Knives", "Deselect Pieces"), Deselect, !s.someSelected, false, Cmd("D"))
            .Item("Inverse Selection", Inverse, false, false, CmdOpt("I"))
            .Sep();
        RandomAndSplitter(b, s, true);
        if (!s.cutMode)
            b.Item("Show Extras", Extras, false, s.extrasShown, Cmd("H"));
    }
    // A separator with nothing after it separates nothing.
    while (!b.m.empty() && b.m.back().IsSeparator())
        b.m.pop_back();
    return b.m;
}

qntMENU qnKnivesMenu(const qntKNIFEMENUSTATE& k)
{
    Builder b;
    if (k.knives) {
        b.Item("Add to Selection", KAdd, !k.someUnselected)
            .Item("Deselect", KDeselect, !k.someSelected)
            .Sep()
            .Item("Flip H", KFlipH)
            .Item("Flip U", KFlipU)
            .Item("Flip HU", KFlipHU)
            .Sep()
            .Item("On", KOn, !k.someOff)
            .Item("Off", KOff, !k.someOn)
            .Sep()
            .Item("Delete", KDelete, !k.someExtra)
            .Sep()
            .Item("Copy Knife", KCopy, k.knives > 1)
            .Item("Paste Knife", KPaste, !k.knifeCopied);
    }
    if (k.knot) {
        if (!b.m.empty())
            b.Sep();
        b.Item("Reset Knot Position", KResetKnot, k.knotAtOrigin);
    }
    return b.m;
}

qntMENU qnPieceMenu(const qntMENUSTATE& s, uint8_t selected, uint8_t hidden)
{
    Builder b;
    if (selected)
        b.Item("Deselect", PDeselect);
    else
        b.Item("Add to Selection", PAdd);
    b.Sep();
    if (hidden)
        b.Item("Show", PShow);
    else
        b.Item("Hide", PHide);
    b.Sep().Item("Copy Effects", PCopy).Item("Paste Effects", PPaste, !s.fxClipboardFull).Sep();
    EffectSwitches(b, s, s.fxWord);
    b.Sep().Item("Invert", Invert, false, (s.fxWord >> 7) & 1);
    return b.m;
}

qntMENU qnRulerHandleMenu()
{
    Builder b;
    b.Item("Center", RulerCenter).Sep().Item("Select", RulerSelect).Item("Deselect", RulerDeselect).Sep().Item(
        "Delete", RulerDelete);
    return b.m;
}

qntMENU qnRulerInsertMenu(uint8_t haveSplitters, uint8_t canInsert)
{
    Builder b;
    b.Item("Arrange", RulerArrange, !haveSplitters).Sep().Item("Insert", RulerInsert, !canInsert);
    return b.m;
}

qntMENU qnUnitsMenu(uint8_t units)
{
    Builder b;
    const char* names[5] = {"Pixels", "Inches", "Centimeters", "Millimeters", "Percent"};
    for (uint16_t i = 0; i < 5; ++i)
        b.Item(names[i], uint16_t(UnitsPixels + i), false, units == i + 1);
    return b.m;
}

bool qnShowMenu(const qntMENU& menu, CQNF_Window* window, short x, short y)
{
    CQNF_PlatformPopupMenu popup;
    if (!popup.Create())
        return false;
    for (const qntMENUITEM& it : menu) {
        if (it.IsSeparator()) {
            popup.AddSeparator();
            continue;
        }
        if (it.key.empty())
            popup.AddItem(it.text.c_str(), it.id, it.checked, it.disabled);
        else
            popup.AddItem(it.text.c_str(), it.id, it.checked, it.disabled, it.command, it.shift, it.option,
                          it.key.c_str());
    }
    return popup.DoPopup(window, x, y);
}
