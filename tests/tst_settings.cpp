#include "app/CConverterDlg.h"
#include "tests/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace Qt::Literals::StringLiterals;
using TestEnvironment::readFile;

namespace {

QString configIni()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Norvale/Norvale.ini");
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_folders.reset(new QTemporaryDir);
        for (const char *name : {"a", "b", "c", "docs"})
            QDir(m_folders->path()).mkdir(QString::fromLatin1(name));
        QVERIFY(TestEnvironment::writeFile(m_folders->path() + QStringLiteral("/plain.txt"), "x"));
    }

    void init()
    {
        QFile::remove(configIni());
        m_appDir.reset(new QTemporaryDir);
    }

    void defaultsWithoutFile()
    {
        CConverterDlg dlg;
        prepare(dlg);
        dlg.LoadSettings();
        QCOMPARE(dlg.m_strIniPath, configIni());
        QCOMPARE(dlg.m_nMode, 1);
        QCOMPARE(dlg.m_bSameFolder, false);
        QCOMPARE(dlg.m_src.nExtIndex, 0);
        QCOMPARE(dlg.m_dst.nExtIndex, 0);
        QCOMPARE(dlg.m_src.aHistory, QStringList {docs()});
        QCOMPARE(dlg.m_dst.aHistory, QStringList {docs()});
    }

    void history_data()
    {
        QTest::addColumn<QByteArray>("original");
        QTest::addColumn<QStringList>("expected");
        const QString f = m_folders->path();
        const QByteArray F = f.toUtf8();
        QTest::newRow("three in file order")
            << QByteArray("Folder#0=" + F + "/b\nFolder#1=" + F + "/a\nFolder#2=" + F + "/c\n")
            << QStringList {f + u"/b"_s, f + u"/a"_s, f + u"/c"_s};
        QTest::newRow("empty first slot ends the history")
            << QByteArray("Folder#0=\nFolder#1=" + F + "/a\n") << QStringList {docs()};
        QTest::newRow("missing first slot, later keys ignored")
            << QByteArray("Folder#1=" + F + "/a\n") << QStringList {docs()};
        QTest::newRow("deleted folder skipped, reading goes on")
            << QByteArray("Folder#0=" + F + "/gone\nFolder#1=" + F + "/a\n")
            << QStringList {f + u"/a"_s};
        QTest::newRow("a file is no folder")
            << QByteArray("Folder#0=" + F + "/plain.txt\nFolder#1=" + F + "/c\n")
            << QStringList {f + u"/c"_s};
        QTest::newRow("stops at first empty after skips")
            << QByteArray("Folder#0=" + F + "/gone\nFolder#1=\nFolder#2=" + F + "/a\n")
            << QStringList {docs()};
        QTest::newRow("duplicates are kept as stored")
            << QByteArray("Folder#0=" + F + "/a\nFolder#1=" + F + "/a\n")
            << QStringList {f + u"/a"_s, f + u"/a"_s};
        QTest::newRow("keys match without regard to case")
            << QByteArray("folder#0=" + F + "/a\nFOLDER#1=" + F + "/b\n")
            << QStringList {f + u"/a"_s, f + u"/b"_s};
    }

    void history()
    {
        QFETCH(QByteArray, original);
        QFETCH(QStringList, expected);
        QVERIFY(TestEnvironment::writeFile(configIni(),
                                           "[original]\n" + original + "[Convert]\nFolder#0=\n"));
        CConverterDlg dlg;
        prepare(dlg);
        dlg.LoadSettings();
        QCOMPARE(dlg.m_src.aHistory, expected);
        QCOMPARE(dlg.m_dst.aHistory, QStringList {docs()});
    }

    void integers_data()
    {
        QTest::addColumn<QByteArray>("common");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("sameFolder");
        QTest::newRow("automatic, same folder") << QByteArray("Mode=0\nFolder=1\n") << 0 << true;
        QTest::newRow("manual") << QByteArray("Mode=1\nFolder=0\n") << 1 << false;
        QTest::newRow("unknown mode is manual") << QByteArray("Mode=7\n") << 1 << false;
        QTest::newRow("negative mode is manual") << QByteArray("Mode=-1\n") << 1 << false;
        QTest::newRow("text reads as 0") << QByteArray("Mode=auto\n") << 0 << false;
    }

    void integers()
    {
        QFETCH(QByteArray, common);
        QFETCH(int, mode);
        QFETCH(bool, sameFolder);
        QVERIFY(TestEnvironment::writeFile(configIni(), "[Common]\n" + common));
        CConverterDlg dlg;
        prepare(dlg);
        dlg.LoadSettings();
        QCOMPARE(dlg.m_nMode, mode);
        QCOMPARE(dlg.m_bSameFolder, sameFolder);
    }

    void saveWritesEveryKeyInOrder()
    {
        CConverterDlg dlg;
        prepare(dlg);
        dlg.LoadSettings();
        const QString f = m_folders->path();
        dlg.m_bSameFolder = true;
        dlg.m_nMode = 0;
        dlg.m_src.nExtIndex = 3;
        dlg.m_src.aHistory = {f + u"/a"_s, f + u"/b"_s, f + u"/c"_s};
        dlg.m_dst.nExtIndex = -1;
        dlg.m_dst.aHistory = {f + u"/docs"_s};
        dlg.SaveSettings();

        QByteArray expected = "[Common]\nFolder=1\nMode=0\n[Original]\nExt=3\n";
        const QByteArray F = f.toUtf8();
        expected += "Folder#0=" + F + "/a\nFolder#1=" + F + "/b\nFolder#2=" + F + "/c\n";
        for (int i = 3; i < 10; ++i)
            expected += "Folder#" + QByteArray::number(i) + "=\n";
        expected += "[Convert]\nExt=-1\nFolder#0=" + F + "/docs\n";
        for (int i = 1; i < 10; ++i)
            expected += "Folder#" + QByteArray::number(i) + "=\n";
        QCOMPARE(readFile(configIni()), expected);

        // And back: -1 stays "no target extension".
        CConverterDlg again;
        prepare(again);
        again.LoadSettings();
        QCOMPARE(again.m_dst.nExtIndex, -1);
        QCOMPARE(again.m_src.nExtIndex, 3);
        QCOMPARE(again.m_src.aHistory, dlg.m_src.aHistory);
        QCOMPARE(again.m_nMode, 0);
        QCOMPARE(again.m_bSameFolder, true);
    }

    void saveKeepsForeignLines()
    {
        QVERIFY(TestEnvironment::writeFile(
            configIni(), "; written by hand\n[Common]\nMode=0\nColour=blue\n\n[Other]\nx=1\n"));
        CConverterDlg dlg;
        prepare(dlg);
        dlg.LoadSettings();
        dlg.m_nMode = 1;
        dlg.SaveSettings();
        const QByteArray text = readFile(configIni());
        QVERIFY(text.startsWith("; written by hand\n[Common]\nMode=1\nColour=blue\nFolder=0\n\n"
                                "[Other]\nx=1\n[Original]\n"));
    }

    void portableFileBesideProgram()
    {
        const QString portable = m_appDir->path() + QStringLiteral("/Norvale.ini");
        QVERIFY(TestEnvironment::writeFile(portable, "[Common]\nMode=0\n"));
        CConverterDlg dlg;
        prepare(dlg);
        dlg.LoadSettings();
        QCOMPARE(dlg.m_strIniPath, portable);
        QCOMPARE(dlg.m_nMode, 0);
        dlg.SaveSettings();
        QVERIFY(readFile(portable).contains("Folder#9="));
        QVERIFY(!QFile::exists(configIni()));
    }

    // A folder chosen, listed and saved in full comes back in full at the next start.
    void longFolderSurvivesARestart()
    {
        QString folder = m_folders->path();
        while (folder.size() < 1000)
            folder += u'/' + QString(qMin<qsizetype>(199, 1000 - folder.size() - 1), u'd');
        QCOMPARE(folder.size(), 1000);
        QVERIFY(QDir().mkpath(folder));
        CConverterDlg dlg;
        prepare(dlg);
        dlg.LoadSettings();
        dlg.m_src.aHistory = QStringList {folder, docs()};
        dlg.m_dst.aHistory = QStringList {folder};
        dlg.SaveSettings();
        CConverterDlg again;
        prepare(again);
        again.LoadSettings();
        QCOMPARE(again.m_src.aHistory, (QStringList {folder, docs()}));
        QCOMPARE(again.m_dst.aHistory, QStringList {folder});
    }

    void readOnlyProgramFolderLosesNothing()
    {
        // An installed program's folder is not writable; the settings go to the user's
        // configuration folder instead and survive the next start.
        QFile::setPermissions(m_appDir->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        CConverterDlg dlg;
        prepare(dlg);
        dlg.LoadSettings();
        dlg.m_nMode = 0;
        dlg.SaveSettings();
        QFile::setPermissions(m_appDir->path(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                  | QFileDevice::ExeOwner);
        CConverterDlg again;
        prepare(again);
        again.LoadSettings();
        QCOMPARE(again.m_nMode, 0);
    }

private:
    QString docs() const { return m_folders->path() + QStringLiteral("/docs"); }

    void prepare(CConverterDlg &dlg) const
    {
        dlg.m_strAppDir = m_appDir->path();
        dlg.m_strMyDocumentsDir = docs();
    }

    std::unique_ptr<QTemporaryDir> m_appDir;
    std::unique_ptr<QTemporaryDir> m_folders;
};

NORVALE_TEST_MAIN(TestSettings)
#include "tst_settings.moc"
