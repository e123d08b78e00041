#include "tests/FakeDesktop.h"
#include "tests/StandinBus.h"
#include "tests/WindowFixture.h"

#include "app/CConverterDlg.h"
#include "app/ConversionPreview.h"
#include "conversion/COverwriteDlg.h"
#include "conversion/CRunReportDlg.h"
#include "conversion/RunNotice.h"
#include "conversion/RunReport.h"
#include "panes/FileListModel.h"
#include "res/Strings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

using namespace Qt::Literals::StringLiterals;
using TestEnvironment::writeFile;
using Outcome = RunReport::Outcome;

namespace {

bool setTime(const QString &strPath, const QDateTime &time)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadWrite)
        && file.setFileTime(time, QFileDevice::FileModificationTime);
}

// "a:converted b:up-to-date ..." in the order of the report.
QString outcomesOf(const QList<RunReport::Row> &aRows)
{
    QStringList aParts;
    for (const RunReport::Row &row : aRows)
        aParts << QFileInfo(row.strSource).baseName() + u':' + RunReport::Keyword(row.outcome);
    return aParts.join(u' ');
}

QString lastReport()
{
    QList<RunReport::Row> aRows;
    RunReport::Read(RunReport::LastReportPath(), &aRows);
    return outcomesOf(aRows);
}

// Answers Notify as a desktop's notification service does, on a bus connection of its own.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList m_aBodies;

public slots:
    uint Notify(const QString &, uint, const QString &, const QString &, const QString &strBody,
                const QStringList &, const QVariantMap &, int)
    {
        m_aBodies << strBody;
        return uint(m_aBodies.size());
    }
};

} // namespace

// Window runs against the real stand-in on a private bus, and what they leave: the report, the
// report window, the notification; and the marks of automatic mode before a run.
class TestRunReport : public QObject
{
    Q_OBJECT

    QProcess m_daemon;
    QTemporaryDir m_appDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CConverterDlg> m_dlg;
    std::unique_ptr<FakeDesktop> m_pDesktop;
    QString m_answers; // to the overwrite prompt: Y, N, C
    QStringList m_seenAtPrompts;

    QString src(const QString &name = {}) const { return m_dir->filePath(u"src/"_s + name); }
    QString dst(const QString &name = {}) const { return m_dir->filePath(u"dst/"_s + name); }

    // Sources SFC, target DXF.
    bool openWindow(int nMode)
    {
        m_dlg = WindowFixture::open(
            m_appDir.path(), WindowFixture::settings(nMode, u"SFC"_s, src(), u"DXF"_s, dst()));
        return m_dlg && m_dlg->m_dst.strExt == u"DXF" && m_dlg->m_nMode == nMode;
    }

    // Sources a to d, an hour old; a target, newer, for each name in withTarget.
    bool makeFiles(const QString &withTarget)
    {
        for (const QChar c : u"abcd"_s) {
            if (!writeFile(src(c + u".sfc"_s), "Norvale test drawing\n")
                || !setTime(src(c + u".sfc"_s), QDateTime::currentDateTime().addSecs(-3600))
                || (withTarget.contains(c) && !writeFile(dst(c + u".dxf"_s), "old\n")))
                return false;
        }
        return true;
    }

