// tessolo-helpdoc GUIDE PICTURES -o OUT.pdf
//
// Lays out the user's guide as an A4 PDF: the guide's text from GUIDE, the
// windows' pictures from the folder PICTURES (drawn by `tessolo-tool
// ui-tour` from the build's own skin, so the guide shows the windows as they
// are). Pango breaks the lines, cairo writes the PDF.
//
// GUIDE is plain text, one block per paragraph (blocks end at a blank line);
// a block's first characters say what it is:
//   "@title TEXT"          the title page's title; "@subtitle TEXT" below it
//   "@page"                the next block starts a new page
//   "# TEXT", "## TEXT"    a heading, a subheading
//   "- TEXT"               a bullet item (each line of the block one item)
//   "| KEY | TEXT"         a table row (each line of the block one row)
//   "! FILE WIDTH CAPTION" a picture of PICTURES, WIDTH a fraction of the
//                          text width, with its caption
//   anything else          a paragraph
// Text may hold Pango's markup (<b>, <i>); "&" and "<" are written as
// "&amp;" and "&lt;".
#include "core/ErrorWords.h"
#include "core/StdFile.h"
#include "core/ErrorManager.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/SafeFileRunInputs.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr double kPageW = 595.0, kPageH = 842.0;  // A4 in points
constexpr double kMargin = 56.0, kTop = 64.0, kBottom = 60.0;
constexpr double kTextW = kPageW - 2 * kMargin;
constexpr double kMaxPictureH = 270.0;
constexpr const char* kFont = "DejaVu Sans";

struct Doc {
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    double y = kTop;
    int page = 1;
    std::string title;
    std::string error;

    void Footer()
    {
        if (page == 1)
            return;  // the title page carries none
        cairo_save(cr);
        cairo_set_source_rgb(cr, 0.45, 0.45, 0.48);
        cairo_set_line_width(cr, 0.5);
        cairo_move_to(cr, kMargin, kPageH - 42);
        cairo_line_to(cr, kPageW - kMargin, kPageH - 42);
        cairo_stroke(cr);
        Text(title, 8, false, kMargin, kPageH - 38, kTextW, PANGO_ALIGN_LEFT);
        Text(std::to_string(page), 8, false, kMargin, kPageH - 38, kTextW, PANGO_ALIGN_RIGHT);
        cairo_restore(cr);
    }
    void NewPage()
    {
        Footer();
        cairo_show_page(cr);
        ++page;
        y = kTop;
    }
    // Makes room for h points, on a new page when this one is too full.
    void Need(double h)
    {
        if (y + h > kPageH - kBottom && y > kTop)
            NewPage();
    }

