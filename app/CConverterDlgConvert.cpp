#include "app/CConverterDlg.h"

#include "app/CPreviewDlg.h"
#include "controls/MessageBox.h"
#include "conversion/COverwriteDlg.h"
#include "conversion/CProgressDlg.h"
#include "conversion/CTarskDocument.h"
#include "conversion/ConversionEngine.h"
#include "conversion/RunReport.h"
#include "panes/FileListModel.h"
#include "res/Strings.h"

#include <QElapsedTimer>
#include <QFile>

#include <optional>

namespace {

bool ConnectToServer(CTarskDocument &doc, QWidget *pOwner)
{
    if (doc.CreateDispatch())
        return true;
    AfxMessageBox(LoadString(IDS_SERVER_UNAVAILABLE), QMessageBox::Ok, QMessageBox::Warning,
                  QMessageBox::NoButton, pOwner);
    return false;
}

// The window's side of a run: the progress window between and during the drawings, and in
// manual mode the overwrite prompt, one object for the whole run.
class WindowRunHost final : public ConversionEngine::Host
{
public:
    WindowRunHost(CConverterDlg &dlg, COverwriteDlg *pPrompt)
        : m_dlg(dlg)
        , m_pPrompt(pPrompt)
    { }

    bool CancelRequested() override
    {
        m_dlg.BringProgressToFront();
        return m_dlg.m_pProgressDlg->CheckCancel();
    }
    void ShowFiles(const QString &strSource, const QString &strTarget) override
    {
        m_dlg.m_pProgressDlg->SetFileNames(strSource, strTarget);
    }
    void Step(int n) override { m_dlg.m_pProgressDlg->Step(n); }
    ConversionEngine::Answer AskOverwrite(const QString &strTarget) override
    {
        using Answer = ConversionEngine::Answer;
        m_pPrompt->m_strFileName = strTarget;
        const bool bOk = m_pPrompt->DoModal() == COverwriteDlg::IDOK;
        if (m_pPrompt->m_bAltChoice)
            return bOk ? Answer::YesToAll : Answer::No;
        return bOk ? Answer::Yes : Answer::Cancel;
    }
    void Ended(bool bConverted) override
    {
        m_dlg.m_pProgressDlg->Finish();
        if (bConverted)
            m_dlg.m_dst.FillFileList();
    }

private:
    CConverterDlg &m_dlg;
    COverwriteDlg *m_pPrompt;
};

} // namespace

void CConverterDlg::SetRunning(bool bRunning)
{
    m_bRunning = bRunning;
    setEnabled(!bRunning);
    // The drawing program is the run's until it ends; the preview waits with what it shows.
    if (m_pPreviewDlg)
        m_pPreviewDlg->SetHeld(bRunning);
    // The run lists the target folder at its end; listing it for every saved drawing would only
    // slow the run down.
    m_src.HoldFollowing(bRunning);
    m_dst.HoldFollowing(bRunning);
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

void CConverterDlg::ConvertAuto()
{
    CTarskDocument doc;
    if (!ConnectToServer(doc, this))
        return;
    const int nCount = m_src.Model()->rowCount();
    if (AfxMessageBox(LoadString(IDS_AUTO_CONVERT_QUESTION)
                          .replace(QLatin1String("%d"), QString::number(nCount)),
                      QMessageBox::Yes | QMessageBox::No, QMessageBox::Question, QMessageBox::Yes,
                      this)
        != QMessageBox::Yes) {
        doc.ReleaseDispatch();
        return;
    }
    QList<int> aRows;
    for (int i = 0; i < m_src.Model()->rowCount(); ++i)
        aRows << i;
    RunConversion(doc, aRows, nullptr);
}

void CConverterDlg::ConvertManual()
{
    COverwriteDlg dlgOverwrite(this);
    CTarskDocument doc;
    if (!ConnectToServer(doc, this))
        return;
    RunConversion(doc, m_src.SelectedRows(), &dlgOverwrite);
}

void CConverterDlg::RunConversion(CTarskDocument &doc, const QList<int> &aRows,
                                  COverwriteDlg *pPrompt)
{
    ConversionEngine engine;
    engine.baSrcFolder = QFile::encodeName(m_src.strFolder);
    engine.baDstFolder = QFile::encodeName(m_dst.strFolder);
    engine.strDstExt = m_dst.strExt;
    engine.overwrite
        = pPrompt ? ConversionEngine::Overwrite::Ask : ConversionEngine::Overwrite::IfOlder;
    engine.nVersion = m_nCadVersion;
    engine.strAuthorName = m_bCadAuthorMode ? m_strCadUserName : m_strAuthorName;
    engine.bAffiliation = m_bCadAuthorMode;
    engine.strAffiliation = m_strAffiliation;
    std::vector<ConversionEngine::Source> aSources;
    aSources.reserve(size_t(aRows.size()));
    for (const int nRow : aRows) {
        const FileRow &row = m_src.Model()->Row(nRow);
        aSources.push_back({row.RawName(), row.strName});
    }

    SetRunning(true);
    QElapsedTimer timer;
    timer.start();
    m_pProgressDlg->Begin(m_src.strFolder, m_dst.strFolder, 2 * int(aSources.size()));
    WindowRunHost host(*this, pPrompt);
    RunReport report;
    const ConversionEngine::Result result = engine.Run(doc, aSources, report, host);
    // The window comes back, and what was saved is listed, also after a failure.
    doc.ReleaseDispatch();
    SetRunning(false);
    OnRunEnded(report, timer.elapsed(), result.failure);
}
