#include "app/CConverterDlg.h"

#include "conversion/CTarskDocument.h"
#include "platform/DesktopEntry.h"

#include <QtGlobal>

void CConverterDlg::Probe()
{
    CTarskDocument doc;
    // A hung or stopped program must not keep the window from appearing; the next run waits as
    // long as a conversion needs.
    doc.SetTimeout(CTarskDocument::kProbeTimeoutMs);
    if (!doc.CreateDispatch())
        return;
    // A failing call leaves every value that was read completely in place and nothing
    // half-written: each member is assigned only after its call returned. A program that
    // answered its version is there and the launch button and author line should know it;
    // the next run meets the failure again and reports it. The user is not asked to read a
    // box at start-up, as when no program can be reached at all; only the log tells. Quit is not
    // sent after a failure: a server that vanished would be started again by the bus only to be
    // told to quit.
    try {
        m_nCadVersion = doc.GetVersion();
        if (m_nCadVersion >= 520) {
            SetDlgItemText(IDC_CAD_VERSION, QString::asprintf("Tarsk%.2f", m_nCadVersion * 0.01));
            m_strCadExePath = GetExecutablePath();
            if (m_nCadVersion >= 600) {
                m_strCadUserName = doc.GetAuthorName();
                m_strAffiliation = doc.GetAffiliation();
            }
        }
        doc.Quit();
    } catch (const CAutomationError &error) {
        qWarning("The drawing program failed during start-up: %s", error.what());
    }
    doc.ReleaseDispatch();
}

QString CConverterDlg::GetExecutablePath() const
{
    return Platform::ExecutableFromCommand(Platform::DesktopEntryCommand(
        QString::fromUtf16(CTarskDocument::kProgId) + QStringLiteral(".desktop")));
}

void CConverterDlg::OnLaunchProgram()
{
    // Whether anything started is of no interest: an empty path starts nothing, silently.
    Platform::StartCommandLine(m_strCadExePath);
}
