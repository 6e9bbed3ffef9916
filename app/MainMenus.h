// The main window's pop-up menus as plain lists, without any window: every
// item with its id, text, shortcut text and its enabled and checked states,
// built from a snapshot of the window's state. The window shows a list with
// qnShowMenu; the tests read the lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CQNF_Window;

struct qntMENUITEM {
    std::string text;  // empty: a separator
    uint16_t id = 0;
    uint8_t checked = 0;
    uint8_t disabled = 0;
    uint8_t command = 0, shift = 0, option = 0;
    std::string key;  // the shortcut's key as shown; empty: none

    bool IsSeparator() const { return text.empty(); }
    // "Cmd+Shift+Z": the shortcut as the tests and the accelerator table spell it.
    std::string ShortcutText() const;
};
using qntMENU = std::vector<qntMENUITEM>;

// What the menus look at, in cut mode (knives) or piece mode (pieces).
struct qntMENUSTATE {
    uint8_t cutMode = 1;
    uint8_t fxMode = 0;
    uint8_t undoHasStep = 0;        // the undo of the current mode
    uint8_t someSelected = 0;       // knives (cut mode) or pieces (piece mode)
    uint8_t someUnselected = 0;
    uint8_t hasExtraKnife = 0;
    uint8_t splitterPiece = 0;      // piece mode: the knife lines are a piece (razor cut off)
    uint8_t extrasShown = 0;        // of the current mode
    // Cut-mode Adjust menu.
    uint8_t canShow = 0, canHide = 0, canAddKnives = 0, canDelKnives = 0;
    uint8_t knifeCopied = 0, canEqualize = 0, auxOnlySelection = 0;
    // Piece-mode Adjust menu and the piece menu.
    uint16_t fxWord = 0;
    uint8_t fxClipboardFull = 0;
    uint8_t documentRGB = 1;
    uint8_t layersAvailable = 0;
};

// Ids of the commands reached through menus (message 304).
namespace qnmenu {
inline constexpr uint16_t UnitsPixels = 16, UnitsPercent = 20;
inline constexpr uint16_t SelectAll = 32, Deselect = 33, Inverse = 34, SelHidden = 35, SelShown = 36;
inline constexpr uint16_t SelColumns = 37, SelRows = 38, SelExtra = 39, LoadSelection = 40;
inline constexpr uint16_t SelRandom = 41, DeselRandom = 42, AddSplitter = 43, DeselSplitter = 44, Extras = 47;
inline constexpr uint16_t ActualPixels = 48, FitOnPreview = 49, ZoomIn = 50, ZoomOut = 51;
inline constexpr uint16_t RulerArrange = 64, RulerCenter = 65, RulerInsert = 66, RulerDelete = 67;
inline constexpr uint16_t RulerSelect = 68, RulerDeselect = 69;
inline constexpr uint16_t Undo = 80, Preferences = 81, Save = 84, Cancel = 85, ApplyLM = 86, Apply = 87;
inline constexpr uint16_t Load = 88, Export = 89, Relayout = 90;
inline constexpr uint16_t Show = 96, Hide = 97, FlipH = 98, FlipU = 99, FlipHU = 100;
inline constexpr uint16_t RandH = 101, RandU = 102, RandHU = 103, InterH = 104, InterU = 105, InterHU = 106;
inline constexpr uint16_t NonInterH = 107, NonInterU = 108, NonInterHU = 109, Copy = 110, Paste = 111;
inline constexpr uint16_t Bevel = 112, Blur = 113, MBlur = 114, Opacity = 115, HSL = 116, BC = 117, COver = 118;
inline constexpr uint16_t EnBevel = 119, EnBlur = 120, EnMBlur = 121, EnOpacity = 122, EnHSL = 123, EnBC = 124;
inline constexpr uint16_t EnCOver = 125, Stroke = 126, EnStroke = 127, IOver = 128, EnIOver = 129, Invert = 130;
inline constexpr uint16_t ResetFX = 143, Reverse = 144;
inline constexpr uint16_t KAdd = 256, KDeselect = 257, KFlipH = 258, KFlipU = 259, KFlipHU = 260, KOn = 261;
inline constexpr uint16_t KOff = 262, KResetKnot = 263, KCopy = 264, KPaste = 265, KDelete = 266;
inline constexpr uint16_t PAdd = 272, PDeselect = 273, PShow = 274, PHide = 275, PCopy = 276, PPaste = 277;
inline constexpr uint16_t AddExtra = 3936, DelExtra = 3937, Equalize = 3938;
}  // namespace qnmenu

qntMENU qnMainMenu(const qntMENUSTATE& s);
qntMENU qnSelectMenu(const qntMENUSTATE& s);
qntMENU qnAdjustMenu(const qntMENUSTATE& s);
// The general view menu of the preview (no knife or piece under the point,
// effects mode, or the ruler button).
qntMENU qnGeneralViewMenu(const qntMENUSTATE& s);

// The preview's menu over knives, in cut mode.
struct qntKNIFEMENUSTATE {
    uint32_t knives = 0;  // under the point
    uint8_t someOff = 0, someOn = 0, someSelected = 0, someUnselected = 0, someExtra = 0;
    uint8_t knifeCopied = 0;
    uint8_t knot = 0;            // an unselected knot marker is under the point
    uint8_t knotAtOrigin = 0;    // both of its offsets are 0
};
qntMENU qnKnivesMenu(const qntKNIFEMENUSTATE& k);
// The preview's menu over a piece, in piece mode: fxWord is the piece's own.
qntMENU qnPieceMenu(const qntMENUSTATE& s, uint8_t selected, uint8_t hidden);
// The split rulers' menus: over a handle, or elsewhere on the ruler.
qntMENU qnRulerHandleMenu();
qntMENU qnRulerInsertMenu(uint8_t haveSplitters, uint8_t canInsert);
// Ruler units 1..5, the current one checked.
qntMENU qnUnitsMenu(uint8_t units);

// Shows a list as a native pop-up at a window point; the choice reaches the
// window as message 304. False when the menu could not be made.
bool qnShowMenu(const qntMENU& menu, CQNF_Window* window, short x, short y);
