#pragma once

#include "conversion/RunReport.h"
#include "res/Resource.h"

#include <QDialog>

class QLabel;
class QTreeWidget;

// The report of one run: the counts of each outcome on top, then one row per source, failures
// first, each with its reason.
class CRunReportDlg : public QDialog
{
    Q_OBJECT

public:
    enum { IDD = IDD_RUN_REPORT };

    // Reads the report at strPath; an empty or unreadable path shows that there is none.
    explicit CRunReportDlg(const QString &strPath, QWidget *parent = nullptr);

    QLabel *m_stCounts = nullptr;
    QTreeWidget *m_lcFiles = nullptr;
};