    PangoLayout* Layout(const std::string& markup, double size, bool bold, double width, PangoAlignment align)
    {
        PangoLayout* layout = pango_cairo_create_layout(cr);
        PangoFontDescription* font = pango_font_description_from_string(kFont);
        pango_font_description_set_absolute_size(font, size * PANGO_SCALE);
        if (bold)
            pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
        pango_layout_set_font_description(layout, font);
        pango_font_description_free(font);
        pango_layout_set_width(layout, int(width * PANGO_SCALE));
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        pango_layout_set_alignment(layout, align);
        pango_layout_set_spacing(layout, int(size * 0.3 * PANGO_SCALE));
        GError* err = nullptr;
        if (!pango_parse_markup(markup.c_str(), -1, 0, nullptr, nullptr, nullptr, &err)) {
            if (error.empty())
                error = "bad markup in \"" + markup.substr(0, 60) + "\": " + err->message;
            g_error_free(err);
            pango_layout_set_text(layout, markup.c_str(), -1);
        } else {
            pango_layout_set_markup(layout, markup.c_str(), -1);
        }
        return layout;
    }
    static double Height(PangoLayout* layout)
    {
        int w = 0, h = 0;
        pango_layout_get_size(layout, &w, &h);
        return double(h) / PANGO_SCALE;
    }
    double Text(const std::string& markup, double size, bool bold, double x, double top, double width,
                PangoAlignment align = PANGO_ALIGN_LEFT)
    {
        PangoLayout* layout = Layout(markup, size, bold, width, align);
        cairo_move_to(cr, x, top);
        pango_cairo_show_layout(cr, layout);
        const double h = Height(layout);
        g_object_unref(layout);
        return h;
    }
    // A block of text that flows onto the next page when it does not fit.
    void Flow(const std::string& markup, double size, bool bold, double x, double width, double after,
              double rgb = 0.1)
    {
        PangoLayout* layout = Layout(markup, size, bold, width, PANGO_ALIGN_LEFT);
        const double h = Height(layout);
        Need(std::min(h, 3 * size * 1.6));
        PangoLayoutIter* it = pango_layout_get_iter(layout);
        double base = y;  // where the layout's top is on this page
        double lineTop0 = -1;
        cairo_set_source_rgb(cr, rgb, rgb, rgb + 0.02);
        do {
            PangoRectangle logical;
            pango_layout_iter_get_line_extents(it, nullptr, &logical);
            const double top = double(logical.y) / PANGO_SCALE, lh = double(logical.height) / PANGO_SCALE;
            if (lineTop0 < 0)
                lineTop0 = top;
            if (base + top + lh > kPageH - kBottom) {
                NewPage();
                base = y - top;
                cairo_set_source_rgb(cr, rgb, rgb, rgb + 0.02);
            }
            PangoLayoutLine* line = pango_layout_iter_get_line_readonly(it);
            cairo_move_to(cr, x + double(logical.x) / PANGO_SCALE,
                          base + double(pango_layout_iter_get_baseline(it)) / PANGO_SCALE);
            pango_cairo_show_layout_line(cr, line);
            y = base + top + lh;
        } while (pango_layout_iter_next_line(it));
        pango_layout_iter_free(it);
        g_object_unref(layout);
        cairo_set_source_rgb(cr, 0, 0, 0);
        y += after;
    }

    // The height a picture takes on the page, caption included; 0 when it
    // cannot be read (Picture reports that).
    static double PictureHeight(const std::string& file, double fraction)
    {
        cairo_surface_t* img = cairo_image_surface_create_from_png(file.c_str());
        double h = 0;
        if (cairo_surface_status(img) == CAIRO_STATUS_SUCCESS) {
            const double iw = cairo_image_surface_get_width(img), ih = cairo_image_surface_get_height(img);
            h = std::min(ih * kTextW * fraction / iw, kMaxPictureH) + 34;
        }
        cairo_surface_destroy(img);
        return h;
    }

    // keep: the height of what follows, which the heading must not be
    // parted from.
    void Heading(const std::string& text, bool major, double keep)
    {
        const double size = major ? 17 : 12.5;
        PangoLayout* layout = Layout(text, size, true, kTextW, PANGO_ALIGN_LEFT);
        const double h = Height(layout);
        g_object_unref(layout);
        // A heading never ends a page: keep room for a few lines after it.
        Need(h + (major ? 14 : 8) + std::max(keep, 60.0));
        y += major ? 6 : 4;
        cairo_set_source_rgb(cr, major ? 0.12 : 0.16, major ? 0.33 : 0.36, major ? 0.62 : 0.58);
        y += Text(text, size, true, kMargin, y, kTextW);
        if (major) {
            cairo_set_line_width(cr, 1.2);
            cairo_move_to(cr, kMargin, y + 3);
            cairo_line_to(cr, kPageW - kMargin, y + 3);
            cairo_stroke(cr);
            y += 10;
        } else {
            y += 5;
        }
        cairo_set_source_rgb(cr, 0, 0, 0);
    }

