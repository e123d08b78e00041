#pragma once

#include <QString>
#include <QStringList>

// The state of one side of the main window; held twice, for the source and the target.
struct Pane
{
    int nExtIndex = 0; // selected item of the side's extension combo; -1 none
    QString strExt; // extension of that item, three letters without dot
    QString strFolder; // the side's current folder, always aHistory[0]
    QStringList aHistory; // folder history, most recent first, 1 to 10 entries
    int nSortColumn = 0; // 0 name, 1 size, 2 modified
    int anSortDir[3] = {1, 0, 0}; // per column: 1 ascending, 0 descending
};
