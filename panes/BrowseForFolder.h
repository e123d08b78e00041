#pragma once

#include <QString>

class QWidget;

// Shows the folder chooser over pOwner, starting at strInitialFolder. Returns 1 with the chosen
// folder in strFolder, or 2 when the user cancelled (strFolder is then left alone).
int BrowseForFolder(QWidget *pOwner, const QString &strInitialFolder, QString &strFolder);
