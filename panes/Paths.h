#pragma once

#include <QString>

// Appends "/" to strPath unless it already ends with one, then strName.
void JoinPath(QString &strPath, const QString &strName);

// True when strPath names an existing directory (symbolic links followed, as stat does).
bool IsExistingFolder(const QString &strPath);

// strPath as the folder combos show it: the documents folder as "ﾏｲ ﾄﾞｷｭﾒﾝﾄ", else the desktop as
// "ﾃﾞｽｸﾄｯﾌﾟ", wherever their paths occur in it.
QString FolderDisplayName(const QString &strPath, const QString &strDesktopDir,
                          const QString &strDocumentsDir);
