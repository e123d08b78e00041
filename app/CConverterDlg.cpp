#include "app/CConverterDlg.h"

#include "app/CAboutDlg.h"
#include "app/CConverterApp.h"
#include "app/ConversionPreview.h"
#include "controls/CIconButton.h"
#include "conversion/CProgressDlg.h"
#include "formats/FormatTable.h"
#include "panes/FileListDelegate.h"
#include "panes/FileListHeader.h"
#include "panes/FileListModel.h"
#include "platform/System.h"
#include "res/Icons.h"
#include "res/Strings.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QToolBar>
#include <QTreeView>
#include <QWindow>

namespace {
constexpr int kAboutCommand = 0x0010;
constexpr int kRunReportCommand = 0x0020;
constexpr int kTemplateWidth = 385;
constexpr int kTemplateHeight = 345;
// The height of a combo's selection field in the template; the rest of its template height is
// the dropped-down list.
constexpr int kComboFieldHeight = 14;

// Edges of a sunken frame: shadow on top and left, highlight on bottom and right.
void Draw3dRect(QPainter &painter, const QRect &rc, const QColor &topLeft,
                const QColor &bottomRight)
{
    const int x = rc.x(), y = rc.y(), cx = rc.width(), cy = rc.height();
    painter.fillRect(x, y, cx - 1, 1, topLeft);
    painter.fillRect(x, y, 1, cy - 1, topLeft);
    painter.fillRect(x + cx - 1, y, 1, cy, bottomRight);
    painter.fillRect(x, y + cy - 1, cx, 1, bottomRight);
}
} // namespace

CConverterDlg::CConverterDlg(QWidget *parent)
    : TemplateDialog(102, parent)
{
    m_hIcon = LoadIcon(128);
    setWindowTitle(LoadString(102));
    // A fixed-size window with a close box only: no minimise, no maximise, no help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    SetTemplateSize(kTemplateWidth, kTemplateHeight);
    CreateControls();
    // The key filter must see keys before the focused control does, for every control,
    // including those that later steps create (the combos' line edits, list viewports).
    qApp->installEventFilter(this);
}

CConverterDlg::~CConverterDlg()
{
    qApp->removeEventFilter(this);
}

QLabel *CConverterDlg::AddStatic(int nId, const QString &strText, Qt::Alignment align, int x, int y,
                                 int cx, int cy)
{
    auto *label = new QLabel(strText);
    label->setAlignment(align | Qt::AlignTop);
    return AddControl(label, nId, x, y, cx, cy);
}

QComboBox *CConverterDlg::AddCombo(int nId, bool bEditable, int x, int y, int cx, int cy)
{
    auto *combo = new QComboBox;
    combo->setEditable(bEditable);
    if (bEditable) {
        // A typed folder is applied by Enter through the key filter, never added as an item.
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setCompleter(nullptr);
    }
    AddControl(combo, nId, x, y, cx, kComboFieldHeight);
    const QRect field = combo->geometry();
    combo->setGeometry(field.x(), field.y(), field.width(),
                       qMax(field.height(), combo->sizeHint().height()));
    const int listHeight = MapDialogRect(QRect(0, 0, 1, cy - kComboFieldHeight)).height();
    combo->setMaxVisibleItems(qMax(1, listHeight / qMax(1, combo->fontMetrics().height() + 2)));
    combo->setContextMenuPolicy(bEditable ? Qt::DefaultContextMenu : Qt::PreventContextMenu);
    return combo;
}

QTreeView *CConverterDlg::AddFileList(int nId, int x, int y, int cx, int cy)
{
    auto *list = new QTreeView;
    list->setHeader(new FileListHeader(list));
    list->setItemDelegate(new FileListDelegate(list));
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setFrameShape(QFrame::StyledPanel);
    list->header()->setSectionsMovable(false);
    // The lists have their own context menu; the window's menu must not open over them.
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    return AddControl(list, nId, x, y, cx, cy);
}

void CConverterDlg::AddPlaceholder(int nId, int x, int y, int cx, int cy)
{
    auto *frame = new QFrame;
    frame->setFrameShape(QFrame::Box);
    AddControl(frame, nId, x, y, cx, cy);
    frame->hide();
}

