#include "app/CConverterDlg.h"

#include "app/MessageBox.h"
#include "panes/FileListModel.h"
#include "panes/Paths.h"
#include "platform/Desktop.h"
#include "platform/FileNames.h"
#include "platform/Trash.h"

#include <QFileInfo>
#include <QMenu>
#include <QTreeView>
#include <QUrl>

#include <algorithm>

namespace {

// Selected rows of a list, lowest first.
QList<int> SelectedRows(const QTreeView *list)
{
    QList<int> rows;
    if (const QItemSelectionModel *selection = list->selectionModel()) {
        for (const QModelIndex &index : selection->selectedRows())
            rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

} // namespace

void CConverterDlg::OpenFirstSelected(int nSide)
{
    const QList<int> rows = SelectedRows(ListOf(nSide));
    if (!rows.isEmpty()) {
        const FileRow &row = ListModel(nSide)->Row(rows.first());
        QString strPath = PaneOf(nSide).strFolder;
        JoinPath(strPath, row.strName);
        // The desktop says nothing when it cannot open a file, so the user is told here.
        if (!Desktop::Current().OpenUrl(Platform::RawFileUrl(
                Platform::JoinRawPath(PaneOf(nSide).strFolder, row.RawName()))))
            AfxMessageBox(QStringLiteral("ファイルを開けませんでした。\n%1").arg(strPath),
                          QMessageBox::Ok, QMessageBox::Warning, QMessageBox::NoButton, this);
    }
    UpdateSelectedCount(nSide);
}

void CConverterDlg::OnDblclkSrcList()
{
    OpenFirstSelected(1);
}

void CConverterDlg::OnDblclkDstList()
{
    OpenFirstSelected(2);
}

void CConverterDlg::ShowListMenu(int nSide, const QPoint &ptPos)
{
    const QTreeView *list = ListOf(nSide);
    const bool bSource = nSide == 1;
    const bool bSelected = !SelectedRows(list).isEmpty();
    QMenu menu(this);
    menu.setObjectName(QString::number(bSource ? 137 : 138));
    const auto add = [&](int nId, const char *pszText, void (CConverterDlg::*handler)()) {
        QAction *action = menu.addAction(QString::fromUtf8(pszText));
        action->setObjectName(QString::number(nId));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    add(bSource ? 1026 : 1029, "ファイルを削除(&D)",
        bSource ? &CConverterDlg::OnDeleteSrcFiles : &CConverterDlg::OnDeleteDstFiles)
        ->setEnabled(bSelected);
    menu.addSeparator();
    add(bSource ? 1027 : 1030, "すべて選択(&A)",
        bSource ? &CConverterDlg::OnSelectAllSrc : &CConverterDlg::OnSelectAllDst)
        ->setEnabled(bSelected || ListModel(nSide)->rowCount() > 0);
    menu.addSeparator();
    add(bSource ? 1028 : 1031, "最新の情報に更新(&R)",
        bSource ? &CConverterDlg::OnRefreshSrc : &CConverterDlg::OnRefreshDst);
    menu.exec(list->viewport()->mapToGlobal(ptPos));
}

void CConverterDlg::OnRclickSrcList(const QPoint &ptPos)
{
    ShowListMenu(1, ptPos);
}

void CConverterDlg::OnRclickDstList(const QPoint &ptPos)
{
    ShowListMenu(2, ptPos);
}

bool CConverterDlg::DeleteFiles(const QList<QByteArray> &aPaths)
{
    const QString strQuestion = aPaths.size() == 1
        ? QStringLiteral("'%1' をごみ箱に移動しますか？")
              .arg(Platform::DisplayFileName(
                  aPaths.first().mid(aPaths.first().lastIndexOf('/') + 1)))
        : QStringLiteral("これらの %1 個のファイルをごみ箱に移動しますか？").arg(aPaths.size());
    if (AfxMessageBox(strQuestion, QMessageBox::Yes | QMessageBox::No, QMessageBox::Question,
                      QMessageBox::No, this)
        != QMessageBox::Yes)
        return false;

    const std::vector<Platform::TrashFailure> failures = Platform::MoveToTrash(aPaths);
    if (!failures.empty()) {
        QString strText = QStringLiteral("次のファイルをごみ箱に移動できませんでした。\n");
        for (const Platform::TrashFailure &failure : failures)
            strText += QStringLiteral("\n%1\n    %2").arg(failure.strPath, failure.strReason);
        AfxMessageBox(strText, QMessageBox::Ok, QMessageBox::Warning, QMessageBox::NoButton, this);
    }
    return true;
}

void CConverterDlg::DeleteSelected(int nSide)
{
    Pane &pane = PaneOf(nSide);
    // A list of paths, not one separated text: a name may hold any byte but "/". The bytes
    // are the folder's own, so that a name that is not UTF-8 never sends a look-alike to the
    // trash.
    QList<QByteArray> aPaths;
    for (const int nRow : SelectedRows(ListOf(nSide)))
        aPaths.append(Platform::JoinRawPath(pane.strFolder, ListModel(nSide)->Row(nRow).RawName()));
    if (!aPaths.isEmpty()) {
        DeleteFiles(aPaths);
        FillFileList(pane.strFolder, pane.strExt, nSide);
    }
    if (nSide == 1)
        UpdateConvertButton();
}

void CConverterDlg::OnDeleteSrcFiles()
{
    DeleteSelected(1);
}

void CConverterDlg::OnDeleteDstFiles()
{
    DeleteSelected(2);
}

void CConverterDlg::SelectAll(int nSide)
{
    ListOf(nSide)->selectAll();
    if (nSide == 1)
        UpdateConvertButton();
    UpdateSelectedCount(nSide);
}

void CConverterDlg::OnSelectAllSrc()
{
    SelectAll(1);
}

void CConverterDlg::OnSelectAllDst()
{
    SelectAll(2);
}

void CConverterDlg::Refresh(int nSide)
{
    Pane &pane = PaneOf(nSide);
    FillFileList(pane.strFolder, pane.strExt, nSide);
    if (nSide == 1)
        UpdateConvertButton();
}

void CConverterDlg::OnRefreshSrc()
{
    Refresh(1);
}

void CConverterDlg::OnRefreshDst()
{
    Refresh(2);
}
