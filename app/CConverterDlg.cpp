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
constexpr int kTemplateWidth = 385;
constexpr int kTemplateHeight = 345;
// Where the toolbar column between the panes and the target pane begin, in dialog units.
constexpr int kMiddleColumnStart = 183;
constexpr int kTargetPaneStart = 203;
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
    : TemplateDialog(IDD_CONVERTER, parent)
{
    m_hIcon = LoadIcon(IDR_MAINFRAME);
    setWindowTitle(LoadString(IDS_CAPTION));
    // A main window the user may make larger and maximise, so that long file names can be read;
    // no minimise and no help button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint
                   | Qt::WindowCloseButtonHint);
    SetMinimumTemplateSize(kTemplateWidth, kTemplateHeight);
    // The two panes share the extra width; the toolbar column between them keeps its own.
    SetBands({{0, 1}, {kMiddleColumnStart, 0}, {kTargetPaneStart, 1}});
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

FileListView *CConverterDlg::AddFileList(int nId, int x, int y, int cx, int cy)
{
    auto *list = new FileListView;
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
    m_cbSrcExt = AddCombo(IDC_SRC_EXT, false, 30, 15, 40, 70);
    QLabel *srcFolderLabel = AddStatic(0, QStringLiteral("ﾌｫﾙﾀﾞ(&F):"), left, 8, 40, 28, 8);
    m_cbSrcFolder = AddCombo(IDC_SRC_FOLDER, true, 5, 55, 158, 105);
    auto *browseSrc
        = AddControl(new QPushButton(QStringLiteral("...")), IDC_BROWSE_SRC, 167, 55, 13, 14);
    m_lcSrcFiles = AddFileList(IDC_SRC_LIST, 5, 75, 175, 240);
    QLabel *dstExtLabel = AddStatic(0, QStringLiteral("変換拡張子(&K):"), left, 230, 5, 45, 8);
    m_cbDstExt = AddCombo(IDC_DST_EXT, false, 230, 15, 40, 103);
    QLabel *dstFolderLabel = AddStatic(0, QStringLiteral("変換ﾌｫﾙﾀﾞ(&L):"), left, 208, 40, 41, 8);
    m_cbDstFolder = AddCombo(IDC_DST_FOLDER, true, 205, 55, 158, 105);
    auto *browseDst
        = AddControl(new QPushButton(QStringLiteral("...")), IDC_BROWSE_DST, 367, 55, 13, 14);
    m_lcDstFiles = AddFileList(IDC_DST_LIST, 205, 75, 175, 240);
    for (const char *pszExt : g_aszSrcExt)
        m_cbSrcExt->addItem(QString::fromLatin1(pszExt));
    m_btnSrcIcon = AddControl(new CIconButton, IDC_SRC_ICON, 5, 7, 20, 20);
    m_btnDstIcon = AddControl(new CIconButton, IDC_DST_ICON, 205, 7, 20, 20);
    QLabel *srcSelected = AddStatic(IDC_SRC_SELECTED, QString(), right, 5, 318, 87, 11);
    QLabel *srcCount = AddStatic(IDC_SRC_COUNT, QString(), right, 93, 318, 87, 11);
    AddPlaceholder(IDC_MODE_BAR_FRAME, 185, 313, 15, 15);
    QLabel *dstSelected = AddStatic(IDC_DST_SELECTED, QString(), right, 205, 318, 87, 11);
    QLabel *dstCount = AddStatic(IDC_DST_COUNT, QString(), right, 293, 318, 87, 11);
    AddStatic(IDC_STATUS, QString(), left, 5, 332, 375, 11);
    AddPlaceholder(IDC_SAME_FOLDER_BAR_FRAME, 186, 35, 13, 13);
    AddPlaceholder(IDC_CONVERT_BAR_FRAME, 185, 170, 15, 15);
    AddStatic(IDC_CAD_VERSION, QString(), right, 120, 40, 43, 8);
    AddPlaceholder(IDC_LAUNCH_BAR_FRAME, 166, 35, 13, 15);
    AddPlaceholder(IDC_AUTHOR_BAR_FRAME, 366, 35, 13, 15);
    AddStatic(IDC_SRC_FORMAT, QString(), left, 80, 19, 100, 8);
    AddStatic(IDC_DST_FORMAT, QString(), left, 280, 19, 100, 8);
    AddStatic(IDC_AUTHOR_LINE, QString(), right, 255, 40, 94, 8);

    // In a larger window the lists take the extra room, the folder boxes and format names the
    // extra width; what stands at a box's right end stays there, and the lines under the lists
    // stay under them.
    for (const int nId : {IDC_SRC_FOLDER, IDC_DST_FOLDER, IDC_SRC_FORMAT, IDC_DST_FORMAT})
        SetAnchor(nId, 0, 1, 0, 0);
    for (const int nId : {IDC_BROWSE_SRC, IDC_BROWSE_DST, IDC_CAD_VERSION, IDC_AUTHOR_LINE,
                          IDC_LAUNCH_BAR_FRAME, IDC_AUTHOR_BAR_FRAME})
        SetAnchor(nId, 1, 1, 0, 0);
    SetAnchor(IDC_SRC_LIST, 0, 1, 0, 1);
    SetAnchor(IDC_DST_LIST, 0, 1, 0, 1);
    SetAnchor(IDC_SRC_SELECTED, 0, 0.5, 1, 1);
    SetAnchor(IDC_SRC_COUNT, 0.5, 1, 1, 1);
    SetAnchor(IDC_DST_SELECTED, 0, 0.5, 1, 1);
    SetAnchor(IDC_DST_COUNT, 0.5, 1, 1, 1);
    SetAnchor(IDC_STATUS, 0, 1, 1, 1);
    SetAnchor(IDC_MODE_BAR_FRAME, 0, 0, 1, 1);
    // Convert stays level with the middle of the lists.
    SetAnchor(IDC_CONVERT_BAR_FRAME, 0, 0, 0.5, 0.5);

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
    const std::pair<int, const char *> statics[] = {{IDC_SRC_SELECTED, "選択ﾌｧｲﾙ数"},
                                                    {IDC_SRC_COUNT, "ﾌｧｲﾙ数"},
                                                    {IDC_DST_SELECTED, "変換先の選択ﾌｧｲﾙ数"},
                                                    {IDC_DST_COUNT, "変換先のﾌｧｲﾙ数"},
                                                    {IDC_STATUS, "変換ﾓｰﾄﾞ"},
                                                    {IDC_CAD_VERSION, "Tarsk のﾊﾞｰｼﾞｮﾝ"},
                                                    {IDC_SRC_FORMAT, "変換元の形式"},
                                                    {IDC_DST_FORMAT, "変換先の形式"},
                                                    {IDC_AUTHOR_LINE, "作成者"}};
    for (const auto &[nId, pszName] : statics)
        GetDlgItem(nId)->setAccessibleDescription(QString::fromUtf8(pszName));

    ApplyTabOrder();

    m_src.Attach({m_cbSrcFolder, browseSrc, m_lcSrcFiles, srcCount, srcSelected});
    m_dst.Attach({m_cbDstFolder, browseDst, m_lcDstFiles, dstCount, dstSelected});
}

