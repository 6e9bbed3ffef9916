// CQNF_PlatformPopupMenu: a native pop-up menu shown at a point of a window;
// the choice reaches the window as control message 304 with a pointer to the
// chosen item's 16-bit id.
//
// Error numbers: 1 the menu was made twice, 2 no menu.
#pragma once

#include "core/Array.h"
#include "core/ErrorManager.h"
#include "platform/Platform.h"

#include <cstdint>
#include <vector>

class CQNF_Window;

class CQNF_PlatformPopupMenu : public CQNF_FrameWork {
public:
    static constexpr unsigned short kSeparatorId = 65535;

    // The shortcut an item shows (8 bytes).
    struct MENUSHORTCUT {
        uint8_t command;  // nonzero: Command is part of it
        uint8_t shift;
        uint8_t option;
        char key[4];      // the first character is the key shown
        uint8_t zero;
    };
    static_assert(sizeof(MENUSHORTCUT) == 8);

    CQNF_PlatformPopupMenu() = default;
    ~CQNF_PlatformPopupMenu() override = default;

    bool Create();
    // A null text adds nothing and still answers true.
    bool AddItem(const char* text, unsigned short id, unsigned char checked, unsigned char disabled,
                 const MENUSHORTCUT* shortcut = nullptr);
    bool AddItem(const char* text, unsigned short id, unsigned char checked, unsigned char disabled,
                 unsigned char command, unsigned char shift, unsigned char option, const char* key);
    // Note the order: command, option, shift (stored as bytes 0, 2, 1).
    static MENUSHORTCUT CreateShortcut(unsigned char command, unsigned char option, unsigned char shift,
                                       const char* key);
    bool AddSeparator();
    // Shows the menu 5 pixels below the window-local point and reports the
    // choice to the window; a dismissed menu reports nothing.
    bool DoPopup(CQNF_Window* window, short x, short y, unsigned char unused = 0);

    const std::vector<plat::MenuItem>& Items() const { return m_items; }

private:
    bool m_created = false;
    std::vector<plat::MenuItem> m_items;
    CQNF_WordArray m_ids;
};
