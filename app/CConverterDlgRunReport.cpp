#include "app/CConverterDlg.h"

#include "controls/MessageBox.h"
#include "conversion/CRunReportDlg.h"
#include "conversion/RunNotice.h"
#include "conversion/RunReport.h"
#include "res/Strings.h"

#include <QAbstractButton>

void CConverterDlg::OnRunEnded(const RunReport &report, qint64 nElapsedMs,
                               const std::optional<QString> &failure)
{
    using Outcome = RunReport::Outcome;
    if (RunNotice::IsDue(nElapsedMs))
        RunNotice::Send(report.Count(Outcome::Converted), report.Count(Outcome::Failed));
    if (!failure && report.Count(Outcome::Failed) == 0 && report.Count(Outcome::Skipped) == 0)
        return;

    // One message says what went wrong and what the run did: the drawing program's own words for
    // a failure, or that drawings were passed over, then the counts, with the run's report one
    // click away.
    QString strCounts = LoadString(IDS_RUN_REPORT_COUNTS);
    for (const Outcome outcome : {Outcome::Converted, Outcome::UpToDate, Outcome::Skipped,
                                  Outcome::Failed, Outcome::NotAttempted})
        strCounts = strCounts.arg(report.Count(outcome));
    QMessageBox box(failure ? QMessageBox::Critical : QMessageBox::Warning, QString(),
                    failure ? *failure : LoadString(IDS_RUN_SUMMARY_SKIPPED),
                    QMessageBox::Open | QMessageBox::Ok, this);
    box.setInformativeText(strCounts);
    box.button(QMessageBox::Open)->setText(LoadString(IDS_RUN_SUMMARY_REPORT));
    box.setDefaultButton(QMessageBox::Ok);
    if (AfxMessageBox(box) == QMessageBox::Open) {
        CRunReportDlg dlgReport(report.Path(), this);
        dlgReport.exec();
    }
}

void CConverterDlg::OnRunReport()
{
    CRunReportDlg dlgReport(RunReport::LastReportPath(), this);
    dlgReport.exec();
}