void CConverterDlg::CreateControls()
{
    const Qt::Alignment left = Qt::AlignLeft;
    const Qt::Alignment right = Qt::AlignRight;

    QLabel *srcExtLabel = AddStatic(0, QStringLiteral("拡張子(&E):"), left, 30, 5, 31, 8);
    m_cbSrcExt = AddCombo(1002, false, 30, 15, 40, 70);
    QLabel *srcFolderLabel = AddStatic(0, QStringLiteral("ﾌｫﾙﾀﾞ(&F):"), left, 8, 40, 28, 8);
    m_cbSrcFolder = AddCombo(1003, true, 5, 55, 158, 105);
    auto *browseSrc = AddControl(new QPushButton(QStringLiteral("...")), 1006, 167, 55, 13, 14);
    m_lcSrcFiles = AddFileList(1005, 5, 75, 175, 240);
    QLabel *dstExtLabel = AddStatic(0, QStringLiteral("変換拡張子(&K):"), left, 230, 5, 45, 8);
    m_cbDstExt = AddCombo(1004, false, 230, 15, 40, 103);
    QLabel *dstFolderLabel = AddStatic(0, QStringLiteral("変換ﾌｫﾙﾀﾞ(&L):"), left, 208, 40, 41, 8);
    m_cbDstFolder = AddCombo(1007, true, 205, 55, 158, 105);
    auto *browseDst = AddControl(new QPushButton(QStringLiteral("...")), 1009, 367, 55, 13, 14);
    m_lcDstFiles = AddFileList(1008, 205, 75, 175, 240);
    for (const char *pszExt : g_aszSrcExt)
        m_cbSrcExt->addItem(QString::fromLatin1(pszExt));
    m_btnSrcIcon = AddControl(new CIconButton, 1000, 5, 7, 20, 20);
    m_btnDstIcon = AddControl(new CIconButton, 1001, 205, 7, 20, 20);
    QLabel *srcSelected = AddStatic(1044, QString(), right, 5, 318, 87, 11);
    QLabel *srcCount = AddStatic(1042, QString(), right, 93, 318, 87, 11);
    AddPlaceholder(1015, 185, 313, 15, 15);
    QLabel *dstSelected = AddStatic(1045, QString(), right, 205, 318, 87, 11);
    QLabel *dstCount = AddStatic(1043, QString(), right, 293, 318, 87, 11);
    AddStatic(1010, QString(), left, 5, 332, 375, 11);
    AddPlaceholder(1013, 186, 35, 13, 13);
    AddPlaceholder(1014, 185, 170, 15, 15);
    AddStatic(1022, QString(), right, 120, 40, 43, 8);
    AddPlaceholder(1011, 166, 35, 13, 15);
    AddPlaceholder(1012, 366, 35, 13, 15);
    AddStatic(1046, QString(), left, 80, 19, 100, 8);
    AddStatic(1047, QString(), left, 280, 19, 100, 8);
    AddStatic(1048, QString(), right, 255, 40, 94, 8);

    for (QPushButton *button : {browseSrc, browseDst}) {
        // Enter never clicks a button here; it applies a typed folder or does nothing.
        button->setAutoDefault(false);
    }

    // Mnemonics move the focus to the combo, and the combo is announced by its label.
    const std::pair<QLabel *, QWidget *> buddies[] = {{srcExtLabel, m_cbSrcExt},
                                                      {srcFolderLabel, m_cbSrcFolder},
                                                      {dstExtLabel, m_cbDstExt},
                                                      {dstFolderLabel, m_cbDstFolder}};
    for (const auto &[label, buddy] : buddies) {
        label->setBuddy(buddy);
        QString name = label->text().remove(QLatin1Char('&'));
        if (name.endsWith(QLatin1Char(':')))
            name.chop(1);
        buddy->setAccessibleName(name);
    }
    m_lcSrcFiles->setAccessibleName(QStringLiteral("変換元ﾌｧｲﾙ"));
    m_lcDstFiles->setAccessibleName(QStringLiteral("変換先ﾌｧｲﾙ"));
    browseSrc->setAccessibleName(QStringLiteral("ﾌｫﾙﾀﾞの参照"));
    browseDst->setAccessibleName(QStringLiteral("変換ﾌｫﾙﾀﾞの参照"));
    m_btnSrcIcon->setAccessibleName(QStringLiteral("変換元の形式"));
    m_btnDstIcon->setAccessibleName(QStringLiteral("変換先の形式"));
    const std::pair<int, const char *> statics[]
        = {{1044, "選択ﾌｧｲﾙ数"},     {1042, "ﾌｧｲﾙ数"},       {1045, "変換先の選択ﾌｧｲﾙ数"},
           {1043, "変換先のﾌｧｲﾙ数"}, {1010, "変換ﾓｰﾄﾞ"},     {1022, "Tarsk のﾊﾞｰｼﾞｮﾝ"},
           {1046, "変換元の形式"},   {1047, "変換先の形式"}, {1048, "作成者"}};
    for (const auto &[nId, pszName] : statics)
        GetDlgItem(nId)->setAccessibleDescription(QString::fromUtf8(pszName));

    ApplyTabOrder();

    m_src.Attach({m_cbSrcFolder, browseSrc, m_lcSrcFiles, srcCount, srcSelected});
    m_dst.Attach({m_cbDstFolder, browseDst, m_lcDstFiles, dstCount, dstSelected});
}

