#include "tests/BusFixture.h"
#include "tests/norvale/FakeDesktop.h"
#include "tests/norvale/ModalUser.h"
#include "tests/norvale/WindowFixture.h"

#include "app/CConverterDlg.h"
#include "conversion/CProgressDlg.h"
#include "panes/FileListModel.h"
#include "res/Strings.h"

#include <QAction>
#include <QPushButton>

#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <utility>

using namespace Qt::Literals::StringLiterals;
using TestEnvironment::readFile;
using TestEnvironment::writeFile;

namespace {

// How every target the stand-in writes begins; anything else is a target the test wrote.
const QByteArray kRecord = "Norvale stand-in drawing server";
const QByteArray kOldTarget = "an old target\n";

} // namespace

// Every run goes to the real stand-in, activated by a bus daemon of this test's own whose service
// folder the test controls, so that "no drawing program" can be had without a second bus. The
// message boxes are the real ones, answered by the user's keys and clicks.
class TestConversion : public QObject
{
    Q_OBJECT

    BusFixture m_bus;
    QTemporaryDir m_appDir;
    std::unique_ptr<CConverterDlg> m_dlg;
    std::unique_ptr<FakeDesktop> m_desktop;
    std::unique_ptr<ModalUser> m_user;

    QString src(const QString &name = {}) const { return m_bus.path(u"src/"_s + name); }
    QString dst(const QString &name = {}) const { return m_bus.path(u"dst/"_s + name); }
    QString statsFile() const { return m_bus.path(u"stats"_s); }

    // The next stand-in answers with the author data of the user's drawing program, appends its
    // call count to statsFile() when it quits and does as testing says.
    bool configure(const QByteArray &testing = {})
    {
        return BusFixture::configure("[Testing]\nStatsFile=" + QFile::encodeName(statsFile()) + '\n'
                                     + testing
                                     + "\n[General]\nAuthorName=山田 太郎\nAffiliation=設計部");
    }

    // The calls each finished server took, in the order they quit.
    QList<int> serverCalls() const
    {
        QList<int> calls;
        const QRegularExpression line(u"^calls=(\\d+) "_s, QRegularExpression::MultilineOption);
        for (const auto &match : line.globalMatch(QString::fromUtf8(readFile(statsFile()))))
            calls << match.captured(1).toInt();
        return calls;
    }

