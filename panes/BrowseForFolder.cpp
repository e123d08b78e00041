#include "panes/BrowseForFolder.h"

#include "platform/Desktop.h"

int BrowseForFolder(QWidget *pOwner, const QString &strInitialFolder, QString &strFolder)
{
    const std::optional<QString> chosen = Desktop::Current().ChooseFolder(
        pOwner, QStringLiteral("フォルダを選択してください"), strInitialFolder);
    if (!chosen)
        return 2;
    strFolder = *chosen;
    return 1;
}
