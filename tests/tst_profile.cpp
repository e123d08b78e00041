#include "platform/IniProfile.h"
#include "tests/TestEnvironment.h"

#include <climits>
#include <unistd.h>

namespace {

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    QCOMPARE(file.write(bytes), bytes.size());
}

QStringList strings(std::initializer_list<const char *> items)
{
    QStringList result;
    for (const char *item : items)
        result += QString::fromUtf8(item);
    return result;
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestProfile : public QObject
{
    Q_OBJECT

private slots:
    void readString_data();
    void readString();
    void readInt_data();
    void readInt();
    void lengthLimit_data();
    void lengthLimit();
    void write_data();
    void write();
    void lineBreakInValueStaysOnOneLine();
    void roundTripMinusOne();
    void missingFileIsEmpty();
    void saveReplacesAtomically();
    void saveFailsWithoutFolder();
    void saveFailsInReadOnlyFolder();

private:
    QTemporaryDir m_dir;
    int m_fileNumber = 0;

    QString newPath() { return m_dir.filePath(QStringLiteral("p%1.ini").arg(++m_fileNumber)); }
};

void TestProfile::readString_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char *name, const char *content, const char *section, const char *key,
                        const char *expected) {
        QTest::newRow(name) << QByteArray(content) << QString::fromUtf8(section)
                            << QString::fromUtf8(key) << QString::fromUtf8(expected);
    };
    row("case-insensitive", "[Main]\nFolder#0=/a\n", "mAIN", "FOLDER#0", "/a");
    row("blanks in file", " \t[ \tMain\t ]  \n\t Key \t=  v a l \t\n", "Main", "Key", "v a l");
    row("blanks in request", "[Main]\nKey=v\n", " Main\t", "\tkey ", "v");
    row("first section wins", "[A]\nk=1\n[a]\nk=2\nj=3\n", "A", "k", "1");
    row("duplicate section ignored", "[A]\nk=1\n[a]\nk=2\nj=3\n", "A", "j", "DEF");
    row("first key wins", "[A]\nk=1\nK=2\n", "A", "k", "1");
    row("key of next section", "[A]\n[B]\nk=1\n", "A", "k", "DEF");
    row("key before any section", "k=1\n[A]\n", "A", "k", "DEF");
    row("missing section", "[A]\nk=1\n", "B", "k", "DEF");
    row("missing key", "[A]\nk=1\n", "A", "j", "DEF");
    row("empty value", "[A]\nk=\n", "A", "k", "");
    row("split at first =", "[A]\nk = a=b\n", "A", "k", "a=b");
    row("double quotes", "[A]\nk= \" a b \" \n", "A", "k", " a b ");
    row("single quotes", "[A]\nk='x'\n", "A", "k", "x");
    row("mismatched quotes", "[A]\nk=\"x'\n", "A", "k", "\"x'");
    row("lone quote", "[A]\nk=\"\n", "A", "k", "\"");
    row("empty quotes", "[A]\nk=''\n", "A", "k", "");
    row("one pair only", "[A]\nk=\"\"x\"\"\n", "A", "k", "\"x\"");
    row("quote inside", "[A]\nk=a\"b\n", "A", "k", "a\"b");
    row("comment", "[A]\n;k=1\n", "A", "k", "DEF");
    row("indented comment", "[A]\n \t;k=1\nk=2\n", "A", "k", "2");
    row("comment is not a key", "[A]\n;k=1\n", "A", ";k", "DEF");
    row("line without =", "[A]\nk\nk 2\n", "A", "k", "DEF");
    row("header ends at first ]", "[A]x]\nk=1\n", "A", "k", "1");
    row("unclosed header keeps section", "[A]\n[broken\nj=2\n", "A", "j", "2");
    row("unclosed header is no section", "[A]\n[broken\nj=2\n", "broken", "j", "DEF");
    row("crlf", "[A]\r\nk=v\r\n", "A", "k", "v");
    row("bom", "\xEF\xBB\xBF[A]\nk=v\n", "A", "k", "v");
    row("utf-8", "[Ä]\nk=Zeichnung ä\n", "ä", "k", "Zeichnung ä");
    row("no final line break", "[A]\nk=v", "A", "k", "v");
}

void TestProfile::readString()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);

    const QString path = newPath();
    writeBytes(path, content);
    const IniProfile profile(path);
    QCOMPARE(profile.readString(section, key, QStringLiteral("DEF")), expected);
}

