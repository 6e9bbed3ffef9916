#include "app/KnivesExport.h"

#include "app/MainModel.h"
#include "core/ErrorWords.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "imaging/ImageFile.h"

#include <cairo-pdf.h>
#include <cairo-ps.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

const char kProduct[] = "Quorvin Tessolo 3.1";

cairo_status_t WriteToFile(void* closure, const unsigned char* data, unsigned int length)
{
    CQNF_StdFile* file = static_cast<CQNF_StdFile*>(closure);
    if (length == 0)
        return CAIRO_STATUS_SUCCESS;
    return file->Write(data, length) == int64_t(length) ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};

}  // namespace

bool CKnivesExport::CollectPaths(CWnd_MainModel& model, uint8_t exportWhat, uint32_t width, uint32_t height,
                                 std::vector<PATH>& out)
{
    out.clear();
    if (!width || !height)
        return false;
    const double W = width, H = height;
    const qntFPOS origin{0.0, 0.0};
    CQNF_Mem points;
    bool ok = true;
    auto take = [&](const CWnd_MainModel::KNIFESTRUCT& k, uint32_t id, qntFPOS a, qntFPOS b) {
        if (k.off || (exportWhat != CExportLMSettings::kAll && !k.selected))
            return;
        unsigned long count = 0;
        if (!model.spl_KnifePolyline(k, a, b, points, count)) {
            ok = false;
            return;
        }
        PATH p;
        const qntFPOS* pts = reinterpret_cast<const qntFPOS*>(points.GetPtr());
        p.points.assign(pts, pts + count);
        p.width = model.m_bRazorCut ? 1.0 : std::max(1.0, double(k.thickness));
        p.knifeId = id;
        out.push_back(std::move(p));
    };
    const uint32_t C = model.m_nColSplitters, R = model.m_nRowSplitters;
    for (uint32_t r = 0; r <= R && C; ++r)
        for (uint32_t c = 0; c < C; ++c)
            take(model.m_ColKnives[r * C + c], r * C + c, model.i_spl_ConvertKnot(c + 1, r, W, H, origin),
                 model.i_spl_ConvertKnot(c + 1, r + 1, W, H, origin));
    for (uint32_t r = 0; r < R; ++r)
        for (uint32_t c = 0; c <= C; ++c)
            take(model.m_RowKnives[r * (C + 1) + c], CWnd_MainModel::kRowKnifeId + r * (C + 1) + c,
                 model.i_spl_ConvertKnot(c, r + 1, W, H, origin), model.i_spl_ConvertKnot(c + 1, r + 1, W, H, origin));
    for (uint32_t i = 0; i < model.m_nAuxKnives; ++i) {
        const CWnd_MainModel::AUXKNIFESTRUCT& x = model.m_AuxKnives[i];
        take(x.knife, CWnd_MainModel::kAuxKnifeId + i, model.i_spl_ConvertKnot(x.knotA, W, H, origin),
             model.i_spl_ConvertKnot(x.knotB, W, H, origin));
    }
    return ok;
}

bool CKnivesExport::stSaveLayoutToFileInEPSorAI(CQNF_StdFile* file, void* data)
{
    const LMJOB* job = static_cast<const LMJOB*>(data);
    if (!file || !job || !job->paths || !job->width || !job->height)
        return false;
    double res = job->resolution, down = job->resolution;
    qnTakenResolution(res, down);
    const double scale = 72.0 / res;
    const double pw = job->width * scale, ph = job->height * scale;

    std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface;
    if (job->exportTo == CExportLMSettings::kToAI) {
        surface.reset(cairo_pdf_surface_create_for_stream(WriteToFile, file, pw, ph));
        cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, kProduct);
        cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, "Knives");
    } else {
        surface.reset(cairo_ps_surface_create_for_stream(WriteToFile, file, pw, ph));
        cairo_ps_surface_set_eps(surface.get(), 1);
        cairo_ps_surface_dsc_comment(surface.get(), "%%Title: Knives");
    }
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return false;
    {
        std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surface.get()));
        cairo_scale(cr.get(), scale, scale);
        cairo_set_source_rgb(cr.get(), 0.0, 0.0, 0.0);
        cairo_set_line_cap(cr.get(), CAIRO_LINE_CAP_ROUND);
        cairo_set_line_join(cr.get(), CAIRO_LINE_JOIN_ROUND);
        for (const PATH& p : *job->paths) {
            if (p.points.size() < 2)
                continue;
            cairo_new_path(cr.get());
            cairo_move_to(cr.get(), p.points[0].x, p.points[0].y);
            for (size_t i = 1; i < p.points.size(); ++i)
                cairo_line_to(cr.get(), p.points[i].x, p.points[i].y);
            cairo_set_line_width(cr.get(), p.width);
            cairo_stroke(cr.get());
        }
        if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS)
            return false;
    }
    cairo_surface_finish(surface.get());
    return cairo_surface_status(surface.get()) == CAIRO_STATUS_SUCCESS;
}

bool CKnivesExport::ExportLM(CWnd_MainModel& model, const CExportLMSettings& settings, const std::string& path,
                             uint32_t width, uint32_t height, double resolution, uint32_t& written,
                             std::string& message, std::string& detail)
{
    written = 0;
    std::vector<PATH> paths;
    if (!CollectPaths(model, settings.exportWhat, width, height, paths)) {
        message = "Memory allocation problem...";
        detail = "the knives could not be traced";
        return false;
    }
    if (paths.empty()) {
        message = "There are no knives to export.";
        detail = "no knife matches the settings";
        return false;
    }
    LMJOB job;
    job.paths = &paths;
    job.width = width;
    job.height = height;
    job.resolution = resolution;
    job.exportTo = settings.exportTo;
    if (!op_SaveLayoutToEPSorAI(job, path, message, detail))
        return false;
    written = uint32_t(paths.size());
    return true;
}

bool CKnivesExport::op_SaveLayoutToEPSorAI(const LMJOB& job, const std::string& path, std::string& message,
                                           std::string& detail)
{
    CQNF_SafeFile file;
    LMJOB copy = job;
    if (!file.Open(path) || !stSaveLayoutToFileInEPSorAI(&file.File(), &copy) || !file.Commit()) {
        file.Abandon();
        message = "Cannot write file...";
        detail = qnFileFailure(path, true, file.GetError());
        return false;
    }
    return true;
}
