#pragma once

#include "controls/TemplateDialog.h"
#include "panes/FileListView.h"
#include "panes/Pane.h"
#include "res/Resource.h"

#include <QHash>
#include <QIcon>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

class CIconButton;
class CPreviewDlg;
class CProgressDlg;
class ConversionPreview;
class COverwriteDlg;
class CTarskDocument;
class IniProfile;
class RunReport;
class QAction;
class QComboBox;
class QKeyEvent;
class QLabel;
class QToolBar;
class QTreeView;
class QUrl;

// The main window: two panes (source left, target right), five small toolbars and a status
// line. It owns all run-time state of the program. Each side is a Pane; the window holds what
// joins them (the same folder, the formats, Convert, the run, the author line). Its operations
// are spread over the CConverterDlg*.cpp files by subject.
class CConverterDlg : public TemplateDialog
{
    Q_OBJECT

public:
    explicit CConverterDlg(QWidget *parent = nullptr);
    ~CConverterDlg() override;

    // Runs OnInitDialog once; then the window may be shown.
    void Create();
    // Create() and the run of the window; returns when one of the closing commands ended it.
    int DoModal();

    // Ends the modal run: saves the settings first, then releases what the window owns.
    void done(int nResult) override;

    // Brings the window forward at the request of a second start.
    void ActivateFromRequest(const QString &strActivationToken);

    // Runs the handler of a command, as a toolbar button, a menu item or a key does.
    void OnCommand(int nId);
    // Queues OnCommand(nId): the handler runs whatever the state of its button.
    void PostCommand(int nId);

    QAction *CommandAction(int nId) const;

    // Run-time state; each side's own is in its Pane.
    QString m_strAppDir;
    QString m_strIniPath;
    QIcon m_hIcon;
    QIcon m_hIconBlank;
    QString m_strDesktopDir;
    QString m_strMyDocumentsDir;
    int m_nCadVersion = 0;
    QString m_strCadExePath;
    unsigned m_nEditFolderId = 0;
    bool m_bSameFolder = false;
    int m_nMode = 1;
    // The window's size when not maximised (empty: the designed size) and whether it is.
    QSize m_sizeWindow;
    bool m_bMaximized = false;
    Pane m_src {Side::Source, this, m_strDesktopDir, m_strMyDocumentsDir};
    Pane m_dst {Side::Target, this, m_strDesktopDir, m_strMyDocumentsDir};
    QString m_strLogonName;
    QString m_strAuthorName;
    QString m_strCadUserName;
    bool m_bCadAuthorMode = false;
    QString m_strAffiliation;

    // Controls, in the order the window binds them.
    QComboBox *m_cbDstFolder = nullptr;
    QComboBox *m_cbSrcFolder = nullptr;
    FileListView *m_lcDstFiles = nullptr;
    FileListView *m_lcSrcFiles = nullptr;
    QComboBox *m_cbDstExt = nullptr;
    QComboBox *m_cbSrcExt = nullptr;
    CIconButton *m_btnSrcIcon = nullptr;
    CIconButton *m_btnDstIcon = nullptr;

    QToolBar *m_tbLaunch = nullptr;
    QToolBar *m_tbAuthor = nullptr;
    QToolBar *m_tbSameFolder = nullptr;
    QToolBar *m_tbConvert = nullptr;
    QToolBar *m_tbMode = nullptr;

    // Settings file (CConverterDlgSettings.cpp)
    void LoadSettings();
    void SaveSettings();
    // Gives the window the size the settings keep; then it may be shown.
    void RestoreWindowSize();
    // Takes the window's size and the column widths into the state SaveSettings writes.
    void KeepWindowSize();

    // Toolbars, keys and help (CConverterDlgToolbars.cpp)
    void CreateToolBars();
    void PlaceToolBar(QToolBar *pBar, int nPlaceholderId, int nAlign);
    void CheckToolButton(int nCommandId, bool bChecked);
    void EnableToolButton(int nCommandId, bool bEnabled);
    bool PreTranslateMessage(QObject *pTarget, QEvent *pEvent);
    void OnHelp();

    // Formats and extension choice (CConverterDlgFormats.cpp)
    QIcon GetExtIcon(const QString &strExt) const;
    void UpdateSrcExt();
    void UpdateDstExt();
    void FillDstExtCombo(bool bReset);
    void OnSelendokSrcExt();
    void OnSelendokDstExt();

    // Modes and status line (CConverterDlgModes.cpp)
    void ShowMode();
    void OnAutoMode();
    void OnManualMode();
    void UpdateConvertButton();

