#include "tests/FakeDesktop.h"
#include "tests/StandinBus.h"
#include "tests/WindowFixture.h"

#include "app/CConverterDlg.h"
#include "controls/CPathLabel.h"
#include "conversion/COverwriteDlg.h"
#include "conversion/CProgressDlg.h"
#include "panes/FileListModel.h"
#include "res/Strings.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <dirent.h>
#include <fcntl.h>
#include <functional>
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

bool setTime(const QString &strPath, const QDateTime &time)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadWrite)
        && file.setFileTime(time, QFileDevice::FileModificationTime);
}

// Counts the paintings of a widget.
class PaintCounter : public QObject
{
public:
    int nPaints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++nPaints;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

// Every run goes to the real stand-in, activated by a bus daemon of this test's own whose service
// folder the test controls, so that "no drawing program" can be had without a second bus.
class TestConversion : public QObject
{
    Q_OBJECT

    QTemporaryDir m_bus;
    QProcess m_daemon;
    QTemporaryDir m_appDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CConverterDlg> m_dlg;
    // Shows the real message boxes, and records their texts and the beeps.
    std::unique_ptr<FakeDesktop> m_desktop;
    // The user at the screen: answers each modal window a run opens, in its own modal loop, with
    // its real buttons and keys.
    QTimer m_user;
    QPointer<QDialog> m_pOpen; // answered, and still open
    int m_nTicksOpen = 0;
    bool m_bLeftOpen = false;
    QString m_boxAnswers; // for message boxes; none left: はい or OK
    QStringList m_prompts; // the paths the overwrite prompts showed
    QString m_answers; // for overwrite prompts; none left: ｷｬﾝｾﾙ
    std::function<void()> m_duringPrompt;

    QString src(const QString &name = {}) const { return m_dir->filePath(u"src/"_s + name); }
    QString dst(const QString &name = {}) const { return m_dir->filePath(u"dst/"_s + name); }
    QString statsFile() const { return m_dir->filePath(u"stats"_s); }

    // The next stand-in answers with the author data of the user's drawing program, appends its
    // call count to statsFile() when it quits and does as testing says.
    bool configure(const QByteArray &testing = {})
    {
        return StandinBus::configure("StatsFile=" + QFile::encodeName(statsFile()) + '\n' + testing
                                     + "\n[General]\nAuthorName=山田 太郎\nAffiliation=設計部");
    }

    // The calls each finished server took, in the order they quit.
    QList<int> serverCalls() const
    {
        QList<int> calls;
        const QRegularExpression line(u"^calls=(\\d+) "_s, QRegularExpression::MultilineOption);
        auto it = line.globalMatch(QString::fromUtf8(readFile(statsFile())));
        while (it.hasNext())
            calls << it.next().captured(1).toInt();
        return calls;
    }

    // An hour old, so that a target written now is newer.
    bool makeSource(const QString &name)
    {
        return writeFile(src(name), "Norvale test drawing\n")
            && setTime(src(name), QDateTime::currentDateTime().addSecs(-3600));
    }
    bool makeTarget(const QString &name)
    {
        return writeFile(dst(name), kOldTarget)
            && setTime(dst(name), QDateTime::currentDateTime().addSecs(-60));
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

    // Answers the modal window in front: Y はい, A すべて上書き, N いいえ, C ｷｬﾝｾﾙ by their
    // buttons, E Enter, X Esc. An answer that does not close the window is no answer: after two
    // seconds the window is closed from outside, so that the test fails instead of waiting for
    // ever.
    void answerModal()
    {
        auto *dlg = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dlg || !dlg->isVisible())
            return;
        if (dlg == m_pOpen) {
            if (++m_nTicksOpen > 400) {
                m_bLeftOpen = true;
                m_pOpen = nullptr;
                dlg->reject();
            }
            return;
        }
        auto *box = qobject_cast<QMessageBox *>(dlg);
        auto *prompt = qobject_cast<COverwriteDlg *>(dlg);
        if (!box && !prompt) {
            m_bLeftOpen = true;
            dlg->reject();
            return;
        }
        QString &answers = box ? m_boxAnswers : m_answers;
        const QChar c = answers.isEmpty() ? (box ? u'Y' : u'C') : answers.front();
        answers.remove(0, 1);
        QAbstractButton *button = nullptr;
        if (box) {
            button = box->button(c == u'N'                           ? QMessageBox::No
                                     : box->button(QMessageBox::Yes) ? QMessageBox::Yes
                                                                     : QMessageBox::Ok);
        } else {
            m_prompts << prompt->m_stFileName->text();
            if (m_duringPrompt)
                m_duringPrompt();
            const int nId = c == u'Y' ? 1
                : c == u'A'           ? IDC_OVERWRITE_ALL
                : c == u'N'           ? IDC_OVERWRITE_NO
                                      : 2;
            button = qobject_cast<QAbstractButton *>(prompt->GetDlgItem(nId));
        }
        if (c == u'E' || c == u'X')
            QTest::keyClick(dlg->focusWidget() ? dlg->focusWidget() : dlg,
                            c == u'E' ? Qt::Key_Return : Qt::Key_Escape);
        else if (button)
            QTest::mouseClick(button, Qt::LeftButton);
        m_pOpen = dlg->isVisible() ? dlg : nullptr;
        m_nTicksOpen = 0;
    }