void CConverterDlg::ConnectMessageMap()
{
    // Each command and each notification of a control is given its handler here, in the order of
    // the window's map. A command is run by OnCommand, whether it comes from a toolbar button, a
    // list menu, a key or a posted command; IDOK and IDCANCEL end the run.
    const auto command = [this](int nId, Handler handler) {
        m_mapCommands.insert(nId, handler);
    };
    const auto button = [this](int nId) {
        return qobject_cast<QPushButton *>(GetDlgItem(nId));
    };

    command(ID_SAME_FOLDER, &CConverterDlg::OnSameFolder);
    command(ID_CONVERT, &CConverterDlg::OnConvert);
    command(ID_CREATE_FOLDER, &CConverterDlg::OnCreateFolder);
    connect(m_cbSrcFolder, &QComboBox::activated, this, &CConverterDlg::OnSelchangeSrcFolder);
    connect(button(IDC_BROWSE_SRC), &QPushButton::clicked, this, &CConverterDlg::OnBrowseSrcFolder);
    connect(m_cbDstFolder, &QComboBox::activated, this, &CConverterDlg::OnSelchangeDstFolder);
    connect(button(IDC_BROWSE_DST), &QPushButton::clicked, this, &CConverterDlg::OnBrowseDstFolder);
    command(ID_LAUNCH_PROGRAM, &CConverterDlg::OnLaunchProgram);
    connect(m_lcSrcFiles->header(), &QHeaderView::sectionClicked, this,
            &CConverterDlg::OnColumnclickSrcList);
    connect(m_lcDstFiles->header(), &QHeaderView::sectionClicked, this,
            &CConverterDlg::OnColumnclickDstList);
    command(ID_AUTO_MODE, &CConverterDlg::OnAutoMode);
    command(ID_MANUAL_MODE, &CConverterDlg::OnManualMode);
    connect(m_lcSrcFiles, &FileListView::listClicked, this, &CConverterDlg::OnClickSrcList);
    connect(m_lcSrcFiles, &FileListView::listDoubleClicked, this, &CConverterDlg::OnDblclkSrcList);
    connect(m_lcSrcFiles, &QWidget::customContextMenuRequested, this,
            &CConverterDlg::OnRclickSrcList);
    command(ID_DELETE_SRC_FILES, &CConverterDlg::OnDeleteSrcFiles);
    command(ID_SELECT_ALL_SRC, &CConverterDlg::OnSelectAllSrc);
    command(ID_REFRESH_SRC, &CConverterDlg::OnRefreshSrc);
    connect(m_lcDstFiles, &FileListView::listDoubleClicked, this, &CConverterDlg::OnDblclkDstList);
    connect(m_lcDstFiles, &QWidget::customContextMenuRequested, this,
            &CConverterDlg::OnRclickDstList);
    command(ID_DELETE_DST_FILES, &CConverterDlg::OnDeleteDstFiles);
    command(ID_SELECT_ALL_DST, &CConverterDlg::OnSelectAllDst);
    command(ID_REFRESH_DST, &CConverterDlg::OnRefreshDst);
    command(ID_PREVIEW_SRC, &CConverterDlg::OnPreviewSrc);
    command(ID_PREVIEW_DST, &CConverterDlg::OnPreviewDst);
    // A combo has no signal for losing the focus: the key filter (PreTranslateMessage) sees it
    // and calls OnKillfocusSrcFolder or OnKillfocusDstFolder.
    connect(m_cbSrcFolder->lineEdit(), &QLineEdit::textEdited, this,
            &CConverterDlg::OnEditchangeSrcFolder);
    connect(m_cbDstFolder->lineEdit(), &QLineEdit::textEdited, this,
            &CConverterDlg::OnEditchangeDstFolder);
    connect(m_lcDstFiles, &FileListView::listClicked, this, &CConverterDlg::OnClickDstList);
    command(ID_AUTHOR_NAME, &CConverterDlg::OnAuthorName);
    connect(m_cbSrcExt, &QComboBox::activated, this, &CConverterDlg::OnSelendokSrcExt);
    connect(m_cbDstExt, &QComboBox::activated, this, &CConverterDlg::OnSelendokDstExt);
    command(ID_HELP, &CConverterDlg::OnHelp);

    // Enter in a folder combo's field, seen by the key filter.
    connect(this, &CConverterDlg::typedFolderEntered, this, &CConverterDlg::OnTypedFolder);
    // What each side reports of itself.
    ConnectPane(m_src);
    ConnectPane(m_dst);
}

