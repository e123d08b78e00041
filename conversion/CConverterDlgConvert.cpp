#include "app/CConverterDlg.h"

#include "app/MessageBox.h"
#include "conversion/COverwriteDlg.h"
#include "conversion/CProgressDlg.h"
#include "conversion/CTarskDocument.h"
#include "conversion/RunReport.h"
#include "panes/FileListModel.h"
#include "panes/Paths.h"
#include "res/Strings.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTreeView>

#include <algorithm>
#include <optional>

struct CConverterDlg::RunState
{
    QString strExtLower;
    int nStep = 0;
    bool bConverted = false;
    RunReport report;
    QElapsedTimer timer;
};

namespace {

// The existence test of the run: a file that is not a folder.
bool FileExists(const QString &strPath)
{
    const QFileInfo info(strPath);
    return info.exists() && !info.isDir();
}

// Last change in whole seconds, or nothing when the file cannot be read (it vanished). Every
// value is a time: drawings from before 1970 have negative ones.
std::optional<qint64> LastWriteTime(const QString &strPath)
{
    const QFileInfo info(strPath);
    if (!info.exists())
        return std::nullopt;
    return info.lastModified().toSecsSinceEpoch();
}

bool ConnectToServer(CTarskDocument &doc, QWidget *pOwner)
{
    if (doc.CreateDispatch())
        return true;
    AfxMessageBox(LoadString(305), QMessageBox::Ok, QMessageBox::Warning, QMessageBox::NoButton,
                  pOwner);
    return false;
}

} // namespace

QString CConverterDlg::MakeTargetName(const QString &strSourceName, const QString &strExtLower)
{
    const qsizetype dot = strSourceName.indexOf(QLatin1Char('.'));
    if (dot <= 0)
        return QString();
    return strSourceName.left(dot + 1) + strExtLower;
}

bool CConverterDlg::NeedsConversion(const QString &strTargetPath, qint64 nSourceTime)
{
    if (!FileExists(strTargetPath))
        return true;
    const std::optional<qint64> nTargetTime = LastWriteTime(strTargetPath);
    return !nTargetTime || nSourceTime > *nTargetTime;
}

void CConverterDlg::SetRunning(bool bRunning)
{
    m_bRunning = bRunning;
    setEnabled(!bRunning);
    if (!m_pProgressDlg)
        return;
    if (bRunning) {
        m_pProgressDlg->show();
        m_pProgressDlg->repaint();
    } else {
        m_pProgressDlg->hide();
    }
}

void CConverterDlg::BringProgressToFront()
{
    // Asked before every file; a window that is already in front is left alone rather than
    // sending the window manager a thousand requests a second.
    if (m_pProgressDlg->isActiveWindow())
        return;
    m_pProgressDlg->raise();
    m_pProgressDlg->activateWindow();
}

void CConverterDlg::OnConvert()
{
    // F5 reaches here whatever the button shows. Without a target format the run would hand
    // the drawing program names ending in a bare "."; and a run is never entered twice.
    if (m_bRunning || m_dst.strExt.isEmpty())
        return;
    if (m_nMode == 0)
        ConvertAuto();
    else
        ConvertManual();
}

void CConverterDlg::ConvertFile(CTarskDocument &doc, RunState &run, const QString &strSourcePath,
                                const QString &strTargetPath)
{
    run.report.SetCurrent(strSourcePath, strTargetPath);
    m_pProgressDlg->Step(run.nStep++);
    doc.Open(strSourcePath);
    if (m_nCadVersion >= 600) {
        if (m_bCadAuthorMode) {
            doc.SetAuthorName(m_strCadUserName);
            doc.SetAffiliation(m_strAffiliation);
        } else {
            doc.SetAuthorName(m_strAuthorName);
        }
    }
    m_pProgressDlg->Step(run.nStep++);
    doc.SaveAs(strTargetPath);
    run.bConverted = true;
    run.report.Add(RunReport::Outcome::Converted, strSourcePath, strTargetPath);
}

void CConverterDlg::EndRun(CTarskDocument &doc, RunState &run, bool bQuit)
{
    m_pProgressDlg->Finish();
    run.report.Finish();
    if (run.bConverted)
        FillFileList(m_dst.strFolder, m_dst.strExt, 2);
    if (bQuit) {
        try {
            doc.Quit();
        } catch (const CAutomationError &) {
            // Everything is saved by now; a server that cannot quit changes nothing for the user.
        }
    }
    doc.ReleaseDispatch();
    SetRunning(false);
    OnRunEnded(run.report, run.timer.elapsed());
}

void CConverterDlg::FailRun(CTarskDocument &doc, RunState &run, const CAutomationError &error)
{
    // The window comes back and what was saved is listed; a server that just failed is not
    // told to quit, since the bus would only start a new one to hear it.
    run.report.AddFailure(error.Description());
    EndRun(doc, run, false);
    AfxMessageBox(error.Description(), QMessageBox::Ok, QMessageBox::Critical,
                  QMessageBox::NoButton, this);
}

