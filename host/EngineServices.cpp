#include "host/EngineServices.h"

#include "core/ProgramOutput.h"
#include "host/PluginAdapter.h"

#include <cstdio>
#include <string>

void CEngineServices::PlatformMessageBox(const char* text, const char* title)
{
    // Cut as the box cuts them, then shown safe for a terminal.
    const std::string line = std::string(title ? title : "").substr(0, 250) + " " +
                             std::string(text ? text : "").substr(0, 250);
    std::fprintf(stderr, "Tessolo: %s\n", qnShownLine(line).c_str());
}

bool CEngineServices::HasDocumentLayers()
{
    return m_pAdapter->GetPluginDataPtr()->layersAvailable != 0;
}

qntPOS CEngineServices::GetFilterOrigin()
{
    const qntRECT_s& r = m_pAdapter->GetPluginDataPtr()->filterRect;
    return qntPOS{r.left, r.top};
}

bool CEngineServices::FillRealLayerBounds(const qntRECT_s& box, const LAYERBOUNDS*& table, uint32_t& count)
{
    table = nullptr;
    count = 0;
    // The whole layers' bounds, built once per Start: the engine picks the
    // smallest layer that holds a piece, which only bounds that are not cut
    // to the piece can tell apart.
    (void)box;
    if (!m_pAdapter->PS_FillRealLayerBounds(qnNullRect, 0))
        return false;
    uint32_t n = 0;
    const CQNF_8BFPluginVirtual::REALLAYERINFO* layers = m_pAdapter->GetLayerTable(n);
    if (!m_memTable.alloc(qnMulSize({n, sizeof(LAYERBOUNDS)})) && n > 0)
        return false;
    auto* out = reinterpret_cast<LAYERBOUNDS*>(m_memTable.GetPtr());
    for (uint32_t i = 0; i < n; ++i)
        out[i] = LAYERBOUNDS{layers[i].id, qntRECT_s{layers[i].left, layers[i].top, layers[i].right, layers[i].bottom}};
    table = out;
    count = n;
    return true;
}

bool CEngineServices::GetLayerPixels(int32_t id, uint8_t** planes, int32_t width, int32_t height, uint8_t planeCount,
                                     const qntRECT_s& box)
{
    return m_pAdapter->PS_GetLayerWithColorConversionIfNeeded(id, planes, width, height, planeCount, box);
}