    void Picture(const std::string& file, double fraction, const std::string& caption)
    {
        cairo_surface_t* img = cairo_image_surface_create_from_png(file.c_str());
        if (cairo_surface_status(img) != CAIRO_STATUS_SUCCESS) {
            if (error.empty())
                error = "cannot read the picture " + file;
            cairo_surface_destroy(img);
            return;
        }
        const double iw = cairo_image_surface_get_width(img), ih = cairo_image_surface_get_height(img);
        double w = kTextW * fraction, scale = w / iw;
        if (ih * scale > kMaxPictureH) {
            scale = kMaxPictureH / ih;
            w = iw * scale;
        }
        const double h = ih * scale;
        Need(h + 34);
        const double x = kMargin + (kTextW - w) / 2;
        cairo_save(cr);
        cairo_translate(cr, x, y);
        cairo_scale(cr, scale, scale);
        cairo_set_source_surface(cr, img, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BEST);
        cairo_paint(cr);
        cairo_restore(cr);
        cairo_set_source_rgb(cr, 0.6, 0.6, 0.62);
        cairo_set_line_width(cr, 0.6);
        cairo_rectangle(cr, x - 0.3, y - 0.3, w + 0.6, h + 0.6);
        cairo_stroke(cr);
        cairo_surface_destroy(img);
        y += h + 5;
        cairo_set_source_rgb(cr, 0.35, 0.35, 0.38);
        y += Text("<i>" + caption + "</i>", 8.5, false, kMargin, y, kTextW, PANGO_ALIGN_CENTER);
        cairo_set_source_rgb(cr, 0, 0, 0);
        y += 12;
    }

    void Row(const std::string& key, const std::string& text, bool shaded)
    {
        constexpr double keyW = 150, pad = 4;
        PangoLayout* a = Layout(key, 9.5, true, keyW - 2 * pad, PANGO_ALIGN_LEFT);
        PangoLayout* b = Layout(text, 9.5, false, kTextW - keyW - 2 * pad, PANGO_ALIGN_LEFT);
        const double h = std::max(Height(a), Height(b)) + 2 * pad;
        Need(h);
        if (shaded) {
            cairo_set_source_rgb(cr, 0.93, 0.94, 0.96);
            cairo_rectangle(cr, kMargin, y, kTextW, h);
            cairo_fill(cr);
        }
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.12);
        cairo_move_to(cr, kMargin + pad, y + pad);
        pango_cairo_show_layout(cr, a);
        cairo_move_to(cr, kMargin + keyW + pad, y + pad);
        pango_cairo_show_layout(cr, b);
        g_object_unref(a);
        g_object_unref(b);
        y += h;
    }

    void TitlePage(const std::string& subtitle)
    {
        cairo_set_source_rgb(cr, 0.11, 0.12, 0.14);
        cairo_rectangle(cr, 0, 0, kPageW, 300);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0.25, 0.52, 0.95);
        cairo_rectangle(cr, 0, 300, kPageW, 6);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 1, 1, 1);
        Text(title, 30, true, kMargin, 150, kTextW);
        cairo_set_source_rgb(cr, 0.75, 0.8, 0.88);
        Text(subtitle, 14, false, kMargin, 200, kTextW);
        cairo_set_source_rgb(cr, 0, 0, 0);
        y = 340;
    }
};

std::string Trim(const std::string& s)
{
    const size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::vector<std::vector<std::string>> Blocks(std::istream& in)
{
    std::vector<std::vector<std::string>> blocks(1);
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty()) {
            if (!blocks.back().empty())
                blocks.emplace_back();
            continue;
        }
        blocks.back().push_back(line);
    }
    if (blocks.back().empty())
        blocks.pop_back();
    return blocks;
}

std::string Join(const std::vector<std::string>& lines, size_t from = 0)
{
    std::string s;
    for (size_t i = from; i < lines.size(); ++i)
        s += (s.empty() ? "" : " ") + lines[i];
    return s;
}

int Usage(FILE* to, int code)
{
    std::fprintf(to, "usage: tessolo-helpdoc GUIDE PICTURES -o OUT.pdf\n"
                     "  lays out the user's guide GUIDE with the windows' pictures of the folder\n"
                     "  PICTURES as an A4 PDF document OUT.pdf\n");
    return code;
}

}  // namespace

// A wrong command line: one line, and exit 2.
int BadArguments(const char* what)
{
    std::fprintf(stderr, "tessolo-helpdoc: %s (see --help)\n", qnShownLine(what).c_str());
    return 2;
}

