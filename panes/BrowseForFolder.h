#pragma once

#include <QString>

#include <functional>

class QWidget;

// Shows the folder chooser over pOwner, starting at strInitialFolder. Returns 1 with the chosen
// folder in strFolder, or 2 when the user cancelled (strFolder is then left alone).
int BrowseForFolder(QWidget *pOwner, const QString &strInitialFolder, QString &strFolder);

// When set, BrowseForFolder asks this instead of opening the chooser, so that tests can answer
// it without a modal dialog.
extern std::function<int(QWidget *, const QString &, QString &)> g_browseForFolderHook;
