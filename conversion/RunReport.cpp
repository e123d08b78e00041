#include "conversion/RunReport.h"

#include "platform/StateFolder.h"
#include "res/Strings.h"

#include <QDir>

#include <algorithm>

namespace {

const QString kSuffix = QStringLiteral(".tsv");

QString Escape(const QString &strField)
{
    QString strOut;
    strOut.reserve(strField.size());
    for (const QChar c : strField) {
        if (c == u'\\')
            strOut += QStringLiteral("\\\\");
        else if (c == u'\t')
            strOut += QStringLiteral("\\t");
        else if (c == u'\n')
            strOut += QStringLiteral("\\n");
        else if (c == u'\r')
            strOut += QStringLiteral("\\r");
        else
            strOut += c;
    }
    return strOut;
}

QString Unescape(const QString &strField)
{
    QString strOut;
    strOut.reserve(strField.size());
    for (qsizetype i = 0; i < strField.size(); ++i) {
        const QChar c = strField.at(i);
        if (c != u'\\' || i + 1 == strField.size()) {
            strOut += c;
            continue;
        }
        const QChar next = strField.at(++i);
        strOut += next == u't' ? QChar(u'\t')
            : next == u'n'     ? QChar(u'\n')
            : next == u'r'     ? QChar(u'\r')
                               : next;
    }
    return strOut;
}

// Report names sort by the time their run began.
QStringList ReportNames(const QDir &dir)
{
    return dir.entryList({QStringLiteral("*") + kSuffix}, QDir::Files, QDir::Name);
}

const QByteArray kHeader = "time\toutcome\tsource\ttarget\tmessage\n";

} // namespace

RunReport::RunReport() = default;

RunReport::~RunReport()
{
    Finish();
}

QString RunReport::RunsFolder()
{
    return Platform::StateFolder() + QStringLiteral("/Norvale/runs");
}

QString RunReport::LastReportPath()
{
    const QDir dir(RunsFolder());
    const QStringList aNames = ReportNames(dir);
    return aNames.isEmpty() ? QString() : dir.filePath(aNames.last());
}

bool RunReport::Begin(const QStringList &aSources, const QString &strExtraPath)
{
    m_aSources = aSources;
    const QDir dir(RunsFolder());
    dir.mkpath(QStringLiteral("."));
    const QString strStamp
        = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    // Two runs in the same millisecond (scripts) still get a file each.
    QString strReason;
    for (int n = 0; n < 100 && m_strPath.isEmpty(); ++n) {
        auto file = std::make_unique<QFile>(dir.filePath(
            strStamp + QStringLiteral("-%1").arg(n, 2, 10, QLatin1Char('0')) + kSuffix));
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            m_strPath = file->fileName();
            m_aFiles.push_back(std::move(file));
        } else {
            strReason = file->errorString();
        }
    }
    if (m_strPath.isEmpty())
        AddProblem(dir.path(), strReason);
    if (!strExtraPath.isEmpty()) {
        auto file = std::make_unique<QFile>(strExtraPath);
        if (file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            m_aFiles.push_back(std::move(file));
        else
            AddProblem(strExtraPath, file->errorString());
    }
    for (const auto &file : m_aFiles)
        Write(*file, kHeader);

    QStringList aNames = ReportNames(dir);
    while (aNames.size() > kReportsKept)
        QFile::remove(dir.filePath(aNames.takeFirst()));
    return !m_strPath.isEmpty() && (strExtraPath.isEmpty() || m_aFiles.size() == 2);
}

void RunReport::Add(Outcome outcome, const QString &strSource, const QString &strTarget,
                    const QString &strMessage)
{
    if (m_bFinished || m_setRecorded.contains(strSource))
        return;
    m_setRecorded.insert(strSource);
    ++m_anCounts[int(outcome)];
    const Row row {QDateTime::currentDateTime(), outcome, strSource, strTarget, strMessage};
    WriteLine(row);
    if (onRow)
        onRow(row);
}

void RunReport::SetCurrent(const QString &strSource, const QString &strTarget)
{
    m_strCurrentSource = strSource;
    m_strCurrentTarget = strTarget;
}

void RunReport::AddFailure(const QString &strMessage)
{
    if (!m_strCurrentSource.isEmpty())
        Add(Outcome::Failed, m_strCurrentSource, m_strCurrentTarget, strMessage);
}

void RunReport::Finish()
{
    if (m_bFinished)
        return;
    for (const QString &strSource : std::as_const(m_aSources))
        Add(Outcome::NotAttempted, strSource);
    m_bFinished = true;
    m_aFiles.clear();
}

void RunReport::WriteLine(const Row &row)
{
    // One write per line: whatever happens to the process, the lines before it are complete.
    const QByteArray line = (row.time.toString(Qt::ISODate) + u'\t' + Keyword(row.outcome) + u'\t'
                             + Escape(row.strSource) + u'\t' + Escape(row.strTarget) + u'\t'
                             + Escape(row.strMessage) + u'\n')
                                .toUtf8();
    for (const auto &file : m_aFiles)
        Write(*file, line);
}

void RunReport::Write(QFile &file, const QByteArray &bytes)
{
    if (file.write(bytes) != bytes.size())
        AddProblem(file.fileName(), file.errorString());
}

void RunReport::AddProblem(const QString &strPath, const QString &strReason)
{
    if (std::none_of(m_aProblems.cbegin(), m_aProblems.cend(),
                     [&strPath](const Problem &problem) { return problem.strPath == strPath; }))
        m_aProblems.append({strPath, strReason});
}

QString RunReport::Keyword(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Failed:
        return QStringLiteral("failed");
    case Outcome::NotAttempted:
        return QStringLiteral("not-attempted");
    case Outcome::Skipped:
        return QStringLiteral("skipped");
    case Outcome::Converted:
        return QStringLiteral("converted");
    case Outcome::UpToDate:
        return QStringLiteral("up-to-date");
    }
    return QString();
}

bool RunReport::ParseKeyword(const QString &strWord, Outcome *pOutcome)
{
    for (int i = 0; i < kOutcomes; ++i) {
        if (Keyword(Outcome(i)) == strWord) {
            *pOutcome = Outcome(i);
            return true;
        }
    }
    return false;
}

bool RunReport::Read(const QString &strPath, QList<Row> *pRows)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    pRows->clear();
    const QList<QByteArray> aLines = file.readAll().split('\n');
    // The last piece is what follows the final line break: empty, or a line cut short.
    for (qsizetype i = 1; i + 1 < aLines.size(); ++i) {
        const QStringList aFields = QString::fromUtf8(aLines.at(i)).split(u'\t');
        Row row;
        if (aFields.size() != 5 || !ParseKeyword(aFields.at(1), &row.outcome))
            continue;
        row.time = QDateTime::fromString(aFields.at(0), Qt::ISODate);
        row.strSource = Unescape(aFields.at(2));
        row.strTarget = Unescape(aFields.at(3));
        row.strMessage = Unescape(aFields.at(4));
        pRows->append(row);
    }
    return true;
}

QString RunReportText(RunReportReason reason)
{
    return LoadString(int(reason));
}