void TestProfile::readInt_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("expected");

    const auto row = [](const char *name, const QByteArray &value, int expected) {
        QTest::newRow(name) << QByteArray("[A]\nk=" + value + '\n') << expected;
    };
    row("not a number", "abc", 0);
    row("trailing text", "12abc", 12);
    row("negative", " -1", -1);
    row("hex", "0x1F", 31);
    row("upper hex", "0XfF", 255);
    row("empty", "", 0);
    row("plus", "+7", 7);
    row("blanks", "  42  ", 42);
    row("bare hex prefix", "0x", 0);
    row("negative hex", "-0x10", -16);
    row("quoted", "\"5\"", 5);
    row("blank after sign", "- 5", 0);
    row("leading zeros", "007", 7);
    row("non-ASCII digit", "\xD9\xA3", 0);
    row("max", "2147483647", INT_MAX);
    row("min", "-2147483648", INT_MIN);
    row("wraps above max", "2147483648", INT_MIN);
    row("wraps to -1", "4294967295", -1);
    row("hex wraps to -1", "0xFFFFFFFF", -1);
    row("long overflow", "99999999999999999999", 1661992959);
    QTest::newRow("missing key") << QByteArray("[A]\nj=1\n") << 55;
    QTest::newRow("missing section") << QByteArray("[B]\nk=1\n") << 55;
}

void TestProfile::readInt()
{
    QFETCH(QByteArray, content);
    QFETCH(int, expected);

    const QString path = newPath();
    writeBytes(path, content);
    QCOMPARE(IniProfile(path).readInt(QStringLiteral("A"), QStringLiteral("k"), 55), expected);
}

void TestProfile::lengthLimit_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");

    const QString face = QStringLiteral("\U0001F600");
    QTest::newRow("300 chars") << QString(300, u'x') << QString(259, u'x');
    QTest::newRow("260 chars") << QString(260, u'x') << QString(259, u'x');
    QTest::newRow("259 chars") << QString(259, u'x') << QString(259, u'x');
    QTest::newRow("pair across the limit")
        << QString(258, u'a') + face + u'b' << QString(258, u'a');
    QTest::newRow("pair ending at the limit")
        << QString(257, u'a') + face + u'b' << QString(257, u'a') + face;
}

void TestProfile::lengthLimit()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);

    const QString path = newPath();
    writeBytes(path, "[A]\nk=" + value.toUtf8() + '\n');
    QCOMPARE(IniProfile(path).readString(QStringLiteral("A"), QStringLiteral("k")), expected);
}

void TestProfile::write_data()
{
    QTest::addColumn<QByteArray>("before");
    // Triples of section, key and value, written in order; keys are distinct per row.
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("replace keeps spelling and other lines")
        << QByteArray("top=1\n; head\n[Main]\n  FolderName = old ;x\nOther=1\n\n[Main]\nf=2\n")
        << strings({"main", "FOLDERNAME", "new"})
        << QByteArray("top=1\n; head\n[Main]\n  FolderName=new\nOther=1\n\n[Main]\nf=2\n");
    QTest::newRow("replace first key only")
        << QByteArray("[A]\nk=1\nK=2\n[A]\nk=3\n") << strings({"A", "k", "9"})
        << QByteArray("[A]\nk=9\nK=2\n[A]\nk=3\n");
    QTest::newRow("add after last key")
        << QByteArray("[A]\nx=1\nnot a key\n\n; about B\n[B]\ny=2\n") << strings({"a", "z", "3"})
        << QByteArray("[A]\nx=1\nz=3\nnot a key\n\n; about B\n[B]\ny=2\n");
    QTest::newRow("add to section without keys")
        << QByteArray("[A]\n; note\n\n[B]\n") << strings({"A", "k", "v"})
        << QByteArray("[A]\nk=v\n; note\n\n[B]\n");
    QTest::newRow("add missing section")
        << QByteArray("[A]\nk=1\n\n") << strings({"B", "k", "2", "B", "j", "3"})
        << QByteArray("[A]\nk=1\n\n[B]\nk=2\nj=3\n");
    QTest::newRow("add section after unterminated line")
        << QByteArray("[A]\nk=1") << strings({"B", "k", "2"}) << QByteArray("[A]\nk=1\n[B]\nk=2\n");
    QTest::newRow("add key after unterminated line")
        << QByteArray("[A]\nk=1") << strings({"A", "j", "2"}) << QByteArray("[A]\nk=1\nj=2\n");
    QTest::newRow("replace unterminated line")
        << QByteArray("[A]\nk=1") << strings({"A", "k", "2"}) << QByteArray("[A]\nk=2");
    QTest::newRow("empty file") << QByteArray() << strings({" Main ", " Folder#0 ", "/x"})
                                << QByteArray("[Main]\nFolder#0=/x\n");
    QTest::newRow("crlf stays crlf") << QByteArray("[A]\r\nk=1\r\n\r\n;c\r\n")
                                     << strings({"A", "k", "5", "A", "j", "2", "B", "x", "3"})
                                     << QByteArray("[A]\r\nk=5\r\nj=2\r\n\r\n;c\r\n[B]\r\nx=3\r\n");
    QTest::newRow("bom kept") << QByteArray("\xEF\xBB\xBF[A]\nk=1\n") << strings({"A", "k", "2"})
                              << QByteArray("\xEF\xBB\xBF[A]\nk=2\n");
    QTest::newRow("foreign bytes kept")
        << QByteArray("[A]\nname=\xFF\xFE\r\nk=1\n") << strings({"A", "k", "ö"})
        << QByteArray("[A]\nname=\xFF\xFE\r\nk=\xC3\xB6\n");
    QTest::newRow("blanks and quotes survive")
        << QByteArray("[A]\n")
        << strings({"A", "pad", " p ", "A", "dq", "\"q\"", "A", "sq", "'s'", "A", "mixed", "\"m'"})
        << QByteArray("[A]\npad=\" p \"\ndq=\"\"q\"\"\nsq=\"'s'\"\nmixed=\"m'\n");
}

