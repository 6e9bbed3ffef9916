#include "ui/ListDialog.h"

#include "ui/KeyCodes.h"

unsigned char CQNF_ListDialog::OnKeyDown(unsigned char key, unsigned char)
{
    if (key == qnkey::Return) {
        i_Ok();
        return 1;
    }
    if (key == qnkey::Escape) {
        EndModal(0);
        return 1;
    }
    return 0;
}

unsigned char CQNF_ListDialog::OnMouseMove(short x, short y, unsigned char)
{
    if (GetCapturedControl() != None) {
        m_bInPreview = false;
        return 0;
    }
    const bool in = x >= m_rcPreview.left && x < m_rcPreview.right && y >= m_rcPreview.top && y < m_rcPreview.bottom;
    if (in != m_bInPreview)
        UpdateStatus(i_PreviewTip(in));
    m_bInPreview = in;
    return 0;
}
