#pragma once

#include "app/Pane.h"
#include "app/TemplateDialog.h"

#include <QHash>
#include <QIcon>
#include <QString>

#include <functional>

class CIconButton;
class CProgressDlg;
class ConversionPreview;
class CAutomationError;
class CTarskDocument;
class RunReport;
class FileListModel;
class QAction;
class QComboBox;
class QElapsedTimer;
class QLabel;
class QToolBar;
class QTreeView;
class QUrl;

// The main window: two panes (source left, target right), five small toolbars and a status
// line. It owns all run-time state of the program. Its operations are grouped by subsystem:
// shell and settings here in app/, formats and modes in formats/, listing and folders in
// panes/, the conversion in conversion/.
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

    // --- Shell (app/) ---
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
    Pane m_src;
    Pane m_dst;
    QString m_strLogonName;
    QString m_strAuthorName;
    QString m_strCadUserName;
    bool m_bCadAuthorMode = false;
    QString m_strAffiliation;

    // Controls, in the order the window binds them.
    QComboBox *m_cbDstFolder = nullptr;
    QComboBox *m_cbSrcFolder = nullptr;
    QTreeView *m_lcDstFiles = nullptr;
    QTreeView *m_lcSrcFiles = nullptr;
    QComboBox *m_cbDstExt = nullptr;
    QComboBox *m_cbSrcExt = nullptr;
    CIconButton *m_btnSrcIcon = nullptr;
    CIconButton *m_btnDstIcon = nullptr;

    QToolBar *m_tbLaunch = nullptr;
    QToolBar *m_tbAuthor = nullptr;
    QToolBar *m_tbSameFolder = nullptr;
    QToolBar *m_tbConvert = nullptr;
    QToolBar *m_tbMode = nullptr;

    FileListModel *m_pSrcModel = nullptr;
    FileListModel *m_pDstModel = nullptr;

    // Settings file (app/CConverterDlgSettings.cpp)
    void LoadSettings();
    void SaveSettings();

    // Toolbars, keys and help (app/CConverterDlgToolbars.cpp)
    void CreateToolBars();
    void PlaceToolBar(QToolBar *pBar, int nPlaceholderId, int nAlign);
    void CheckToolButton(int nCommandId, bool bChecked);
    void EnableToolButton(int nCommandId, bool bEnabled);
    bool PreTranslateMessage(QObject *pTarget, QEvent *pEvent);
    void OnEditchangeSrcFolder();
    void OnKillfocusSrcFolder();
    void OnEditchangeDstFolder();
    void OnKillfocusDstFolder();
    void OnHelp();

    // Formats and extension choice (formats/CConverterDlgFormats.cpp)
    QIcon GetExtIcon(const QString &strExt) const;
    void UpdateSrcExt();
    void UpdateDstExt();
    void FillDstExtCombo(bool bReset);
    void OnSelendokSrcExt();
    void OnSelendokDstExt();

    // Modes and status line (formats/CConverterDlgModes.cpp)
    void ShowMode();
    void OnAutoMode();
    void OnManualMode();
    void UpdateConvertButton();

    // Folder listing and sorting (panes/CConverterDlgListing.cpp)
    void InitListColumns();
    // The width column nColumn of pList needs for its widest text and its header with the arrow.
    static int ColumnWidthFor(QTreeView *pList, int nColumn);
    // Lists strFolder (the pane's own field, rewritten to the form the system reports) into the
    // list of side nSide: 1 the source, anything else the target.
    void FillFileList(QString &strFolder, QString strExt, int nSide);
    void UpdateFileCount(int nSide);
    void UpdateSelectedCount(int nSide);
    void SortFileList(int nColumn, int *anSortDir, QTreeView *pList);
    FileListModel *ListModel(int nSide) const;

    // Sorting and selection (panes/CConverterDlgSelection.cpp)
    void OnColumnclickSrcList(int nColumn);
    void OnColumnclickDstList(int nColumn);
    void OnClickSrcList();
    void OnClickDstList();
    // Any change of a list's selection, by mouse or keyboard.
    void OnSelectionChanged(int nSide);

    // List commands (panes/CConverterDlgListCommands.cpp)
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
    // Moves the files to the trash after one question; false when the user declined.
    bool DeleteFiles(const QList<QByteArray> &aPaths);

    // Conversion run (conversion/CConverterDlgConvert.cpp)
    void OnConvert();
    void ConvertAuto();
    void ConvertManual();
    static bool NeedsConversion(const QString &strTargetPath, qint64 nSourceTime);
    // The same for a target named by its bytes, which need not be UTF-8.
    static bool NeedsConversion(const QByteArray &targetPath, qint64 nSourceTime);
    void SetRunning(bool bRunning);
    void BringProgressToFront();
    // The name up to and including its first ".", then strExtLower; empty when the name has
    // no "." or begins with one.
    static QString MakeTargetName(const QString &strSourceName, const QString &strExtLower);
    // The bytes of MakeTargetName: a name that is not UTF-8 keeps its own bytes before the dot.
    static QByteArray MakeRawTargetName(const QByteArray &sourceName, const QString &strExtLower);
    CProgressDlg *m_pProgressDlg = nullptr;
    bool m_bRunning = false;

    // Run report and end-of-run notice (conversion/CConverterDlgRunReport.cpp)
    QString SourcePath(const QString &strName) const;
    void BeginReport(RunReport &report, QElapsedTimer &timer, const QStringList &aSources);
    void OnRunEnded(const RunReport &report, qint64 nElapsedMs);
    // Shows the last run's report (context menu).
    void OnRunReport();
    // Marks the drawings an automatic run would convert (panes/ConversionPreview.cpp).
    ConversionPreview *m_pPreview = nullptr;

    // Author data (conversion/CConverterDlgAuthor.cpp)
    void UpdateAuthorLine();
    void OnAuthorName();

    // Drawing program (conversion/CConverterDlgAutomation.cpp)
    void Probe();
    QString GetExecutablePath() const;
    void OnLaunchProgram();

    // Folder choice and history, new folder (panes/CConverterDlgFolders.cpp)
    QString GetSpecialFolderPath(int nFolder) const;
    QString FolderDisplayName(const QString &strPath) const;
    void SetSrcFolder(QString strPath);
    void SetDstFolder(QString strPath);
    void RefillSrcFolderCombo(bool bList);
    void RefillDstFolderCombo(bool bList);
    void OnSelchangeSrcFolder();
    void OnSelchangeDstFolder();
    void OnBrowseSrcFolder();
    void OnBrowseDstFolder();
    void OnSameFolder();
    void ApplySameFolder(bool bFollow);
    void OnCreateFolder();
    // Chooses a folder typed into a folder combo and confirmed with Enter.
    void OnTypedFolder(int nComboId, const QString &strFolder);

    void OnSysCommand(int nId);

