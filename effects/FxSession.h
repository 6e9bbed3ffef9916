// The session of one effect window, without the window: what the common
// effect frame does between opening and closing.
//
// On opening it lists the pieces the effect applies to (the selected ones,
// or every piece when none is selected), keeps each listed piece's effect
// block as the backup to return to, and measures the box of the pieces'
// centres, along which automatic adjustment grades the values. Every change
// regenerates one result block per listed piece at once and, through a
// one-shot timer of 50 ms (or at once for a zero delay), writes the results
// into the pieces' requested copies and has the main window re-render them.
// Live preview off shows the backups instead. OK writes the results for good,
// Cancel writes the backups back; both re-render to the end and then leave
// effect mode, which makes one undo step when a piece ends up different from
// where it started. Closing is refused while the main window renders.
//
// The main window and the timers come in through two small interfaces, so
// the session runs over a real engine with fakes for both in tests.
#pragma once

#include "core/RandomSource.h"
#include "engine/Tessolo.h"

#include <cstdint>
#include <functional>
#include <vector>

// One effect: its short id ("FX" + id is the window's resource prefix), its
// bit, the size of its block in the piece record and where each copy of the
// block lies in a piece.
struct FxKind {
    const char* id;
    uint16_t bit;
    uint32_t blockSize;
    uint8_t* (*block)(CTessolo::SPLITEDCELL& piece, uint8_t copy);
    const uint8_t* (*defaults)(const CTessolo& engine);
};

namespace fxkind {
extern const FxKind kBrightnessContrast;  // "bc"
extern const FxKind kBlur;                // "blur"
extern const FxKind kOpacity;             // "opac"
extern const FxKind kBevel;               // "bevel"
extern const FxKind kMotionBlur;          // "mblur"
extern const FxKind kColorOverlay;        // "covr"
extern const FxKind kStroke;              // "stroke"
extern const FxKind kHSL;                 // "hsl"
}  // namespace fxkind

// What an effect session needs of the main window.
class CFxMainLink {
public:
    virtual ~CFxMainLink() = default;
    // The engine whose piece table the session edits in place.
    virtual CTessolo& FxEngine() = 0;
    // The piece the user last clicked in the piece map, or 0xFFFFFFFF.
    virtual uint32_t FxCurrentPiece() = 0;
    // True while the main window re-renders pieces.
    virtual bool FxBusy() = 0;
    // Re-renders the listed pieces whose requested blocks differ from their
    // applied ones, composites them and redraws the main preview. When a
    // render is running already it only asks that render to start over
    // (interruptible renders pump events between pieces). False when a piece
    // fails to render.
    virtual bool FxRerenderPieces(const std::vector<uint32_t>& pieces, bool interruptible) = 0;
    // Leaves effect mode: one piece undo step when any piece's effect record
    // differs from the snapshot taken on entering it.
    virtual void FxExitMode() = 0;
    // The random source of the random grading.
    virtual CQNF_RandomSource& FxRandom() = 0;
};

// One-shot and repeating timers of the window, by id.
class CFxTimers {
public:
    virtual ~CFxTimers() = default;
    virtual void FxStartTimer(uint16_t id, uint32_t ms) = 0;
    virtual void FxStopTimer(uint16_t id) = 0;
};

// The box of the listed pieces' centres (image pixels, y downwards).
struct FxCentreBox {
    double minX = 1000000.0, minY = 1000000.0, maxX = -1000000.0, maxY = -1000000.0;
};

// Directions of automatic adjustment (value 2 lands on the named side).
enum class FxDirection : uint8_t {
    Random = 0,
    TopLeft = 1,
    Top = 2,
    TopRight = 3,
    Right = 4,
    BottomRight = 5,
    Bottom = 6,
    BottomLeft = 7,
    Left = 8,
};

class CFxSession {
public:
    static constexpr uint16_t kStatusTimer = 1;  // status fade, every 30 ms
    static constexpr uint16_t kChangeTimer = 5;  // one-shot, after a change
    static constexpr uint16_t kBusyTimer = 6;    // OK/Cancel follow the busy flag, every 50 ms
    static constexpr uint16_t kDelayed = 0xFFFF;  // Changes(): the usual 50 ms
    static constexpr uint16_t kNow = 0;           // Changes(): at once

