#include "conversion/CRunReportDlg.h"

#include "controls/TemplateDialog.h"
#include "res/Strings.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

CRunReportDlg::CRunReportDlg(const QString &strPath, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QString::number(IDD));
    setWindowTitle(LoadString(IDS_RUN_REPORT_TITLE));
    setFont(TemplateDialog::DialogFont());

    m_stCounts = new QLabel(this);
    m_stCounts->setObjectName(QString::number(IDC_REPORT_COUNTS));
    m_lcFiles = new QTreeWidget(this);
    m_lcFiles->setObjectName(QString::number(IDC_REPORT_FILES));
    m_lcFiles->setRootIsDecorated(false);
    m_lcFiles->setHeaderLabels(
        {LoadString(IDS_RUN_REPORT_OUTCOME), LoadString(IDS_RUN_REPORT_SOURCE),
         LoadString(IDS_RUN_REPORT_TARGET), LoadString(IDS_RUN_REPORT_REASON)});
    m_lcFiles->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_lcFiles->header()->setStretchLastSection(true);
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *close = buttons->addButton(LoadString(IDS_CLOSE), QDialogButtonBox::RejectRole);
    close->setObjectName(QString::number(TemplateDialog::IDCANCEL));
    close->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_stCounts);
    layout->addWidget(m_lcFiles, 1);
    layout->addWidget(buttons);
    resize(640, 360);

    QList<RunReport::Row> aRows;
    if (strPath.isEmpty() || !RunReport::Read(strPath, &aRows)) {
        m_stCounts->setText(LoadString(IDS_RUN_REPORT_EMPTY));
        return;
    }
    int anCounts[RunReport::kOutcomes] = {};
    for (const RunReport::Row &row : std::as_const(aRows))
        ++anCounts[int(row.outcome)];
    QString strCounts = LoadString(IDS_RUN_REPORT_COUNTS);
    for (const RunReport::Outcome outcome :
         {RunReport::Outcome::Converted, RunReport::Outcome::UpToDate, RunReport::Outcome::Skipped,
          RunReport::Outcome::Failed, RunReport::Outcome::NotAttempted})
        strCounts = strCounts.arg(anCounts[int(outcome)]);
    m_stCounts->setText(strCounts);

    // Failures first, then what was left undone; within each outcome the order of the run.
    std::stable_sort(aRows.begin(), aRows.end(),
                     [](const RunReport::Row &a, const RunReport::Row &b) {
                         return int(a.outcome) < int(b.outcome);
                     });
    for (const RunReport::Row &row : std::as_const(aRows)) {
        auto *item = new QTreeWidgetItem(m_lcFiles);
        // The outcomes' words follow each other in the order of RunReport::Outcome.
        item->setText(0, LoadString(IDS_OUTCOME_FAILED + int(row.outcome)));
        item->setText(1, QFileInfo(row.strSource).fileName());
        item->setText(2, QFileInfo(row.strTarget).fileName());
        item->setText(3, row.strMessage);
        item->setToolTip(1, row.strSource);
        item->setToolTip(2, row.strTarget);
        item->setToolTip(3, row.strMessage);
        if (row.outcome == RunReport::Outcome::Failed)
            item->setForeground(0, QBrush(Qt::red));
    }
}
