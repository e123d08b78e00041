#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class FileListModel;
class FileListView;
class FolderWatcher;
class QComboBox;
class QLabel;
class QPoint;
class QPushButton;
class QWidget;

enum class Side { Source, Target };

// One side of the main window: its state, its controls and file list, and everything done to that
// side alone: listing, counts, sorting, folder history and choice, browsing, a typed folder,
// opening, the list menu, delete, select all and refresh. The pane does not listen to its
// controls: the window's handlers do, and ask the pane of their side for the work. What joins the
// two sides (the same folder, Convert, the run) is the window's; the pane tells it what happened
// through its signals.
class Pane : public QObject
{
    Q_OBJECT

public:
    // The controls of one side that the pane works, made by the window's template (the format
    // combo and icon are the window's: a change of format concerns both sides).
    struct Controls
    {
        QComboBox *pFolderCombo;
        QPushButton *pBrowseButton;
        FileListView *pList;
        QLabel *pFileCount;
        QLabel *pSelectedCount;
    };

    // strDesktopDir and strDocumentsDir are the window's, read when a folder is shown or the
    // history is empty; pWindow owns the menus, questions and the folder chooser.
    Pane(Side side, QWidget *pWindow, const QString &strDesktopDir, const QString &strDocumentsDir);

    // Takes the side's controls and gives the list its model.
    void Attach(const Controls &controls);

    Side GetSide() const { return m_side; }
    const Controls &GetControls() const { return m_controls; }
    FileListModel *Model() const { return m_pModel; }
    // Selected rows of the list, lowest first.
    QList<int> SelectedRows() const;

    int nExtIndex = 0; // selected item of the side's extension combo; -1 none
    QString strExt; // extension of that item, three letters without dot
    QString strFolder; // the side's current folder, always aHistory[0]
    QStringList aHistory; // folder history, most recent first, 1 to 10 entries
    int nSortColumn = 0; // 0 name, 1 size, 2 modified
    int anSortDir[3] = {1, 0, 0}; // per column: 1 ascending, 0 descending
    // The column widths the settings give, as at the window's designed size; 0: as designed.
    int anColumnWidth[3] = {0, 0, 0};

    // Lists the files of strListFolder with extension strListExt; strListFolder is rewritten to
    // the form the system reports.
    void FillFileList(QString &strListFolder, const QString &strListExt);
    void FillFileList() { FillFileList(strFolder, strExt); }
    void UpdateFileCount();
    void UpdateSelectedCount();
    // Sorts by nColumn in the direction anSortDir gives it; the other columns' flags are cleared.
    void SortFileList(int nColumn);
    // For a click on a column header: that column, in the other direction than it had.
    void SortByHeader(int nColumn);
    // Sorting by name, ascending, as a start shows the lists.
    void ResetSort();

    // Takes strPath into the history and shows it; a folder that does not exist is refused.
    void SetFolder(QString strPath);
    // Rebuilds the folder combo from the history (the documents folder when it is empty), and
    // lists the current folder when bList.
    void RefillFolderCombo(bool bList);
    // Chooses the history entry selected in the combo, unless it is the current folder.
    void ChooseHistoryEntry();
    // Chooses a folder in the folder chooser, starting at the current one.
    void Browse();
    // Puts the current folder back into the combo's field, discarding what was typed.
    void ShowCurrentFolder();
    // Whether the user may move this side to another folder.
    void EnableFolderChoice(bool bEnable);

    void OpenFirstSelected();
    // The list's menu at ptPos (in the list's viewport); a chosen item comes back as commandChosen.
    void ShowListMenu(const QPoint &ptPos);
    // Moves the files to the trash after one question; false when the user declined.
    bool DeleteFiles(const QList<QByteArray> &aPaths);
    void DeleteSelected();
    void SelectAll();
    void Refresh();
    // While held, the list does not follow the disk; released, it catches up.
    void HoldFollowing(bool bHold);

signals:
    // The user chose strPath as this side's folder (from the list, the chooser or typed in).
    void folderChosen(const QString &strPath);
    // The selection changed, by mouse or keyboard.
    void selectionChanged();
    // The list holds a new listing.
    void listed();
    // The user chose command nId in the list's menu; the window runs it as any other command.
    void commandChosen(int nId);

private:
    // Lists the folder again after a change on disk, keeping the selection (by name), the current
    // row and the scrolled position.
    void FollowDisk();

    const Side m_side;
    QWidget *const m_pWindow;
    const QString &m_strDesktopDir;
    const QString &m_strDocumentsDir;
    Controls m_controls {};
    FileListModel *m_pModel = nullptr;
    FolderWatcher *m_pWatcher = nullptr;
};
