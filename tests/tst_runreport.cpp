#include "tests/StandinBus.h"

#include "app/CConverterDlg.h"
#include "app/MessageBox.h"
#include "conversion/COverwriteDlg.h"
#include "conversion/CProgressDlg.h"
#include "conversion/CRunReportDlg.h"
#include "conversion/RunNotice.h"
#include "conversion/RunReport.h"
#include "formats/FormatTable.h"
#include "res/Strings.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

using namespace Qt::Literals::StringLiterals;
using TestEnvironment::readFile;
using TestEnvironment::writeFile;
using Answer = COverwriteDlg::Answer;
using Outcome = RunReport::Outcome;

namespace {

bool setTime(const QString &strPath, const QDateTime &time)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadWrite)
        && file.setFileTime(time, QFileDevice::FileModificationTime);
}

// The position of DXF in the target combo beside SFC sources.
int dxfIndex()
{
    int nIndex = 0;
    for (const FormatEntry &format : g_aFormats) {
        const QString strFormat = QString::fromLatin1(format.szExt);
        if (strFormat == u"DXF")
            return nIndex;
        if (format.bTarget && strFormat != u"SFC")
            ++nIndex;
    }
    return -1;
}

// Answers Notify as a desktop's notification service would, on a bus connection of its own.
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

// Window runs against the real stand-in on a private bus, and what they leave behind: the
// report, the report window, the notification.
class TestRunReport : public QObject
{
    Q_OBJECT

    StandinBus m_bus;
    QTemporaryDir m_appDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CConverterDlg> m_dlg;
    QStringList m_messages;
    QList<Answer> m_answers;
    std::function<void()> m_onPrompt;

    QString src(const QString &name = {}) const { return m_dir->filePath(u"src/"_s + name); }
    QString dst(const QString &name = {}) const { return m_dir->filePath(u"dst/"_s + name); }

    bool openWindow(int nMode)
    {
        const QString ini = u"[Common]\nFolder=0\nMode=%1\n[Original]\nExt=1\nFolder#0=%2\n"
                            u"[Convert]\nExt=%3\nFolder#0=%4\n"_s.arg(nMode)
                                .arg(src())
                                .arg(dxfIndex())
                                .arg(dst());
        if (!writeFile(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                           + u"/Norvale/Norvale.ini"_s,
                       ini.toUtf8()))
            return false;
        m_dlg = std::make_unique<CConverterDlg>();
        m_dlg->m_strAppDir = m_appDir.path();
        m_dlg->Create();
        return m_dlg->m_dst.strExt == u"DXF" && m_dlg->m_nMode == nMode;
    }

    // Sources a to d, an hour old; targets of the names in withTarget, newer than their source.
    bool makeFiles(const QString &withTarget)
    {
        for (const QChar c : u"abcd"_s) {
            const QString name = QString(c);
            if (!writeFile(src(name + u".sfc"_s), "Norvale test drawing\n")
                || !setTime(src(name + u".sfc"_s), QDateTime::currentDateTime().addSecs(-3600)))
                return false;
            if (withTarget.contains(c) && !writeFile(dst(name + u".dxf"_s), "old\n"))
                return false;
        }
        return true;
    }

    // "a:converted b:up-to-date ..." in the order of the report.
    static QString outcomes(const QList<RunReport::Row> &aRows)
    {
        QStringList aParts;
        for (const RunReport::Row &row : aRows)
            aParts << QFileInfo(row.strSource).completeBaseName() + u':'
                    + RunReport::Keyword(row.outcome);
        return aParts.join(u' ');
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
        m_messages.clear();
        m_answers.clear();
        m_onPrompt = nullptr;
        g_messageBoxHook = [this](const QString &strText, QMessageBox::StandardButtons buttons,
                                  QMessageBox::Icon, QMessageBox::StandardButton) {
            m_messages << strText;
            return buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
        };
        COverwriteDlg::answerHook = [this](const QString &) {
            if (m_onPrompt)
                m_onPrompt();
            return m_answers.isEmpty() ? Answer::Cancel : m_answers.takeFirst();
        };
    }

    void cleanup()
    {
        g_messageBoxHook = nullptr;
        COverwriteDlg::answerHook = nullptr;
        CProgressDlg::beepHook = nullptr;
        RunNotice::s_nMinRunMs = 10000;
        RunNotice::userAwayHook = nullptr;
        m_dlg.reset();
        StandinBus::quit();
        QDir::setCurrent(QDir::tempPath());
        m_dir.reset();
    }

