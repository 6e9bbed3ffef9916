// CKnivesExport: the knives of the cut map as vector paths, for cutting
// plotters and drawing programs: an EPS file, or an AI file in the
// PDF-compatible form that drawing programs read and write today.
//
// The knives chosen (the selected ones or all; switched-off knives are no
// cuts and are left out, as the dialog counts them) are taken as the cut map
// draws them: the same polyline through the knife's nodes, with its flips
// and knob size, between the same knots, in image pixels. Each becomes one
// open path stroked at the knife's thickness (a hairline for a razor cut),
// black, with round ends. The page is the image: one pixel is 72 / resolution
// points, so the drawing has the picture's printed size.
//
// cairo writes both formats. The file is written through a temporary file
// that replaces the target only when complete.
#pragma once

#include "app/ExportSettings.h"
#include "core/Types.h"

#include <cstdint>
#include <string>
#include <vector>

class CQNF_StdFile;
class CWnd_MainModel;

class CKnivesExport {
public:
    struct PATH {
        std::vector<qntFPOS> points;  // image pixels
        double width = 1.0;           // image pixels
        uint32_t knifeId = 0;         // column k, row 1 000 000 + k, extra 2 000 000 + k
    };

    // What the vector writer takes (a file dialog's user argument).
    struct LMJOB {
        const std::vector<PATH>* paths = nullptr;
        uint32_t width = 0;  // the image, pixels
        uint32_t height = 0;
        double resolution = 72.0;
        uint8_t exportTo = CExportLMSettings::kToEPS;
    };

    // The paths of the knives exportWhat chooses (CExportLMSettings), for an
    // image of width x height pixels.
    static bool CollectPaths(CWnd_MainModel& model, uint8_t exportWhat, uint32_t width, uint32_t height,
                             std::vector<PATH>& out);

    // Writes the job into an open file; false when cairo or the file fails.
    static bool stSaveLayoutToFileInEPSorAI(CQNF_StdFile* file, void* job);
    // Writes the job into the file at path, through a temporary file that
    // replaces it only when complete. False with a message for the user and
    // a one-line detail.
    static bool op_SaveLayoutToEPSorAI(const LMJOB& job, const std::string& path, std::string& message,
                                       std::string& detail);

    // The export: the knives of the settings into path. False with a
    // message for the user and a one-line detail.
    static bool ExportLM(CWnd_MainModel& model, const CExportLMSettings& settings, const std::string& path,
                         uint32_t width, uint32_t height, double resolution, uint32_t& written, std::string& message,
                         std::string& detail);
};
