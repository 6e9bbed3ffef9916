#include "app/Wnd_MessageBox.h"

#include "imaging/Font.h"
#include "ui/Control.h"
#include "ui/CtrlStatic.h"
#include "ui/KeyCodes.h"

#include <algorithm>
#include <vector>

namespace {

// In the order of the member table: left OK, left YES, right OK, right YES,
// NO, CANCEL.
constexpr const char* kButtons[6] = {"MessageBox_OKl", "MessageBox_YESl", "MessageBox_OKr",
                                     "MessageBox_YESr", "MessageBox_NO",   "MessageBox_CANCEL"};
constexpr long kLineStep = 12;
constexpr long kMostMoreRows = 40 * kLineStep;
// The text's least offset from its control's sides (CentreOffset's 3).
constexpr long kTextMargin = 3;

long TextWidth(CQNF_Font& font, const std::string& text)
{
    unsigned long w = 0, h = 0;
    return font.GetTextSize(CQNF_String(text.c_str()), kLineStep, w, h) ? long(w) : 0;
}

// Whether byte i of text begins a character (no UTF-8 continuation byte).
bool Starts(const std::string& text, size_t i)
{
    return i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
}

// How many bytes of word begin a line no wider than width: after its last
// '/' when one fits, else as many whole characters as fit, at least one.
size_t FittingPrefix(CQNF_Font& font, const std::string& word, long width)
{
    size_t fit = 0;
    for (size_t n = 1; n <= word.size(); ++n) {
        if (!Starts(word, n))
            continue;
        if (TextWidth(font, word.substr(0, n)) > width)
            break;
        fit = n;
    }
    if (fit == 0) {
        fit = 1;
        while (!Starts(word, fit))
            ++fit;
        return fit;
    }
    const size_t slash = word.rfind('/', fit - 1);
    return slash != std::string::npos && slash > 0 ? slash + 1 : fit;
}

}  // namespace

std::string CWnd_MessageBox::WrapToWidth(CQNF_Font& font, const std::string& text, long width)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string paragraph = text.substr(start, end - start);
        std::string line;
        for (size_t at = 0; at < paragraph.size();) {
            const size_t space = std::min(paragraph.find(' ', at), paragraph.size());
            std::string word = paragraph.substr(at, space - at);
            at = space + 1;
            if (word.empty())
                continue;
            const std::string joined = line.empty() ? word : line + " " + word;
            if (TextWidth(font, joined) <= width) {
                line = joined;
                continue;
            }
            if (!line.empty())
                lines.push_back(line);
            // A word wider than a whole line is cut into lines of its own.
            while (TextWidth(font, word) > width) {
                const size_t n = FittingPrefix(font, word, width);
                lines.push_back(word.substr(0, n));
                word.erase(0, n);
            }
            line = word;
        }
        lines.push_back(line);
        start = end + 1;
    }
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i)
        out += (i ? "\n" : "") + lines[i];
    return out;
}

void CWnd_MessageBox::Init(const char* header, const char* message, unsigned char left, unsigned char right)
{
    m_header = header ? header : "";
    m_message = message ? message : "";
    m_left = left;
    m_right = right;
}

void CWnd_MessageBox::CentreOffset(long ctrlW, long ctrlH, long textW, long textH, short& x, short& y)
{
    if (textW <= 0 || textH <= 0) {
        x = 3;
        y = 0;
        return;
    }
    // Signed: a text wider than its control is centred over it.
    long ox = (ctrlW - textW) / 2;
    if (ox >= 0 && ox <= 2)
        ox = 3;
    x = short(ox);
    y = short((ctrlH - textH) / 2);
}