void CConverterDlg::ConnectMessageMap()
{
    // Commands, in the order of the window's map. Commands 1 and 2 end the run.
    const std::pair<int, Handler> commands[] = {
        {1018, &CConverterDlg::OnSameFolder},   {1019, &CConverterDlg::OnConvert},
        {1024, &CConverterDlg::OnCreateFolder}, {1023, &CConverterDlg::OnLaunchProgram},
        {1020, &CConverterDlg::OnAutoMode},     {1021, &CConverterDlg::OnManualMode},
        {32774, &CConverterDlg::OnAuthorName},  {57670, &CConverterDlg::OnHelp},
    };
    for (const auto &[nId, handler] : commands)
        m_mapCommands.insert(nId, handler);

    // Notifications of the controls, in the same order; each pane takes those of its list,
    // folder combo and browse button itself.
    ConnectPane(m_src);
    ConnectPane(m_dst);
    connect(m_cbSrcFolder->lineEdit(), &QLineEdit::textEdited, this,
            &CConverterDlg::OnEditchangeSrcFolder);
    connect(m_cbDstFolder->lineEdit(), &QLineEdit::textEdited, this,
            &CConverterDlg::OnEditchangeDstFolder);
    connect(m_cbSrcExt, &QComboBox::activated, this, &CConverterDlg::OnSelendokSrcExt);
    connect(m_cbDstExt, &QComboBox::activated, this, &CConverterDlg::OnSelendokDstExt);
    connect(this, &CConverterDlg::typedFolderEntered, this, &CConverterDlg::OnTypedFolder);
}

void CConverterDlg::OnCommand(int nId)
{
    switch (nId) {
    case 1:
        accept();
        break;
    case 2:
        reject();
        break;
    default:
        if (const Handler handler = m_mapCommands.value(nId))
            (this->*handler)();
        break;
    }
    emit commandRun(nId);
}

void CConverterDlg::PostCommand(int nId)
{
    QMetaObject::invokeMethod(
        this, [this, nId] { OnCommand(nId); }, Qt::QueuedConnection);
}

QAction *CConverterDlg::CommandAction(int nId) const
{
    return m_mapActions.value(nId);
}

void CConverterDlg::Create()
{
    if (!m_bInitialized) {
        m_bInitialized = true;
        OnInitDialog();
    }
}

int CConverterDlg::DoModal()
{
    Create();
    // The run lasts until a closing command, but the window is not application-modal: the help
    // window is read beside it and must take input while this window is open. The dialogs that
    // this window opens are modal themselves.
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    show();
    loop.exec(QEventLoop::DialogExec);
    return result();
}

