#include "app/CConverterDlg.h"

#include "app/CConverterApp.h"
#include "res/Icons.h"
#include "res/Strings.h"

#include <QAction>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolBar>
#include <QToolButton>

namespace {

enum Align { AlignLeftTop = 1, AlignRightTop = 2, AlignVerticalBottom = 3 };

struct ToolBarSpec
{
    QToolBar *CConverterDlg::*pMember;
    int nResource;
    int nButtonSize;
    std::initializer_list<int> commands;
    int nPlaceholderId;
    int nAlign;
};

// Commands whose button shows a pressed state set by its owner.
bool IsCheckCommand(int nId)
{
    return nId == ID_SAME_FOLDER || nId == ID_AUTO_MODE || nId == ID_MANUAL_MODE;
}

} // namespace

void CConverterDlg::CreateToolBars()
{
    const ToolBarSpec specs[] = {
        {&CConverterDlg::m_tbLaunch,
         IDR_TB_LAUNCH,
         16,
         {ID_LAUNCH_PROGRAM},
         IDC_LAUNCH_BAR_FRAME,
         AlignLeftTop},
        {&CConverterDlg::m_tbAuthor,
         IDR_TB_AUTHOR,
         16,
         {ID_AUTHOR_NAME, ID_CREATE_FOLDER},
         IDC_AUTHOR_BAR_FRAME,
         AlignRightTop},
        {&CConverterDlg::m_tbSameFolder,
         IDR_TB_SAME_FOLDER,
         16,
         {ID_SAME_FOLDER},
         IDC_SAME_FOLDER_BAR_FRAME,
         AlignLeftTop},
        {&CConverterDlg::m_tbConvert,
         IDR_TB_CONVERT,
         20,
         {ID_CONVERT},
         IDC_CONVERT_BAR_FRAME,
         AlignLeftTop},
        {&CConverterDlg::m_tbMode,
         IDR_TB_MODE,
         20,
         {ID_AUTO_MODE, ID_MANUAL_MODE, ID_HELP, IDOK},
         IDC_MODE_BAR_FRAME,
         AlignVerticalBottom},
    };
    for (const ToolBarSpec &spec : specs) {
        auto *bar = new QToolBar(this);
        bar->setObjectName(QStringLiteral("toolbar%1").arg(spec.nResource));
        bar->setMovable(false);
        bar->setFloatable(false);
        bar->setIconSize(QSize(spec.nButtonSize, spec.nButtonSize));
        bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
        // Flat and tight like the classic toolbars the layout was designed around: the strips
        // above the folder combos are only as high as one button.
        bar->setStyleSheet(QStringLiteral("QToolBar { border: 0px; padding: 0px; spacing: 0px; }"));
        for (const int nId : spec.commands) {
            auto *action = new QAction(LoadIcon(nId), QString(), bar);
            action->setObjectName(QString::number(nId));
            action->setToolTip(LoadString(nId));
            action->setCheckable(IsCheckCommand(nId));
            bar->addAction(action);
            QWidget *button = bar->widgetForAction(action);
            button->setObjectName(QString::number(nId));
            button->setFocusPolicy(Qt::NoFocus);
            button->setAccessibleName(HasString(nId) ? LoadString(nId) : QStringLiteral("終了"));
            connect(action, &QAction::triggered, this, [this, action, nId] {
                // A click must not change the pressed look by itself: only the command's
                // handler decides what the button shows.
                if (action->isCheckable())
                    action->setChecked(!action->isChecked());
                OnCommand(nId);
            });
            m_mapActions.insert(nId, action);
        }
        this->*spec.pMember = bar;
        PlaceToolBar(bar, spec.nPlaceholderId, spec.nAlign);
        // In a larger window the bar goes where its placeholder goes.
        SetAnchor(bar, GetAnchor(spec.nPlaceholderId));
        bar->show();
    }
}

void CConverterDlg::PlaceToolBar(QToolBar *pBar, int nPlaceholderId, int nAlign)
{
    QWidget *placeholder = GetDlgItem(nPlaceholderId);
    if (!pBar || !placeholder)
        return;
    // The size of the horizontal layout, also for the vertical bar, which exchanges width and
    // height.
    pBar->setOrientation(Qt::Horizontal);
    const QSize size = pBar->sizeHint();
    const int cx = size.width(), cy = size.height();
    const QRect rc = placeholder->geometry();
    const int right = rc.x() + rc.width();
    const int bottom = rc.y() + rc.height();
    switch (nAlign) {
    case AlignLeftTop:
        pBar->setGeometry(rc.x(), rc.y(), cx, cy);
        break;
    case AlignRightTop:
        pBar->setGeometry(right - cx, rc.y(), cx, cy);
        break;
    case AlignVerticalBottom:
        pBar->setOrientation(Qt::Vertical);
        pBar->setGeometry(rc.x(), bottom - cx, cy, cx);
        break;
    default:
        break;
    }
}

void CConverterDlg::CheckToolButton(int nCommandId, bool bChecked)
{
    if (QAction *action = m_mapActions.value(nCommandId))
        action->setChecked(bChecked);
}

void CConverterDlg::EnableToolButton(int nCommandId, bool bEnabled)
{
    if (QAction *action = m_mapActions.value(nCommandId))
        action->setEnabled(bEnabled);
}

bool CConverterDlg::PreTranslateMessage(QObject *pTarget, QEvent *pEvent)
{
    // The filter sees every event of the application; only two kinds concern it.
    if (pEvent->type() != QEvent::KeyPress && pEvent->type() != QEvent::FocusOut)
        return false;
    auto *widget = qobject_cast<QWidget *>(pTarget);
    if (!widget || widget->window() != this)
        return false;

    if (pEvent->type() == QEvent::FocusOut) {
        // Opening the drop-down list is not leaving the combo.
        const auto *focus = static_cast<QFocusEvent *>(pEvent);
        if (focus->reason() != Qt::PopupFocusReason) {
            if (widget == m_cbSrcFolder)
                OnKillfocusSrcFolder();
            else if (widget == m_cbDstFolder)
                OnKillfocusDstFolder();
        }
        return false;
    }

    // While a run works the window takes no input at all: a key would otherwise queue a command
    // that runs between two files, under the run's feet.
    if (m_bRunning)
        return true;

    const auto *key = static_cast<QKeyEvent *>(pEvent);
    if (PreviewKey(widget, *key))
        return true;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_nEditFolderId == IDC_SRC_FOLDER || m_nEditFolderId == IDC_DST_FOLDER) {
            const int nId = int(m_nEditFolderId);
            const QString strFolder = GetDlgItemText(nId);
            emit typedFolderEntered(nId, strFolder);
            m_nEditFolderId = 0;
        }
        // Enter never reaches the dialog's own handling, which would end the run.
        return true;
    case Qt::Key_F1:
        PostCommand(ID_HELP);
        return true;
    case Qt::Key_F5:
        PostCommand(ID_CONVERT);
        return true;
    case Qt::Key_F7:
        PostCommand(ID_AUTO_MODE);
        return true;
    case Qt::Key_F8:
        PostCommand(ID_MANUAL_MODE);
        return true;
    default:
        return false;
    }
}

void CConverterDlg::OnHelp()
{
    if (CConverterApp *app = AfxGetApp())
        app->ShowHelp();
}
