// Shared pieces of the edit-line, list and preview window tests: a small
// bitmap font stored in the test skin (codes 32..126, every glyph a full
// 5 x 7 block with one pixel after it) and key presses by character.
#pragma once

#include "ctrl_window_fixture.h"
#include "imaging/Font.h"
#include "ui/KeyCodes.h"

#include <string>
#include <vector>

namespace edittest {

inline std::vector<uint8_t> BlockFontRecord()
{
    std::vector<uint8_t> r = {'Q', 'N', 'F', '2', 32, 126};
    for (int code = 32; code <= 126; ++code) {
        r.insert(r.end(), {0, 1, uint8_t(int8_t(-7)), 5, 7});
        r.insert(r.end(), 35, uint8_t(code == ' ' ? 0 : 255));
    }
    return r;
}

class Fixture : public ctrltest::ControlWindowTest {
protected:
    void SetUp() override
    {
        ctrltest::ControlWindowTest::SetUp();
        skin.Bytes("UIResources>Fonts>Block", ctrltest::Zip(BlockFontRecord()));
    }
    // The window's copy of the test font.
    CQNF_Font* Font()
    {
        if (!font_) {
            const unsigned long index = window.AddFont("Block");
            font_ = window.GetFont(index);
        }
        return font_;
    }
    void Activate() { hp.Activate(window.GetWindowHandle()); }
    // Types printable characters into the active window.
    void Type(const std::string& text, uint8_t mods = 0)
    {
        for (char ch : text)
            hp.Key(0xFF, uint8_t(ch), mods);
        Pump();
    }
    void KeyPress(uint8_t vkey, uint8_t mods = 0, uint8_t ch = 0)
    {
        hp.Key(vkey, ch, mods);
        Pump();
    }
    void Rect(const std::string& folder, qntRECT_s r)
    {
        skin.Number(folder + ">Rect Left", uint16_t(r.left));
        skin.Number(folder + ">Rect Top", uint16_t(r.top));
        skin.Number(folder + ">Rect Right", uint16_t(r.right));
        skin.Number(folder + ">Rect Bottom", uint16_t(r.bottom));
    }

private:
    CQNF_Font* font_ = nullptr;
};

}  // namespace edittest
