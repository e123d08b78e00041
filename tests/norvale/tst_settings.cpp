#include "app/CConverterDlg.h"
#include "tests/TestEnvironment.h"
#include "tests/norvale/WindowFixture.h"

using namespace Qt::Literals::StringLiterals;
using TestEnvironment::readFile;
using WindowFixture::configIni;

// The window's settings as LoadSettings reads them and SaveSettings writes them; the file's own
// syntax is tst_profile's.
class TestSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folders;
    std::unique_ptr<QTemporaryDir> m_appDir;

    QString folder(const QString &name) const { return m_folders.filePath(name); }
    QString docs() const { return folder(u"docs"_s); }

    // A window's settings as a start reads them, before the window is built.
    std::unique_ptr<CConverterDlg> load() const
    {
        auto pDlg = std::make_unique<CConverterDlg>();
        pDlg->m_strAppDir = m_appDir->path();
        pDlg->m_strMyDocumentsDir = docs();
        pDlg->LoadSettings();
        return pDlg;
    }

private slots:
    void initTestCase()
    {
        for (const char *name : {"a", "b", "c", "docs"})
            QVERIFY(QDir(m_folders.path()).mkdir(QString::fromLatin1(name)));
        QVERIFY(TestEnvironment::writeFile(folder(u"plain.txt"_s), "x"));
    }

    void init()
    {
        QFile::remove(configIni());
        m_appDir = std::make_unique<QTemporaryDir>();
    }

    void history_data()
    {
        QTest::addColumn<QString>("original"); // %F: the folder of the test's folders
        QTest::addColumn<QStringList>("expected"); // the same; "docs" alone is the fallback
        QTest::newRow("file order, duplicates kept, keys of any case")
            << u"Folder#0=%F/b\nfolder#1=%F/a\nFOLDER#2=%F/a\nFolder#3=%F/c\n"_s
            << QStringList {u"%F/b"_s, u"%F/a"_s, u"%F/a"_s, u"%F/c"_s};
        QTest::newRow("deleted folders and files passed over")
            << u"Folder#0=%F/gone\nFolder#1=%F/plain.txt\nFolder#2=%F/a\n"_s
            << QStringList {u"%F/a"_s};
        QTest::newRow("an empty slot ends it, also after skipped ones")
            << u"Folder#0=%F/gone\nFolder#1=\nFolder#2=%F/a\n"_s << QStringList {u"%F/docs"_s};
        QTest::newRow("a missing first slot ends it")
            << u"Folder#1=%F/a\n"_s << QStringList {u"%F/docs"_s};
    }

    void history()
    {
        QFETCH(QString, original);
        QFETCH(QStringList, expected);
        const QString strRoot = m_folders.path();
        expected.replaceInStrings(u"%F"_s, strRoot);
        QVERIFY(TestEnvironment::writeFile(configIni(),
                                           "[original]\n"
                                               + original.replace(u"%F"_s, strRoot).toUtf8()
                                               + "[Convert]\nFolder#0=\n"));
        const auto dlg = load();
        QCOMPARE(dlg->m_src.aHistory, expected);
        QCOMPARE(dlg->m_dst.aHistory, QStringList {docs()});
    }

    // Every key in the order earlier versions wrote them, unused slots written empty so that a
    // shorter history leaves no stale folder behind; read back unchanged at the next start, a
    // folder of 1000 characters included.
    void saveWritesEveryKeyAndReadsItBack()
    {
        QString strLong = m_folders.path();
        while (strLong.size() < 1000)
            strLong += u'/' + QString(qMin<qsizetype>(199, 1000 - strLong.size() - 1), u'd');
        QVERIFY(QDir().mkpath(strLong));
        auto dlg = load();
        dlg->m_bSameFolder = true;
        dlg->m_nMode = 0;
        dlg->m_src.nExtIndex = 3;
        dlg->m_src.aHistory = {folder(u"a"_s), strLong, folder(u"c"_s)};
        dlg->m_dst.nExtIndex = -1;
        dlg->m_dst.aHistory = {docs()};
        dlg->m_sizeWindow = QSize(900, 700);
        dlg->m_bMaximized = true;
        std::copy_n(std::begin({300, 61, 99}), 3, dlg->m_src.anColumnWidth);
        dlg->SaveSettings();

        QByteArray expected = "[Common]\nFolder=1\nMode=0\nWindowWidth=900\nWindowHeight=700\n"
                              "WindowMaximized=1\n[Original]\nExt=3\n";
        for (int i = 0; i < 10; ++i)
            expected += "Folder#" + QByteArray::number(i) + '='
                + dlg->m_src.aHistory.value(i).toUtf8() + '\n';
        expected += "NameWidth=300\nSizeWidth=61\nTimeWidth=99\n[Convert]\nExt=-1\n";
        for (int i = 0; i < 10; ++i)
            expected += "Folder#" + QByteArray::number(i) + '='
                + dlg->m_dst.aHistory.value(i).toUtf8() + '\n';
        // Widths never set are the designed ones.
        expected += "NameWidth=0\nSizeWidth=0\nTimeWidth=0\n";
        QCOMPARE(readFile(configIni()), expected);

        const auto again = load();
        QCOMPARE(again->m_bSameFolder, true);
        QCOMPARE(again->m_nMode, 0);
        QCOMPARE(again->m_src.nExtIndex, 3);
        QCOMPARE(again->m_src.aHistory, dlg->m_src.aHistory);
        QCOMPARE(again->m_dst.nExtIndex, -1); // no target format, not the first one
        QCOMPARE(again->m_dst.aHistory, dlg->m_dst.aHistory);
        QCOMPARE(again->m_bMaximized, true);
    }
};

NORVALE_TEST_MAIN(TestSettings)
#include "tst_settings.moc"
