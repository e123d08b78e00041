#include "app/CConverterDlg.h"

#include "conversion/CRunReportDlg.h"
#include "conversion/RunNotice.h"
#include "conversion/RunReport.h"
#include "panes/Paths.h"

#include <QElapsedTimer>

QString CConverterDlg::SourcePath(const QString &strName) const
{
    QString strPath = m_src.strFolder;
    JoinPath(strPath, strName);
    return strPath;
}

void CConverterDlg::BeginReport(RunReport &report, QElapsedTimer &timer,
                                const QStringList &aSources)
{
    timer.start();
    // A report that cannot be written never stops a conversion the user asked for.
    report.Begin(aSources);
}

void CConverterDlg::OnRunEnded(const RunReport &report, qint64 nElapsedMs)
{
    if (RunNotice::IsDue(nElapsedMs))
        RunNotice::Send(report.Count(RunReport::Outcome::Converted),
                        report.Count(RunReport::Outcome::Failed));
}

void CConverterDlg::OnRunReport()
{
    CRunReportDlg dlgReport(RunReport::LastReportPath(), this);
    dlgReport.exec();
}
