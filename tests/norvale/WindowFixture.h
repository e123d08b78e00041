#pragma once

#include "app/CConverterDlg.h"
#include "formats/FormatTable.h"
#include "panes/FileListModel.h"
#include "tests/TestEnvironment.h"

#include <QTreeView>

#include <memory>

// The main window as the tests start it, and what they read from its lists.
namespace WindowFixture {

inline QString configIni()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Norvale/Norvale.ini");
}

// A settings file as a user leaves it: the mode, the source format and folder, the target format
// (empty: none) and folder.
inline QByteArray settings(int nMode, const QString &strSrcExt, const QString &strSrc,
                           const QString &strDstExt, const QString &strDst)
{
    int nSrcExt = 0;
    while (nSrcExt < 6 && QLatin1String(g_aszSrcExt[nSrcExt]) != strSrcExt)
        ++nSrcExt;
    // Stored as its position in the target list built for the source, which leaves it out.
    int nDstExt = strDstExt.isEmpty() ? -1 : 0;
    for (const FormatEntry &format : g_aFormats) {
        const QLatin1String ext(format.szExt);
        if (nDstExt < 0 || ext == strDstExt)
            break;
        nDstExt += format.bTarget && ext != strSrcExt;
    }
    return QStringLiteral("[Common]\nFolder=0\nMode=%1\n[Original]\nExt=%2\nFolder#0=%3\n"
                          "[Convert]\nExt=%4\nFolder#0=%5\n")
        .arg(nMode)
        .arg(nSrcExt)
        .arg(strSrc)
        .arg(nDstExt)
        .arg(strDst)
        .toUtf8();
}

// Starts the window with the settings file ini (none when empty) and a program folder of its own,
// as a start does; shown when bShow.
inline std::unique_ptr<CConverterDlg> open(const QString &strAppDir, const QByteArray &ini = {},
                                           bool bShow = false)
{
    if (ini.isEmpty())
        QFile::remove(configIni());
    else if (!TestEnvironment::writeFile(configIni(), ini))
        return nullptr;
    auto pDlg = std::make_unique<CConverterDlg>();
    pDlg->m_strAppDir = strAppDir;
    pDlg->Create();
    if (bShow) {
        pDlg->show();
        if (!QTest::qWaitForWindowExposed(pDlg.get()))
            return nullptr;
    }
    return pDlg;
}

inline Pane &pane(CConverterDlg &dlg, Side side)
{
    return side == Side::Source ? dlg.m_src : dlg.m_dst;
}

// The names a side lists, in the list's order.
inline QStringList listed(const CConverterDlg &dlg, Side side)
{
    QStringList aNames;
    const FileListModel *pModel = (side == Side::Source ? dlg.m_src : dlg.m_dst).Model();
    for (int i = 0; i < pModel->rowCount(); ++i)
        aNames << pModel->Row(i).strName;
    return aNames;
}

// Selects exactly the rows aRows of a side's list, as a user's clicks would.
inline void select(CConverterDlg &dlg, Side side, const QList<int> &aRows)
{
    const Pane &sidePane = pane(dlg, side);
    QItemSelectionModel *pSelection = sidePane.GetControls().pList->selectionModel();
    pSelection->clearSelection();
    for (const int nRow : aRows)
        pSelection->select(sidePane.Model()->index(nRow, 0),
                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

} // namespace WindowFixture