bool CWnd_MessageBox::i_SetText(const char* control, uint32_t font, const CQNF_String& text)
{
    unsigned long id = AddControl(CQNF_String(control), qnctl::StaticText);
    if (id == None)
        return false;
    auto* t = static_cast<CQNF_CtrlStaticText*>(GetControl(id));
    CQNF_Font* f = GetFont(font);
    t->SetFont(f);
    const qntRECT_s r = t->GetRenderRect();
    // A line wider than the box is broken into lines that fit it, so that
    // every word of a long message is seen.
    const CQNF_String shown(f && !qnIsNullRect(r)
                                ? WrapToWidth(*f, text.GetStr(), r.right - r.left - 2 * kTextMargin).c_str()
                                : text.GetStr());
    unsigned long w = 0, h = 0;
    short x = 3, y = 0;
    if (f && !qnIsNullRect(r) && f->GetTextSize(shown, kLineStep, w, h)) {
        CentreOffset(r.right - r.left, r.bottom - r.top, long(w), long(h), x, y);
        // A box a screen tall at most: past that, the end of the text is
        // cut. The first text that needs rows has them.
        if (long(h) > r.bottom - r.top && m_moreRows == 0) {
            m_stretchAt = (r.top + r.bottom) / 2;
            m_moreRows = uint16_t(std::min<long>(long(h) - (r.bottom - r.top), kMostMoreRows));
        }
    }
    t->SetText(shown.GetStr(), x, y, kLineStep);
    return true;
}

unsigned char CWnd_MessageBox::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    m_headerFont = AddFont(CQNF_String("Message Font"));
    m_messageFont = AddFont(CQNF_String("List Font"));
    if (m_headerFont == None || m_messageFont == None)
        return 0;
    for (int i = 0; i < 6; ++i) {
        m_buttons[i] = AddControl(CQNF_String(kButtons[i]), qnctl::Button);
        if (m_buttons[i] == None)
            return 0;
        CQNF_Control* c = GetControl(m_buttons[i]);
        c->SetDisabledOpacity(0);
        c->Enable(0);
    }
    if (m_left == OK || m_left == YES)
        GetControl(m_buttons[m_left - 1])->Enable(1);
    if (m_right >= OK && m_right <= CANCEL)
        GetControl(m_buttons[m_right + 1])->Enable(1);
    return i_SetText("MessageBox_Text", m_messageFont, m_message) &&
                   i_SetText("MessageBox_TextHDR", m_headerFont, m_header)
               ? 1
               : 0;
}

unsigned char CWnd_MessageBox::OnKeyDown(unsigned char key, unsigned char)
{
    // Neither Return nor Esc answers the question: a stray key must not
    // choose for the user.
    return key == qnkey::Return || key == qnkey::Escape ? 1 : 0;
}

unsigned char CWnd_MessageBox::OnCtrlMessage(unsigned short msg, unsigned long id, char*, unsigned char type, void*)
{
    if (msg != qnmsg::Clicked || type != qnctl::Button)
        return 1;
    for (int i = 0; i < 6; ++i) {
        if (id == m_buttons[i]) {
            // OKl, YESl, OKr, YESr answer yes; NO and CANCEL no.
            EndModal(i < 4 ? 1 : 0);
            break;
        }
    }
    return 1;
}

long CWnd_MessageBox::Ask(CQNF_Window* parent, const char* header, const char* message, unsigned char left,
                          unsigned char right)
{
    // A message longer than the box's lines is shown in a box made taller
    // by the rows it lacks, its buttons as far lower.
    int32_t stretchAt = 0;
    uint16_t moreRows = 0;
    for (int tries = 0; tries < 2; ++tries) {
        CWnd_MessageBox box;
        box.Init(header, message, left, right);
        box.SetStretch(stretchAt, moreRows);
        if (!box.CreateFromResource(CQNF_String("MessageBox"), -32000, -32000, parent, 1))
            return 0;
        if (box.m_moreRows > 0 && moreRows == 0) {
            stretchAt = box.m_stretchAt;
            moreRows = box.m_moreRows;
            continue;
        }
        box.RenderRect(qnNullRect);
        return box.DoModal() == 1 ? 1 : 0;
    }
    return 0;
}