    // "name:marked" for each source row in list order; bold name and emblem must agree.
    QStringList marks() const
    {
        QStringList aRows;
        const FileListModel *model = m_dlg->m_src.Model();
        for (int i = 0; i < model->rowCount(); ++i) {
            const QModelIndex index = model->index(i, FileListModel::NameColumn);
            const bool bBold = index.data(Qt::FontRole).value<QFont>().bold();
            const bool bEmblem = index.data(Qt::DecorationRole).value<QIcon>().cacheKey()
                != model->FileIcon().cacheKey();
            aRows << index.data().toString() + (bBold ? u":bold"_s : u""_s)
                    + (bEmblem ? u":emblem"_s : u""_s);
        }
        return aRows;
    }

private slots:
    void initTestCase() { QVERIFY(StandinBus::start(m_daemon)); }
    void cleanupTestCase()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(src()) && QDir().mkpath(dst()));
        m_pDesktop = std::make_unique<FakeDesktop>();
        m_answers.clear();
        m_seenAtPrompts.clear();
    }

    void cleanup()
    {
        RunNotice::s_nMinRunMs = 10000;
        m_dlg.reset();
        m_pDesktop.reset();
        StandinBus::quit();
        QDir::setCurrent(QDir::tempPath());
        m_dir.reset();
    }

    // Every outcome a run gives a file, in the order the run met them.
    void outcomes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("testing"); // the stand-in's [Testing] settings
        QTest::addColumn<QString>("withTarget"); // sources whose target exists
        QTest::addColumn<QString>("answers"); // to the overwrite prompt: Y, N, C
        QTest::addColumn<QString>("expected");
        QTest::newRow("automatic: converted, up to date, failed, not attempted")
            << 0 << QByteArray("FailSave=c.dxf") << u"b"_s << QString()
            << u"a:converted b:up-to-date c:failed d:not-attempted"_s;
        QTest::newRow("manual: declined, then cancelled at the prompt")
            << 1 << QByteArray() << u"abc"_s << u"YNC"_s
            << u"a:converted b:skipped c:not-attempted d:not-attempted"_s;
    }
    void outcomes()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, testing);
        QFETCH(QString, withTarget);
        QFETCH(QString, answers);
        QFETCH(QString, expected);
        QVERIFY(makeFiles(withTarget));
        QVERIFY(StandinBus::configure(testing));
        m_answers = answers;
        const QString strBefore = RunReport::LastReportPath();
        QVERIFY(openWindow(mode));
        m_dlg->m_lcSrcFiles->selectAll();
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&] {
            // The real prompt, answered with its own buttons. The report is written as the run
            // goes: at each prompt, the files before it are on record.
            auto *prompt = qobject_cast<COverwriteDlg *>(QApplication::activeModalWidget());
            if (prompt && prompt->isVisible()) {
                m_seenAtPrompts << lastReport();
                const QChar c = m_answers.isEmpty() ? u'C' : m_answers.front();
                m_answers.remove(0, 1);
                const int nId = c == u'Y' ? 1 : c == u'N' ? IDC_OVERWRITE_NO : 2;
                qobject_cast<QAbstractButton *>(prompt->GetDlgItem(nId))->click();
            }
        });
        user.start(5);
        m_dlg->OnConvert();
        user.stop();

        QVERIFY(RunReport::LastReportPath() != strBefore);
        QList<RunReport::Row> aRows;
        QVERIFY(RunReport::Read(RunReport::LastReportPath(), &aRows));
        QCOMPARE(outcomesOf(aRows), expected);
        if (!answers.isEmpty())
            QCOMPARE(m_seenAtPrompts,
                     QStringList({QString(), u"a:converted"_s, u"a:converted b:skipped"_s}));
        for (const RunReport::Row &row : std::as_const(aRows)) {
            QCOMPARE(row.strSource, src(QFileInfo(row.strSource).fileName()));
            // The server's own words for a failure, the reason for a skip.
            const QString strReason = row.outcome == Outcome::Failed
                ? m_pDesktop->aMessages.last().strText
                : row.outcome == Outcome::Skipped ? RunReportText(RunReportReason::Declined)
                                                  : QString();
            QCOMPARE(row.strMessage, strReason);
        }
    }

    // Odd characters come back as they went in; a line cut short by a crash is left out; a
    // source is recorded once; only the newest reports are kept.
    void fileFormat()
    {
        QDir runs(RunReport::RunsFolder());
        QVERIFY(runs.removeRecursively() && runs.mkpath(u"."_s));
        for (int i = 0; i < RunReport::kReportsKept + 5; ++i)
            QVERIFY(writeFile(
                runs.filePath(u"20000101-000000-%1-00.tsv"_s.arg(i, 3, 10, QLatin1Char('0'))),
                "time\toutcome\tsource\ttarget\tmessage\n"));
        const QString strOdd = u"/x/a\tb\\n\nc.sfc"_s;
        {
            RunReport report;
            QVERIFY(report.Begin({strOdd, u"/x/z.sfc"_s}));
            report.SetCurrent(strOdd, u"/y/a.dxf"_s);
            report.AddFailure(u"line one\nline two\\"_s);
            report.Add(Outcome::Converted, strOdd);
        }
        QFile file(RunReport::LastReportPath());
        QVERIFY(file.open(QIODevice::Append) && file.write("2026-12-07T01:00:00\tconverted\t/x/"));
        file.close();
        QList<RunReport::Row> aRows;
        QVERIFY(RunReport::Read(RunReport::LastReportPath(), &aRows));
        QCOMPARE(aRows.size(), 2);
        QCOMPARE(aRows.at(0).strSource, strOdd);
        QCOMPARE(aRows.at(0).strMessage, u"line one\nline two\\"_s);
        QCOMPARE(outcomesOf(aRows), u"a\tb\\n\nc:failed z:not-attempted"_s);
        QCOMPARE(runs.entryList(QDir::Files).size(), RunReport::kReportsKept);
        QVERIFY(!runs.exists(u"20000101-000000-005-00.tsv"_s));
        QVERIFY(runs.exists(u"20000101-000000-006-00.tsv"_s));
    }

    // A run that did not convert everything ends in one message: the drawing program's words for
    // a failure, or that drawings were passed over, with the counts; its button opens the run's
    // report, failures first. The window's context menu opens the same report.
    void reportWindow_data()
    {
        QTest::addColumn<QByteArray>("testing"); // the stand-in's [Testing] settings
        QTest::addColumn<QString>("withTarget"); // sources whose target is up to date
        QTest::addColumn<QString>("vanish"); // sources removed once the run is agreed to
        QTest::addColumn<int>("icon"); // of the message at the end
        QTest::addColumn<QStringList>("report"); // outcome|source|reason; *: the message's text
        const QString converted = LoadString(IDS_OUTCOME_CONVERTED);
        QTest::newRow("a failure")
            << QByteArray("FailSave=c.dxf") << u"b"_s << QString() << int(QMessageBox::Critical)
            << QStringList {LoadString(IDS_OUTCOME_FAILED) + u"|c.sfc|*"_s,
                            LoadString(IDS_OUTCOME_NOT_ATTEMPTED) + u"|d.sfc|"_s,
                            converted + u"|a.sfc|"_s,
                            LoadString(IDS_OUTCOME_UP_TO_DATE) + u"|b.sfc|"_s};
        QTest::newRow("a drawing gone before its turn")
            << QByteArray() << QString() << u"b"_s << int(QMessageBox::Warning)
            << QStringList {LoadString(IDS_OUTCOME_SKIPPED) + u"|b.sfc|"_s
                                + RunReportText(RunReportReason::Vanished),
                            converted + u"|a.sfc|"_s, converted + u"|c.sfc|"_s,
                            converted + u"|d.sfc|"_s};
    }
    void reportWindow()
    {
        QFETCH(QByteArray, testing);
        QFETCH(QString, withTarget);
        QFETCH(QString, vanish);
        QFETCH(int, icon);
        QFETCH(QStringList, report);
        QVERIFY(makeFiles(withTarget));
        QVERIFY(StandinBus::configure(testing));
        QVERIFY(openWindow(0));
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
        m_pDesktop->bShowBoxes = true;
        QStringList aBox, aReport;
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            auto *box = qobject_cast<QMessageBox *>(modal);
            auto *dlg = qobject_cast<CRunReportDlg *>(modal);
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                for (QAction *action : menu->actions()) {
                    if (action->objectName() == QString::number(IDM_RUN_REPORT))
                        menu->setActiveAction(action);
                }
                // From a timer of its own: the report window's modal loop must not run inside
                // this handler, which would then never fire again.
                QTimer::singleShot(0, menu, [menu] { QTest::keyClick(menu, Qt::Key_Return); });
            } else if (box && box->isVisible() && box->button(QMessageBox::Yes)) {
                for (const QChar c : vanish)
                    QFile::remove(src(c + u".sfc"_s));
                QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
            } else if (box && box->isVisible()) {
                aBox << QString::number(box->icon()) << box->text() << box->informativeText();
                QTest::mouseClick(box->button(QMessageBox::Open), Qt::LeftButton);
            } else if (dlg && dlg->isVisible()) {
                aReport << dlg->m_stCounts->text();
                for (int i = 0; i < dlg->m_lcFiles->topLevelItemCount(); ++i) {
                    const QTreeWidgetItem *item = dlg->m_lcFiles->topLevelItem(i);
                    aReport << item->text(0) + u'|' + item->text(1) + u'|' + item->text(3);
                }
                QTest::keyClick(dlg, Qt::Key_Escape);
            }
        });
        user.start(5);
        m_dlg->OnConvert();
        const QStringList aFromBox = std::exchange(aReport, {});
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                m_dlg->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(m_dlg.get(), &event);
        user.stop();
        QVERIFY(!QApplication::activeModalWidget());

        // The message: the server's words for a failure, the failure's reason in the report, or
        // that drawings were passed over; then the counts, as the report window counts them.
        report.replaceInStrings(u"|*"_s, u'|' + aBox.value(1));
        const QString strText
            = icon == QMessageBox::Critical ? aBox.value(1) : LoadString(IDS_RUN_SUMMARY_SKIPPED);
        QCOMPARE(aBox, QStringList({QString::number(icon), strText, aReport.value(0)}));
        QCOMPARE(aReport.mid(1), report);
        QCOMPARE(aFromBox, aReport);
    }

    // A long run the user has turned away from ends in one notification with its counts; a
    // short one, or one the user watches, in none; without the service, in nothing at all.
    void notification()
    {
        QVERIFY(makeFiles(QString()));
        QVERIFY(StandinBus::configure("FailSave=b.dxf"));
        QVERIFY(openWindow(0));
        bool &bAway = m_pDesktop->bUserAway;
        bAway = true;
        RunNotice::s_nMinRunMs = 0;
        m_dlg->OnConvert();
        QCOMPARE(m_pDesktop->aMessages.size(), 2); // the question and the failure, nothing else

        QDBusConnection service
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"notifications"_s);
        FakeNotifications notifications;
        QVERIFY(service.registerObject(u"/org/freedesktop/Notifications"_s, &notifications,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(u"org.freedesktop.Notifications"_s));
        const std::pair<bool, int> aRuns[] = {{false, 0}, {true, 60000}, {true, 0}};
        for (const auto &[bUserAway, nMinRunMs] : aRuns) {
            for (const QString &name : QDir(dst()).entryList(QDir::Files))
                QVERIFY(QFile::remove(dst(name)));
            StandinBus::quit();
            bAway = bUserAway;
            RunNotice::s_nMinRunMs = nMinRunMs;
            m_dlg->OnConvert();
        }
        // Notices leave in order: had an earlier run sent one, it would come first.
        QTRY_COMPARE(notifications.m_aBodies.size(), 1);
        QTest::qWait(200);
        QCOMPARE(notifications.m_aBodies,
                 QStringList {LoadString(IDS_RUN_NOTICE_TEXT).arg(1).arg(1)});
        QDBusConnection::disconnectFromBus(u"notifications"_s);
    }

    // Automatic mode marks the rows whose target is missing or older, by the run's rule in
    // whole seconds; renewed when a pane is listed again; manual mode marks nothing.
    void preview()
    {
        const QDateTime base
            = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 86400);
        const struct
        {
            const char *pszName;
            int nSourceMs;
            int nTargetMs; // -1: no target
        } aCases[] = {{"missing", 0, -1},
                      {"missing.v1", 0, -1},
                      {"older", 1100, 900},
                      {"same", 1900, 1100},
                      {"newer", 0, 5000}};
        for (const auto &c : aCases) {
            const QString name = QLatin1String(c.pszName);
            QVERIFY(writeFile(src(name + u".sfc"_s), "drawing\n"));
            QVERIFY(setTime(src(name + u".sfc"_s), base.addMSecs(c.nSourceMs)));
            if (c.nTargetMs >= 0)
                QVERIFY(writeFile(dst(name + u".dxf"_s), "target\n")
                        && setTime(dst(name + u".dxf"_s), base.addMSecs(c.nTargetMs)));
        }
        QVERIFY(openWindow(0));
        const QString strCount = m_dlg->GetDlgItemText(IDC_SRC_COUNT);
        QSignalSpy applied(m_dlg->m_pPreview, &ConversionPreview::marksApplied);
        QVERIFY(applied.wait(10000));
        // Only the first of the drawings with one target: a run converts no other.
        QCOMPARE(marks(),
                 QStringList({u"missing.sfc:bold:emblem"_s, u"missing.v1.sfc"_s, u"newer.sfc"_s,
                              u"older.sfc:bold:emblem"_s, u"same.sfc"_s}));
        QCOMPARE(m_dlg->GetDlgItemText(IDC_SRC_COUNT), strCount);

        QVERIFY(writeFile(dst(u"missing.dxf"_s), "target\n"));
        m_dlg->FillFileList(m_dlg->m_dst.strFolder, m_dlg->m_dst.strExt, 2);
        QVERIFY(applied.wait(10000));
        QCOMPARE(marks(),
                 QStringList({u"missing.sfc"_s, u"missing.v1.sfc"_s, u"newer.sfc"_s,
                              u"older.sfc:bold:emblem"_s, u"same.sfc"_s}));
        m_dlg->OnCommand(ID_MANUAL_MODE);
        QCOMPARE(marks(),
                 QStringList({u"missing.sfc"_s, u"missing.v1.sfc"_s, u"newer.sfc"_s, u"older.sfc"_s,
                              u"same.sfc"_s}));
    }
};

NORVALE_TEST_MAIN(TestRunReport)
#include "tst_runreport.moc"
