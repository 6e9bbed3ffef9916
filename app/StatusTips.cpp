// The status-tip chain: one rule list per window, tried in order; the first
// rule whose type and mode conditions hold and whose name test passes gives
// the text. Each list ends with its window's default.
#include "app/StatusTips.h"

#include "core/String.h"
#include "effects/FxStatusTips.h"

#include <cstring>

namespace {

enum class Test : uint8_t { Name, Suffix, Any, Default };
enum class When : uint8_t { Always, Cut, Piece, Enabled, Disabled, Knives, Pieces };

struct Rule {
    Test test;
    const char* name;
    int type;  // -1: any type
    When when;
    const char* text;
};

constexpr int kAny = -1;

#define NAME(n, t) {Test::Name, n, kAny, When::Always, t}
#define NAME_IF(n, w, t) {Test::Name, n, kAny, When::w, t}
#define END(t) {Test::Default, nullptr, kAny, When::Always, t}

const char kHelp[] = "Click for Help, On-line User Guide, About, etc.";

// ---- Document channels -------------------------------------------------------
const Rule kChannels[] = {
    NAME("ChannelList_Help", kHelp),
    NAME("ChannelList_CloseX", "Click to close the Document Channels window and cancel all actions \nthat you have done."),
    NAME("ChannelList_Cancel", "Click to close the Document Channels window and cancel all actions \nthat you have done."),
    NAME("ChannelList_Ok", "Click to load the selection made from the picked channel and close \nthe Document Channels window."),
    NAME("ChannelList_Invert", "Select to use the inverted content of the picked channel: light areas \nselect instead of dark ones."),
    NAME("Zone_Preview", "Preview of the picked channel. The areas that will be selected are \nshown black."),
    NAME("ChannelList_List", "Click a channel to use its content as a map for the selection. \nThe first item is the current selection of the document."),
    NAME_IF("ChannelList_SelNew", Knives, "Click to use the content of the picked channel as a map for selecting knives. On \nthat action the selected knives will be loaded as a NEW selection."),
    NAME_IF("ChannelList_SelAdd", Knives, "Click to use the content of the picked channel as a map for selecting knives. On \nthat action the selected knives will be ADDED to the current selection."),
    NAME_IF("ChannelList_SelSub", Knives, "Click to use the content of the picked channel as a map for selecting knives. On \nthat action the selected knives will be SUBTRACTED from the current selection."),
    NAME_IF("ChannelList_SelInter", Knives, "Click to use the content of the picked channel as a map for selecting knives. On \nthat action only the knives also in the current selection stay selected."),
    {Test::Default, nullptr, kAny, When::Knives, "The Document Channels window. Use the controls located in this window when you \nwant to use the content of the document channels as maps for selecting knives."},
    NAME_IF("ChannelList_SelNew", Pieces, "Click to use the content of the picked channel as a map for selecting pieces. On \nthat action the selected pieces will be loaded as a NEW selection."),
    NAME_IF("ChannelList_SelAdd", Pieces, "Click to use the content of the picked channel as a map for selecting pieces. On \nthat action the selected pieces will be ADDED to the current selection."),
    NAME_IF("ChannelList_SelSub", Pieces, "Click to use the content of the picked channel as a map for selecting pieces. On \nthat action the selected pieces will be SUBTRACTED from the current selection."),
    NAME_IF("ChannelList_SelInter", Pieces, "Click to use the content of the picked channel as a map for selecting pieces. On \nthat action only the pieces also in the current selection stay selected."),
    END("The Document Channels window. Use the controls located in this window when you \nwant to use the content of the document channels as maps for selecting pieces."),
};

// ---- Auto layout ---------------------------------------------------------------
const Rule kAutoLayout[] = {
    {Test::Any, nullptr, 8, When::Always, "Click and enter the desired value of the parameter. \nTo confirm,press Return. To cancel, press Esc."},
    NAME("AutoLayout_CloseX", "Click to close the Auto Layout window without \nchanging the layout."),
    NAME("AutoLayout_Help", kHelp),
    NAME("AutoLayout_Ok", "Click to lay out the chosen tiling and close the \nAuto Layout window."),
    NAME("AutoLayout_Cancel", "Click to close the Auto Layout window without \nchanging the layout."),
    NAME("AutoLayout_Tri", "Select to cut the image into triangles."),
    NAME("AutoLayout_Hex", "Select to cut the image into hexagons lying \non a side: flat tops and bottoms."),
    NAME("AutoLayout_Hex2", "Select to cut the image into hexagons standing \non a corner: pointed tops and bottoms."),
    NAME("AutoLayout_Regular", "Select to keep the tiles regular: their sides keep \nequal lengths."),
    NAME("AutoLayout_Rows", "Drag the slider to set the number of rows of tiles."),
    NAME("AutoLayout_Cols", "Drag the slider to set the number of columns of tiles."),
    END("The Auto Layout window. Use the controls located in this \nwindow to create the triangular and hexagonal layouts."),
};

// ---- Presets manager -------------------------------------------------------------
const char kPresDone[] = "Click to close the Preset Manager window.";
const char kPresIcoBg[] = "Click a shape to pick it. Double-click to send it \nto the Knife Editor.";
const Rule kPresets[] = {
    NAME("PresMng_CloseX", kPresDone),
    NAME("PresMng_Help", kHelp),
    NAME("PresMng_Done", kPresDone),
    NAME("PresMng_SaveSet", "Click to save the selected shapes of the list as a \nnew Set of Paths file."),
    NAME("PresMng_ReplaceSet", "Click to replace the list by the shapes of a \nSet of Paths file."),
    NAME("PresMng_LoadSet", "Click to add the shapes of a Set of Paths file \nto the list."),
    NAME("PresMng_LoadShape", "Click to add a knife's Path file to the list."),
    NAME("PresMng_RenShape", "Click to rename the picked shape."),
    NAME("PresMng_DelShape", "Click to delete the picked shape from the list."),
    NAME("PresMng_Sort", "Click to sort the shapes of the list by name."),
    NAME("PresMng_Sico", "Click to show the shapes as small icons."),
    NAME("PresMng_Lico", "Click to show the shapes as large icons."),
    NAME("PresMng_List", "The list of shapes. Click a name to pick the shape; \ndouble-click to send it to the Knife Editor."),
    NAME("PresMng_BigIcoBg", kPresIcoBg),
    NAME("PresMng_SmallIcoBg", kPresIcoBg),
    NAME("PresMng_ToCutter", "Click to send the picked shape to the Knife Editor."),
    NAME("PresMng_ToCutterClose", "Click to send the picked shape to the Knife Editor \nand close the Preset Manager window."),
    END("The Preset Manager window. Use the controls located in this window to \nconveniently manage knives' Paths and Sets of Paths."),
};

// ---- Preferences -------------------------------------------------------------------
const char kPrefClose[] = "Click to close the Preferences window and cancel all actions that you have done.";
const Rule kPreferences[] = {
    NAME("Pref_CloseX", kPrefClose),
    NAME("Pref_Help", kHelp),
    NAME("Pref_Cancel", kPrefClose),
    NAME("Pref_Ok", "Click the button to confirm the preferences that you have chosen. \nThe Preferences window closes."),
    NAME("Pref_FCB", "Select the radio button to see a checkerboard around the image in the Main Preview area."),
    NAME("Pref_FSolid", "Select the radio button to see in the Main Preview the area, around the image, \nfilled with a solid color."),
    NAME("Pref_TCB", "Select the radio button to see a checkerboard under the transparent areas of the \nimage in the Main Preview area."),
    NAME("Pref_TSolid", "Select the radio button to see in the Main Preview the areas, under the transparent \nparts of the image, filled with a solid color."),
    NAME("Pref_FitOnLoad", "Select the check box if you want the image to be zoomed out to fit in the Main Preview \nwhen opened."),
    NAME("Pref_DisOpacity", "Enter  the desired opacity of the hidden (turned OFF) knives that are \ndisplayed in the Main Preview area."),
    NAME("Zone_SwatchT", "Click the swatch to open your host's color picker window and then, choose the \ndesired color for a checkerboard under the image's transparent areas."),
    NAME("Zone_SwatchF", "Click the swatch to open your host's color picker window and then, choose the \ndesired color for a checkerboard around the image."),
    NAME("Zone_SwatchTS", "Click the swatch to open your host's color picker window and then, choose the \ndesired color for a solid color under the image's transparent areas."),
    NAME("Zone_SwatchFS", "Click the swatch to open your host's color picker window and then, choose the \ncolor with which will be filled the area around the image."),
    NAME("Zone_Preview", "Preview of the chosen setting of the Frame and the Transparency."),
    END("Set Quorvin Tessolo 3.1 preferences using the controls located in this window."),
};

// ---- Pieces export ---------------------------------------------------------------------
const Rule kExport[] = {
    NAME("Export_Help", kHelp),
    NAME("Export_CloseX", "Click to close the Export window without exporting."),
    NAME("Export_Export", "Click to choose where to write the pieces and export them."),
    NAME("Export_Cancel", "Click to close the Export window without exporting."),
    NAME("Export_Merged", "Select to export the pieces merged into one picture."),
    NAME("Export_Selected", "Select to export only the selected pieces - each on its own \nlayer or in its own file."),
    NAME("Export_Composite", "Select to add the composite image - all pieces together - \nto the export."),
    NAME("Export_All", "Select to export every piece."),
    NAME("Export_ToPSD", "Select to write one layered PSD file, one layer per piece."),
    NAME("Export_Hidden", "Select to export the hidden pieces too."),
    NAME("Export_ToPNG", "Select to write one PNG file per piece."),
    NAME("Export_FullCanvas", "Select to give every piece the whole canvas of the image; \nelse each is cropped to its own bounds."),
    NAME("Export_NamingSimple", "Select to name the pieces by their number only."),
    NAME("Export_NamingExtended", "Select to name the pieces by their number, row and column."),
    NAME("Export_WOBevel", "Select to export the pieces without their bevel effect."),
    NAME("Zone_Display", "How many pieces, layers or files the export will write."),
    NAME("Zone_DisplayNaming", "A sample of the names the exported pieces will get."),
    END("The Export (Puzzle Mode) window. Use the controls located in this \nwindow for exporting puzzle pieces."),
};

// ---- Knives export ------------------------------------------------------------------------
const Rule kExportLM[] = {
    NAME("ExportLM_Help", kHelp),
    NAME("ExportLM_CloseX", "Click to close the Export window without exporting."),
    NAME("ExportLM_Cancel", "Click to close the Export window without exporting."),
    NAME("ExportLM_All", "Select to export every knife that is turned on."),
    NAME("ExportLM_Selected", "Select to export only the selected knives."),
    NAME("ExportLM_ToEPS", "Select to write the knives as paths of an EPS file."),
    NAME("ExportLM_ToAI", "Select to write the knives as paths of an Illustrator file."),
    NAME("ExportLM_Export", "Click to choose where to write the knives and export them."),
    NAME("Zone_Display", "How many knives the export will write."),
    END("The Export (Layout Mode) window. Use the controls located in \nthis window for exporting knives."),
};

// ---- Knife editor -----------------------------------------------------------------------------
const char kCutterScale[] = "Click to scale the view of the Knife's Path.";
const char kCutterClose[] = "Click to close the Cutter window without cutting: the layout goes \nback to what it was and the pieces stay as they were.";
// Without pieces (none cut yet, or a stopped Cut left none) the editor has
// no state to go back to: its ways out are off, and only a Cut leaves it.
const char kCutterNoClose[] = "Closing is off: there are no pieces (none cut yet, or a stopped \nCut left none). Only a Cut closes the Cutter window.";
const Rule kCutter[] = {
    {Test::Any, nullptr, 8, When::Always, "Click and enter the desired value of the parameter. To confirm,\npress Return. To cancel, press Esc."},
    NAME_IF("Cutter_CloseX", Disabled, kCutterNoClose),
    NAME_IF("Cutter_Cancel", Disabled, kCutterNoClose),
    NAME("Cutter_CloseX", kCutterClose),
    NAME("Cutter_Help", kHelp),
    NAME("Cutter_Cancel", kCutterClose),
    NAME("Cutter_Reset", "Click to give the knife's Path back the shape it had when the \nCutter window opened."),
    NAME("Cutter_Cut", "Click to cut the image into pieces along the knives. The Main \nwindow then works on the pieces."),
    NAME("Zone_Preview", "Drag an anchor point to shape the knife's Path. Click the Path to \nadd a point; Ctrl+click to select several."),
    NAME("Cutter_FlipH", "Click to mirror the knife's Path across the cut."),
    NAME("Cutter_FlipU", "Click to mirror the knife's Path along the cut."),
    NAME("Cutter_Undo", "Click to undo the last change of the knife's Path."),
    NAME("Cutter_Redo", "Click to redo the change of the knife's Path that you undid."),
    NAME("Cutter_1x1", kCutterScale),
    NAME("Cutter_1x2", kCutterScale),
    NAME("Cutter_1x4", kCutterScale),
    NAME_IF("Cutter_Smoothness", Enabled, "Drag the slider to adjust the Path's smoothness in the neighborhood \nof the selected anchor point(s)."),
    NAME_IF("Cutter_Smoothness", Disabled, "Adjusts the Path's smoothness around anchor points. To enable it - \nselect the appropriate anchor point(s)."),
    NAME("Cutter_Save", "Click to save the knife's Path as a .QNTH file."),
    NAME("Cutter_Load", "Click to load a knife's Path from a .QNTH file."),
    NAME("Cutter_Presets", "Click to open the Preset Manager with your stored Paths \nand Sets of Paths."),
    NAME("Cutter_AddToPM", "Click to add the knife's Path to the Preset Manager."),
    NAME("Cutter_Clone", "Choose how the knife's Path is cloned onto the knives of \nthe layout."),
    NAME("Cutter_ReClone", "Click to clone the knife's Path onto the knives again, with \nnew random mutations."),
    NAME("Cutter_CloneDisp", "The mutation amounts used when the Path is cloned."),
    NAME("Cutter_Rows", "Drag the slider to set the number of rows of pieces."),
    NAME("Cutter_Columns", "Drag the slider to set the number of columns of pieces."),
    NAME("Cutter_LinkRC", "Select to keep the pieces near square: rows follow \ncolumns and columns follow rows."),
    NAME("Cutter_AutoLayout", "Click to lay out triangles or hexagons automatically."),
    NAME("Cutter_TipsSize", "Drag the slider to set the knob size of the selected knife \nor a group of knives."),
    NAME_IF("Cutter_KnifeTh", Enabled, "Drag the slider to adjust the thickness of the selected knife \nor a group of knives."),
    NAME_IF("Cutter_KnifeTh", Disabled, "Sets the thickness of the knives. To enable it - deselect \nthe Razor Cut check box."),
    NAME("Cutter_RazorCut", "Select to cut with knives of no thickness: the pieces touch \nand no Splitter piece is made."),
    NAME("Cutter_AntiAliasing", "Select to smooth the edges of the pieces."),
    END("The Cutter window. Use the controls located in this window and \ncreate or adjust the knife's Path and specify parameters of the Splitter."),
};

// ---- Main window ------------------------------------------------------------------------------
const char kMainRuler[] = "Ruler. Right-click to change the units of measurement.";
const char kMainHideExtras[] = "Click to hide the extras: knots in the Layout Mode, the \nselection map in the Puzzle Mode.";
const char kMainShowExtras[] = "Click to show the extras: knots in the Layout Mode, the \nselection map in the Puzzle Mode.";
#define FX(n, label) NAME_IF(n, Piece, label " effect. Click the button to open the effect window or the ON/OFF switch to enable/disable the effect.")
const Rule kMain[] = {
    NAME("Main_CloseX", "Click to close the plug-in and cancel all actions that you have done. \nYour host's image stays unchanged."),
    NAME("Main_Cancel", "Click to close the plug-in and cancel all actions that you have done. \nYour host's image stays unchanged."),
    NAME("Main_Help", kHelp),
    {Test::Suffix, "Main_Ruler", 5, When::Always, "Click the button for menu"},
    NAME("Main_Ruler", kMainRuler),
    NAME("Zone_Status", "Indicates the current working mode of the plug-in."),
    NAME("Main_Zoom", "Drag the slider to zoom the Main Preview in or out."),
    NAME("Main_Navigator", "The whole image. Click or drag in it to move the view of \nthe Main Preview."),
    NAME("Main_RulerCover_Top", kMainRuler),
    NAME("Main_RulerCover_Left", kMainRuler),
    // Cut mode.
    NAME_IF("Main_Main", Cut, "Click and choose the menu item: Save, Export, Preferences, etc."),
    NAME_IF("Main_Select", Cut, "Click and choose how to select knives: all, none, inverted, \nrandomly, by rows or columns."),
    NAME_IF("Main_Adjust", Cut, "Click and choose how to adjust the selected (or all) knives: \nflip, equalize knobs, copy and paste."),
    {Test::Suffix, "Main_RndKnots", 5, When::Cut, "Click the button to re-randomize knots' position. Enabled if the level of knots' position randomization is above 0 (zero)."},
    {Test::Suffix, "Main_RndKnots", 8, When::Cut, "Click and enter the desired value of the parameter. To confirm, press Enter. To cancel, press Esc."},
    NAME_IF("Main_ResetKnots", Cut, "Click to put every knot back on its splitter crossing."),
    NAME_IF("Main_RndKnots", Cut, "Drag the slider to specify the level of knots' position randomization."),
    NAME_IF("Main_AddKnives", Cut, "Click to add an extra knife between the two knots you clicked."),
    NAME_IF("Main_DelKnives", Cut, "Click to delete the selected extra knives - the grid's own \nknives can only be turned off."),
    NAME_IF("Main_Show", Cut, "Click to turn the selected (or all) knives ON."),
    NAME_IF("Main_Hide", Cut, "Click to turn the selected (or all) knives OFF: they no longer cut."),
    NAME_IF("Main_RevShowHide", Cut, "Click to turn the knives that are ON off, and those that \nare OFF on."),
    NAME_IF("Main_Export", Cut, "Click to export the knives as paths of an EPS or \nIllustrator file."),
    NAME_IF("Main_ApplyLM", Cut, "Click to apply the plug-in and obtain the knives as lines inside \nyour host. The plug-in closes."),
    NAME_IF("Main_HideExtras", Cut, kMainHideExtras),
    NAME_IF("Main_ShowExtras", Cut, kMainShowExtras),
    NAME_IF("Zone_Preview", Cut, "Click on any knife to select it. Drag a knot to change its position. Click on a knot to make it ready for an extra knife."),
    NAME_IF("Zone_HSplitter", Cut, "The Columns Splitters area. Drag a handle to move its splitter; \nCtrl+Shift-click to add one, right-click for more."),
    NAME_IF("Zone_VSplitter", Cut, "The Rows Splitters area. Drag a handle to move its splitter; \nCtrl+Shift-click to add one, right-click for more."),
    // Piece mode.
    NAME_IF("Main_Main", Piece, "Click and choose the menu item: Save, Export, Preferences, Relayout, etc."),
    NAME_IF("Main_Select", Piece, "Click and choose how to select pieces: all, none, inverted, \nhidden or shown, or randomly."),
    NAME_IF("Main_Adjust", Piece, "Click and choose an effect for the selected (or all) pieces, \nor copy, paste and reset effects."),
    NAME_IF("Main_Export", Piece, "Click to export the pieces to a layered PSD file or \nto PNG files."),
    NAME_IF("Main_Apply", Piece, "Click to apply the plug-in and obtain the created puzzle pieces as a flattened layer inside your host. The plug-in closes."),
    NAME_IF("Main_HideExtras", Piece, kMainHideExtras),
    NAME_IF("Main_ShowExtras", Piece, kMainShowExtras),
    NAME_IF("Main_Relayout", Piece, "Click to go back to the Layout Mode and change the knives. \nThe pieces keep their effects where they can."),
    NAME_IF("Main_Show", Piece, "Click to show the selected (or all) pieces."),
    NAME_IF("Main_Hide", Piece, "Click to hide the selected (or all) pieces."),
    NAME_IF("Main_RevShowHide", Piece, "Click to hide the shown pieces and show the hidden ones."),
    NAME_IF("Zone_Preview", Piece, "Click on any piece to select it. Use Ctrl, Alt and/or Shift for selecting options. Use Ctrl+Shift+drag for freehand selection."),
    NAME_IF("Zone_HSplitter", Piece, "The Columns Splitters area. You can operate them only in the Layout Mode."),
    NAME_IF("Zone_VSplitter", Piece, "The Rows Splitters area. You can operate them only in the Layout Mode."),
    FX("Main_FXBevel", "Bevel"),
    FX("Main_FXHSL", "Hue/Saturation"),
    FX("Main_FXBC", "Brightness/Contrast"),
    FX("Main_FXBlur", "Gaussian Blur"),
    FX("Main_FXMBlur", "Motion Blur"),
    FX("Main_FXOpacity", "Opacity"),
    FX("Main_FXCOver", "Color Overlay"),
    FX("Main_FXIOver", "Image Overlay"),
    FX("Main_FXStroke", "Stroke"),
    END(" The Main window of Quorvin Tessolo 3.1."),
};
#undef FX
#undef NAME
#undef NAME_IF
#undef END

struct Window {
    const char* name;
    const Rule* rules;
    size_t count;
};

template <size_t N>
constexpr Window Make(const char* name, const Rule (&rules)[N])
{
    return Window{name, rules, N};
}

const Window kWindows[] = {
    Make("ChannelsList", kChannels), Make("AutoLayout", kAutoLayout),
    Make("PresetsManager", kPresets), Make("Preferences", kPreferences), Make("Export", kExport),
    Make("ExportLM", kExportLM),      Make("Cutter", kCutter),   Make("Main", kMain),
};

bool SameNoCase(const char* a, const char* b)
{
    return CQNF_String(a).CompareNoCase(b) == 0;
}

bool EndsWithNoCase(const char* name, const char* suffix)
{
    const size_t n = std::strlen(name), s = std::strlen(suffix);
    if (n < s)
        return false;
    return SameNoCase(name + (n - s), suffix);
}

bool ModeHolds(When w, uint8_t mode)
{
    switch (w) {
    case When::Always:
        return true;
    case When::Cut:
        return mode == 2;
    case When::Piece:
        return mode == 3 || mode == 4;
    case When::Enabled:
        return mode != 0;
    case When::Disabled:
        return mode == 0;
    case When::Knives:
        return mode == 1;
    case When::Pieces:
        return mode != 1;
    }
    return false;
}

}  // namespace

const char* qnGetStatusTip(const char* control, const char* window, uint8_t mode, uint8_t type)
{
    const char* name = control ? control : "";
    const char* win = window ? window : "";
    // The effect windows keep their tips with them; one table serves both.
    if (SameNoCase(win, "Effect"))
        return FxStatusTip(name, type);
    for (const Window& w : kWindows) {
        if (!SameNoCase(win, w.name))
            continue;
        for (size_t i = 0; i < w.count; ++i) {
            const Rule& r = w.rules[i];
            if (r.type != kAny && r.type != type)
                continue;
            if (!ModeHolds(r.when, mode))
                continue;
            switch (r.test) {
            case Test::Name:
                if (SameNoCase(name, r.name))
                    return r.text;
                break;
            case Test::Suffix:
                if (EndsWithNoCase(name, r.name))
                    return r.text;
                break;
            case Test::Any:
            case Test::Default:
                return r.text;
            }
        }
        // Every list ends with an unconditional default; never reached.
        break;
    }
    return "\nReady...";
}
