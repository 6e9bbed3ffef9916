// Paints every skin of the resource file with cairo: window panels and
// captions, each state of each control, hot zones, and the decorations of a
// window's background. Text is set with the committed DejaVu faces through
// cairo's FreeType backend (hinted, grey anti-aliasing, so 11-12 px stays
// crisp); icons are 16-px line drawings authored as SVG and rasterised with
// librsvg in the colour of the state.
//
// The theme: a neutral dark panel, one accent colour, lighter fills for
// hover, a darker fill and an accent edge for pressed, dimmed text for
// disabled, an 8-px spacing grid (the manifest's coordinates keep it).
#pragma once

#include "resources/compiler/Manifest.h"
#include "resources/compiler/Records.h"

#include <utility>
#include <vector>
#include <memory>
#include <string>

namespace rc {

// Record name ("Normal", "Thumb_Pressed", ...) to picture, kept in the order
// the control loads them, so the file and its dumps read in that order.
class Skin {
public:
    Pixmap& operator[](const std::string& name)
    {
        for (auto& [n, p] : m_items)
            if (n == name)
                return p;
        return m_items.emplace_back(name, Pixmap()).second;
    }
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }
    size_t size() const { return m_items.size(); }

private:
    std::vector<std::pair<std::string, Pixmap>> m_items;
};

class Painter {
public:
    Painter(const std::string& fontDir, const std::string& iconDir);
    ~Painter();
    Painter(const Painter&) = delete;
    Painter& operator=(const Painter&) = delete;

    // The window's Background (panel, outline alpha, decorations and the
    // frames of edits, progress tracks and rulers) and its two captions.
    Pixmap Background(const Window& w);
    Pixmap Caption(const Window& w, bool active);

    // Every image record of a control, keyed by record name.
    Skin Control(const rc::Control& c);

    // Slider geometry the compiler writes next to the images.
    struct SliderPath {
        std::vector<std::pair<int, int>> points;
        int hotX = 0, hotY = 0;
    };
    static SliderPath PathOf(const rc::Control& c);
    // Scroll-bar thumb segments along the axis.
    static constexpr int kThumbHead = 6, kThumbTile = 1, kThumbTail = 6;
    static constexpr int kCaptionHeight = 32;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

}  // namespace rc