bool CConverterDlg::OnInitDialog()
{
    ConnectMessageMap();
    setWindowIcon(m_hIcon);

    m_btnSrcIcon->SetIconSize();
    m_btnDstIcon->SetIconSize();

    CreateToolBars();

    m_strLogonName = Platform::LogonUserName();
    m_strCadUserName = m_strLogonName;
    m_strAuthorName = m_strCadUserName;
    m_strAffiliation.clear();

    m_nCadVersion = 0;
    Probe();

    m_hIconBlank = LoadIcon(134);

    m_strDesktopDir = GetSpecialFolderPath(0);
    m_strMyDocumentsDir = GetSpecialFolderPath(5);

    LoadSettings();

    ApplySameFolder(false);

    ShowMode();

    // A stored index outside the six source formats (a hand-edited file) falls back to the first.
    if (m_src.nExtIndex < 0 || m_src.nExtIndex >= m_cbSrcExt->count())
        m_src.nExtIndex = 0;
    m_cbSrcExt->setCurrentIndex(m_src.nExtIndex);
    UpdateSrcExt();
    FillDstExtCombo(false);

    InitListColumns();

    m_src.RefillFolderCombo(true);
    m_dst.RefillFolderCombo(true);

    UpdateConvertButton();

    UpdateAuthorLine();

    m_pProgressDlg = new CProgressDlg(this);
    m_pPreview = new ConversionPreview(m_src, m_dst, this);
    m_pPreview->SetAutomatic(m_nMode == 0);

    m_cbSrcExt->setFocus();
    return true;
}

void CConverterDlg::done(int nResult)
{
    // A run is finished, not torn down under the drawing program's feet.
    if (m_bRunning)
        return;
    DestroyWindow();
    TemplateDialog::done(nResult);
}

void CConverterDlg::DestroyWindow()
{
    if (m_bDestroyed || !m_bInitialized)
        return;
    m_bDestroyed = true;
    SaveSettings();
    delete m_pProgressDlg;
    m_pProgressDlg = nullptr;
}

void CConverterDlg::ActivateFromRequest(const QString &strActivationToken)
{
    // On Wayland the compositor grants focus only with the token the second start received.
    if (!strActivationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", strActivationToken.toUtf8());
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    if (QWindow *window = windowHandle())
        window->requestActivate();
    qunsetenv("XDG_ACTIVATION_TOKEN");
}

void CConverterDlg::paintEvent(QPaintEvent *event)
{
    TemplateDialog::paintEvent(event);
    if (!m_tbLaunch || !m_tbAuthor)
        return;
    QPainter painter(this);
    const QColor shadow = palette().color(QPalette::Dark);
    const QColor highlight = palette().color(QPalette::Light);
    // Each frame encloses the strip above a folder combo: label, right-hand text and toolbar.
    const std::pair<QToolBar *, QWidget *> strips[]
        = {{m_tbLaunch, m_cbSrcFolder}, {m_tbAuthor, m_cbDstFolder}};
    for (const auto &[toolbar, combo] : strips) {
        QRect rc = toolbar->geometry().adjusted(-1, -1, 1, 1);
        rc.setLeft(combo->geometry().left());
        Draw3dRect(painter, rc, shadow, highlight);
    }
}

void CConverterDlg::contextMenuEvent(QContextMenuEvent *event)
{
    const QString strAbout = LoadString(101);
    if (strAbout.isEmpty())
        return;
    QMenu menu(this);
    menu.addSeparator();
    QAction *about = menu.addAction(strAbout);
    about->setObjectName(QString::number(kAboutCommand));
    connect(about, &QAction::triggered, this, [this] { OnSysCommand(kAboutCommand); });
    QAction *report = menu.addAction(LoadString(330));
    report->setObjectName(QString::number(kRunReportCommand));
    connect(report, &QAction::triggered, this, [this] { OnSysCommand(kRunReportCommand); });
    menu.exec(event->globalPos());
}

void CConverterDlg::OnSysCommand(int nId)
{
    if ((nId & 0xFFF0) == kAboutCommand) {
        CAboutDlg dlgAbout(this);
        dlgAbout.exec();
    } else if ((nId & 0xFFF0) == kRunReportCommand) {
        OnRunReport();
    }
}

bool CConverterDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (PreTranslateMessage(watched, event))
        return true;
    return TemplateDialog::eventFilter(watched, event);
}