    // An hour old, so that a target written now is newer.
    bool makeSource(const QString &name)
    {
        return writeFile(src(name), "Norvale test drawing\n",
                         QDateTime::currentDateTime().addSecs(-3600));
    }
    bool makeTarget(const QString &name)
    {
        return writeFile(dst(name), kOldTarget, QDateTime::currentDateTime().addSecs(-60));
    }
    bool converted(const QString &name) const { return readFile(dst(name)).startsWith(kRecord); }
    QStringList targets() const
    {
        return QDir(dst()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    // The window as a user left it: source SFC, the given target format (empty: none) and mode.
    bool openWindow(int nMode, const QString &strDstExt)
    {
        m_dlg = WindowFixture::open(
            m_appDir.path(), WindowFixture::settings(nMode, u"SFC"_s, src(), strDstExt, dst()));
        return m_dlg && m_dlg->m_src.strFolder == QDir::cleanPath(src())
            && m_dlg->m_dst.strExt == strDstExt && m_dlg->m_nMode == nMode;
    }

    QStringList listed(Side side) const
    {
        QStringList names = WindowFixture::listed(*m_dlg, side);
        names.sort();
        return names;
    }

    QString question(int nCount) const
    {
        return LoadString(IDS_AUTO_CONVERT_QUESTION).replace(u"%d"_s, QString::number(nCount));
    }

    // After any run, failed or not, the user has the window back.
    void verifyIdle()
    {
        QVERIFY2(!m_user->bLeftOpen, "a window of the run did not take its answer");
        QVERIFY(!m_dlg->m_bRunning);
        QVERIFY(m_dlg->isEnabled());
        QVERIFY(!m_dlg->m_pProgressDlg->isVisible());
    }

private slots:
    void initTestCase() { QVERIFY(m_bus.start(BusFixture::Services::Chosen)); }

    void init()
    {
        QVERIFY(m_bus.setService(BusFixture::standinService()));
        QVERIFY(m_bus.newFolder());
        QVERIFY(QDir().mkpath(src()) && QDir().mkpath(dst()));
        QVERIFY(configure());
        m_desktop = std::make_unique<FakeDesktop>();
        m_desktop->bShowBoxes = true;
        m_user = std::make_unique<ModalUser>();
    }

    void cleanup()
    {
        m_user.reset();
        m_dlg.reset();
        m_desktop.reset();
        QVERIFY(BusFixture::quit());
        // The listing made the folders current; they must be deletable.
        QDir::setCurrent(QDir::tempPath());
    }

    // A target is named by its source's name up to the first dot, whatever its case or script;
    // a name that starts with its dot gives none and is passed over.
    void targetNames()
    {
        for (const QString &name : {u"PLAN.SFC"_s, u"a.b.c.sfc"_s, u"平面図 1.sfc"_s, u".sfc"_s})
            QVERIFY(makeSource(name));
        QVERIFY(openWindow(0, u"DXF"_s));
        m_dlg->OnConvert();
        QCOMPARE(targets(), QStringList({u"PLAN.dxf"_s, u"a.dxf"_s, u"平面図 1.dxf"_s}));
        for (const QString &name : targets())
            QVERIFY(converted(name));
        QCOMPARE(listed(Side::Target), targets());
        QCOMPARE(m_desktop->Texts(), QStringList {question(m_dlg->m_src.Model()->rowCount())});
        verifyIdle();
    }

    // Sources whose names are not UTF-8 are converted as exactly those files, to targets with the
    // same bytes before the extension, although D-Bus carries only UTF-8; nothing of the links
    // or temporary names used on the way is left behind.
    void rawNames()
    {
        const QByteArray folder = QFile::encodeName(src()) + '/';
        const QList<QByteArray> stems = {"\x93\xfa\x96\x7b", "\xff\xfe", "\xef\xbf\xbd"};
        for (const QByteArray &stem : stems) {
            const int fd = ::open((folder + stem + ".sfc").constData(), O_WRONLY | O_CREAT, 0600);
            QVERIFY(fd >= 0 && ::write(fd, "drawing\n", 8) == 8);
            ::close(fd);
        }
        QVERIFY(openWindow(0, u"DXF"_s));
        QCOMPARE(listed(Side::Source),
                 QStringList({u"日本.sfc"_s, u"\ufffd.sfc"_s, u"\ufffd\ufffd.sfc"_s}));
        m_dlg->OnConvert();
        verifyIdle();
        QCOMPARE(m_user->prompts, QStringList());

        // QFile can spell none of these names: the targets are read as the system holds them.
        QCOMPARE(m_dlg->m_dst.Model()->rowCount(), 3);
        for (const QByteArray &stem : stems) {
            const int fd
                = ::open((QFile::encodeName(dst()) + '/' + stem + ".dxf").constData(), O_RDONLY);
            char head[64] = {};
            const bool bRead = fd >= 0 && ::read(fd, head, sizeof head - 1) > 0;
            ::close(fd);
            QVERIFY2(bRead && QByteArray(head).startsWith(kRecord), head);
        }
        const QString links = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
            + u"/Norvale"_s;
        QCOMPARE(QDir(links).entryList({u"link-*"_s}, QDir::AllEntries | QDir::Hidden),
                 QStringList());
    }

    // A long run: every reply is noticed, however quickly the server answers, and no file costs
    // more than Open, one author call and SaveAs. A reply that lands while the wait is being set
    // up once left a run waiting for the whole call timeout, far beyond the test's own.
    void longRun()
    {
        constexpr int kFiles = 300;
        for (int i = 0; i < kFiles; ++i)
            QVERIFY(makeSource(u"plan%1.sfc"_s.arg(i, 3, 10, QLatin1Char('0'))));
        QVERIFY(openWindow(0, u"PDF"_s));
        QTRY_COMPARE(serverCalls(), QList<int> {4}); // the start-up probe
        m_dlg->OnConvert();
        QCOMPARE(targets().size(), kFiles);
        QVERIFY(converted(u"plan000.pdf"_s) && converted(u"plan299.pdf"_s));
        QTRY_COMPARE(serverCalls(), QList<int>({4, 3 * kFiles + 1}));
        verifyIdle();
    }

    // The rule compares whole seconds, also before 1970. Each source with its time and its
    // target's (none: INT_MIN) in milliseconds from a whole second.
    void dateRule()
    {
        const QDateTime yesterday
            = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 86400);
        const QDateTime before1970(QDate(1960, 6, 1), QTime(12, 0));
        const struct
        {
            QString name;
            QDateTime base;
            int sourceMs, targetMs;
            bool converted;
        } cases[] = {
            {u"missing"_s, yesterday, 0, INT_MIN, true},
            {u"older-by-a-second"_s, yesterday, 100, -100, true},
            {u"same-second"_s, yesterday, 900, 100, false},
            {u"1960-older"_s, before1970, 0, -1000, true},
            {u"1960-newer"_s, before1970, 0, 5000, false},
        };
        for (const auto &c : cases) {
            QVERIFY(writeFile(src(c.name + u".sfc"_s), "drawing\n", c.base.addMSecs(c.sourceMs)));
            if (c.targetMs != INT_MIN)
                QVERIFY(
                    writeFile(dst(c.name + u".dxf"_s), kOldTarget, c.base.addMSecs(c.targetMs)));
        }
        QVERIFY(openWindow(0, u"DXF"_s));
        m_dlg->OnConvert();
        QCOMPARE(m_desktop->Texts(), QStringList {question(int(std::size(cases)))});
        for (const auto &c : cases)
            QVERIFY2(converted(c.name + u".dxf"_s) == c.converted, qPrintable(c.name));
        QCOMPARE(m_user->prompts, QStringList()); // replaced without asking
        verifyIdle();
    }

    // Three sources whose targets all exist, answered on the real prompt (see ModalUser). Never
    // asked about: a.v1.sfc, whose target is a's whatever became of it, is not converted, and
    // v.sfc, deleted after the listing, is passed over without an error.
    void manualAnswers_data()
    {
        QTest::addColumn<QString>("answers");
        QTest::addColumn<QString>("expected"); // the sources converted
        QTest::newRow("いいえ, then すべて上書き asks no more") << u"NA"_s << u"bc"_s;
        QTest::newRow("はい, then ｷｬﾝｾﾙ stops") << u"YC"_s << u"a"_s;
        QTest::newRow("Enter is はい, Esc is ｷｬﾝｾﾙ") << u"EX"_s << u"a"_s;
        // One prompt serves a whole run: its last answer must not turn the close box into a skip.
        QTest::newRow("いいえ, then the close box stops") << u"NZ"_s << QString();
        QTest::newRow("いいえ to all") << u"NNN"_s << QString();
    }
    void manualAnswers()
    {
        QFETCH(QString, answers);
        QFETCH(QString, expected);
        QStringList asked;
        for (const QString &name : {u"a"_s, u"b"_s, u"c"_s}) {
            QVERIFY(makeSource(name + u".sfc"_s) && makeTarget(name + u".dxf"_s));
            if (asked.size() < answers.size())
                asked << dst(name + u".dxf"_s);
        }
        QVERIFY(makeSource(u"a.v1.sfc"_s) && makeSource(u"v.sfc"_s));
        QVERIFY(openWindow(1, u"DXF"_s));
        m_dlg->m_lcSrcFiles->selectAll();
        QVERIFY(QFile::remove(src(u"v.sfc"_s)));
        m_user->promptAnswers = answers;

        m_dlg->OnConvert();
        QCOMPARE(m_user->prompts, asked);
        for (const QString &name : {u"a"_s, u"b"_s, u"c"_s})
            QCOMPARE(converted(name + u".dxf"_s), expected.contains(name));
        // The passed-over drawings (a.v1.sfc always) are told at the end, whatever the answers.
        QCOMPARE(m_desktop->Texts(), QStringList {LoadString(IDS_RUN_SUMMARY_SKIPPED)});
        QVERIFY(!readFile(dst(u"a.dxf"_s)).contains("a.v1.sfc"));
        verifyIdle();
    }

    // The question before an automatic run, answered on the real message box.
    void autoQuestion_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("converted");
        QTest::newRow("Enter is はい") << u"E"_s << true;
        QTest::newRow("いいえ") << u"N"_s << false;
        QTest::newRow("Esc is いいえ") << u"X"_s << false;
    }
    void autoQuestion()
    {
        QFETCH(QString, answer);
        QFETCH(bool, converted);
        QVERIFY(makeSource(u"a.sfc"_s));
        QVERIFY(openWindow(0, u"DXF"_s));
        m_user->boxAnswers = answer;
        m_dlg->OnConvert();
        QCOMPARE(m_desktop->Texts(), QStringList {question(1)});
        QCOMPARE(targets(), converted ? QStringList {u"a.dxf"_s} : QStringList());
        verifyIdle();
    }