    CFxSession(const FxKind& kind, CFxMainLink& link, CFxTimers& timers);
    virtual ~CFxSession() = default;
    CFxSession(const CFxSession&) = delete;
    CFxSession& operator=(const CFxSession&) = delete;

    const FxKind& Kind() const { return m_kind; }
    CTessolo& Engine() { return m_link.FxEngine(); }

    // Lists the pieces, copies each one's applied block into its backup and
    // requested copies and sizes the results. False when the engine has no
    // piece (the window then fails to open).
    bool OnPreparePieces();
    const std::vector<uint32_t>& Pieces() const { return m_pieces; }
    const FxCentreBox& CentreBox() const { return m_box; }
    // The backup block a window starts value 1 from: the current piece's
    // when there is one, else the first listed piece's.
    const uint8_t* InitialBackup();
    const uint8_t* Defaults() const { return m_kind.defaults(m_link.FxEngine()); }

    // Automatic adjustment, its direction and the edited value (0: value 1,
    // 1: value 2).
    void SetAutoAdjust(bool on) { m_bAuto = on; }
    bool AutoAdjust() const { return m_bAuto; }
    void SetAAMode(FxDirection d) { m_direction = d; }
    FxDirection GetAAMode() const { return m_direction; }
    void SetMode(uint8_t mode) { m_mode = mode ? 1 : 0; }
    uint8_t Mode() const { return m_mode; }

    // The grading parameter of every listed piece: a fresh random draw each
    // in random mode, else the position of its centre along the direction
    // (0 when the box has no extent that way).
    std::vector<double> GradingParameters();

    // Regenerates the results now and schedules the main-window update:
    // kDelayed after 50 ms, kNow at once, anything else after that many ms.
    // While the window is still being created every update is delayed, so
    // that it comes after the main window's undo snapshot.
    void Changes(uint16_t delay);
    void SetCreating(bool creating) { m_bCreating = creating; }
    // A window timer fired.
    void OnTimer(uint16_t id);
    // Fills the results from the effect's values; sets the generated flag.
    void DoRegenerateData();
    const uint8_t* Result(uint32_t listIndex) const { return m_results.data() + size_t(listIndex) * m_kind.blockSize; }

    // Live preview switch: off puts the backups on show at once, on the
    // results. Push shows the results once whatever the switch says.
    void SetLivePreview(bool on);
    bool LivePreview() const { return m_bLive; }
    // The switch as the window opens with it, showing nothing yet.
    void InitLivePreview(bool on) { m_bLive = on; }
    void PushPreview() { DoUpdateMainWindow(true); }
    // Writes results (or, with live preview off and not forced, backups) into
    // the requested copies and re-renders interruptibly.
    void DoUpdateMainWindow(bool force);

    // OK (true) or Cancel (false). Refused (false) while the main window
    // renders; else the final blocks are written and rendered to the end,
    // effect mode is left and true returned.
    bool Close(bool ok);
    bool Closed() const { return m_bClosed; }

    // Whether OK, Cancel and the close box are usable; the window follows.
    bool ModalityEnabled() const { return m_bModality; }
    std::function<void(bool)> onModality;

protected:
    // The effect's results. Plain: every piece gets value 1 switched on.
    // Graded: the piece's block at t, built on its backup where a parameter
    // does not take part.
    virtual void FillPlain(uint8_t* out) = 0;
    virtual void FillGraded(double t, const uint8_t* backup, uint8_t* out) = 0;

private:
    void i_SetModality(bool on);
    void i_Write(bool results);

    const FxKind& m_kind;
    CFxMainLink& m_link;
    CFxTimers& m_timers;
    std::vector<uint32_t> m_pieces;
    FxCentreBox m_box;
    std::vector<uint8_t> m_results;
    bool m_bGenerated = false;
    bool m_bAuto = false;
    FxDirection m_direction = FxDirection::Random;
    uint8_t m_mode = 0;
    bool m_bLive = true;
    bool m_bModality = true;
    bool m_bCreating = false;
    bool m_bClosed = false;
};
