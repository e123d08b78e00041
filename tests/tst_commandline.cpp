#include "tests/StandinBus.h"

#include "conversion/RunReport.h"

#include <QStandardPaths>

using namespace Qt::Literals::StringLiterals;
using TestEnvironment::readFile;
using TestEnvironment::writeFile;

namespace {

bool setTime(const QString &strPath, const QDateTime &time)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadWrite)
        && file.setFileTime(time, QFileDevice::FileModificationTime);
}

} // namespace

// The program itself, started as a script would start it, against the stand-in on a private
// bus. Failures come from the stand-in's FailSave and CrashOn settings, so the checks hold for
// any of its drawing backends that accepts SFC sources and DXF targets.
class TestCommandLine : public QObject
{
    Q_OBJECT

    StandinBus m_bus;
    std::unique_ptr<QTemporaryDir> m_dir;

    QString src(const QString &name = {}) const { return m_dir->filePath(u"src/"_s + name); }
    QString dst(const QString &name = {}) const { return m_dir->filePath(u"dst/"_s + name); }
    QStringList targets() const { return QDir(dst()).entryList(QDir::Files, QDir::Name); }
    static QString settingsFolder()
    {
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            + u"/Norvale"_s;
    }

    struct Result
    {
        int nStatus = -1;
        QString strOut;
        QString strErr;
    };
    Result norvale(const QStringList &aArgs)
    {
        QProcess process;
        process.start(QStringLiteral(NORVALE_BINARY), aArgs);
        Result result;
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
            return result;
        result.nStatus = process.exitCode();
        result.strOut = QString::fromUtf8(process.readAllStandardOutput());
        result.strErr = QString::fromUtf8(process.readAllStandardError());
        return result;
    }
    QStringList convertArgs(const QString &strTargetExt = u"DXF"_s) const
    {
        return {u"--convert"_s, u"--source"_s, src(), u"--source-ext"_s,
                u"sfc"_s,       u"--target"_s, dst(), u"--target-ext"_s,
                strTargetExt};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
        QVERIFY(m_bus.setActivatable(true));
    }
    void cleanupTestCase() { m_bus.stop(); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(src()) && QDir().mkpath(dst()));
        for (const QString &name : {u"a.sfc"_s, u"b.sfc"_s, u"c.SFC"_s}) {
            QVERIFY(writeFile(src(name), "Norvale test drawing\n"));
            QVERIFY(setTime(src(name), QDateTime::currentDateTime().addSecs(-3600)));
        }
        QVERIFY(writeFile(src(u"other.dxf"_s), "not a source\n"));
        QVERIFY(StandinBus::configure());
    }
    void cleanup()
    {
        StandinBus::quit();
        QVERIFY(m_bus.setActivatable(true));
        // The command line never writes the window's settings.
        QVERIFY(!QFileInfo::exists(settingsFolder()));
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("args"); // %S the source folder, %T the target folder
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output"); // a pattern on stdout (status 0) or stderr
        const QStringList run
            = {u"--convert"_s, u"--source"_s, u"%S"_s,           u"--source-ext"_s, u"SFC"_s,
               u"--target"_s,  u"%T"_s,       u"--target-ext"_s, u"DXF"_s};
        QTest::newRow("help") << QStringList {u"--help"_s} << 0 << u"Usage: norvale"_s;
        QTest::newRow("-h") << QStringList {u"-h"_s} << 0 << u"--keep-going"_s;
        QTest::newRow("version") << QStringList {u"--version"_s} << 0
                                 << u"^norvale "_s + QStringLiteral(NORVALE_VERSION) + u"\n$"_s;
        QTest::newRow("unknown option") << QStringList {u"--convrt"_s} << 2 << u"convrt"_s;
        QTest::newRow("nothing to do") << QStringList {u"--auto"_s} << 2 << u"--convert"_s;
        QTest::newRow("no target folder")
            << run.mid(0, 5) + QStringList {u"--target-ext"_s, u"DXF"_s, u"--auto"_s} << 2
            << u"--target is missing"_s;
        QTest::newRow("unknown source format")
            << QStringList(run).replaceInStrings(QRegularExpression(u"^SFC$"_s), u"XYZ"_s)
                + QStringList {u"--auto"_s}
            << 2 << u"XYZ is not a source format"_s;
        QTest::newRow("target is the source format")
            << QStringList(run).replaceInStrings(QRegularExpression(u"^DXF$"_s), u"sfc"_s)
                + QStringList {u"--auto"_s}
            << 2 << u"SFC is not a target format for SFC"_s;
        QTest::newRow("JWW is no target")
            << QStringList(run).replaceInStrings(QRegularExpression(u"^DXF$"_s), u"JWW"_s)
                + QStringList {u"--auto"_s}
            << 2 << u"JWW is not a target format"_s;
        QTest::newRow("missing folder")
            << QStringList(run).replaceInStrings(QRegularExpression(u"^%T$"_s), u"%T/none"_s)
                + QStringList {u"--auto"_s}
            << 2 << u"target folder .*/none does not exist"_s;
        QTest::newRow("neither --auto nor files") << run << 2 << u"either --auto"_s;
        QTest::newRow("both --auto and files")
            << run + QStringList {u"--auto"_s, u"a.sfc"_s} << 2 << u"either --auto"_s;
        QTest::newRow("missing file")
            << run + QStringList {u"z.sfc"_s} << 2 << u"z.sfc is not a file"_s;
        QTest::newRow("file of another format")
            << run + QStringList {u"other.dxf"_s} << 2 << u"not a SFC drawing"_s;
        QTest::newRow("file outside the folder")
            << run + QStringList {u"%T/../x.sfc"_s} << 2 << u"not in the source folder"_s;
    }
    void usage()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, output);
        QVERIFY(writeFile(m_dir->filePath(u"x.sfc"_s), "outside\n"));
        args.replaceInStrings(u"%S"_s, src()).replaceInStrings(u"%T"_s, dst());
        const Result result = norvale(args);
        QCOMPARE(result.nStatus, status);
        const QString strText = status == 0 ? result.strOut : result.strErr;
        QVERIFY2(strText.contains(QRegularExpression(output)), qPrintable(strText));
        QCOMPARE(targets(), QStringList());
    }

    // Exit status, what each file became, and whether the run went on after a failure.
    void runs_data()
    {
        QTest::addColumn<QByteArray>("testing"); // the stand-in's [Testing] settings
        QTest::addColumn<QStringList>("extra"); // arguments after the folders and formats
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("outcomes"); // per source a, b, c, in the order of the run
        QTest::newRow("all converted")
            << QByteArray() << QStringList {u"--auto"_s} << 0 << u"converted converted converted"_s;
        QTest::newRow("failure stops the run")
            << QByteArray("FailSave=b.dxf") << QStringList {u"--auto"_s} << 1
            << u"converted failed not-attempted"_s;
        QTest::newRow("--keep-going")
            << QByteArray("FailSave=b.dxf") << QStringList {u"--auto"_s, u"--keep-going"_s} << 1
            << u"converted failed converted"_s;
        QTest::newRow("server crash, --keep-going")
            << QByteArray("CrashOn=a.sfc") << QStringList {u"--auto"_s, u"--keep-going"_s} << 1
            << u"failed converted converted"_s;
        QTest::newRow("server crash stops the run")
            << QByteArray("CrashOn=b.sfc") << QStringList {u"--auto"_s} << 1
            << u"converted failed not-attempted"_s;
        QTest::newRow("files named, one by path")
            << QByteArray() << QStringList {u"c.SFC"_s, u"%S/a.sfc"_s} << 0
            << u"converted - converted"_s;
    }
    void runs()
    {
        QFETCH(QByteArray, testing);
        QFETCH(QStringList, extra);
        QFETCH(int, status);
        QFETCH(QString, outcomes);
        QVERIFY(StandinBus::configure(testing));
        const QString strReport = m_dir->filePath(u"report.tsv"_s);
        extra.replaceInStrings(u"%S"_s, src());
        const Result result
            = norvale(convertArgs() + extra + QStringList {u"--report"_s, strReport});
        QVERIFY2(result.nStatus == status, qPrintable(result.strOut + result.strErr));

        // One line per file in the order of the run, as the report has them, then the summary.
        const QStringList aExpected = outcomes.split(u' ');
        const QStringList aLines = result.strOut.split(u'\n', Qt::SkipEmptyParts);
        QList<RunReport::Row> aRows;
        QVERIFY(RunReport::Read(strReport, &aRows));
        QCOMPARE(aRows.size(), 3 - int(aExpected.count(u"-"_s)));
        for (int k = 0; k < aRows.size(); ++k)
            QVERIFY2(aLines.value(k).startsWith(RunReport::Keyword(aRows.at(k).outcome) + u'\t'
                                                + aRows.at(k).strSource),
                     qPrintable(aLines.value(k)));
        const char *const aszNames[] = {"a.sfc", "b.sfc", "c.SFC"};
        for (int i = 0; i < 3; ++i) {
            const QString strTarget = QLatin1String(aszNames[i]).left(2) + u"dxf"_s;
            QCOMPARE(QFileInfo::exists(dst(strTarget)), aExpected.at(i) == u"converted");
            const auto row = std::find_if(aRows.cbegin(), aRows.cend(), [&](const auto &r) {
                return r.strSource == src(QLatin1String(aszNames[i]));
            });
            QCOMPARE(row == aRows.cend(), aExpected.at(i) == u"-");
            if (row == aRows.cend())
                continue;
            QCOMPARE(RunReport::Keyword(row->outcome), aExpected.at(i));
            QCOMPARE(row->strMessage.isEmpty(), row->outcome != RunReport::Outcome::Failed);
        }
        const int nRow = int(aRows.size());
        QVERIFY(aLines.value(nRow).startsWith(u"converted %1, up to date 0, skipped 0, failed %2"_s
                                                  .arg(aExpected.count(u"converted"_s))
                                                  .arg(aExpected.count(u"failed"_s))));
        // The report kept with the others holds the same rows.
        QVERIFY(aLines.value(nRow + 1).startsWith(u"report "_s + RunReport::RunsFolder()));
        QCOMPARE(readFile(aLines.value(nRow + 1).mid(7)), readFile(strReport));
    }

    // The date rule: a second automatic run finds everything up to date, a touched source is
    // converted again.
    void upToDate()
    {
        QCOMPARE(norvale(convertArgs() + QStringList {u"--auto"_s}).nStatus, 0);
        QVERIFY(setTime(src(u"b.sfc"_s), QDateTime::currentDateTime().addSecs(60)));
        const Result result = norvale(convertArgs() + QStringList {u"--auto"_s});
        QCOMPARE(result.nStatus, 0);
        QVERIFY2(result.strOut.contains(u"converted 1, up to date 2,"_s),
                 qPrintable(result.strOut));
        QVERIFY(result.strOut.contains(u"converted\t"_s + src(u"b.sfc"_s)));
    }

    void noServer()
    {
        QVERIFY(m_bus.setActivatable(false));
        const Result result = norvale(convertArgs() + QStringList {u"--auto"_s});
        QCOMPARE(result.nStatus, 3);
        QVERIFY(result.strErr.contains(u"no drawing server"_s));
        QCOMPARE(targets(), QStringList());
    }
};

NORVALE_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
