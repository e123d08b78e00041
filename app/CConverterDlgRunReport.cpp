#include "app/CConverterDlg.h"

#include "conversion/CRunReportDlg.h"
#include "conversion/RunNotice.h"
#include "conversion/RunReport.h"

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
