#include "conversion/CProgressDlg.h"

#include "controls/CPathLabel.h"
#include "platform/Desktop.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace {
constexpr int kRangeLow = 1;
constexpr int kRangeHigh = 20;
// About 30 frames a second: a name that is shown for less than that cannot be read anyway.
constexpr int kFrameMs = 33;

QLabel *MakeNameLabel()
{
    auto *label = new QLabel;
    // File names are shown as they are: no rich text, no mnemonics.
    label->setTextFormat(Qt::PlainText);
    return label;
}
} // namespace

CProgressDlg::CProgressDlg(QWidget *pOwner)
    : TemplateDialog(IDD, pOwner)
{
    setWindowTitle(QStringLiteral("変換しています..."));
    setModal(false);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    SetTemplateSize(253, 55);

    AddControl(MakeNameLabel(), IDC_PROGRESS_SRC_NAME, 10, 11, 110, 8);
    AddControl(MakeNameLabel(), IDC_PROGRESS_DST_NAME, 130, 11, 110, 8);
    m_stSrcFolder = AddControl(new CPathLabel, IDC_PROGRESS_SRC_FOLDER, 10, 25, 110, 8);
    m_stDstFolder = AddControl(new CPathLabel, IDC_PROGRESS_DST_FOLDER, 130, 25, 110, 8);
    m_progress = AddControl(new QProgressBar, IDC_PROGRESS_BAR, 9, 36, 181, 10);
    m_progress->setTextVisible(false);
    auto *cancel = AddControl(new QPushButton(QStringLiteral("ｷｬﾝｾﾙ")), IDCANCEL, 200, 35, 44, 14);
    cancel->setAccessibleName(cancel->text());
    connect(cancel, &QPushButton::clicked, this, &CProgressDlg::OnCancel);
    ApplyTabOrder();

    m_frameTimer.setInterval(kFrameMs);
    connect(&m_frameTimer, &QTimer::timeout, this, &CProgressDlg::PaintFrame);

    OnInitDialog();
}

void CProgressDlg::OnInitDialog()
{
    m_bCancel = false;

    // Placed once, in the middle of the work area (the owner is not on screen yet while it
    // initialises); later runs show the window wherever the user left it.
    const QWidget *owner = parentWidget();
    QScreen *screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect rc(QPoint(), size());
        rc.moveCenter(screen->availableGeometry().center());
        move(rc.topLeft());
    }

    m_stSrcFolder->m_bPathEllipsis = true;
    m_stDstFolder->m_bPathEllipsis = true;
    m_rcSrcFolder = m_stSrcFolder->geometry();

    m_progress->setRange(kRangeLow, kRangeHigh);
}

void CProgressDlg::Begin(const QString &strSrcFolder, const QString &strDstFolder, int nTotal)
{
    m_bCancel = false;

    if (strSrcFolder != strDstFolder) {
        m_stSrcFolder->setGeometry(m_rcSrcFolder);
        m_stDstFolder->show();
        QString strText = strDstFolder;
        TrimFolderText(strText);
        m_stDstFolder->setText(strText);
    } else {
        // One folder for both sides: a single line across both columns has room for a longer path.
        const QRect rcDstName = GetDlgItem(IDC_PROGRESS_DST_NAME)->geometry();
        QRect rc = m_rcSrcFolder;
        rc.setRight(rcDstName.right());
        m_stSrcFolder->setGeometry(rc);
        m_stDstFolder->hide();
    }
    QString strText = strSrcFolder;
    TrimFolderText(strText);
    m_stSrcFolder->setText(strText);

    m_nLastPos = 0;
    // Below the range: an empty bar.
    m_progress->reset();
    m_nTotal = nTotal;

    // Small drawings go by a thousand a second. Painting every name would add to the cost of
    // each file for names nobody could read, so what changed is painted once per frame instead.
    // The timer fires inside the waits for the drawing program.
    m_frameTimer.start();
}

void CProgressDlg::SetFileNames(const QString &strSrcName, const QString &strDstName)
{
    SetDlgItemText(IDC_PROGRESS_SRC_NAME, strSrcName);
    if (!strDstName.isNull())
        SetDlgItemText(IDC_PROGRESS_DST_NAME, strDstName);
}

void CProgressDlg::Step(int n)
{
    if (m_nTotal <= 0)
        return;
    const int nPos = n * kRangeHigh / m_nTotal + 1;
    if (nPos != m_nLastPos) {
        m_nLastPos = nPos;
        m_progress->setValue(nPos);
    }
}

void CProgressDlg::Finish()
{
    m_frameTimer.stop();
    PaintFrame();
    m_progress->setValue(kRangeHigh);
}

void CProgressDlg::PaintFrame()
{
    if (!m_bUpdateHeld)
        return;
    m_bUpdateHeld = false;
    QEvent request(QEvent::UpdateRequest);
    TemplateDialog::event(&request);
}

bool CProgressDlg::event(QEvent *event)
{
    // Qt asks once for everything that became dirty since the last painting; the request is
    // held until the next frame, while further changes add to what it will paint.
    if (event->type() == QEvent::UpdateRequest && m_frameTimer.isActive()) {
        m_bUpdateHeld = true;
        return true;
    }
    return TemplateDialog::event(event);
}

bool CProgressDlg::CheckCancel()
{
    if (!m_bCancel) {
        qApp->installEventFilter(this);
        QCoreApplication::processEvents();
        qApp->removeEventFilter(this);
    }
    return m_bCancel;
}

void CProgressDlg::OnCancel()
{
    Desktop::Current().Beep();
    m_bCancel = true;
    // Hidden at once; the run notices the request before its next file.
    QDialog::reject();
}

void CProgressDlg::reject()
{
    // Esc and the close button cancel as the button does.
    OnCancel();
}

void CProgressDlg::TrimFolderText(QString &strFolder)
{
    if (strFolder.size() > 1 && strFolder.endsWith(QLatin1Char('/')))
        strFolder.chop(1);
}

bool CProgressDlg::eventFilter(QObject *watched, QEvent *event)
{
    // Taken while the run pumps, a quit would close every window under the run's feet. It ends
    // the run like a Cancel instead, and is consumed.
    if (watched == qApp && event->type() == QEvent::Quit) {
        m_bCancel = true;
        event->ignore();
        return true;
    }
    return TemplateDialog::eventFilter(watched, event);
}
