#include "panes/BrowseForFolder.h"

#include <QFileDialog>

std::function<int(QWidget *, const QString &, QString &)> g_browseForFolderHook;

int BrowseForFolder(QWidget *pOwner, const QString &strInitialFolder, QString &strFolder)
{
    if (g_browseForFolderHook)
        return g_browseForFolderHook(pOwner, strInitialFolder, strFolder);
    const QString strChosen = QFileDialog::getExistingDirectory(
        pOwner, QStringLiteral("フォルダを選択してください"), strInitialFolder);
    // The chooser answers a cancel with an empty path; no folder has an empty path.
    if (strChosen.isEmpty())
        return 2;
    strFolder = strChosen;
    return 1;
}
