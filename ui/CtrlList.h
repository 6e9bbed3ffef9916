// CQNF_CtrlList (type 10): the skinned list of text items. Two layers: a
// background layer with the list's frame and, over the item area, a text
// layer whose letters are drawn with colour 0 so that they take the colour of
// the foreground skin painted beneath them. A selected row copies its band of
// rows from the Selected skins. Scrolling goes through a scroll bar the list
// adopts: the bar's messages come to the list, which reports selection
// changes to its window as message 352.
//
// Records in "UIResources>Lists>name": "Background_Normal", "_Highlighted",
// "_Working", "_Disabled" (optional), "Background_Selected" (required), the
// same five "Foreground_..." and "Rect Left/Top/Right/Bottom" (the item area).
#pragma once

#include "imaging/Layer.h"
#include "imaging/TextLayer.h"
#include "ui/Control.h"
#include "ui/CtrlSkin.h"
#include "ui/ListModel.h"

#include <cstdint>

class CQNF_CtrlScrollBar;
class CQNF_Font;

class CQNF_CtrlList : public CQNF_Control {
public:
    static constexpr unsigned short kHoverTimer = 1;
    // States 1 normal, 2 hovered, 4 working (focused), 8 disabled; 254 draws
    // the current state again and moves the scroll bar, 253 leaves it.
    static constexpr uint8_t kNormal = 1, kHovered = 2, kWorking = 4, kDisabled = 8, kQuiet = 253, kRefresh = 254;

    CQNF_CtrlList() { m_type = qnctl::List; }
    ~CQNF_CtrlList() override = default;

    void Enable(unsigned char enabled) override;
    void SetFocus(unsigned char focused) override;
    unsigned char Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage) override;
    qntRECT_s GetRenderRect() override { return m_ready ? m_background.GetRect() : qnNullRect; }
    void Redraw() override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseDown(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseUp(short, short, unsigned char) override { return 1; }
    unsigned char OnMouseWheel(short x, short y, unsigned char mods, short delta) override;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;
    unsigned char PtAboveControl(short x, short y) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;

    // Adopts the window's control scrollBarId when it is a scroll bar (none
    // otherwise): it becomes the bar's focus master and receives its messages.
    void SetOptions(unsigned char multiSelect, unsigned char showSelectionUnfocused, unsigned short lineHeight,
                    short textX, short textY, unsigned long scrollBarId);
    unsigned long AddItem(const char* text, unsigned char selected, void* data, unsigned char deferUpdate);
    unsigned char UpdateAfterChanges();
    unsigned long GetItemsCount() const { return m_model.GetItemsCount(); }
    void RemoveAllItems(unsigned char redraw, unsigned char notify);
    unsigned char GetItem(unsigned long index, CQNF_String* text, unsigned char* selected, void** data) const;
    unsigned char SetItem(unsigned long index, CQNF_String* text, unsigned char* selected, void** data,
                          unsigned char redraw);
    long GetSelectedItem() const { return m_model.GetSelectedItem(); }
    void RemoveSelection(unsigned char redraw, unsigned char notify);
    void SelectItems(unsigned long from, unsigned long to, unsigned char clear, unsigned char toggle,
                     unsigned char scroll, unsigned char redraw, unsigned char notify);
    void SetFont(CQNF_Font* font) { m_text.SetFont(font); }
    CQNF_TextLayer* GetTextLayer() { return &m_text; }
    void SetState(unsigned char state);

    uint8_t GetState() const { return m_state; }
    CQNF_CtrlScrollBar* GetScrollBar() const { return m_scrollBar; }
    const qnui::ListModel& GetModel() const { return m_model; }

private:
    enum Skin { kBgNormal, kBgHighlighted, kBgWorking, kBgDisabled, kBgSelected, kFgNormal };
    void Hover();
    void ShowDisabledAgain() override { SetState(kQuiet); }
    void SyncScrollInfo();
    void Report(bool redraw, bool notify);

    qnctl::SkinImage m_skins[10];
    qntRECT_s m_area{0, 0, 0, 0};
    CQNF_TextLayer m_text;
    CQNF_Layer m_background;
    uint8_t m_state = 255;
    qnui::ListModel m_model;
    CQNF_CtrlScrollBar* m_scrollBar = nullptr;
    int64_t m_lastScrollPos = -1;
};