void CConverterDlg::OnCommand(int nId)
{
    switch (nId) {
    case IDOK:
        accept();
        break;
    case IDCANCEL:
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

    m_hIconBlank = LoadIcon(IDI_NO_FORMAT);

    m_strDesktopDir = GetSpecialFolderPath(CSIDL_DESKTOP);
    m_strMyDocumentsDir = GetSpecialFolderPath(CSIDL_PERSONAL);

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

    RestoreWindowSize();

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
    KeepWindowSize();
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
    const QString strAbout = LoadString(IDS_ABOUTBOX);
    if (strAbout.isEmpty())
        return;
    QMenu menu(this);
    menu.addSeparator();
    QAction *about = menu.addAction(strAbout);
    about->setObjectName(QString::number(IDM_ABOUTBOX));
    connect(about, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
    QAction *report = menu.addAction(LoadString(IDS_RUN_REPORT_MENU));
    report->setObjectName(QString::number(IDM_RUN_REPORT));
    connect(report, &QAction::triggered, this, [this] { OnSysCommand(IDM_RUN_REPORT); });
    menu.exec(event->globalPos());
}

void CConverterDlg::OnSysCommand(int nId)
{
    if ((nId & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout(this);
        dlgAbout.exec();
    } else if ((nId & 0xFFF0) == IDM_RUN_REPORT) {
        OnRunReport();
    }
}

bool CConverterDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (PreTranslateMessage(watched, event))
        return true;
    return TemplateDialog::eventFilter(watched, event);
}
