#include "ui/KeyCodes.h"

namespace qnkey {

uint8_t KeyCodeOf(uint8_t vkey)
{
    switch (vkey) {
    case vk::UpArrow: return Up;
    case vk::DownArrow: return Down;
    case vk::LeftArrow: return Left;
    case vk::RightArrow: return Right;
    case vk::Backspace: return Backspace;
    case vk::Return:
    case vk::KeypadEnter: return Return;
    case vk::Escape: return Escape;
    case vk::ForwardDelete: return Delete;
    case vk::End: return End;
    case vk::Home: return Home;
    case vk::Tab: return Tab;
    case vk::Command:
    case vk::Shift:
    case vk::CapsLock:
    case vk::Option:
    case vk::Control:
    case vk::RightShift:
    case vk::RightOption:
    case vk::RightControl: return Modifier;
    case vk::F1: return 220;
    case vk::F2: return 221;
    case vk::F3: return 222;
    case vk::F4: return 223;
    case vk::F5: return 224;
    case vk::F6: return 225;
    case vk::F7: return 226;
    case vk::F8: return 227;
    case vk::F9: return 228;
    case vk::F10: return 229;
    case vk::F11: return 230;
    case vk::F12: return 231;
    default: return 0;
    }
}

uint8_t ShortcutCharOf(uint8_t vkey)
{
    // Index = virtual key code 0..50; 0 = none.
    static constexpr uint8_t kChars[51] = {
        'A', 'S', 'D', 'F', 'H', 'G', 'Z', 'X', 'C', 'V', 0,   'B', 'Q', 'W', 'E', 'R', 'Y',
        'T', '1', '2', '3', '4', '6', '5', '=', '9', '7', '-', '8', '0', ']', 'O', 'U', '[',
        'I', 'P', 0,   'L', 'J', '\'', 'K', ';', '\\', ',', '/', 'N', 'M', '.', 0,   0,   '`'};
    if (vkey < 51)
        return kChars[vkey];
    if (vkey == vk::KeypadPlus)
        return '+';
    if (vkey == vk::KeypadMinus)
        return '_';
    return 0;
}

}  // namespace qnkey
