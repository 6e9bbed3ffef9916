// CWnd_ChannelList: the modal document channels dialog. It lists the host
// document's channels (the selection, the colour planes and the layer
// transparency, or the host's named channels), shows the chosen one in a
// preview (light = what counts as inside), and lets the user invert it and
// choose how it combines with the current selection. After OK the opener
// reads m_nOperation, m_bInvert and the channel buffer, and selects knives
// (cut mode) or pieces (piece mode) from it.
//
// The channels come through a CChannelSource, so the dialog runs without a
// host in tests; CHostChannelSource reads them from the host adapter.
#pragma once

#include "app/ChannelSelect.h"
#include "app/MainDisplays.h"
#include "core/Mem.h"
#include "imaging/Layer.h"
#include "ui/Window.h"

#include <cstdint>
#include <vector>

class CQNF_CtrlList;
class CQNF_CtrlStaticText;
class CQNF_CtrlCheckBox;

class CChannelSource {
public:
    virtual ~CChannelSource() = default;
    virtual std::vector<qntCHANNELITEM> Items() = 0;
    // Size of a channel: the host's filter rectangle.
    virtual uint32_t Width() = 0;
    virtual uint32_t Height() = 0;
    // Reads a channel of a list value into buffer (stride Width()); false
    // when it cannot be read.
    virtual bool Read(uint32_t value, uint8_t* buffer) = 0;
};

class CHostChannelSource : public CChannelSource {
public:
    explicit CHostChannelSource(CQNF_8BFPluginVirtual& host) : m_host(host) {}
    std::vector<qntCHANNELITEM> Items() override;
    uint32_t Width() override;
    uint32_t Height() override;
    bool Read(uint32_t value, uint8_t* buffer) override;

private:
    CQNF_8BFPluginVirtual& m_host;
};

class CWnd_ChannelList : public CQNF_Window {
public:
    // Set by the opener before creation.
    CChannelSource* m_pSource = nullptr;
    uint8_t m_bCombineAllowed = 0;  // 0 disables Add, Subtract and Intersect
    uint8_t m_nTipMode = 0;         // 1 opened for knives, 0 for pieces
    // Read by the opener after OK.
    uint8_t m_nOperation = 0;  // 0 new, 1 add, 2 subtract, 3 intersect
    uint8_t m_bInvert = 0;
    const uint8_t* GetChannel() const { return m_Channel.GetPtr(); }
    uint32_t GetChannelWidth() const { return m_nWidth; }
    uint32_t GetChannelHeight() const { return m_nHeight; }
    // True once a channel was read: OK is refused before (nothing to apply).
    bool HasChannel() const { return m_bChannelValid != 0; }
    // The preview: an opaque grey picture of the channel, transparent margins.
    const CQNF_Layer& GetPreviewLayer() const { return m_PreviewLayer; }
    // Where the window was when OK closed it (for its stored position).
    qntRECT_s m_ClosedAt = qnNullRect;

    void Close() override;
    unsigned char OnCreate(CQNF_LayerSet* layers, unsigned short width, unsigned short height) override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;
    unsigned char OnAboveControl(unsigned long index) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;

    void FillList();
    void DoRedrawPreview();
    void UpdateStatus(const char* text);

private:
    bool i_Add(const char* name, uint8_t type, unsigned long* id = nullptr);
    void i_Ok();

    qntRECT_s m_rcPreview{0, 0, 0, 0};
    CQNF_Layer m_PreviewLayer;
    CQNF_Mem m_Channel;
    uint32_t m_nWidth = 0, m_nHeight = 0;
    uint8_t m_bChannelValid = 0;
    std::vector<qntCHANNELITEM> m_Items;
    CQNF_CtrlList* m_pList = nullptr;
    CQNF_CtrlStaticText* m_pStatus = nullptr;
    CQNF_CtrlCheckBox* m_pInvert = nullptr;
    unsigned long m_idOk = None, m_idSel[4] = {None, None, None, None};
    CStatusFader m_Fader;
    uint8_t m_bInPreview = 0;  // the pointer is known to be over the preview
};
