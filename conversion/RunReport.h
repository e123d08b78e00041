#pragma once

#include "res/Resource.h"

#include <QDateTime>
#include <QFile>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

// What a conversion run did with each source it considered, written as a tab-separated file
// while the run goes, one line per source, so that a crash of Norvale or of the drawing server
// loses at most the line being written. One file per run in RunsFolder(); the newest kReportsKept
// are kept. Columns: time, outcome, source path, target path, message. A tab, a line break or a
// backslash inside a field is written as \t, \n or \\.
class RunReport
{
public:
    enum class Outcome { Failed, NotAttempted, Skipped, Converted, UpToDate };
    static constexpr int kOutcomes = 5;
    static constexpr int kReportsKept = 100;

    struct Row
    {
        QDateTime time;
        Outcome outcome = Outcome::NotAttempted;
        QString strSource;
        QString strTarget;
        QString strMessage;
    };

    RunReport();
    ~RunReport();
    RunReport(const RunReport &) = delete;
    RunReport &operator=(const RunReport &) = delete;

    // $XDG_STATE_HOME/Norvale/runs
    static QString RunsFolder();
    // The newest report of RunsFolder(), empty when there is none.
    static QString LastReportPath();

    // Starts the report of a run over aSources (full paths, in the order the run takes them):
    // a new file in RunsFolder() and, when strExtraPath is given, the same lines there too. The
    // oldest reports beyond kReportsKept are removed. False when no file could be opened; the
    // run goes on all the same and the counts still work.
    bool Begin(const QStringList &aSources, const QString &strExtraPath = QString());
    // Records a source once; later records of the same source are ignored.
    void Add(Outcome outcome, const QString &strSource, const QString &strTarget = QString(),
             const QString &strMessage = QString());
    // The file the run is busy with, so that a failure can be recorded against it.
    void SetCurrent(const QString &strSource, const QString &strTarget);
    void AddFailure(const QString &strMessage);
    // Records every source not yet recorded as not attempted and closes the files.
    void Finish();

    // Called with every row as it is recorded (the command line prints them).
    std::function<void(const Row &row)> onRow;

    int Count(Outcome outcome) const { return m_anCounts[int(outcome)]; }
    QString Path() const { return m_strPath; }

    // A file of the report that could not be opened or written in full, with the system's
    // reason; a failing file is listed once, at its first failure.
    struct Problem
    {
        QString strPath;
        QString strReason;
    };
    const QList<Problem> &Problems() const { return m_aProblems; }

    // The machine-readable word of an outcome in the file ("converted", "up-to-date", ...).
    static QString Keyword(Outcome outcome);
    static bool ParseKeyword(const QString &strWord, Outcome *pOutcome);
    // Reads a report; rows that cannot be parsed (a line cut short by a crash) are left out.
    static bool Read(const QString &strPath, QList<Row> *pRows);

private:
    void WriteLine(const Row &row);
    void Write(QFile &file, const QByteArray &bytes);
    void AddProblem(const QString &strPath, const QString &strReason);

    std::vector<std::unique_ptr<QFile>> m_aFiles;
    QString m_strPath;
    QStringList m_aSources;
    QSet<QString> m_setRecorded;
    QString m_strCurrentSource;
    QString m_strCurrentTarget;
    int m_anCounts[kOutcomes] = {};
    bool m_bFinished = false;
    QList<Problem> m_aProblems;
};

// Why a source was passed over, as the report and the report window say it. SameTarget holds
// %1, the name of the drawing that has the target.
enum class RunReportReason {
    NoTargetName = IDS_REASON_NO_TARGET_NAME,
    Declined = IDS_REASON_DECLINED,
    Vanished = IDS_REASON_VANISHED,
    SameTarget = IDS_REASON_SAME_TARGET
};
QString RunReportText(RunReportReason reason);