// cairo's writer of the PDF's bytes: into the gate's file (core/SafeFile.h),
// which becomes OUT only once it is whole.
cairo_status_t WriteToSafeFile(void* closure, const unsigned char* data, unsigned int length)
{
    CQNF_StdFile& file = static_cast<CQNF_SafeFile*>(closure)->File();
    return file.Write(data, length) == int64_t(length) ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

int main(int argc, char** argv)
{
    qnCheckStandardOutputAtExit("tessolo-helpdoc", qnExitFailed);
    std::string guide, pictures, out;
    int given = 0;
    bool outGiven = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help"))
            return Usage(stdout, 0);
        if (!std::strcmp(argv[i], "-o") && i + 1 < argc) {
            out = argv[++i];
            outGiven = true;
        } else if (given == 0 || given == 1) {
            (given++ == 0 ? guide : pictures) = argv[i];
        } else {
            return BadArguments((std::string("unexpected argument ") + argv[i]).c_str());
        }
    }
    if (given < 2 || !outGiven)
        return BadArguments("expected GUIDE PICTURES -o OUT.pdf");
    // An empty name names no file and no folder: an empty PICTURES would
    // take the pictures from the root folder.
    for (const auto& [name, what] : {std::pair{&guide, "GUIDE"}, std::pair{&pictures, "PICTURES"},
                                     std::pair{&out, "OUT.pdf"}})
        if (name->empty())
            return BadArguments((std::string(what) + " is an empty name").c_str());
    if (const QnRefusal why = qnOutputNameRefusal(out, {".pdf"}); !why.empty())
        return BadArguments(why.Detail().c_str());
    // A folder, FIFO or device is refused before it is opened: a FIFO would
    // keep the layout waiting.
    if (const std::string why = qnRegularFileProblem(guide); !why.empty()) {
        std::fprintf(stderr, "tessolo-helpdoc: %s\n", qnShownLine(why).c_str());
        return 1;
    }
    std::ifstream in(guide);
    if (!in) {
        std::fprintf(stderr, "tessolo-helpdoc: %s\n",
                     qnShownLine(qnFileFailure(guide, false, qnerr::FileNotOpened)).c_str());
        return 1;
    }
    const std::vector<std::vector<std::string>> blocks = Blocks(in);

    // A picture block's file and width fraction.
    auto pictureOf = [&pictures](const std::string& line, double& fraction, std::string& caption) {
        std::istringstream words(line.substr(2));
        std::string file;
        fraction = 1.0;
        words >> file >> fraction;
        std::getline(words, caption);
        if (!(fraction > 0 && fraction <= 1))
            fraction = 1.0;
        return pictures + "/" + file;
    };
    // The pictures are read too: the document goes over none of them.
    std::vector<std::string> inputs = {guide};
    for (const std::vector<std::string>& b : blocks)
        if (b.front().rfind("! ", 0) == 0) {
            double fraction;
            std::string caption;
            inputs.push_back(pictureOf(b.front(), fraction, caption));
        }
    // Nor does standard output, which takes the line saying what was written.
    for (const std::string& input : inputs)
        qnRefuseStandardOutputOnInput(-1, input);
    // Every file the run reads is known to the gate, which refuses a
    // document over any of them, through any link; so is a read-only file,
    // a FIFO, a device or a folder, before any work. Where OUT leads is
    // settled here.
    qnAddRunInputs(inputs);
    std::string why = out == kQnStandardOutput ? "cannot write -: " + qnNoStandardOutputWords() : qnTargetRefusal(out);
    if (why.empty())
        why = qnWriteRefusal(out).Line();
    if (!why.empty()) {
        std::fprintf(stderr, "tessolo-helpdoc: %s\n", qnShownLine(why).c_str());
        return 1;
    }
    // Written through the gate: OUT is the old file or the whole new one,
    // a link stays a link, and a run killed half-way leaves nothing.
    CQNF_SafeFile safe;
    if (!safe.Open(out)) {
        std::fprintf(stderr, "tessolo-helpdoc: %s\n",
                     qnShownLine(qnFileFailure(out, true, safe.GetError())).c_str());
        return 1;
    }
    Doc d;
    d.surface = cairo_pdf_surface_create_for_stream(WriteToSafeFile, &safe, kPageW, kPageH);
    d.cr = cairo_create(d.surface);
    // Fixed dates keep the document the same from build to build.
    cairo_pdf_surface_set_metadata(d.surface, CAIRO_PDF_METADATA_CREATE_DATE, "2026-01-01T00:00:00Z");
    cairo_pdf_surface_set_metadata(d.surface, CAIRO_PDF_METADATA_MOD_DATE, "2026-01-01T00:00:00Z");
    bool pendingPage = false;
    for (size_t bi = 0; bi < blocks.size(); ++bi) {
        const std::vector<std::string>& b = blocks[bi];
        const std::string& first = b.front();
        if (first.rfind("@title ", 0) == 0) {
            d.title = Trim(first.substr(7));
            cairo_pdf_surface_set_metadata(d.surface, CAIRO_PDF_METADATA_TITLE, d.title.c_str());
            std::string subtitle;
            for (size_t i = 1; i < b.size(); ++i)
                if (b[i].rfind("@subtitle ", 0) == 0)
                    subtitle = Trim(b[i].substr(10));
            d.TitlePage(subtitle);
            continue;
        }
        if (first == "@page") {
            pendingPage = true;
            continue;
        }
        if (pendingPage) {
            d.NewPage();
            pendingPage = false;
        }
        if (first.rfind("# ", 0) == 0 || first.rfind("## ", 0) == 0) {
            double keep = 0;
            if (bi + 1 < blocks.size() && blocks[bi + 1].front().rfind("! ", 0) == 0) {
                double fraction;
                std::string caption;
                const std::string file = pictureOf(blocks[bi + 1].front(), fraction, caption);
                keep = Doc::PictureHeight(file, fraction);
            }
            const bool major = first[1] == ' ';
            d.Heading(Trim(first.substr(major ? 2 : 3)), major, keep);
        } else if (first.rfind("- ", 0) == 0) {
            // Items may run over several lines: a line that starts with "- "
            // begins the next one.
            std::vector<std::string> items;
            for (const std::string& l : b)
                if (l.rfind("- ", 0) == 0)
                    items.push_back(Trim(l.substr(2)));
                else
                    items.back() += " " + l;
            for (const std::string& item : items) {
                // Room for the first lines, so the bullet never stays behind
                // on a page of its own.
                d.Need(48);
                d.Text("•", 10, false, kMargin + 6, d.y, 10);
                d.Flow(item, 10, false, kMargin + 18, kTextW - 18, 3);
            }
            d.y += 5;
        } else if (first.rfind("| ", 0) == 0) {
            bool shaded = true;
            for (const std::string& l : b) {
                const size_t bar = l.find(" | ", 2);
                if (bar == std::string::npos)
                    d.Row(Trim(l.substr(2)), "", shaded);
                else
                    d.Row(Trim(l.substr(2, bar - 2)), Trim(l.substr(bar + 3)), shaded);
                shaded = !shaded;
            }
            d.y += 10;
        } else if (first.rfind("! ", 0) == 0) {
            double fraction;
            std::string caption;
            const std::string file = pictureOf(first, fraction, caption);
            d.Picture(file, fraction, Trim(caption + " " + Join(b, 1)));
        } else {
            d.Flow(Join(b), 10, false, kMargin, kTextW, 8);
        }
    }
    d.Footer();
    cairo_show_page(d.cr);
    cairo_destroy(d.cr);
    cairo_surface_finish(d.surface);
    const cairo_status_t status = cairo_surface_status(d.surface);
    cairo_surface_destroy(d.surface);
    // A write that failed is said by its own reason (a full disk), as every
    // writer says it.
    if (status == CAIRO_STATUS_WRITE_ERROR || (status == CAIRO_STATUS_SUCCESS && d.error.empty() && !safe.Commit())) {
        const unsigned short error = safe.File().GetError() ? safe.File().GetError() : safe.GetError();
        std::fprintf(stderr, "tessolo-helpdoc: %s\n",
                     qnShownLine(qnFileFailure(out, true, error ? error : qnerr::FileWrite)).c_str());
        return 1;
    }
    if (status != CAIRO_STATUS_SUCCESS || !d.error.empty()) {
        std::fprintf(stderr, "tessolo-helpdoc: %s\n",
                     qnShownLine(d.error.empty() ? cairo_status_to_string(status) : d.error).c_str());
        return 1;
    }
    std::printf("wrote %s\n", qnShownName(out).c_str());
    return 0;
}
