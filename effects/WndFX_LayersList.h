// CWnd_LayersList: the modal list of the host document's layers from which
// the image overlay window takes its layer. It lists the composite and the
// layers (top down), marks with "+" those whose pixels cover the listed
// pieces' area, can hide the others, previews the selected layer and, while
// that layer does not cover the area, blinks a marker where the area lies.
// OK is usable only for a covering layer; the opener reads Chosen().
#pragma once

#include "effects/FxLayers.h"
#include "imaging/Layer.h"
#include "ui/ListDialog.h"

class CQNF_CtrlList;
class CQNF_CtrlStaticText;

class CWnd_LayersList : public CQNF_ListDialog {
public:
    static constexpr uint16_t kStatusTimer = 1;  // status fade, 30 ms
    static constexpr uint16_t kBlinkTimer = 2;   // the marker, 500 ms

    explicit CWnd_LayersList(CFxHostLayers& host) : m_host(host) {}

    // Set by the opener before creation.
    void SetTarget(qntRECT_s target) { m_model.target = target; }
    void SetChosen(int32_t id) { m_model.chosen = id; }
    void SetShowFiltered(uint8_t on) { m_model.showFiltered = on ? 1 : 0; }
    // Read after the modal loop.
    int32_t Chosen() const { return m_model.chosen; }
    uint8_t ShowFiltered() const { return m_model.showFiltered; }
    const CFxLayersListModel& Model() const { return m_model; }
    const CQNF_Layer& PreviewLayer() const { return m_preview; }
    const CQNF_Layer& MarkerLayer() const { return m_marker; }
    qntRECT_s PreviewRect() const { return m_rcPreview; }
    const char* StatusText() const;

    void Close() override;
    unsigned char OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height) override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnAboveControl(unsigned long index) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;

    void FillList() override;
    void DoRedrawPreview() override;

private:
    CQNF_Control* i_Add(const char* name, uint8_t kind);
    // Return closes with OK even while OK is disabled: the opener then finds
    // no layer chosen and keeps its setting.
    void i_Ok() override;
    const char* i_PreviewTip(bool in) override;
    void i_ShowPreview();

    CFxHostLayers& m_host;
    CFxLayersListModel m_model;
    std::vector<CFxLayersListModel::Row> m_rows;
    CQNF_Layer m_preview, m_marker;
    CQNF_CtrlList* m_list = nullptr;
    CQNF_CtrlStaticText* m_status = nullptr;
    CQNF_Control* m_ok = nullptr;
    CQNF_Control* m_showAll = nullptr;
    CQNF_Control* m_showFiltered = nullptr;
    unsigned long m_listFont = None, m_infoFont = None;
    long m_remembered = 0;
};
