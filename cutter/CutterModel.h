// CWnd_CutterModel: the knife editor's shape and what keeps it between runs,
// without any window.
//
// The knife editor window derives from this class (so its shape record is
// CWnd_Cutter::SPLINE_STRUCT). Here live:
// - the knife shape file ".qnth" (a storage container) and the read-only
//   53-byte shape file of the earlier version, with their reader and writer;
//   the save and load commands of the window only run the file dialogs
//   around them and show the returned outcome (ShapeIo.h);
// - the last shape ("LastShape>...") and the row-column link option
//   ("Cutter Settings>LinkRC") in the configuration storage "plugin.conf";
// - the default knife, a five-node knob.
//
// Values read are kept as stored (no clamping), but a value that is not a
// finite number is refused: it would reach the pixel conversions of the
// drawing and spread into every knife cloned from the shape.
#pragma once

#include "app/CutterLink.h"
#include "cutter/ShapeIo.h"

#include <cstddef>
#include <cstdint>
#include <string>

class CCustomMutationsModel;
class CQNF_Storage;
class CQNF_StdFile;

class CWnd_CutterModel {
public:
    static constexpr uint32_t kMaxNodes = 64;

    // One knife shape: per node the offset across the knife (H, in units of
    // its length; positive to the left of start -> end), the position along
    // it (U, 0 at the start knot, 1 at the end knot), the selected flag and
    // the spline tension (S, 0..1). Only the first nodeCount entries count.
    struct NODEPOS {
        double H;
        double U;
    };
    struct SPLINE_STRUCT {
        uint8_t nodeCount;
        NODEPOS pos[kMaxNodes];
        uint8_t selected[kMaxNodes];
        double S[kMaxNodes];
    };

    // Texts of the shape files.
    static constexpr const char* kShapeVersion = "Quorvin Tessolo Shape 2.0";
    static constexpr const char* kLegacyMagic = "Quorvin Ltd Tessolo Shape 1.2";
    static constexpr size_t kLegacyMagicLength = 29;
    static constexpr size_t kLegacyFileSize = 53;

    CWnd_CutterModel();
    virtual ~CWnd_CutterModel() = default;

    // ---- Shape files --------------------------------------------------------
    // Reads a whole shape file image: the legacy form when it is exactly 53
    // bytes starting with the legacy magic, else a stamped container. On
    // success the count, H, U and S of shape are set (its selected flags are
    // left as they were); on failure shape is untouched.
    static ShapeIoError stLoadShapeFromMem(const uint8_t* data, size_t size, SPLINE_STRUCT* shape);
    // The same for an open file, read whole from its start.
    static ShapeIoError stLoadShapeFromFile(CQNF_StdFile* file, SPLINE_STRUCT* shape);
    // Writes a shape file into a file opened for writing (the save dialog's
    // fresh file): "Version", "Nodes", then U, H, S of each node.
    static ShapeIoError stSaveShapeToFile(CQNF_StdFile* file, const SPLINE_STRUCT* shape);
    // By path. Saving replaces the file only once the new one is complete.
    static ShapeIoError LoadShapeFile(const std::string& path, SPLINE_STRUCT* shape);
    static ShapeIoError SaveShapeFile(const std::string& path, const SPLINE_STRUCT& shape);
    // The layout model's form of a shape (CCutterLink), both ways; at most
    // 64 nodes.
    static CCutterLink::SHAPE ToLinkShape(const SPLINE_STRUCT& shape);
    static SPLINE_STRUCT FromLinkShape(const CCutterLink::SHAPE& shape);
    // The legacy conversion of the six stored integers.
    static void ConvertLegacyShape(const int32_t a[6], SPLINE_STRUCT* shape);

    // ---- Default knife, last shape, options -------------------------------------
    static void SetDefaultKnife(SPLINE_STRUCT* shape);
    uint8_t settings_SetDefaultKnife();
    // conf is "plugin.conf", or null while it is not open: the default knife
    // is then taken and nothing is saved.
    uint8_t settings_LoadLastKnife(CQNF_Storage* conf);
    uint8_t settings_SaveLastKnife(CQNF_Storage* conf) const;
    // The row-column link option; the window shows m_bLinkRC in its
    // "Cutter_LinkRC" check box.
    uint8_t settings_LoadCutterOptions(CQNF_Storage* conf);
    uint8_t settings_SaveCutterOptions(CQNF_Storage* conf) const;
    uint32_t GetSelectedNodesCount() const;

    // The custom mutations dialog ended with OK: its amounts are stored
    // (when conf is open) and become the editor's, in the custom clone mode.
    static constexpr uint32_t kCloneModeCustom = 6;
    void OnCustomMutationsOk(const CCustomMutationsModel& dialog, CQNF_Storage* conf);

    // The current shape of the editor, and the row-column link.
    SPLINE_STRUCT m_Shape{};
    uint8_t m_bLinkRC = 0;
    // Cloning: the mode (0..6) and the mutation amounts S, U, H (0..1).
    uint32_t m_nCloneMode = 1;
    float m_fMutS = 0.0f;
    float m_fMutU = 0.0f;
    float m_fMutH = 0.0f;
};

// Every value finite, and a count within 0..64.
bool qnShapeIsSound(const CWnd_CutterModel::SPLINE_STRUCT& shape);
// The same count and the same H, U and S of every node (selection aside).
bool qnSameShapeValues(const CWnd_CutterModel::SPLINE_STRUCT& a, const CWnd_CutterModel::SPLINE_STRUCT& b);
