// CPluginMain: the plug-in object. It adds the cutting engine, the host
// progress and the composite alpha to the host adapter, answers About and
// Start, and holds the three apply paths that write a result back into the
// host's image.
//
// Start prepares the engine and the configuration and then takes one of two
// roads: the replay, which rebuilds the layout and per-piece effects from the
// scripting descriptor or "last.data" and applies them without any window,
// or the interactive road, which a window subsystem supplies through
// CInteractiveRoad. Without one, an interactive Start (and About) end with
// userCanceledErr and leave the image untouched.
#pragma once

#include "core/Mem.h"
#include "engine/Tessolo.h"
#include "host/EngineServices.h"
#include "host/HostProgress.h"
#include "host/PluginAdapter.h"

class CPluginMain;
class CQNF_Image;

// The window side of About and of an interactive Start. RunStart is called
// after the common beginning of Start and sets the host's result itself.
class CInteractiveRoad {
public:
    virtual ~CInteractiveRoad() = default;
    virtual void RunAbout(CPluginMain& plugin) = 0;
    virtual void RunStart(CPluginMain& plugin) = 0;
};

class CPluginMain : public CQNF_8BFPluginVirtual {
public:
    CPluginMain();
    ~CPluginMain() override;

    void DoAbout() override;
    void DoStart() override;
    void DoFinish() override;

    // The road of the window subsystem (not owned); null for none.
    void SetInteractiveRoad(CInteractiveRoad* road) { m_pInteractive = road; }

    // ---- Window positions in "plugin.conf" ---------------------------------
    // The stored top-left corner of a window, clamped to x -100..7000 and
    // y -10..6000; (-32000, -32000), meaning centred, when none is stored or
    // the configuration is closed. size and flag do not change the answer.
    qntPOS WindowPosFromConf(const char* name, const char* owner, qntSIZE_s size, uint8_t flag);
    void PutWindowPosToConf(const char* name, const char* owner, qntPOS position);

    // ---- Apply paths ---------------------------------------------------------
    // Fixes the work rectangle (shrunk to the opaque pixels of a transparent
    // layer without selection) and, when wanted, builds the composite alpha.
    bool PrepareCompositeAlpha(uint8_t wanted);
    // Layout mode: the knife lines in the host's colours.
    bool Apply_DrawSpliting();
    // An RGB image the main window rendered: planar red, green, blue, alpha of
    // the work rectangle's size, composited as the replay composites.
    bool Apply_SplittingUI(CQNF_Image* rendered);
    // Cuts and renders the pieces again from the host's planes, with the
    // effect records matched to the pieces.
    bool Apply_SplittingNoUI(uint32_t count, const CTessolo::SFX_ONEPIECE* records);

    CTessolo& GetEngine() { return m_Engine; }
    CHostProgress& GetHostProgress() { return m_HostProgress; }
    // The composite alpha: one byte per pixel of the work rectangle.
    const uint8_t* GetCompositeAlpha(int32_t& width, int32_t& height) const;
    // The rectangle the host handed to filter, before PrepareCompositeAlpha
    // left a transparent border out of the work: what an export of the
    // pieces takes as its canvas, the work rectangle in its place there.
    qntRECT_s GetHandedRect() const { return m_rcHanded; }

protected:
    void i_ReplayRoad();
    // Hands the host progress to the engine for one apply path and reports 0.
    void i_BeginApply();
    void i_EndApply(bool ok);
    // The write-back both piece paths share: n colour planes and the output
    // alpha (planes[n], stride = the work width) as the transparency where
    // it may be edited, else blended over the background colour.
    bool i_PutPieces(uint8_t* const* planes, uint8_t n);
    // The work rectangle's width and height.
    int32_t i_WorkWidth() const { return m_Data.filterRect.right - m_Data.filterRect.left; }
    int32_t i_WorkHeight() const { return m_Data.filterRect.bottom - m_Data.filterRect.top; }

    CTessolo m_Engine;
    CHostProgress m_HostProgress;
    CQNF_Mem m_memAlpha;
    uint8_t* m_pAlpha = nullptr;
    int32_t m_nAlphaWidth = 0;
    int32_t m_nAlphaHeight = 0;
    qntRECT_s m_rcHanded{0, 0, 0, 0};

private:
    CEngineServices m_Services;
    CInteractiveRoad* m_pInteractive = nullptr;
};