    // The two panes (CConverterDlgPanes.cpp). The handlers of one side forward to its Pane.
    void InitListColumns();
    // The lists' column space at the designed size: the column widths are kept as they are there.
    int m_nTemplateColumnSpace = 0;
    // Lists strFolder (the pane's own field, rewritten to the form the system reports) into the
    // list of side nSide: 1 the source, anything else the target.
    void FillFileList(QString &strFolder, QString strExt, int nSide);
    void OnColumnclickSrcList(int nColumn);
    void OnColumnclickDstList(int nColumn);
    void OnClickSrcList();
    void OnClickDstList();
    void OnDblclkSrcList();
    void OnDblclkDstList();
    void OnRclickSrcList(const QPoint &ptPos);
    void OnRclickDstList(const QPoint &ptPos);
    void OnDeleteSrcFiles();
    void OnDeleteDstFiles();
    void OnSelectAllSrc();
    void OnSelectAllDst();
    void OnRefreshSrc();
    void OnRefreshDst();
    // The shell's numbers of the two special folders the window shows under short names.
    enum { CSIDL_DESKTOP = 0, CSIDL_PERSONAL = 5 };
    QString GetSpecialFolderPath(int nFolder) const;
    QString FolderDisplayName(const QString &strPath) const;
    void SetSrcFolder(QString strPath);
    void SetDstFolder(QString strPath);
    void OnSelchangeSrcFolder();
    void OnSelchangeDstFolder();
    void OnBrowseSrcFolder();
    void OnBrowseDstFolder();
    void OnEditchangeSrcFolder();
    void OnKillfocusSrcFolder();
    void OnEditchangeDstFolder();
    void OnKillfocusDstFolder();
    void OnSameFolder();
    void ApplySameFolder(bool bFollow);
    void OnCreateFolder();
    // Chooses a folder typed into a folder combo and confirmed with Enter.
    void OnTypedFolder(int nComboId, const QString &strFolder);

    // Conversion run (CConverterDlgConvert.cpp)
    void OnConvert();
    void ConvertAuto();
    void ConvertManual();
    void SetRunning(bool bRunning);
    void BringProgressToFront();
    CProgressDlg *m_pProgressDlg = nullptr;
    bool m_bRunning = false;

    // Run report and end-of-run notice (CConverterDlgRunReport.cpp)
    // The notice of a long run, and when a drawing failed or was passed over, one message with
    // failure (the first failure's message), the counts and the way to the run's report.
    void OnRunEnded(const RunReport &report, qint64 nElapsedMs,
                    const std::optional<QString> &failure);
    // Shows the last run's report (context menu).
    void OnRunReport();
    // Marks the drawings an automatic run would convert (ConversionPreview.cpp).
    ConversionPreview *m_pPreview = nullptr;

    // The preview window beside this one (CConverterDlgPreview.cpp): Space or a list menu's
    // entry opens it, and it follows the selection of the list it was opened from.
    void OnPreviewSrc();
    void OnPreviewDst();
    void OpenPreview(Pane &pane);
    void OnPreviewSelection(Pane &pane);
    // Space in a list opens or closes the preview, Esc closes it; true when the key is used.
    bool PreviewKey(QWidget *pWidget, const QKeyEvent &key);
    void PlacePreview();
    void LoadPreviewSettings(const IniProfile &profile);
    void SavePreviewSettings(IniProfile &profile);
    CPreviewDlg *m_pPreviewDlg = nullptr;
    Pane *m_pPreviewPane = nullptr; // the side the preview follows
    QRect m_rcPreview; // its place, from the settings until it is shown

    // Author data (CConverterDlgAuthor.cpp)
    void UpdateAuthorLine();
    void OnAuthorName();

    // Drawing program (CConverterDlgAutomation.cpp)
    void Probe();
    QString GetExecutablePath() const;
    void OnLaunchProgram();

    void OnSysCommand(int nId);

signals:
    // Enter was pressed in folder combo nComboId (IDC_SRC_FOLDER or IDC_DST_FOLDER) after its
    // text was edited.
    void typedFolderEntered(int nComboId, const QString &strFolder);
    // A command's handler has run (by button, key or posted command).
    void commandRun(int nId);

protected:
    bool OnInitDialog();
    void DestroyWindow();
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateControls();
    // Converts the source rows aRows (list indexes) with doc, connected; asks pPrompt about
    // existing targets, or without it converts those that are older (automatic mode).
    void RunConversion(CTarskDocument &doc, const QList<int> &aRows, COverwriteDlg *pPrompt);
    // What the window does when a side reports a change.
    void ConnectPane(Pane &pane);
    // Moves pane to the folder the user chose (by value: it may be an entry of the history that
    // this rearranges), and the target with the source while they are the same folder.
    void ChooseFolder(Pane &pane, const QString strPath);
    void ConnectMessageMap();
    QLabel *AddStatic(int nId, const QString &strText, Qt::Alignment align, int x, int y, int cx,
                      int cy);
    QComboBox *AddCombo(int nId, bool bEditable, int x, int y, int cx, int cy);
    FileListView *AddFileList(int nId, int x, int y, int cx, int cy);
    void AddPlaceholder(int nId, int x, int y, int cx, int cy);

    using Handler = void (CConverterDlg::*)();
    QHash<int, Handler> m_mapCommands;
    QHash<int, QAction *> m_mapActions;
    bool m_bInitialized = false;
    bool m_bDestroyed = false;
};