signals:
    // Enter was pressed in folder combo nComboId (1003 or 1007) after its text was edited.
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
    void OpenFirstSelected(int nSide);
    void ShowListMenu(int nSide, const QPoint &ptPos);
    void DeleteSelected(int nSide);
    void SelectAll(int nSide);
    void Refresh(int nSide);
    struct RunState;
    // The paths are bytes as the file system holds them, which need not be UTF-8.
    void ConvertFile(CTarskDocument &doc, RunState &run, const QByteArray &sourcePath,
                     const QByteArray &targetPath);
    void EndRun(CTarskDocument &doc, RunState &run, bool bQuit);
    void FailRun(CTarskDocument &doc, RunState &run, const CAutomationError &error);
    Pane &PaneOf(int nSide) { return nSide == 1 ? m_src : m_dst; }
    QTreeView *ListOf(int nSide) const { return nSide == 1 ? m_lcSrcFiles : m_lcDstFiles; }
    void ConnectMessageMap();
    QLabel *AddStatic(int nId, const QString &strText, Qt::Alignment align, int x, int y, int cx,
                      int cy);
    QComboBox *AddCombo(int nId, bool bEditable, int x, int y, int cx, int cy);
    QTreeView *AddFileList(int nId, int x, int y, int cx, int cy);
    void AddPlaceholder(int nId, int x, int y, int cx, int cy);

    using Handler = void (CConverterDlg::*)();
    QHash<int, Handler> m_mapCommands;
    QHash<int, QAction *> m_mapActions;
    bool m_bInitialized = false;
    bool m_bDestroyed = false;
};
