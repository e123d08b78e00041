#include "platform/IniProfile.h"
#include "tests/SmallDisk.h"
#include "tests/TestEnvironment.h"

#include <chrono>
#include <climits>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using TestEnvironment::readFile;

class TestProfile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_files = 0;
    QString newFile(const QByteArray &data)
    {
        QFile file(m_dir.filePath(u"p%1.ini"_s.arg(++m_files)));
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }

private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("query"); // section|key
        // An int calls readInt with default 55, a string readString with default "DEF".
        QTest::addColumn<QVariant>("expected");

        const auto row = [](const char *name, const QByteArray &content, const QVariant &expected,
                            const char *query = "A|k") {
            QTest::newRow(name) << content << QString::fromUtf8(query) << expected;
        };
        row("case, blanks, first =", " \t[ \tMain\t ]  \n\t Key \t=  v a=l \t\n", u"v a=l"_s,
            " mAIN\t|\tKEY ");
        // A later section of the same name is neither merged in nor preferred.
        row("first section wins", "[A]\nk=1\n[a]\nj=3\n", u"DEF"_s, "A|j");
        row("first key wins", "[A]\nk=1\nK=2\n", u"1"_s);
        row("key of next section", "[A]\n[B]\nk=1\n", u"DEF"_s);
        row("empty value", "[A]\nk=\n", u""_s);
        row("quotes keep blanks", "[A]\nk= \" a b \" \n", u" a b "_s);
        row("one pair of quotes, either kind", "[A]\nk='\"x\"'\n", u"\"x\""_s);
        row("mismatched quotes", "[A]\nk=\"x'\n", u"\"x'"_s);
        row("indented comment", "[A]\n \t;k=1\n", u"DEF"_s, "A|;k");
        row("line without =", "[A]\nk\n", u"DEF"_s);
        row("unclosed header", "[A]\n[broken\nj=2\n", u"2"_s, "A|j");
        const QByteArray face = "\xF0\x9F\x98\x80";
        row("long value read in full", "[A]\nk=" + QByteArray(3999, 'a') + face + 'b',
            QString::fromUtf8(QByteArray(3999, 'a') + face + 'b'));
        row("int blanks, sign, trailing text", "[A]\nk=  -12abc ", -12);
        row("int blank after sign", "[A]\nk=- 5", 0);
        row("int leading zero is not octal", "[A]\nk=010", 10);
        row("int quoted negative hex", "[A]\nk=\"-0XfF\"", -255);
        row("int wraps at 32 bits", "[A]\nk=99999999999999999999", 1661992959);
        row("int missing key", "[A]\nj=1", 55);
    }

    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, query);
        QFETCH(QVariant, expected);
        const IniProfile profile(newFile(content));
        const QStringList q = query.split(u'|');
        if (expected.typeId() == QMetaType::Int)
            QCOMPARE(profile.readInt(q[0], q[1], 55), expected.toInt());
        else
            QCOMPARE(profile.readString(q[0], q[1], u"DEF"_s), expected.toString());
    }

    void write_data()
    {
        QTest::addColumn<QByteArray>("before");
        // section|key|value triples, written in order
        QTest::addColumn<QString>("writes");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("replace in place")
            << QByteArray(
                   "name=0\n; \xFF\xFE\r\n[Main]\n  Name = old ;x\nNAME=2\n\n[main]\nname=3\n")
            << u"main|name|n\u00e9"_s
            << QByteArray(
                   "name=0\n; \xFF\xFE\r\n[Main]\n  Name=n\xC3\xA9\nNAME=2\n\n[main]\nname=3\n");
        QTest::newRow("add after last key")
            << QByteArray("[A]\nx=1\nnot a key\n\n; about B\n[B]\ny=2\n") << u"a|z|3"_s
            << QByteArray("[A]\nx=1\nz=3\nnot a key\n\n; about B\n[B]\ny=2\n");
        QTest::newRow("add section") << QByteArray("[A]\nk=1\n\n") << u" B | k |2|b|j|3"_s
                                     << QByteArray("[A]\nk=1\n\n[B]\nk=2\nj=3\n");
        QTest::newRow("unterminated last line, add")
            << QByteArray("[A]\nk=1") << u"A|j|2"_s << QByteArray("[A]\nk=1\nj=2\n");
        QTest::newRow("unterminated last line, replace")
            << QByteArray("[A]\nk=1") << u"A|k|2"_s << QByteArray("[A]\nk=2");
        QTest::newRow("crlf and bom kept")
            << QByteArray("\xEF\xBB\xBF[A]\r\nk=1\r\n\r\n;c\r\n") << u"A|k|5|A|j|2|B|x|3"_s
            << QByteArray("\xEF\xBB\xBF[A]\r\nk=5\r\nj=2\r\n\r\n;c\r\n[B]\r\nx=3\r\n");
        QTest::newRow("line break flattened")
            << QByteArray() << u"A|k|a\nb\r\nc"_s << QByteArray("[A]\nk=a b  c\n");
    }

    // Where a write lands and what stays around it; that every value reads back is the
    // profile fuzzer's to check.
    void write()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, writes);
        QFETCH(QByteArray, after);
        const QString path = newFile(before);
        const QStringList w = writes.split(u'|');
        IniProfile profile(path);
        for (qsizetype i = 0; i + 2 < w.size(); i += 3)
            profile.writeString(w[i], w[i + 1], w[i + 2]);
        QVERIFY(profile.save());
        QCOMPARE(readFile(path), after);

        const IniProfile reread(path);
        for (qsizetype i = 0; i + 2 < w.size(); i += 3)
            QCOMPARE(reread.readString(w[i], w[i + 1]),
                     QString(w[i + 2]).replace(u'\n', u' ').replace(u'\r', u' '));
    }

    void save()
    {
        const QString path = newFile("[A]\nk=1\n");
        QFile old(path);
        QVERIFY(old.open(QIODevice::ReadOnly));
        IniProfile profile(path);
        profile.writeString(u"A"_s, u"k"_s, u"2"_s);
        QVERIFY(profile.save());
        // Writing in place would show the new text through the handle opened before the save.
        QCOMPARE(old.readAll(), QByteArray("[A]\nk=1\n"));
        QCOMPARE(readFile(path), QByteArray("[A]\nk=2\n"));
        const QString name = QFileInfo(path).fileName();
        QCOMPARE(QDir(m_dir.path()).entryList({name + u'*'}, QDir::Files | QDir::Hidden),
                 QStringList {name});

        // Without a change nothing is written, and a missing file reads as empty.
        QVERIFY(QFile::remove(path));
        profile.writeString(u"A"_s, u"k"_s, u"2"_s);
        QVERIFY(profile.save());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(IniProfile(path).readInt(u"A"_s, u"k"_s, 3), 3);

        IniProfile orphan(m_dir.filePath(u"missing/p.ini"_s));
        orphan.writeString(u"A"_s, u"k"_s, u"1"_s);
        QVERIFY(!orphan.save());
        QVERIFY(!QFileInfo::exists(m_dir.filePath(u"missing"_s)));
    }

    void fullDiskKeepsOldFile()
    {
        SmallDisk disk;
        if (!disk.isMounted())
            QSKIP("mounting a small tmpfs is not allowed here");
        const QString path = disk.path() + u"/Norvale.ini"_s;
        const QByteArray before = "[Common]\nMode=1\n";
        QVERIFY(TestEnvironment::writeFile(path, before));
        QVERIFY(disk.fill());

        IniProfile profile(path);
        // Larger than the buffer QSaveFile keeps, and small enough to be buffered whole.
        profile.writeString(u"Original"_s, u"Folder#0"_s, QString(3000, u'x'));
        QVERIFY(!profile.save());
        QCOMPARE(readFile(path), before);
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({u".filler"_s, u"Norvale.ini"_s}));
    }

    void notRegularFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("fifo") << u"fifo"_s;
        QTest::newRow("device") << u"device"_s;
        QTest::newRow("directory") << u"directory"_s;
    }

    // Reading must neither block on a FIFO nor read a device without end; a save must leave the
    // thing in place and say why on the error output.
    void notRegularFile()
    {
        QFETCH(QString, kind);
        const QString path = m_dir.filePath(u"Norvale-%1.ini"_s.arg(kind));
        const QByteArray name = QFile::encodeName(path);
        if (kind == u"fifo")
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        else if (kind == u"device")
            QVERIFY(QFile::link(u"/dev/zero"_s, path));
        else
            QVERIFY(QDir().mkdir(path));

        auto load = std::async(std::launch::async,
                               [path] { return IniProfile(path).readInt(u"A"_s, u"k"_s, 7); });
        if (load.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            // Lets a reader stuck on the FIFO go before failing.
            const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
            QFAIL("reading the settings blocked");
        }
        QCOMPARE(load.get(), 7);

        IniProfile profile(path);
        profile.writeString(u"A"_s, u"k"_s, u"1"_s);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"not a regular file"_s));
        QVERIFY(!profile.save());
        struct stat st;
        QCOMPARE(::stat(name.constData(), &st), 0);
        QVERIFY(!S_ISREG(st.st_mode));
    }
};

NORVALE_TEST_MAIN(TestProfile)
#include "tst_profile.moc"