void CConverterDlg::ConvertAuto()
{
    CTarskDocument doc;
    if (!ConnectToServer(doc, this))
        return;
    const int nCount = ListModel(1)->rowCount();
    if (AfxMessageBox(LoadString(306).replace(QLatin1String("%d"), QString::number(nCount)),
                      QMessageBox::Yes | QMessageBox::No, QMessageBox::Question, QMessageBox::Yes,
                      this)
        != QMessageBox::Yes) {
        doc.ReleaseDispatch();
        return;
    }

    RunState run;
    run.strExtLower = m_dst.strExt.toLower();
    const int n = ListModel(1)->rowCount();
    SetRunning(true);
    QStringList aSources;
    for (int i = 0; i < n; ++i)
        aSources << SourcePath(ListModel(1)->Row(i).strName);
    BeginReport(run.report, run.timer, aSources);
    m_pProgressDlg->Begin(m_src.strFolder, m_dst.strFolder, 2 * n);
    try {
        for (int i = 0; i < n; ++i) {
            BringProgressToFront();
            if (m_pProgressDlg->CheckCancel())
                break;
            const QString strName = ListModel(1)->Row(i).strName;
            const QString strTargetName = MakeTargetName(strName, run.strExtLower);
            if (strTargetName.isEmpty()) {
                run.report.Add(RunReport::Outcome::Skipped, SourcePath(strName), QString(),
                               RunReportText(RunReportReason::NoTargetName));
                continue;
            }
            QString strSourcePath = m_src.strFolder;
            JoinPath(strSourcePath, strName);
            const std::optional<qint64> nSourceTime = LastWriteTime(strSourcePath);
            if (!nSourceTime) {
                run.report.Add(RunReport::Outcome::Skipped, strSourcePath, QString(),
                               RunReportText(RunReportReason::Vanished));
                continue; // vanished since the listing
            }
            QString strTargetPath = m_dst.strFolder;
            JoinPath(strTargetPath, strTargetName);
            if (NeedsConversion(strTargetPath, *nSourceTime)) {
                m_pProgressDlg->SetFileNames(strName, strTargetName);
                ConvertFile(doc, run, strSourcePath, strTargetPath);
            } else {
                run.report.Add(RunReport::Outcome::UpToDate, strSourcePath, strTargetPath);
            }
        }
    } catch (const CAutomationError &error) {
        FailRun(doc, run, error);
        return;
    }
    EndRun(doc, run, true);
}

void CConverterDlg::ConvertManual()
{
    COverwriteDlg dlgOverwrite(this);
    CTarskDocument doc;
    if (!ConnectToServer(doc, this))
        return;

    RunState run;
    bool bAsk = true;
    run.strExtLower = m_dst.strExt.toLower();
    QList<int> rows;
    for (const QModelIndex &index : m_lcSrcFiles->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    SetRunning(true);
    QStringList aSources;
    for (const int nRow : std::as_const(rows))
        aSources << SourcePath(ListModel(1)->Row(nRow).strName);
    BeginReport(run.report, run.timer, aSources);
    m_pProgressDlg->Begin(m_src.strFolder, m_dst.strFolder, 2 * int(rows.size()));
    try {
        for (const int nRow : std::as_const(rows)) {
            BringProgressToFront();
            if (m_pProgressDlg->CheckCancel())
                break;
            const QString strName = ListModel(1)->Row(nRow).strName;
            const QString strTargetName = MakeTargetName(strName, run.strExtLower);
            if (strTargetName.isEmpty()) {
                run.report.Add(RunReport::Outcome::Skipped, SourcePath(strName), QString(),
                               RunReportText(RunReportReason::NoTargetName));
                continue;
            }
            QString strTargetPath = m_dst.strFolder;
            JoinPath(strTargetPath, strTargetName);
            m_pProgressDlg->SetFileNames(strName, strTargetName);
            if (bAsk && FileExists(strTargetPath)) {
                dlgOverwrite.m_strFileName = strTargetPath;
                const bool bOk = dlgOverwrite.DoModal() == COverwriteDlg::IDOK;
                if (bOk && dlgOverwrite.m_bAltChoice)
                    bAsk = false; // overwrite all
                else if (!bOk && dlgOverwrite.m_bAltChoice) {
                    run.report.Add(RunReport::Outcome::Skipped, SourcePath(strName), strTargetPath,
                                   RunReportText(RunReportReason::Declined));
                    continue; // no: the next one
                } else if (!bOk)
                    break; // cancel
            }
            QString strSourcePath = m_src.strFolder;
            JoinPath(strSourcePath, strName);
            ConvertFile(doc, run, strSourcePath, strTargetPath);
        }
    } catch (const CAutomationError &error) {
        FailRun(doc, run, error);
        return;
    }
    EndRun(doc, run, true);
}
