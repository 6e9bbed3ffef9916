// CEngineServices: what the cutting engine asks of its surroundings, answered
// by the host adapter: the document's layers for the image overlay and a
// place for its messages.
#pragma once

#include "core/Mem.h"
#include "engine/TessoloServices.h"

class CQNF_8BFPluginVirtual;

class CEngineServices : public CTessoloServices {
public:
    explicit CEngineServices(CQNF_8BFPluginVirtual* adapter) : m_pAdapter(adapter) {}

    // No window toolkit runs inside a replay: the message goes to the host
    // program's error stream, which is where its user looks.
    void PlatformMessageBox(const char* text, const char* title) override;
    bool HasDocumentLayers() override;
    qntPOS GetFilterOrigin() override;
    // The table of the whole layers, whatever the box.
    bool FillRealLayerBounds(const qntRECT_s& box, const LAYERBOUNDS*& table, uint32_t& count) override;
    bool GetLayerPixels(int32_t id, uint8_t** planes, int32_t width, int32_t height, uint8_t planeCount,
                        const qntRECT_s& box) override;

private:
    CQNF_8BFPluginVirtual* m_pAdapter;
    CQNF_Mem m_memTable;
};