    // While a run works, the keys of the main window do nothing: no mode change, no help, no
    // second run.
    void keysDuringRun_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("automatic, while the progress window shows") << 0;
        QTest::newRow("manual, while the prompt asks") << 1;
    }
    void keysDuringRun()
    {
        QFETCH(int, mode);
        QVERIFY(makeSource(u"a.sfc"_s) && makeSource(u"b.sfc"_s) && makeTarget(u"a.dxf"_s));
        QVERIFY(configure("DelayMs=50"));
        QVERIFY(openWindow(mode, u"DXF"_s));
        m_dlg->m_lcSrcFiles->selectAll();
        const QString strStatus = m_dlg->GetDlgItemText(IDC_STATUS);
        QSignalSpy commands(m_dlg.get(), &CConverterDlg::commandRun);
        bool bSent = false;
        const auto pressKeys = [&] {
            if (std::exchange(bSent, true))
                return;
            for (const Qt::Key key : {Qt::Key_F1, Qt::Key_F7, Qt::Key_F8, Qt::Key_F5})
                QTest::keyClick(m_dlg->m_lcSrcFiles, key);
        };
        QTimer keys;
        connect(&keys, &QTimer::timeout, this, [&] {
            if (m_dlg->m_pProgressDlg->isVisible())
                pressKeys();
        });
        if (mode == 0)
            keys.start(5);
        m_user->duringPrompt = pressKeys;
        m_user->promptAnswers = u"Y"_s;
        m_dlg->OnConvert();
        keys.stop();
        QVERIFY(bSent);
        QTest::qWait(20); // whatever the keys queued would run now
        QCOMPARE(commands.count(), 0);
        QCOMPARE(m_dlg->m_nMode, mode);
        QCOMPARE(m_dlg->GetDlgItemText(IDC_STATUS), strStatus);
        QVERIFY(converted(u"b.dxf"_s));
        QCOMPARE(converted(u"a.dxf"_s), mode == 1); // automatic mode keeps the newer target
        verifyIdle();
    }

    // Cancel while a file is converted: that file is finished, no other started, the server
    // still told to quit; the next run has forgotten the request.
    void cancel_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("button") << u"button"_s;
        QTest::newRow("Esc") << u"Esc"_s;
        QTest::newRow("close box") << u"close box"_s;
    }
    void cancel()
    {
        QFETCH(QString, how);
        for (const QString &name : {u"a.sfc"_s, u"b.sfc"_s, u"c.sfc"_s})
            QVERIFY(makeSource(name));
        QVERIFY(configure("DelayMs=100"));
        QVERIFY(openWindow(0, u"DXF"_s));
        CProgressDlg *progress = m_dlg->m_pProgressDlg;
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&] {
            if (!progress->isVisible()
                || progress->GetDlgItemText(IDC_PROGRESS_SRC_NAME) != u"a.sfc")
                return;
            if (how == u"button")
                QTest::mouseClick(progress->findChild<QPushButton *>(), Qt::LeftButton);
            else if (how == u"Esc")
                QTest::keyClick(progress, Qt::Key_Escape);
            else
                progress->close();
        });
        user.start(5);
        m_dlg->OnConvert();
        user.stop();
        QCOMPARE(m_desktop->nBeeps, 1);
        QCOMPARE(targets(), QStringList {u"a.dxf"_s});
        QVERIFY(converted(u"a.dxf"_s));
        QCOMPARE(listed(Side::Target), targets());
        // Open, SetAuthorName, SaveAs, Quit.
        QTRY_COMPARE(serverCalls(), QList<int>({4, 4}));
        verifyIdle();

        m_dlg->OnConvert();
        QCOMPARE(targets(), QStringList({u"a.dxf"_s, u"b.dxf"_s, u"c.dxf"_s}));
        QCOMPARE(m_desktop->nBeeps, 1);
    }

    // Sent from 600 on, as the author dialog leaves them: for SXF targets a name and an
    // affiliation, for the others a name; the rest the server's stored values.
    void authorData_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QString>("answer"); // to the author dialog; empty: not opened
        QTest::addColumn<QString>("line"); // %L: the logon name
        QTest::addColumn<QString>("record");
        const QString stored = u"author-name: 山田 太郎\naffiliation: 設計部\n"_s;
        QTest::newRow("599: nothing sent") << 599 << u"PDF"_s << QString() << QString() << stored;
        QTest::newRow("P21: name and affiliation typed")
            << 600 << u"P21"_s << u"鈴木 一郎|本社|ok"_s << u"鈴木 一郎@本社"_s
            << u"author-name: 鈴木 一郎\naffiliation: 本社\n"_s;
        QTest::newRow("P21: the user's name") << 600 << u"P21"_s << u"@user||ok"_s << u"%L@設計部"_s
                                              << u"author-name: %L\naffiliation: 設計部\n"_s;
        QTest::newRow("P21: Cancel")
            << 600 << u"P21"_s << u"鈴木 一郎|本社|cancel"_s << u"山田 太郎@設計部"_s << stored;
        QTest::newRow("PDF: a name, no affiliation")
            << 600 << u"PDF"_s << u"佐藤 花子|本社|ok"_s << u"佐藤 花子"_s
            << u"author-name: 佐藤 花子\naffiliation: 設計部\n"_s;
        QTest::newRow("DXF: no line, the name still sent")
            << 600 << u"DXF"_s << QString() << QString()
            << u"author-name: %L\naffiliation: 設計部\n"_s;
    }
    void authorData()
    {
        QFETCH(int, version);
        QFETCH(QString, ext);
        QFETCH(QString, answer);
        QFETCH(QString, line);
        QFETCH(QString, record);
        QVERIFY(makeSource(u"PLAN.sfc"_s));
        QVERIFY(configure("Version=" + QByteArray::number(version)));
        QVERIFY(openWindow(0, ext));
        QCOMPARE(m_dlg->m_nCadVersion, version);
        QAction *author = m_dlg->CommandAction(ID_AUTHOR_NAME);
        if (version >= 600)
            QCOMPARE(author->isEnabled(), !answer.isEmpty());
        if (!answer.isEmpty()) {
            m_user->authorAnswer = answer;
            author->trigger();
        }
        QCOMPARE(m_dlg->GetDlgItemText(IDC_AUTHOR_LINE),
                 line.replace(u"%L"_s, m_dlg->m_strLogonName));
        m_dlg->OnConvert();
        const QString text = QString::fromUtf8(readFile(dst(u"PLAN."_s + ext.toLower())));
        QVERIFY2(text.contains(record.replace(u"%L"_s, m_dlg->m_strLogonName)), qPrintable(text));
        QVERIFY(text.contains(u"target-format: "_s + ext + u'\n'));
        verifyIdle();
    }

    // The run stops at the failing file with the server's own words; what was saved stays saved
    // and is shown.
    void serverFailure()
    {
        for (const QString &name : {u"a.sfc"_s, u"b.sfc"_s, u"c.sfc"_s})
            QVERIFY(makeSource(name));
        QVERIFY(configure("FailOpen=b.sfc"));
        QVERIFY(openWindow(0, u"DXF"_s));
        m_dlg->OnConvert();
        QCOMPARE(m_desktop->aMessages.size(), 2);
        const QString error = m_desktop->aMessages.at(1).strText;
        QVERIFY2(error.contains(QRegularExpression(u"b\\.sfc.*開けません"_s)), qPrintable(error));
        QCOMPARE(targets(), QStringList {u"a.dxf"_s});
        QVERIFY(converted(u"a.dxf"_s));
        QCOMPARE(listed(Side::Target), targets());
        verifyIdle();

        // A fresh server, told nothing of failures, takes the rest.
        QVERIFY(configure());
        const QByteArray first = readFile(dst(u"a.dxf"_s));
        m_desktop->aMessages.clear();
        m_dlg->OnConvert();
        QCOMPARE(m_desktop->Texts(), QStringList {question(3)});
        QCOMPARE(readFile(dst(u"a.dxf"_s)), first);
        QVERIFY(converted(u"b.dxf"_s) && converted(u"c.dxf"_s));
        QCOMPARE(listed(Side::Target), targets());
        verifyIdle();
    }

    // Without a drawing program the run says so before it asks anything.
    void noServer()
    {
        QVERIFY(m_bus.setService({}));
        QVERIFY(makeSource(u"a.sfc"_s));
        QVERIFY(openWindow(0, u"DXF"_s));
        m_dlg->OnConvert();
        QCOMPARE(m_desktop->Texts(), QStringList {LoadString(IDS_SERVER_UNAVAILABLE)});
        QCOMPARE(targets(), QStringList());
        verifyIdle();
    }
};

NORVALE_TEST_MAIN(TestConversion)
#include "tst_conversion.moc"
