#include "tests/BusFixture.h"
#include "tests/norvale/FakeDesktop.h"
#include "tests/norvale/ModalUser.h"
#include "tests/norvale/WindowFixture.h"

#include "app/CConverterDlg.h"
#include "conversion/CRunReportDlg.h"
#include "conversion/RunReport.h"
#include "res/Strings.h"

#include <QLabel>
#include <QMenu>
#include <QTreeWidget>

using namespace Qt::Literals::StringLiterals;
using TestEnvironment::writeFile;

namespace {

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

} // namespace

// Window runs against the real stand-in on a private bus, and what they leave: the report and the
// report window.
class TestRunReport : public QObject
{
    Q_OBJECT

    BusFixture m_bus;
    QTemporaryDir m_appDir;
    std::unique_ptr<CConverterDlg> m_dlg;
    std::unique_ptr<FakeDesktop> m_pDesktop;

    QString src(const QString &name = {}) const { return m_bus.path(u"src/"_s + name); }
    QString dst(const QString &name = {}) const { return m_bus.path(u"dst/"_s + name); }

    // Sources a to d, an hour old, SFC to DXF; a target, newer, for each name in withTarget.
    bool openWindow(int nMode, const QString &withTarget = {})
    {
        for (const QChar c : u"abcd"_s) {
            if (!writeFile(src(c + u".sfc"_s), "Norvale test drawing\n",
                           QDateTime::currentDateTime().addSecs(-3600))
                || (withTarget.contains(c) && !writeFile(dst(c + u".dxf"_s), "old\n")))
                return false;
        }
        m_dlg = WindowFixture::open(
            m_appDir.path(), WindowFixture::settings(nMode, u"SFC"_s, src(), u"DXF"_s, dst()));
        return m_dlg && m_dlg->m_dst.strFolder == QDir::cleanPath(dst())
            && m_dlg->m_dst.strExt == u"DXF" && m_dlg->m_nMode == nMode;
    }

private slots:
    void initTestCase() { QVERIFY(m_bus.start()); }

    void init()
    {
        QVERIFY(m_bus.newFolder());
        QVERIFY(QDir().mkpath(src()) && QDir().mkpath(dst()));
        m_pDesktop = std::make_unique<FakeDesktop>();
    }

    void cleanup()
    {
        m_dlg.reset();
        m_pDesktop.reset();
        QVERIFY(BusFixture::quit());
        QDir::setCurrent(QDir::tempPath());
    }

    // What the prompt's answers give the files, written as the run goes: at each prompt, the
    // files before it are on record. The other outcomes are the command line's to check.
    void promptOutcomes()
    {
        QVERIFY(openWindow(1, u"abc"_s));
        const QString strBefore = RunReport::LastReportPath();
        m_dlg->m_lcSrcFiles->selectAll();
        ModalUser user;
        user.promptAnswers = u"YNC"_s;
        QStringList aSeenAtPrompts;
        user.duringPrompt = [&] {
            aSeenAtPrompts << lastReport();
        };
        m_dlg->OnConvert();

        QVERIFY(RunReport::LastReportPath() != strBefore);
        QList<RunReport::Row> aRows;
        QVERIFY(RunReport::Read(RunReport::LastReportPath(), &aRows));
        QCOMPARE(outcomesOf(aRows), u"a:converted b:skipped c:not-attempted d:not-attempted"_s);
        QCOMPARE(aSeenAtPrompts,
                 QStringList({QString(), u"a:converted"_s, u"a:converted b:skipped"_s}));
        QCOMPARE(aRows.at(1).strMessage, RunReportText(RunReportReason::Declined));
        QCOMPARE(aRows.at(0).strSource, src(u"a.sfc"_s));
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
            report.Add(RunReport::Outcome::Converted, strOdd);
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
    // report, failures first, then what was not attempted, then the rest in run order. The
    // window's context menu opens the same report.
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
        QVERIFY(BusFixture::configure("[Testing]\n" + testing));
        QVERIFY(openWindow(0, withTarget));
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
                menu->setActiveAction(menu->findChild<QAction *>(QString::number(IDM_RUN_REPORT)));
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
};

NORVALE_TEST_MAIN(TestRunReport)
#include "tst_runreport.moc"
