#include "tests/BusFixture.h"

#include "conversion/RunReport.h"
#include "platform/FileNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using TestEnvironment::readFile;

namespace {

// "図表" as an archive made on Windows names a drawing: Shift-JIS, not UTF-8, the last byte a
// backslash. %J in a path or an argument stands for these bytes.
const QByteArray kStem = "\x90\x7d\x95\x5c";

QByteArray bytes(const QString &strText)
{
    return strText.toUtf8().replace("%J", kStem).replace("図表", kStem);
}

// QFile spells names in UTF-8 only.
bool makeFile(const QString &strPath, const QDateTime &time)
{
    const int fd = ::open(bytes(strPath).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    QFile file;
    return fd >= 0 && file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)
        && file.write("Norvale test drawing\n") > 0
        && file.setFileTime(time, QFileDevice::FileModificationTime);
}

// By the name's bytes, which QFile would take for UTF-8.
QByteArray readRaw(const QString &strPath)
{
    const int fd = ::open(bytes(strPath).constData(), O_RDONLY);
    QFile file;
    return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)
        ? file.readAll()
        : QByteArray();
}

} // namespace

// The program itself, started as a script starts it, against the stand-in on a private bus.
// Failures come from the stand-in's FailOpen and CrashOn settings, so the checks hold for any
// of its backends that takes SFC sources and DXF targets.
class TestCommandLine : public QObject
{
    Q_OBJECT

    BusFixture m_bus;

    QString src(const QString &name = {}) const { return m_bus.path(u"src/"_s + name); }
    // A target folder named in Shift-JIS too, so that the drawing program can be given no path
    // into it.
    QString dst(const QString &name = {}) const { return m_bus.path(u"%J/"_s + name); }

    // Exit status and standard output, or standard error when the status is 2 or 3. QProcess
    // hands arguments over as UTF-8, so its child starts the program itself, with their bytes.
    std::pair<int, QString> norvale(const QStringList &aArgs, const QString &strBus = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!strBus.isEmpty())
            env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, strBus);
        QList<QByteArray> aArgv {NORVALE_BINARY};
        for (QString strArg : aArgs)
            aArgv << bytes(strArg.replace(u"%S"_s, src()).replace(u"%T"_s, dst()));
        QProcess process;
        if (aArgv.removeAll(">/dev/full"))
            process.setStandardOutputFile(u"/dev/full"_s);
        QList<QByteArray> aEnv;
        for (const QString &strVariable : env.toStringList())
            aEnv << strVariable.toUtf8();
        std::vector<char *> argv, envp;
        for (QByteArray &arg : aArgv)
            argv.push_back(arg.data());
        for (QByteArray &variable : aEnv)
            envp.push_back(variable.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        process.setChildProcessModifier([&] { ::execve(argv[0], argv.data(), envp.data()); });
        process.start(QStringLiteral(NORVALE_BINARY), {});
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
            return {-1, QString()};
        const int nStatus = process.exitCode();
        return {nStatus,
                QString::fromUtf8(nStatus >= 2 ? process.readAllStandardError()
                                               : process.readAllStandardOutput())};
    }