void TestProfile::write()
{
    QFETCH(QByteArray, before);
    QFETCH(QStringList, writes);
    QFETCH(QByteArray, after);
    QCOMPARE(writes.size() % 3, 0);

    const QString path = newPath();
    writeBytes(path, before);
    IniProfile profile(path);
    for (qsizetype i = 0; i < writes.size(); i += 3)
        profile.writeString(writes[i], writes[i + 1], writes[i + 2]);
    QVERIFY(profile.save());
    QCOMPARE(readBytes(path), after);

    const IniProfile reread(path);
    for (qsizetype i = 0; i < writes.size(); i += 3)
        QCOMPARE(reread.readString(writes[i], writes[i + 1], QStringLiteral("DEF")), writes[i + 2]);
}

void TestProfile::lineBreakInValueStaysOnOneLine()
{
    const QString path = newPath();
    IniProfile profile(path);
    profile.writeString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("a\nb\r\nc"));
    QVERIFY(profile.save());
    QCOMPARE(readBytes(path), QByteArray("[A]\nk=a b  c\n"));
}

void TestProfile::roundTripMinusOne()
{
    const QString path = newPath();
    {
        IniProfile profile(path);
        profile.writeString(QStringLiteral("Main"), QStringLiteral("Last"), QString::number(-1));
        QVERIFY(profile.save());
    }
    const IniProfile profile(path);
    QCOMPARE(profile.readInt(QStringLiteral("Main"), QStringLiteral("Last"), 7), -1);
    QCOMPARE(profile.readString(QStringLiteral("Main"), QStringLiteral("Last")),
             QStringLiteral("-1"));
}

void TestProfile::missingFileIsEmpty()
{
    const QString path = newPath();
    IniProfile profile(path);
    QCOMPARE(profile.path(), path);
    QCOMPARE(profile.readInt(QStringLiteral("A"), QStringLiteral("k"), 3), 3);
    QVERIFY(profile.save());
    QVERIFY(!QFile::exists(path));

    const IniProfile folder(m_dir.path());
    QCOMPARE(folder.readString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("d")),
             QStringLiteral("d"));
}

void TestProfile::saveReplacesAtomically()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Norvale.ini"));
    writeBytes(path, "[A]\nk=1\n");
    QFile old(path);
    QVERIFY(old.open(QIODevice::ReadOnly));

    IniProfile profile(path);
    profile.writeString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("2"));
    QVERIFY(profile.save());

    // Writing in place would show the new text through the handle opened before the save.
    QCOMPARE(old.readAll(), QByteArray("[A]\nk=1\n"));
    QCOMPARE(readBytes(path), QByteArray("[A]\nk=2\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList {QStringLiteral("Norvale.ini")});
}

void TestProfile::saveFailsWithoutFolder()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("missing"));
    IniProfile profile(folder + QStringLiteral("/Norvale.ini"));
    profile.writeString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("1"));
    QVERIFY(!profile.save());
    QVERIFY(!QFileInfo::exists(folder));
}

void TestProfile::saveFailsInReadOnlyFolder()
{
    if (geteuid() == 0)
        QSKIP("root ignores folder permissions");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Norvale.ini"));
    writeBytes(path, "[A]\nk=1\n");
    IniProfile profile(path);
    profile.writeString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("2"));

    const auto writable = QFile::permissions(dir.path());
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const bool saved = profile.save();
    QFile::setPermissions(dir.path(), writable);

    QVERIFY(!saved);
    QCOMPARE(readBytes(path), QByteArray("[A]\nk=1\n"));
}

NORVALE_TEST_MAIN(TestProfile)
#include "tst_profile.moc"