    // After any run, failed or not, the user has the window back.
    void verifyIdle()
    {
        QVERIFY2(!m_bLeftOpen, "a window of the run did not take its answer");
        QVERIFY(!m_dlg->m_bRunning);
        QVERIFY(m_dlg->isEnabled());
        QVERIFY(!m_dlg->m_pProgressDlg->isVisible());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(StandinBus::start(m_daemon, m_bus.path()));
        QVERIFY(!StandinBus::standinService().isEmpty());
        connect(&m_user, &QTimer::timeout, this, &TestConversion::answerModal);
        m_user.setInterval(5);
    }

    void cleanupTestCase()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }

    void init()
    {
        QVERIFY(StandinBus::setService(m_bus.path(), StandinBus::standinService()));
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(src()) && QDir().mkpath(dst()));
        QVERIFY(configure());
        m_desktop = std::make_unique<FakeDesktop>();
        m_desktop->bShowBoxes = true;
        m_boxAnswers.clear();
        m_prompts.clear();
        m_answers.clear();
        m_duringPrompt = nullptr;
        m_pOpen = nullptr;
        m_bLeftOpen = false;
        m_user.start();
    }

    void cleanup()
    {
        m_user.stop();
        m_dlg.reset();
        m_desktop.reset();
        StandinBus::quit();
        // The listing made the folders current; they must be deletable.
        QDir::setCurrent(QDir::tempPath());
        m_dir.reset();
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
            QVERIFY(fd >= 0);
            QVERIFY(::write(fd, "drawing\n", 8) == 8);
            ::close(fd);
        }
        QVERIFY(openWindow(0, u"DXF"_s));
        QCOMPARE(listed(Side::Source),
                 QStringList({u"日本.sfc"_s, u"\ufffd.sfc"_s, u"\ufffd\ufffd.sfc"_s}));
        m_dlg->OnConvert();
        verifyIdle();
        QCOMPARE(m_prompts, QStringList());

        // Exactly the three targets, each written by the server, under the source's bytes. QDir
        // cannot list names that are not UTF-8, so the folder is read as the system holds it.
        QList<QByteArray> made;
        DIR *dir = ::opendir(QFile::encodeName(dst()).constData());
        QVERIFY(dir);
        while (const dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.')
                made << QByteArray(entry->d_name);
        }
        ::closedir(dir);
        QCOMPARE(made.size(), stems.size());
        for (const QByteArray &stem : stems) {
            const QByteArray target = QFile::encodeName(dst()) + '/' + stem + ".dxf";
            const int fd = ::open(target.constData(), O_RDONLY);
            QVERIFY(fd >= 0);
            char head[64] = {};
            const bool bRead = ::read(fd, head, sizeof head - 1) > 0;
            ::close(fd);
            QVERIFY2(bRead && QByteArray(head).startsWith(kRecord), head);
            // QTemporaryDir removes only the names that QDir can spell.
            for (const QByteArray &path : {folder + stem + ".sfc", target})
                ::unlink(path.constData());
        }
        QCOMPARE(m_dlg->m_dst.Model()->rowCount(), 3);
        const QString links = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
            + u"/Norvale"_s;
        QCOMPARE(QDir(links).entryList({u"link-*"_s}, QDir::AllEntries | QDir::Hidden),
                 QStringList());
    }

    // A long run: every reply is noticed, however quickly the server answers, no file costs
    // more than Open, one author call and SaveAs, and the progress window is painted in frames,
    // not once per file. A reply that lands while the wait is being set
    // up once left a run waiting for the whole call timeout; the watchdog turns that into a
    // failure naming the file instead of a test that never ends.
    void longRun()
    {
        constexpr int kFiles = 300;
        for (int i = 0; i < kFiles; ++i)
            QVERIFY(makeSource(u"plan%1.sfc"_s.arg(i, 3, 10, QLatin1Char('0'))));
        QVERIFY(openWindow(0, u"PDF"_s));
        QTRY_COMPARE(serverCalls(), QList<int> {4}); // the start-up probe
        QString lastFile;
        QElapsedTimer sinceLastFile;
        sinceLastFile.start();
        QTimer watchdog;
        connect(&watchdog, &QTimer::timeout, this, [&] {
            const QString file = m_dlg->m_pProgressDlg->GetDlgItemText(IDC_PROGRESS_SRC_NAME);
            if (file != lastFile) {
                lastFile = file;
                sinceLastFile.restart();
            } else if (sinceLastFile.elapsed() > 60000) {
                qFatal("the run has waited a minute for the server's reply on %s",
                       qPrintable(file));
            }
        });
        watchdog.start(100);
        PaintCounter paints;
        m_dlg->m_pProgressDlg->GetDlgItem(IDC_PROGRESS_SRC_NAME)->installEventFilter(&paints);
        QElapsedTimer run;
        run.start();
        m_dlg->OnConvert();
        const qint64 nRunMs = run.elapsed();
        watchdog.stop();
        QCOMPARE(targets().size(), kFiles);
        QVERIFY2(paints.nPaints > 0 && paints.nPaints <= nRunMs / 33 + 3,
                 qPrintable(u"%1 paintings in %2 ms"_s.arg(paints.nPaints).arg(nRunMs)));
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
            QVERIFY(writeFile(src(c.name + u".sfc"_s), "drawing\n"));
            QVERIFY(setTime(src(c.name + u".sfc"_s), c.base.addMSecs(c.sourceMs)));
            if (c.targetMs != INT_MIN)
                QVERIFY(makeTarget(c.name + u".dxf"_s)
                        && setTime(dst(c.name + u".dxf"_s), c.base.addMSecs(c.targetMs)));
        }
        QVERIFY(openWindow(0, u"DXF"_s));
        m_dlg->OnConvert();
        QCOMPARE(m_desktop->Texts(), QStringList {question(int(std::size(cases)))});
        for (const auto &c : cases)
            QVERIFY2(converted(c.name + u".dxf"_s) == c.converted, qPrintable(c.name));
        QCOMPARE(m_prompts, QStringList()); // replaced without asking
        verifyIdle();
    }

    // Three sources whose targets all exist, answered on the real prompt (see answerModal). Never
    // asked about: a.v1.sfc, whose target is a's whatever became of it, is not converted, and
    // v.sfc, deleted after the listing, is passed over without an error.
    void manualAnswers_data()
    {
        QTest::addColumn<QString>("answers");
        QTest::addColumn<QString>("expected"); // the sources converted
        QTest::newRow("いいえ, then すべて上書き asks no more") << u"NA"_s << u"bc"_s;
        QTest::newRow("はい, then ｷｬﾝｾﾙ stops") << u"YC"_s << u"a"_s;
        QTest::newRow("Enter is はい, Esc is ｷｬﾝｾﾙ") << u"EX"_s << u"a"_s;
        QTest::newRow("いいえ to all") << u"NNN"_s << QString();
    }
    void manualAnswers()
    {
        QFETCH(QString, answers);
        QFETCH(QString, expected);
        QStringList asked;
        for (const char *name : {"a", "b", "c"}) {
            QVERIFY(makeSource(QLatin1String(name) + u".sfc"_s));
            QVERIFY(makeTarget(QLatin1String(name) + u".dxf"_s));
            if (asked.size() < answers.size())
                asked << dst(QLatin1String(name) + u".dxf"_s);
        }
        QVERIFY(makeSource(u"a.v1.sfc"_s) && makeSource(u"v.sfc"_s));
        QVERIFY(openWindow(1, u"DXF"_s));
        m_dlg->m_lcSrcFiles->selectAll();
        QVERIFY(QFile::remove(src(u"v.sfc"_s)));
        m_answers = answers;

        m_dlg->OnConvert();
        QCOMPARE(m_prompts, asked);
        for (const char *name : {"a", "b", "c"})
            QCOMPARE(converted(QLatin1String(name) + u".dxf"_s),
                     expected.contains(QLatin1String(name)));
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
        m_boxAnswers = answer;
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
        QVERIFY(makeSource(u"a.sfc"_s));
        QVERIFY(makeSource(u"b.sfc"_s));
        QVERIFY(makeTarget(u"a.dxf"_s));
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
        m_duringPrompt = pressKeys;
        m_answers = u"Y"_s;
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

    // A click on Cancel while a file is converted: that file is finished, no other started.
    void cancelBetweenFiles()
    {
        for (const QString &name : {u"a.sfc"_s, u"b.sfc"_s, u"c.sfc"_s})
            QVERIFY(makeSource(name));
        QVERIFY(configure("DelayMs=100"));
        QVERIFY(openWindow(0, u"DXF"_s));
        CProgressDlg *progress = m_dlg->m_pProgressDlg;
        QPushButton *cancel = progress->findChild<QPushButton *>();
        QVERIFY(cancel);
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&] {
            if (progress->isVisible()
                && progress->GetDlgItemText(IDC_PROGRESS_SRC_NAME) == u"a.sfc")
                cancel->click();
        });
        user.start(5);
        m_dlg->OnConvert();
        user.stop();
        QCOMPARE(m_desktop->nBeeps, 1);
        QCOMPARE(targets(), QStringList {u"a.dxf"_s});
        QVERIFY(converted(u"a.dxf"_s));
        QCOMPARE(listed(Side::Target), targets());
        // The run still ends with Quit: Open, SetAuthorName, SaveAs, Quit.
        QTRY_COMPARE(serverCalls(), QList<int>({4, 4}));
        verifyIdle();
    }

    // Strings sent from 600 on: the dialog's own values, not the server's stored ones.
    void authorData_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QString>("line"); // %L: the logon name
        QTest::addColumn<QString>("record");
        const QString nameOnly = u"author-name: 佐藤 花子\naffiliation: 設計部\n"_s;
        QTest::newRow("599: nothing sent")
            << 599 << u"PDF"_s << QString() << u"author-name: 山田 太郎\naffiliation: 設計部\n"_s;
        QTest::newRow("P21: name and affiliation")
            << 600 << u"P21"_s << u"山田 太郎@設計部"_s
            << u"author-name: 鈴木 一郎\naffiliation: 本社\n"_s;
        QTest::newRow("PDF: name") << 600 << u"PDF"_s << u"%L"_s << nameOnly;
        QTest::newRow("DXF: no line, name still sent") << 600 << u"DXF"_s << QString() << nameOnly;
    }
    void authorData()
    {
        QFETCH(int, version);
        QFETCH(QString, ext);
        QFETCH(QString, line);
        QFETCH(QString, record);
        QVERIFY(makeSource(u"PLAN.sfc"_s));
        QVERIFY(configure("Version=" + QByteArray::number(version)));
        QVERIFY(openWindow(0, ext));
        QCOMPARE(m_dlg->m_nCadVersion, version);
        QCOMPARE(m_dlg->GetDlgItemText(IDC_AUTHOR_LINE),
                 line.replace(u"%L"_s, m_dlg->m_strLogonName));
        if (version >= 600)
            QCOMPARE(m_dlg->CommandAction(ID_AUTHOR_NAME)->isEnabled(), !line.isEmpty());
        // As the author dialog leaves them.
        m_dlg->m_strCadUserName = u"鈴木 一郎"_s;
        m_dlg->m_strAffiliation = u"本社"_s;
        m_dlg->m_strAuthorName = u"佐藤 花子"_s;
        m_dlg->OnConvert();
        const QString text = QString::fromUtf8(readFile(dst(u"PLAN."_s + ext.toLower())));
        QVERIFY2(text.contains(record), qPrintable(text));
        QVERIFY(text.contains(u"target-format: "_s + ext + u'\n'));
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
        QVERIFY(StandinBus::setService(m_bus.path(), {}));
        QVERIFY(makeSource(u"a.sfc"_s));
        QVERIFY(openWindow(0, u"DXF"_s));
        m_dlg->OnConvert();
        QCOMPARE(m_desktop->Texts(), QStringList {LoadString(IDS_SERVER_UNAVAILABLE)});
        QCOMPARE(targets(), QStringList());
        verifyIdle();
    }

    // Runs that convert nothing: F5 without a target format does not even connect; manual
    // mode with nothing selected connects, shows a total of 0 and quits the server.
    void nothingToConvert_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QList<int>>("calls");
        QTest::newRow("F5 without a target format") << 0 << QString() << QList<int> {4};
        QTest::newRow("manual, nothing selected") << 1 << u"DXF"_s << QList<int> {4, 1};
    }
    void nothingToConvert()
    {
        QFETCH(int, mode);
        QFETCH(QString, ext);
        QFETCH(QList<int>, calls);
        QVERIFY(makeSource(u"a.sfc"_s));
        QVERIFY(makeTarget(u"a.dxf"_s));
        QVERIFY(openWindow(mode, ext));
        QTRY_COMPARE(serverCalls(), QList<int> {4}); // the start-up probe
        QSignalSpy spy(m_dlg.get(), &CConverterDlg::commandRun);
        m_dlg->PostCommand(ID_CONVERT);
        QTRY_COMPARE(spy.count(), 1);
        QTRY_COMPARE(serverCalls(), calls);
        QVERIFY(
            !QDBusConnection::sessionBus().interface()->isServiceRegistered(StandinBus::kService));
        QCOMPARE(m_desktop->Texts(), QStringList());
        QCOMPARE(m_prompts, QStringList());
        QCOMPARE(readFile(dst(u"a.dxf"_s)), kOldTarget);
        QCOMPARE(targets(), QStringList {u"a.dxf"_s});
        QCOMPARE(m_dlg->m_pProgressDlg->m_nTotal, 0);
        verifyIdle();
    }
};

NORVALE_TEST_MAIN(TestConversion)
#include "tst_conversion.moc"
