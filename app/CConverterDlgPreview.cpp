#include "app/CConverterDlg.h"

#include "app/CPreviewDlg.h"
#include "panes/FileListModel.h"
#include "platform/FileNames.h"
#include "platform/IniProfile.h"

#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QScreen>

namespace {

const QString kPreview = QStringLiteral("Preview");
const QString kGeometryKeys[] = {QStringLiteral("Left"), QStringLiteral("Top"),
                                 QStringLiteral("Width"), QStringLiteral("Height")};

// The row a preview of the pane shows: the current row, where the arrow keys are, when it is
// selected; otherwise the first selected row; -1 when none is.
int PreviewRow(const Pane &pane)
{
    const QItemSelectionModel *pSelection = pane.GetControls().pList->selectionModel();
    if (!pSelection)
        return -1;
    const QModelIndex current = pSelection->currentIndex();
    if (current.isValid() && pSelection->isRowSelected(current.row()))
        return current.row();
    const QList<int> aRows = pane.SelectedRows();
    return aRows.isEmpty() ? -1 : aRows.first();
}

} // namespace

void CConverterDlg::OnPreviewSrc()
{
    OpenPreview(m_src);
}

void CConverterDlg::OnPreviewDst()
{
    OpenPreview(m_dst);
}

void CConverterDlg::OpenPreview(Pane &pane)
{
    if (!m_pPreviewDlg) {
        m_pPreviewDlg = new CPreviewDlg(this);
        m_pPreviewDlg->SetHeld(m_bRunning);
        PlacePreview();
    }
    m_pPreviewPane = &pane;
    m_pPreviewDlg->SetList(pane.GetControls().pList);
    const int nRow = PreviewRow(pane);
    if (nRow < 0) {
        m_pPreviewDlg->ShowNoFile();
    } else {
        const FileRow &row = pane.Model()->Row(nRow);
        m_pPreviewDlg->ShowFile(Platform::JoinRawPath(pane.strFolder, row.RawName()), row.strName,
                                pane.strExt, true);
    }
    m_pPreviewDlg->show();
}

void CConverterDlg::OnPreviewSelection(Pane &pane)
{
    if (!m_pPreviewDlg || !m_pPreviewDlg->isVisible())
        return;
    // A selection emptied in the other list leaves the preview where it is.
    const int nRow = PreviewRow(pane);
    if (nRow < 0 && &pane != m_pPreviewPane)
        return;
    m_pPreviewPane = &pane;
    m_pPreviewDlg->SetList(pane.GetControls().pList);
    if (nRow < 0) {
        m_pPreviewDlg->ShowNoFile();
        return;
    }
    const FileRow &row = pane.Model()->Row(nRow);
    m_pPreviewDlg->ShowFile(Platform::JoinRawPath(pane.strFolder, row.RawName()), row.strName,
                            pane.strExt, false);
}

bool CConverterDlg::PreviewKey(QWidget *pWidget, const QKeyEvent &key)
{
    if (key.modifiers() != Qt::NoModifier)
        return false;
    const bool bOpen = m_pPreviewDlg && m_pPreviewDlg->isVisible();
    if (key.key() == Qt::Key_Escape && bOpen) {
        // Esc closes what was opened last, the preview, before it would end the program.
        m_pPreviewDlg->close();
        return true;
    }
    Pane *pPane = pWidget == m_lcSrcFiles ? &m_src : pWidget == m_lcDstFiles ? &m_dst : nullptr;
    if (key.key() != Qt::Key_Space || !pPane)
        return false;
    if (bOpen && pPane == m_pPreviewPane) {
        m_pPreviewDlg->close();
        return true;
    }
    // Without a selection Space is the list's own: it selects the current row.
    if (PreviewRow(*pPane) < 0)
        return false;
    PostCommand(pPane == &m_src ? ID_PREVIEW_SRC : ID_PREVIEW_DST);
    return true;
}

void CConverterDlg::PlacePreview()
{
    const QScreen *pScreen
        = m_rcPreview.isValid() ? QGuiApplication::screenAt(m_rcPreview.center()) : nullptr;
    if (pScreen) {
        m_pPreviewDlg->setGeometry(m_rcPreview);
        return;
    }
    // Beside the main window, on the side with more room, as high as the main window and as wide
    // as the room allows; over the main window's right part only where no side has room.
    pScreen = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect rcAvail = pScreen ? pScreen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QRect rcMain = frameGeometry();
    constexpr int kGap = 8;
    constexpr int kLeast = 360;
    const int nHeight = qMin(rcMain.height(), rcAvail.height());
    const int nRoomRight = rcAvail.right() - rcMain.right() - kGap;
    const int nRoomLeft = rcMain.left() - kGap - rcAvail.left();
    int nWidth = qMin(nHeight * 5 / 4, rcAvail.width());
    int x = rcAvail.right() + 1 - nWidth;
    if (qMax(nRoomRight, nRoomLeft) >= kLeast) {
        nWidth = qMin(nWidth, qMax(nRoomRight, nRoomLeft));
        x = nRoomRight >= nRoomLeft ? rcMain.right() + 1 + kGap : rcMain.left() - kGap - nWidth;
    }
    const int y = qBound(rcAvail.top(), rcMain.top(), rcAvail.bottom() + 1 - nHeight);
    // That is the place of the frame; the window's own rectangle lies inside it by the window
    // manager's borders, which are taken to be the main window's.
    const QMargins frame(geometry().left() - rcMain.left(), geometry().top() - rcMain.top(),
                         rcMain.right() - geometry().right(),
                         rcMain.bottom() - geometry().bottom());
    m_pPreviewDlg->setGeometry(QRect(x, y, nWidth, nHeight) - frame);
}

void CConverterDlg::LoadPreviewSettings(const IniProfile &profile)
{
    int anValues[4];
    for (int i = 0; i < 4; ++i)
        anValues[i] = profile.readInt(kPreview, kGeometryKeys[i], 0);
    m_rcPreview = QRect(anValues[0], anValues[1], anValues[2], anValues[3]);
    // A size no screen shows is a hand-edited value: the window is placed anew.
    if (m_rcPreview.width() < 100 || m_rcPreview.height() < 100 || m_rcPreview.width() > 100000
        || m_rcPreview.height() > 100000)
        m_rcPreview = QRect();
}

void CConverterDlg::SavePreviewSettings(IniProfile &profile)
{
    if (m_pPreviewDlg)
        m_rcPreview = m_pPreviewDlg->isMaximized() ? m_pPreviewDlg->normalGeometry()
                                                   : m_pPreviewDlg->geometry();
    if (!m_rcPreview.isValid())
        return;
    const int anValues[]
        = {m_rcPreview.x(), m_rcPreview.y(), m_rcPreview.width(), m_rcPreview.height()};
    for (int i = 0; i < 4; ++i)
        profile.writeString(kPreview, kGeometryKeys[i], QString::number(anValues[i]));
}