    // Every outcome a run can give a file, in the order the run met them.
    void outcomes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("testing"); // the stand-in's [Testing] settings
        QTest::addColumn<QString>("withTarget"); // sources whose target exists
        QTest::addColumn<QString>("answers"); // to the overwrite prompt: Y, N, C
        QTest::addColumn<bool>("cancel"); // Cancel in the progress window during a.sfc
        QTest::addColumn<QString>("expected");
        QTest::newRow("automatic: converted, up to date, failed, not attempted")
            << 0 << QByteArray("FailSave=c.dxf") << u"b"_s << QString() << false
            << u"a:converted b:up-to-date c:failed d:not-attempted"_s;
        QTest::newRow("automatic: the server crashes")
            << 0 << QByteArray("CrashOn=b.sfc") << QString() << QString() << false
            << u"a:converted b:failed c:not-attempted d:not-attempted"_s;
        QTest::newRow("automatic: cancelled")
            << 0 << QByteArray("DelayMs=100") << QString() << QString() << true
            << u"a:converted b:not-attempted c:not-attempted d:not-attempted"_s;
        QTest::newRow("manual: declined, then cancelled at the prompt")
            << 1 << QByteArray() << u"abc"_s << u"YNC"_s << false
            << u"a:converted b:skipped c:not-attempted d:not-attempted"_s;
        QTest::newRow("manual: open fails")
            << 1 << QByteArray("FailOpen=a.sfc") << QString() << QString() << false
            << u"a:failed b:not-attempted c:not-attempted "
               u"d:not-attempted"_s;
    }
    void outcomes()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, testing);
        QFETCH(QString, withTarget);
        QFETCH(QString, answers);
        QFETCH(bool, cancel);
        QFETCH(QString, expected);
        QVERIFY(makeFiles(withTarget));
        QVERIFY(StandinBus::configure(testing));
        for (const QChar c : std::as_const(answers))
            m_answers << (c == u'Y' ? Answer::Yes : c == u'N' ? Answer::No : Answer::Cancel);
        const QString strBefore = RunReport::LastReportPath();
        QVERIFY(openWindow(mode));
        m_dlg->m_lcSrcFiles->selectAll();

        // Written as the run goes: at each prompt the files before it are on record.
        QStringList aSeenAtPrompts;
        m_onPrompt = [&] {
            QList<RunReport::Row> aRows;
            RunReport::Read(RunReport::LastReportPath(), &aRows);
            aSeenAtPrompts << outcomes(aRows);
        };
        QTimer user;
        CProgressDlg *progress = m_dlg->m_pProgressDlg;
        connect(&user, &QTimer::timeout, this, [&] {
            if (cancel && progress->isVisible() && progress->GetDlgItemText(1038) == u"a.sfc")
                progress->findChild<QPushButton *>()->click();
        });
        CProgressDlg::beepHook = [] {
        };
        user.start(5);
        m_dlg->OnConvert();
        user.stop();

        const QString strReport = RunReport::LastReportPath();
        QVERIFY(strReport != strBefore);
        QVERIFY(strReport.startsWith(RunReport::RunsFolder() + u'/'));
        QList<RunReport::Row> aRows;
        QVERIFY(RunReport::Read(strReport, &aRows));
        QCOMPARE(outcomes(aRows), expected);
        if (!answers.isEmpty())
            QCOMPARE(aSeenAtPrompts,
                     QStringList({QString(), u"a:converted"_s, u"a:converted b:skipped"_s}));
        for (const RunReport::Row &row : std::as_const(aRows)) {
            QCOMPARE(row.strSource, src(QFileInfo(row.strSource).fileName()));
            QVERIFY(row.time.isValid());
            // The server's own words for a failure; the reason for a declined file.
            QCOMPARE(row.strMessage.isEmpty(),
                     row.outcome != Outcome::Failed && row.outcome != Outcome::Skipped);
            if (row.outcome == Outcome::Failed)
                QCOMPARE(m_messages.last(), row.strMessage);
            if (row.outcome == Outcome::Skipped)
                QCOMPARE(row.strMessage, RunReportText(RunReportReason::Declined));
        }
    }

    // Fields with tabs, line breaks and backslashes come back as they went in; a line cut
    // short by a crash is left out; only the newest reports are kept.
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
            report.Add(Outcome::Converted, strOdd); // a second record of one file is ignored
            QCOMPARE(report.Count(Outcome::Failed), 1);
            QCOMPARE(report.Count(Outcome::Converted), 0);
            QCOMPARE(RunReport::LastReportPath(), report.Path());
        }
        QList<RunReport::Row> aRows;
        QVERIFY(RunReport::Read(RunReport::LastReportPath(), &aRows));
        QCOMPARE(aRows.size(), 2);
        QCOMPARE(aRows.at(0).strSource, strOdd);
        QCOMPARE(aRows.at(0).strMessage, u"line one\nline two\\"_s);
        QCOMPARE(aRows.at(1).outcome, Outcome::NotAttempted);
        QCOMPARE(runs.entryList(QDir::Files).size(), RunReport::kReportsKept);
        QVERIFY(!runs.exists(u"20000101-000000-005-00.tsv"_s));
        QVERIFY(runs.exists(u"20000101-000000-006-00.tsv"_s));

        QFile file(RunReport::LastReportPath());
        QVERIFY(file.open(QIODevice::Append));
        file.write(QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8()
                   + "\tconverted\t/x/");
        file.close();
        QVERIFY(RunReport::Read(RunReport::LastReportPath(), &aRows));
        QCOMPARE(aRows.size(), 2);
    }

    // The report window from the context menu, opened and closed as a user does.
    void reportWindow()
    {
        QVERIFY(makeFiles(QString()));
        QVERIFY(StandinBus::configure("FailSave=c.dxf"));
        QVERIFY(openWindow(0));
        m_dlg->OnConvert();
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));

        QStringList aCounts;
        QStringList aRows;
        bool bMenuSeen = false;
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&] {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                const QList<QAction *> actions = menu->actions();
                const auto it = std::find_if(actions.begin(), actions.end(),
                                             [](QAction *a) { return a->objectName() == u"32"; });
                if (it == actions.end() || (*it)->text() != LoadString(330))
                    return;
                bMenuSeen = true;
                menu->setActiveAction(*it);
                // From a timer of its own: the report window's modal loop must not run inside
                // this one, which would never fire again.
                QTimer::singleShot(0, menu, [menu] { QTest::keyClick(menu, Qt::Key_Return); });
            } else if (auto *dlg
                       = qobject_cast<CRunReportDlg *>(QApplication::activeModalWidget())) {
                if (!dlg->isVisible() || !aCounts.isEmpty())
                    return;
                aCounts << dlg->m_stCounts->text() << dlg->windowTitle() << dlg->objectName();
                for (int i = 0; i < dlg->m_lcFiles->topLevelItemCount(); ++i) {
                    const QTreeWidgetItem *item = dlg->m_lcFiles->topLevelItem(i);
                    aRows << item->text(0) + u'|' + item->text(1) + u'|' + item->text(2);
                }
                QTest::keyClick(dlg, Qt::Key_Escape);
            }
        });
        user.start(20);
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                m_dlg->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(m_dlg.get(), &event);
        QTRY_VERIFY(!aCounts.isEmpty());
        QTRY_VERIFY(!QApplication::activeModalWidget());
        user.stop();
        QVERIFY(bMenuSeen);
        QCOMPARE(aCounts,
                 QStringList({LoadString(332).arg(2).arg(0).arg(0).arg(1).arg(1), LoadString(331),
                              u"150"_s}));
        // Failures first, then what was not attempted, then the converted ones in run order.
        QCOMPARE(aRows,
                 QStringList({LoadString(333) + u"|c.sfc|c.dxf"_s, LoadString(334) + u"|d.sfc|"_s,
                              LoadString(336) + u"|a.sfc|a.dxf"_s,
                              LoadString(336) + u"|b.sfc|b.dxf"_s}));
    }

    // A long run the user has turned away from ends in one notification with its counts; a
    // short one, or one the user watches, in none; without the service, in nothing at all.
    void notification()
    {
        QVERIFY(makeFiles(QString()));
        QVERIFY(StandinBus::configure("FailSave=b.dxf"));
        QVERIFY(openWindow(0));
        bool bAway = true;
        RunNotice::userAwayHook = [&bAway] {
            return bAway;
        };
        RunNotice::s_nMinRunMs = 0;
        m_dlg->OnConvert(); // no service yet
        QCOMPARE(m_messages.size(), 2); // the question and the failure, nothing else

        QDBusConnection service
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"notifications"_s);
        FakeNotifications notifications;
        QVERIFY(service.registerObject(u"/org/freedesktop/Notifications"_s, &notifications,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(u"org.freedesktop.Notifications"_s));
        const auto runAll = [this] {
            for (const QString &name : QDir(dst()).entryList(QDir::Files))
                QFile::remove(dst(name));
            StandinBus::quit();
            m_dlg->OnConvert();
        };
        bAway = false;
        runAll();
        bAway = true;
        RunNotice::s_nMinRunMs = 60000;
        runAll();
        RunNotice::s_nMinRunMs = 0;
        runAll();
        // Notices leave in order; only the last run's can have arrived.
        QTRY_COMPARE(notifications.m_aBodies.size(), 1);
        QTest::qWait(200);
        QCOMPARE(notifications.m_aBodies, QStringList {LoadString(347).arg(1).arg(1)});
        service.unregisterService(u"org.freedesktop.Notifications"_s);
        QDBusConnection::disconnectFromBus(u"notifications"_s);
    }
};

NORVALE_TEST_MAIN(TestRunReport)
#include "tst_runreport.moc"
