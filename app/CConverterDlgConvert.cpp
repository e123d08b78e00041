#include "app/CConverterDlg.h"

#include "controls/MessageBox.h"
#include "conversion/COverwriteDlg.h"
#include "conversion/CProgressDlg.h"
#include "conversion/CTarskDocument.h"
#include "conversion/RunReport.h"
#include "panes/FileListModel.h"
#include "platform/FileNames.h"
#include "res/Strings.h"

#include <QElapsedTimer>
#include <QFile>
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

QString DisplayPath(const QByteArray &path)
{
    const qsizetype nSlash = path.lastIndexOf('/');
    return QString::fromUtf8(path.left(nSlash + 1))
        + Platform::DisplayFileName(path.mid(nSlash + 1));
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
    return NeedsConversion(QFile::encodeName(strTargetPath), nSourceTime);
}

bool CConverterDlg::NeedsConversion(const QByteArray &targetPath, qint64 nSourceTime)
{
    if (!Platform::RawFileExists(targetPath))
        return true;
    const std::optional<qint64> nTargetTime = Platform::RawLastWriteTime(targetPath);
    return !nTargetTime || nSourceTime > *nTargetTime;
}

QByteArray CConverterDlg::MakeRawTargetName(const QByteArray &sourceName,
                                            const QString &strExtLower)
{
    const qsizetype nDot = sourceName.indexOf('.');
    return nDot <= 0 ? QByteArray() : sourceName.left(nDot + 1) + strExtLower.toUtf8();
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

void CConverterDlg::ConvertFile(CTarskDocument &doc, RunState &run, const QByteArray &sourcePath,
                                const QByteArray &targetPath)
{
    // D-Bus strings carry only UTF-8: a path that is not is handed over as one that is and
    // leads to the same file, and put back in place afterwards.
    const Platform::Utf8PathBridge source(sourcePath, Platform::Utf8PathBridge::Use::Read);
    Platform::Utf8PathBridge target(targetPath, Platform::Utf8PathBridge::Use::Write);
    if (source.Path().isEmpty() || target.Path().isEmpty())
        throw CAutomationError(
            QStringLiteral("ファイル名を描画プログラムに渡せませんでした。\n%1")
                .arg(DisplayPath(source.Path().isEmpty() ? sourcePath : targetPath)));
    run.report.SetCurrent(DisplayPath(sourcePath), DisplayPath(targetPath));
    m_pProgressDlg->Step(run.nStep++);
    doc.Open(source.Path());
    if (m_nCadVersion >= 600) {
        if (m_bCadAuthorMode) {
            doc.SetAuthorName(m_strCadUserName);
            doc.SetAffiliation(m_strAffiliation);
        } else {
            doc.SetAuthorName(m_strAuthorName);
        }
    }
    m_pProgressDlg->Step(run.nStep++);
    doc.SaveAs(target.Path());
    if (!target.Commit())
        throw CAutomationError(QStringLiteral("変換したファイルに名前を付けられませんでした。\n%1")
                                   .arg(DisplayPath(targetPath)));
    run.bConverted = true;
    run.report.Add(RunReport::Outcome::Converted, DisplayPath(sourcePath), DisplayPath(targetPath));
}

void CConverterDlg::EndRun(CTarskDocument &doc, RunState &run, bool bQuit)
{
    m_pProgressDlg->Finish();
    run.report.Finish();
    if (run.bConverted)
        m_dst.FillFileList();
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
    const int nCount = m_src.Model()->rowCount();
    if (AfxMessageBox(LoadString(306).replace(QLatin1String("%d"), QString::number(nCount)),
                      QMessageBox::Yes | QMessageBox::No, QMessageBox::Question, QMessageBox::Yes,
                      this)
        != QMessageBox::Yes) {
        doc.ReleaseDispatch();
        return;
    }

    RunState run;
    run.strExtLower = m_dst.strExt.toLower();
    const int n = m_src.Model()->rowCount();
    SetRunning(true);
    QStringList aSources;
    for (int i = 0; i < n; ++i)
        aSources << SourcePath(m_src.Model()->Row(i).strName);
    BeginReport(run.report, run.timer, aSources);
    m_pProgressDlg->Begin(m_src.strFolder, m_dst.strFolder, 2 * n);
    try {
        for (int i = 0; i < n; ++i) {
            BringProgressToFront();
            if (m_pProgressDlg->CheckCancel())
                break;
            const FileRow row = m_src.Model()->Row(i); // a copy: events run during the calls
            const QByteArray targetName = MakeRawTargetName(row.RawName(), run.strExtLower);
            if (targetName.isEmpty()) {
                run.report.Add(RunReport::Outcome::Skipped, SourcePath(row.strName), QString(),
                               RunReportText(RunReportReason::NoTargetName));
                continue;
            }
            const QByteArray sourcePath = Platform::JoinRawPath(m_src.strFolder, row.RawName());
            const std::optional<qint64> nSourceTime = Platform::RawLastWriteTime(sourcePath);
            if (!nSourceTime) {
                run.report.Add(RunReport::Outcome::Skipped, SourcePath(row.strName), QString(),
                               RunReportText(RunReportReason::Vanished));
                continue; // vanished since the listing
            }
            const QByteArray targetPath = Platform::JoinRawPath(m_dst.strFolder, targetName);
            if (NeedsConversion(targetPath, *nSourceTime)) {
                m_pProgressDlg->SetFileNames(row.strName, Platform::DisplayFileName(targetName));
                ConvertFile(doc, run, sourcePath, targetPath);
            } else {
                run.report.Add(RunReport::Outcome::UpToDate, SourcePath(row.strName),
                               DisplayPath(targetPath));
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
    const QList<int> rows = m_src.SelectedRows();
    SetRunning(true);
    QStringList aSources;
    for (const int nRow : std::as_const(rows))
        aSources << SourcePath(m_src.Model()->Row(nRow).strName);
    BeginReport(run.report, run.timer, aSources);
    m_pProgressDlg->Begin(m_src.strFolder, m_dst.strFolder, 2 * int(rows.size()));
    try {
        for (const int nRow : std::as_const(rows)) {
            BringProgressToFront();
            if (m_pProgressDlg->CheckCancel())
                break;
            const FileRow row = m_src.Model()->Row(nRow);
            const QByteArray targetName = MakeRawTargetName(row.RawName(), run.strExtLower);
            if (targetName.isEmpty()) {
                run.report.Add(RunReport::Outcome::Skipped, SourcePath(row.strName), QString(),
                               RunReportText(RunReportReason::NoTargetName));
                continue;
            }
            const QByteArray targetPath = Platform::JoinRawPath(m_dst.strFolder, targetName);
            m_pProgressDlg->SetFileNames(row.strName, Platform::DisplayFileName(targetName));
            if (bAsk && Platform::RawFileExists(targetPath)) {
                dlgOverwrite.m_strFileName = DisplayPath(targetPath);
                const bool bOk = dlgOverwrite.DoModal() == COverwriteDlg::IDOK;
                if (bOk && dlgOverwrite.m_bAltChoice)
                    bAsk = false; // overwrite all
                else if (!bOk && dlgOverwrite.m_bAltChoice) {
                    run.report.Add(RunReport::Outcome::Skipped, SourcePath(row.strName),
                                   DisplayPath(targetPath),
                                   RunReportText(RunReportReason::Declined));
                    continue; // no: the next one
                } else if (!bOk)
                    break; // cancel
            }
            ConvertFile(doc, run, Platform::JoinRawPath(m_src.strFolder, row.RawName()),
                        targetPath);
        }
    } catch (const CAutomationError &error) {
        FailRun(doc, run, error);
        return;
    }
    EndRun(doc, run, true);
}
