// The main window's keyboard shortcuts as a user types them (Ctrl stands for
// Cmd), with what each does in pieces mode while an effect window is open:
// the view commands act, the view menu opens, every other command is refused
// and changes nothing, and the window's own keys (Backspace, Delete, Return,
// Esc) change nothing either. Shared by the headless and the window tests,
// which check every record of the resource file's shortcut table is here.
#pragma once

#include "app/Wnd_Main.h"
#include "platform/Platform.h"
#include "ui/App.h"
#include "ui/KeyCodes.h"

#include <cctype>
#include <cstdint>
#include <functional>
#include <string>

namespace mainkeys {

enum class Effect { Nothing, Extras, ViewMenu, ZoomIn, ZoomOut, ActualPixels, Fit };

struct Shortcut {
    const char* xdotool;  // the key as xdotool names it
    uint8_t vkey, ch, mods;
    uint16_t command;  // the shortcut's command number; 0 for the window's own keys
    Effect effect;
};

inline constexpr uint8_t C = plat::mods::Command, S = plat::mods::Shift, O = plat::mods::Option;

// In an order where each zoom step shows: in, in, in, out, out, 1:1, fit.
inline const Shortcut kShortcuts[] = {
    {"ctrl+h", 4, 'h', C, 1, Effect::Extras},
    {"ctrl+shift+h", 4, 'H', C | S, 8, Effect::Extras},
    {"shift+h", 4, 'H', S, 5, Effect::Nothing},
    {"ctrl+alt+h", 4, 'h', C | O, 9, Effect::Nothing},
    {"shift+F10", qnkey::vk::F10, 0, S, 36, Effect::ViewMenu},
    {"ctrl+a", 0, 'a', C, 2, Effect::Nothing},
    {"ctrl+z", 6, 'z', C, 3, Effect::Nothing},
    {"ctrl+shift+i", 34, 'I', C | S, 10, Effect::Nothing},
    {"ctrl+alt+i", 34, 'i', C | O, 10, Effect::Nothing},
    {"ctrl+d", 2, 'd', C, 11, Effect::Nothing},
    {"ctrl+equal", 24, '=', C, 14, Effect::ZoomIn},
    {"ctrl+shift+equal", 24, '+', C | S, 15, Effect::ZoomIn},
    {"ctrl+KP_Add", qnkey::vk::KeypadPlus, '+', C, 14, Effect::ZoomIn},
    {"ctrl+minus", 27, '-', C, 16, Effect::ZoomOut},
    {"ctrl+KP_Subtract", qnkey::vk::KeypadMinus, '-', C, 17, Effect::ZoomOut},
    {"ctrl+alt+0", 29, '0', C | O, 12, Effect::ActualPixels},
    {"ctrl+0", 29, '0', C, 13, Effect::Fit},
    {"ctrl+f", 3, 'f', C, 18, Effect::Nothing},
    {"ctrl+shift+f", 3, 'F', C | S, 19, Effect::Nothing},
    {"ctrl+shift+alt+f", 3, 'F', C | S | O, 20, Effect::Nothing},
    {"ctrl+m", 46, 'm', C, 21, Effect::Nothing},
    {"ctrl+shift+m", 46, 'M', C | S, 22, Effect::Nothing},
    {"ctrl+shift+alt+m", 46, 'M', C | S | O, 23, Effect::Nothing},
    {"ctrl+b", 11, 'b', C, 24, Effect::Nothing},
    {"ctrl+o", 31, 'o', C, 25, Effect::Nothing},
    {"ctrl+r", 15, 'r', C, 26, Effect::Nothing},
    {"ctrl+u", 32, 'u', C, 27, Effect::Nothing},
    {"ctrl+e", 14, 'e', C, 29, Effect::Nothing},
    {"ctrl+shift+r", 15, 'R', C | S, 30, Effect::Nothing},
    {"ctrl+shift+u", 32, 'U', C | S, 31, Effect::Nothing},
    {"ctrl+s", 1, 's', C, 32, Effect::Nothing},
    {"ctrl+l", 37, 'l', C, 33, Effect::Nothing},
    {"ctrl+shift+s", 1, 'S', C | S, 34, Effect::Nothing},
    {"ctrl+alt+a", 0, 'a', C | O, 35, Effect::Nothing},
    {"ctrl+bracketleft", 33, '[', C, 37, Effect::Nothing},
    {"ctrl+bracketright", 30, ']', C, 38, Effect::Nothing},
    {"ctrl+p", 35, 'p', C, 39, Effect::Nothing},
    {"ctrl+alt+p", 35, 'p', C | O, 40, Effect::Nothing},
    {"ctrl+c", 8, 'c', C, 41, Effect::Nothing},
    {"ctrl+v", 9, 'v', C, 42, Effect::Nothing},
    {"ctrl+i", 34, 'i', C, 43, Effect::Nothing},
    {"ctrl+shift+e", 14, 'E', C | S, 44, Effect::Nothing},
    {"ctrl+shift+o", 31, 'O', C | S, 45, Effect::Nothing},
    {"BackSpace", qnkey::vk::Backspace, 8, 0, 0, Effect::Nothing},
    {"Delete", qnkey::vk::ForwardDelete, 127, 0, 0, Effect::Nothing},
    {"Return", qnkey::vk::Return, 13, 0, 0, Effect::Nothing},
    {"Escape", qnkey::vk::Escape, 27, 0, 0, Effect::Nothing},
};

// The records of the application's shortcut table that no row types; empty
// when the table is covered.
inline std::string UncoveredShortcuts(const CQNF_App& app)
{
    unsigned long count = 0;
    const unsigned char* records = app.GetAccelerators(count);
    std::string missing;
    for (unsigned long i = 0; records && i < count; ++i) {
        const unsigned char* r = records + i * CQNF_App::kShortcutSize;
        const uint16_t command = uint16_t(r[6] | (r[7] << 8));
        bool found = false;
        for (const Shortcut& s : kShortcuts) {
            // The key the window looks the shortcut up by.
            const uint8_t key = std::isalnum(s.ch) ? uint8_t(std::toupper(s.ch))
                                : s.vkey == qnkey::vk::F10 ? uint8_t(qnkey::F1 + 9)
                                                           : qnkey::ShortcutCharOf(s.vkey);
            found |= s.command == command && key == r[4] && ((s.mods & O) != 0) == (r[1] != 0) &&
                     ((s.mods & S) != 0) == (r[2] != 0) && ((s.mods & C) != 0) == (r[0] != 0 && r[3] != 0);
        }
        if (!found)
            missing += " " + std::to_string(command) + "(" + char(r[4]) + ")";
    }
    return missing;
}

// A point of the main window's preview (window-local) that the other window
// does not cover: a click there reaches the main window.
inline qntPOS PreviewPointBeside(const CQNF_Window& main, const CQNF_Window& other)
{
    const qntRECT_s m = main.GetWindowRect(), o = other.GetWindowRect();
    for (const qntPOS p : {qntPOS{40, 70}, qntPOS{690, 70}, qntPOS{40, 540}, qntPOS{690, 540}, qntPOS{366, 306}}) {
        const int32_t x = m.left + p.x, y = m.top + p.y;
        if (x < o.left || x >= o.right || y < o.top || y >= o.bottom)
            return p;
    }
    return qntPOS{40, 70};
}

// What the main window shows that a shortcut could change: the zoom, the
// extras, effects mode and its window, the pieces' selection and visibility,
// the undo and the layout with every piece's effects.
inline std::string State(CWnd_Main& w)
{
    std::string s = "zoom " + std::to_string(w.m_nZoom) + " fx " + std::to_string(w.m_bFXMode) + " window " +
                    std::to_string(reinterpret_cast<uintptr_t>(w.GetFXWindow()));
    if (const CMainPieceMap* pm = w.GetPieceMap()) {
        s += " extras " + std::to_string(pm->ExtrasShown()) + " undo " + std::to_string(pm->unpm_HasStep()) +
             " pieces";
        for (uint32_t i = 0; i < pm->GetPieceCount(); ++i)
            s += std::string(" ") + (pm->IsPieceSelected(i) ? "s" : "-") + (pm->IsPieceHidden(i) ? "h" : "-");
    }
    CQNF_Mem block;
    uint32_t length = 0;
    if (w.settings_SaveCurLayoutAndCellSettingsToMem(&block, length) && block.GetPtr())
        s += " layout " + std::to_string(std::hash<std::string>{}(
                              std::string(reinterpret_cast<const char*>(block.GetPtr()), length)));
    return s;
}

// What the row should have done, from the state before and after: an empty
// string when it did.
inline std::string Judge(const Shortcut& s, CWnd_Main& w, const std::string& before, uint32_t zoomBefore,
                         bool extrasBefore, int menusOpened)
{
    const uint32_t zoom = w.m_nZoom;
    const bool extras = w.GetPieceMap() && w.GetPieceMap()->ExtrasShown();
    const int menusWanted = s.effect == Effect::ViewMenu ? 1 : 0;
    if (menusOpened != menusWanted)
        return std::string(s.xdotool) + ": " + std::to_string(menusOpened) + " menus opened";
    switch (s.effect) {
    case Effect::Nothing:
    case Effect::ViewMenu:
        return State(w) == before ? "" : std::string(s.xdotool) + " changed " + before + " to " + State(w);
    case Effect::Extras:
        return extras != extrasBefore ? "" : std::string(s.xdotool) + " left the extras as they were";
    case Effect::ZoomIn:
        return zoom == zoomBefore + 1 ? "" : std::string(s.xdotool) + " zoom " + std::to_string(zoom);
    case Effect::ZoomOut:
        return zoom + 1 == zoomBefore ? "" : std::string(s.xdotool) + " zoom " + std::to_string(zoom);
    case Effect::ActualPixels: return zoom == 4 ? "" : std::string(s.xdotool) + " zoom " + std::to_string(zoom);
    case Effect::Fit:
        // A picture smaller than the preview fits enlarged.
        return zoom > 4 ? "" : std::string(s.xdotool) + " zoom " + std::to_string(zoom);
    }
    return "";
}

}  // namespace mainkeys