private slots:
    void initTestCase() { QVERIFY(m_bus.start()); }
    void cleanupTestCase()
    {
        // The command line never writes the window's settings.
        QVERIFY(!QFileInfo::exists(
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            + u"/Norvale"_s));
    }

    void init()
    {
        QVERIFY(m_bus.newFolder());
        QVERIFY(QDir().mkpath(src()) && ::mkdir(bytes(dst()).constData(), 0700) == 0);
        for (const QString &name : {u"a.sfc"_s, u"b.sfc"_s, u"%J.SFC"_s, u"other.dxf"_s})
            QVERIFY(makeFile(src(name), QDateTime::currentDateTime().addSecs(-3600)));
    }
    void cleanup() { QVERIFY(BusFixture::quit()); }

    void usage_data()
    {
        QTest::addColumn<QStringList>("args"); // %S the source folder, %T the target folder
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output"); // a pattern
        const auto run = [](const QString &strSrcExt, const QString &strDstExt,
                            const QString &strDst, const QStringList &aMore) {
            return QStringList {u"--convert"_s, u"--source"_s, u"%S"_s, u"--source-ext"_s,
                                strSrcExt,      u"--target"_s, strDst,  u"--target-ext"_s,
                                strDstExt}
            + aMore;
        };
        QTest::newRow("help") << QStringList {u"--help"_s} << 0 << u"^Usage: norvale"_s;
        QTest::newRow("version") << QStringList {u"-v"_s} << 0
                                 << u"^norvale "_s + QStringLiteral(NORVALE_VERSION) + u"\n$"_s;
        QTest::newRow("unknown option") << QStringList {u"--convrt"_s} << 2 << u"'convrt'"_s;
        QTest::newRow("nothing to do") << QStringList {u"--auto"_s} << 2 << u"give --convert"_s;
        QTest::newRow("no source format")
            << run(u"SFC"_s, u"DXF"_s, u"%T"_s, {u"--auto"_s}).mid(0, 3) + QStringList {u"--auto"_s}
            << 2 << u"--source-ext is missing"_s;
        QTest::newRow("target is the source format")
            << run(u"sfc"_s, u"SFC"_s, u"%T"_s, {u"--auto"_s}) << 2
            << u"SFC is not a target format"_s;
        QTest::newRow("missing folder")
            << run(u"SFC"_s, u"DXF"_s, u"%T"_s, {u"--auto"_s, u"--source"_s, u"%S/none"_s}) << 2
            << u"source folder .*/none does not exist"_s;
        QTest::newRow("a drawing without --convert")
            << QStringList {u"a.sfc"_s} << 2 << u"give --convert"_s;
        QTest::newRow("report cannot be written")
            << run(u"SFC"_s, u"DXF"_s, u"%T"_s, {u"--auto"_s, u"--report"_s, u"%T/none/r.tsv"_s})
            << 4 << u"report .*/none/r.tsv: No such file"_s;
        QTest::newRow("output to a full device") << QStringList {u"--help"_s, u">/dev/full"_s} << 4
                                                 << u"standard output: No space left"_s;
        QTest::newRow("both --auto and files")
            << run(u"SFC"_s, u"DXF"_s, u"%T"_s, {u"--auto"_s, u"a.sfc"_s}) << 2
            << u"either --auto"_s;
        QTest::newRow("--recursive without --auto")
            << run(u"SFC"_s, u"DXF"_s, u"%T"_s, {u"--recursive"_s, u"a.sfc"_s}) << 2
            << u"--recursive goes with --auto"_s;
        QTest::newRow("file of another format")
            << run(u"SFC"_s, u"DXF"_s, u"%T"_s, {u"other.dxf"_s}) << 2 << u"not a SFC drawing"_s;
        QTest::newRow("missing file") << run(u"SFC"_s, u"DXF"_s, u"%T"_s, {u"z.sfc"_s}) << 2
                                      << u"not a file of the source folder"_s;
        QTest::newRow("no drawing server") << run(u"SFC"_s, u"DXF"_s, u"%T"_s, {u"--auto"_s}) << 3
                                           << u"no drawing server answers"_s;
    }
    void usage()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, output);
        const auto [nStatus, strText]
            = norvale(args, status == 3 ? u"unix:path=/nonexistent/bus"_s : QString());
        QCOMPARE(nStatus, status);
        QVERIFY2(strText.contains(QRegularExpression(output)), qPrintable(strText));
        QVERIFY(::rmdir(bytes(dst()).constData()) == 0); // empty
    }

    // Exit status, what became of each drawing, and whether the run went on after a failure.
    void runs_data()
    {
        QTest::addColumn<QByteArray>("testing"); // the stand-in's [Testing] settings
        // After the folders and formats. "+path" is made before the run instead, besides the
        // drawings of the source folder: a drawing below %S or a newer target below %T; with "/"
        // at the end an unreadable folder; "+link->to" a link.
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("outcomes"); // in the order of the run, paths below %S
        QTest::newRow("all converted") << QByteArray() << QStringList {u"--auto"_s} << 0
                                       << u"a:converted b:converted 図表:converted"_s;
        QTest::newRow("stops at a failure")
            << QByteArray("FailOpen=b.sfc") << QStringList {u"--auto"_s} << 1
            << u"a:converted b:failed 図表:not-attempted"_s;
        QTest::newRow("--keep-going")
            << QByteArray("FailOpen=b.sfc") << QStringList {u"--auto"_s, u"--keep-going"_s} << 1
            << u"a:converted b:failed 図表:converted"_s;
        QTest::newRow("server crash, --keep-going")
            << QByteArray("CrashOn=a.sfc") << QStringList {u"--auto"_s, u"--keep-going"_s} << 1
            << u"a:failed b:converted 図表:converted"_s;
        // b.sfc's Open went to the server that then died saving a.sfc. The target folder is
        // the source folder, whose name the server is given as it is.
        QTest::newRow("server crash while saving, --keep-going")
            << QByteArray("CrashOn=a.dxf")
            << QStringList {u"--auto"_s, u"--keep-going"_s, u"--target"_s, u"%S"_s} << 1
            << u"a:failed b:converted 図表:converted"_s;
        QTest::newRow("files named, in Shift-JIS and by path")
            << QByteArray() << QStringList {u"%J.SFC"_s, u"%S/a.sfc"_s} << 0
            << u"図表:converted a:converted"_s;
        QTest::newRow("up to date") << QByteArray() << QStringList {u"--auto"_s} << 0
                                    << u"a:up-to-date b:converted 図表:up-to-date"_s;
        QTest::newRow("one target, --auto: the first by name")
            << QByteArray() << QStringList {u"--auto"_s} << 1
            << u"a:converted a.v1:skipped b:converted 図表:converted"_s;
        QTest::newRow("one target, files named: the first named")
            << QByteArray() << QStringList {u"a.v1.sfc"_s, u"a.sfc"_s} << 1
            << u"a.v1:converted a:skipped"_s;
        QTest::newRow("target folder made with its parents")
            << QByteArray() << QStringList {u"--target"_s, u"%T/new/%J"_s, u"a.sfc"_s} << 0
            << u"a:converted"_s;
        const QStringList recursive {u"--auto"_s, u"--recursive"_s, u"--keep-going"_s};
        const QStringList tree {
            u"+p/a.sfc"_s,      u"+p/a.v1.sfc"_s,  u"+p/r/a.sfc"_s, u"+%J/%J.sfc"_s,
            u"+.h/c.sfc"_s,     u"+e/other.dxf"_s, u"+l->p"_s,      u"+p/k.sfc->../a.sfc"_s,
            u"+%T/p/r/a.dxf"_s, u"+s/a.sfc"_s,     u"+%T/s"_s,      u"+t/u/f.sfc"_s};
        QTest::newRow("tree: levels, Shift-JIS, links, one target per folder, failures")
            << QByteArray("FailSave=f.dxf") << recursive + tree << 1
            << u"a:up-to-date a.v1:skipped b:converted 図表:up-to-date p/a:converted "
               "p/a.v1:skipped p/k:converted p/r/a:up-to-date s/a:failed t/u/f:failed "
               "図表/図表:converted"_s;
        QTest::newRow("tree: an unreadable folder stops the run")
            << QByteArray() << recursive.mid(0, 2) + QStringList {u"+q/"_s, u"+r/a.sfc"_s} << 1
            << u"a:converted b:converted 図表:converted q/:failed r/a:not-attempted"_s;
    }
    void runs()
    {
        QFETCH(QByteArray, testing);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, outcomes);
        QVERIFY(BusFixture::configure("[Testing]\n" + testing));
        for (const QString &strEntry : args.filter(QRegularExpression(u"^\\+"_s))) {
            const bool bTarget = strEntry.startsWith(u"+%T/"_s);
            const QString strLink = strEntry.section(u"->"_s, 1);
            const QString strPath
                = bTarget ? dst(strEntry.mid(4)) : src(strEntry.section(u"->"_s, 0, 0).mid(1));
            QVERIFY(Platform::RawMakeFolders(bytes(strPath.section(u'/', 0, -2))).isEmpty());
            if (strEntry.endsWith(u'/') && ::geteuid() == 0)
                QSKIP("root reads every folder");
            if (strEntry.endsWith(u'/'))
                QVERIFY(::chmod(bytes(strPath).data(), 0) == 0);
            else if (!strLink.isEmpty())
                QVERIFY(::symlink(bytes(strLink).data(), bytes(strPath).data()) == 0);
            else
                QVERIFY(
                    makeFile(strPath, QDateTime::currentDateTime().addSecs(bTarget ? 0 : -3600)));
        }
        args = args.filter(QRegularExpression(u"^[^+]"_s));
        if (outcomes.contains(u"a.v1"_s))
            QVERIFY(makeFile(src(u"a.v1.sfc"_s), QDateTime::currentDateTime().addSecs(-3600)));
        if (outcomes.contains(u"up-to-date"_s)) {
            for (const QString &name : {u"a.dxf"_s, u"%J.dxf"_s})
                QVERIFY(makeFile(dst(name), QDateTime::currentDateTime()));
        }
        const QString strReport = m_bus.path(u"report.tsv"_s);
        const auto [nStatus, strOut]
            = norvale(QStringList {u"--convert"_s, u"--source"_s, u"%S"_s, u"--source-ext"_s,
                                   u"sfc"_s, u"--target"_s, u"%T"_s, u"--target-ext"_s, u"DXF"_s,
                                   u"--report"_s, strReport}
                      + args);
        QVERIFY2(nStatus == status, qPrintable(strOut));

        // One line per drawing as the report has it, the summary, the kept report's path.
        QList<RunReport::Row> aRows;
        QVERIFY(RunReport::Read(strReport, &aRows));
        QStringList aOutcomes;
        QStringList aLines = strOut.split(u'\n', Qt::SkipEmptyParts);
        if (args.contains(u"%T/new/%J"_s)) // a folder not there yet
            QVERIFY(aLines.takeFirst().startsWith(u"created target folder /"_s));
        for (qsizetype i = 0; i < aRows.size(); ++i) {
            const RunReport::Row &row = aRows.at(i);
            const QString strKeyword = RunReport::Keyword(row.outcome);
            const QString strPath = row.strSource.mid(src().size());
            aOutcomes << (strPath.endsWith(u'/') ? strPath : strPath.section(u'.', 0, -2)) + u':'
                    + strKeyword;
            QVERIFY(aLines.value(i).startsWith(strKeyword + u'\t' + row.strSource));
            // A skip names the drawing that took the target first.
            const QString strFirst = QFileInfo(aRows.at(0).strSource).fileName();
            if (row.outcome == RunReport::Outcome::Skipped)
                QCOMPARE(row.strMessage, RunReportText(RunReportReason::SameTarget).arg(strFirst));
            else
                QCOMPARE(row.strMessage.isEmpty(), row.outcome != RunReport::Outcome::Failed);
            // Shown decoded, on disk under the source's bytes.
            QCOMPARE(Platform::RawFileExists(bytes(row.strTarget)),
                     row.outcome != RunReport::Outcome::Failed && !row.strTarget.isEmpty());
            // Made from its own drawing (one in Shift-JIS reaches the server by another name).
            if (row.outcome == RunReport::Outcome::Converted && !row.strSource.contains(u"図表"_s))
                QVERIFY(readRaw(row.strTarget).contains("source: " + row.strSource.toUtf8()));
        }
        QCOMPARE(aOutcomes.join(u' '), outcomes);
        // Folders are made for the drawings converted into them, not as a copy of the tree.
        // Below the target folder, whose name the shell cannot be given as text.
        const QString strFind
            = u"find '%1' -mindepth 2 \\( -path '%2/*' -prune -o -type d -empty -print \\) | grep -a ."_s;
        QCOMPARE(QProcess::execute(u"sh"_s, {u"-c"_s, strFind.arg(m_bus.path(), src().chopped(1))}),
                 1);
        QVERIFY(aLines.value(aRows.size())
                    .startsWith(u"converted %1, up to date %2, skipped %3, failed %4"_s
                                    .arg(outcomes.count(u":converted"_s))
                                    .arg(outcomes.count(u":up-to-date"_s))
                                    .arg(outcomes.count(u":skipped"_s))
                                    .arg(outcomes.count(u":failed"_s))));
        const QString strKept = aLines.value(aRows.size() + 1).mid(7);
        QVERIFY(strKept.startsWith(RunReport::RunsFolder()));
        QCOMPARE(readFile(strKept), readFile(strReport));
    }

    // A target named in Shift-JIS is titled as the user sees it, not by the name it is saved
    // under on the way, with the real backend; nothing else is left, also after a failed save.
    void titles_data()
    {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QByteArray>("title"); // as the target holds it; none: the save fails
        QTest::newRow("PDF") << u"PDF"_s << "/Title <FEFF56F38868>"_ba;
        QTest::newRow("SVG") << u"SVG"_s << "<title>図表</title>"_ba;
        QTest::newRow("SFC") << u"SFC"_s << bytes(u"FILE_NAME('図表.sfc'"_s);
        QTest::newRow("failed save") << u"HTM"_s << QByteArray();
    }
    void titles()
    {
        QFETCH(QString, ext);
        QFETCH(QByteArray, title);
        QVERIFY(
            !::symlink(NORVALE_SOURCE_DIR "/samples/detail.dxf", bytes(src(u"%J.dxf"_s)).data()));
        QVERIFY(BusFixture::configure(BusFixture::kConverting + "[Testing]\nFailSave=図表.htm"_ba));
        const QString strDst = src(u"../utf8"_s);
        QCOMPARE(norvale({u"--convert"_s, u"--source"_s, u"%S"_s, u"--source-ext"_s, u"DXF"_s,
                          u"--target"_s, strDst, u"--target-ext"_s, ext, u"%J.dxf"_s})
                     .first,
                 title.isEmpty() ? 1 : 0);
        const QString strCheck = m_bus.path(u"check"_s);
        const QByteArray target = bytes(strDst + u"/%J."_s + ext.toLower());
        QCOMPARE(::rename(target.data(), qPrintable(strCheck)) == 0, !title.isEmpty());
        QCOMPARE(QDir(strDst).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
        QVERIFY(readFile(strCheck).contains(title));
    }
};

NORVALE_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
