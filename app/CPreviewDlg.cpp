#include "app/CPreviewDlg.h"

#include "app/PreviewCanvas.h"
#include "controls/TemplateDialog.h"
#include "conversion/PreviewLoader.h"
#include "res/Strings.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

CPreviewDlg::CPreviewDlg(QWidget *pParent)
    : QDialog(pParent)
{
    setObjectName(QString::number(IDD));
    setWindowTitle(LoadString(IDS_PREVIEW_TITLE));
    setFont(TemplateDialog::DialogFont());
    setModal(false);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    // The list keeps the focus when the window opens, so that the arrow keys go on moving
    // through the drawings.
    setAttribute(Qt::WA_ShowWithoutActivating);

    m_pRenderer = new PreviewRenderer(this);
    m_pLoader = new PreviewLoader(*m_pRenderer, this);
    m_pCanvas = new PreviewCanvas(*m_pRenderer, this);
    m_pCanvas->setObjectName(QString::number(IDC_PREVIEW_PICTURE));
    m_pCanvas->setAccessibleName(LoadString(IDS_PREVIEW_TITLE));
    m_stStatus = new QLabel(this);
    m_stStatus->setObjectName(QString::number(IDC_PREVIEW_STATUS));
    m_stStatus->setTextFormat(Qt::PlainText);
    m_stStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 4);
    pLayout->setSpacing(4);
    pLayout->addWidget(m_pCanvas, 1);
    pLayout->addWidget(m_stStatus);
    m_stStatus->setContentsMargins(8, 0, 8, 0);
    resize(640, 520);

    connect(m_pRenderer, &PreviewRenderer::loaded, this, &CPreviewDlg::OnLoaded);
    connect(m_pLoader, &PreviewLoader::failed, this, &CPreviewDlg::OnFailed);
}

void CPreviewDlg::ShowFile(const QByteArray &baPath, const QString &strName, const QString &strExt,
                           bool bReload)
{
    if (baPath == m_baPath && !bReload)
        return;
    m_baPath = baPath;
    m_strName = strName;
    m_strPage.clear();
    m_bLoading = true;
    setWindowTitle(LoadString(IDS_PREVIEW_TITLE) + QStringLiteral(" - ") + strName);
    m_nSerial = m_pLoader->Request({baPath, strExt});
    UpdateStatus();
}

void CPreviewDlg::ShowNoFile()
{
    m_baPath.clear();
    m_strName.clear();
    m_strPage.clear();
    m_bLoading = false;
    // Whatever is still on its way is not shown.
    ++m_nSerial;
    setWindowTitle(LoadString(IDS_PREVIEW_TITLE));
    m_pCanvas->SetMessage(LoadString(IDS_PREVIEW_NO_SELECTION));
    UpdateStatus();
}

void CPreviewDlg::SetHeld(bool bHeld)
{
    // A run disables the main window and with it the windows it owns; this one is only looked
    // at, and may be zoomed and panned meanwhile.
    if (bHeld)
        setEnabled(true);
    m_bHeld = bHeld;
    m_pLoader->SetHeld(bHeld);
    UpdateStatus();
}

void CPreviewDlg::OnLoaded(int nSerial, const PreviewRenderer::PageInfo &info)
{
    if (nSerial != m_nSerial)
        return;
    m_bLoading = false;
    if (!info.strError.isEmpty()) {
        OnFailed(nSerial, LoadString(IDS_PREVIEW_UNREADABLE).arg(m_strName, info.strError));
        return;
    }
    QStringList aParts;
    if (info.bPrintedSize) {
        constexpr double kMmPerPoint = 25.4 / 72;
        aParts << LoadString(IDS_PREVIEW_PAPER)
                      .arg(qRound(info.size.width() * kMmPerPoint))
                      .arg(qRound(info.size.height() * kMmPerPoint));
    }
    if (!info.strScale.isEmpty())
        aParts << LoadString(IDS_PREVIEW_SCALE).arg(info.strScale);
    m_strPage = aParts.join(QStringLiteral("    "));
    m_pCanvas->SetPage(nSerial, info.size);
    UpdateStatus();
}

void CPreviewDlg::OnFailed(int nSerial, const QString &strMessage)
{
    if (nSerial != m_nSerial)
        return;
    m_bLoading = false;
    m_strPage.clear();
    m_pCanvas->SetMessage(strMessage);
    UpdateStatus();
}

void CPreviewDlg::UpdateStatus()
{
    QStringList aParts;
    if (!m_strName.isEmpty())
        aParts << m_strName;
    if (!m_strPage.isEmpty())
        aParts << m_strPage;
    if (m_bLoading)
        aParts << LoadString(m_bHeld ? IDS_PREVIEW_HELD : IDS_PREVIEW_LOADING);
    m_stStatus->setText(aParts.join(QStringLiteral("    ")));
}

void CPreviewDlg::hideEvent(QHideEvent *pEvent)
{
    // Closed, not minimised: nothing shown needs the drawing program any more, and the file
    // shown is asked for afresh when the window opens again.
    if (!pEvent->spontaneous()) {
        m_pLoader->Close();
        m_baPath.clear();
        m_bLoading = false;
        UpdateStatus();
    }
    QDialog::hideEvent(pEvent);
}

void CPreviewDlg::keyPressEvent(QKeyEvent *pEvent)
{
    const Qt::KeyboardModifiers modifiers
        = pEvent->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    if (modifiers != Qt::NoModifier)
        return QDialog::keyPressEvent(pEvent);
    switch (pEvent->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Space:
        close();
        return;
    case Qt::Key_Plus:
    case Qt::Key_Equal: // + without Shift on most keyboards
        m_pCanvas->ZoomBy(1.25);
        return;
    case Qt::Key_Minus:
        m_pCanvas->ZoomBy(0.8);
        return;
    case Qt::Key_F:
        m_pCanvas->Fit();
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        // Moving through the drawings works from here as from the list itself.
        if (m_pList) {
            QKeyEvent forwarded(pEvent->type(), pEvent->key(), pEvent->modifiers(), pEvent->text(),
                                pEvent->isAutoRepeat());
            QApplication::sendEvent(m_pList, &forwarded);
        }
        return;
    default:
        return QDialog::keyPressEvent(pEvent);
    }
}
