#include "app/CConverterDlg.h"
#include "controls/CIconButton.h"
#include "formats/FormatTable.h"
#include "panes/FileListModel.h"
#include "tests/TestEnvironment.h"

#include <QAction>
#include <QComboBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeView>

using namespace Qt::Literals::StringLiterals;

namespace {

QString configIni()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + u"/Norvale/Norvale.ini"_s;
}

QStringList comboItems(const QComboBox *combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

} // namespace

class TestFormats : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        m_dlg.reset();
        QFile::remove(configIni());
    }

    void targetsOfferedForEachSource_data()
    {
        QTest::addColumn<int>("source");
        QTest::addColumn<QStringList>("targets");
        const QStringList all = {u"TSK"_s, u"SFC"_s, u"P21"_s, u"DXF"_s, u"JWC"_s, u"PDF"_s,
                                 u"UMB"_s, u"EMF"_s, u"SVG"_s, u"HTM"_s, u"DWF"_s};
        const char *sources[] = {"TSK", "SFC", "P21", "DXF", "JWW", "JWC"};
        for (int i = 0; i < 6; ++i) {
            QStringList targets = all;
            targets.removeOne(QString::fromLatin1(sources[i]));
            QTest::newRow(sources[i]) << i << targets;
        }
    }
    void targetsOfferedForEachSource()
    {
        QFETCH(int, source);
        QFETCH(QStringList, targets);
        start(u"[Original]\nExt=%1\n[Convert]\nExt=0\n"_s.arg(source));
        QCOMPARE(m_dlg->m_src.strExt, comboItems(m_dlg->m_cbSrcExt).at(source));
        QCOMPARE(comboItems(m_dlg->m_cbDstExt), targets);
        // The stored index is a position in the list built for the stored source.
        QCOMPARE(m_dlg->m_dst.strExt, targets.first());
        QCOMPARE(m_dlg->GetDlgItemText(1047), GetFormatDescription(targets.first()));
        QVERIFY(!comboItems(m_dlg->m_cbDstExt).contains(u"JWW"_s));
    }

    void descriptions_data()
    {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QString>("description");
        QTest::newRow("HTM is not HTML") << u"HTM"_s << u"Vector Markup Language"_s;
        QTest::newRow("source-only JWW") << u"JWW"_s << u"Jw_cad for Windows形式"_s;
        QTest::newRow("TSK") << u"TSK"_s << u"Tarsk図面形式"_s;
        QTest::newRow("case matters") << u"dxf"_s << QString();
        QTest::newRow("unknown") << u"DWG"_s << QString();
    }
    void descriptions()
    {
        QFETCH(QString, ext);
        QFETCH(QString, description);
        QCOMPARE(GetFormatDescription(ext), description);
    }

    void storedIndexes_data()
    {
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QString>("srcExt");
        QTest::addColumn<int>("dstIndex");
        QTest::addColumn<QString>("dstExt");
        QTest::newRow("SFC with target 0 is TSK")
            << u"[Original]\nExt=1\n[Convert]\nExt=0\n"_s << u"SFC"_s << 0 << u"TSK"_s;
        QTest::newRow("last target of JWW")
            << u"[Original]\nExt=4\n[Convert]\nExt=10\n"_s << u"JWW"_s << 10 << u"DWF"_s;
        QTest::newRow("none stays none")
            << u"[Original]\nExt=0\n[Convert]\nExt=-1\n"_s << u"TSK"_s << -1 << QString();
        QTest::newRow("source beyond the list falls back to TSK")
            << u"[Original]\nExt=9\n[Convert]\nExt=2\n"_s << u"TSK"_s << 2 << u"DXF"_s;
        QTest::newRow("negative source falls back to TSK")
            << u"[Original]\nExt=-3\n"_s << u"TSK"_s << 0 << u"SFC"_s;
        QTest::newRow("target beyond a ten-item list is none")
            << u"[Original]\nExt=0\n[Convert]\nExt=10\n"_s << u"TSK"_s << -1 << QString();
        QTest::newRow("target far beyond is none")
            << u"[Original]\nExt=4\n[Convert]\nExt=99\n"_s << u"JWW"_s << -1 << QString();
    }
    void storedIndexes()
    {
        QFETCH(QString, ini);
        QFETCH(QString, srcExt);
        QFETCH(int, dstIndex);
        QFETCH(QString, dstExt);
        start(ini);
        QCOMPARE(m_dlg->m_src.strExt, srcExt);
        QCOMPARE(m_dlg->m_cbSrcExt->currentText(), srcExt);
        QCOMPARE(m_dlg->m_dst.nExtIndex, dstIndex);
        QCOMPARE(m_dlg->m_dst.strExt, dstExt);
        QCOMPARE(m_dlg->m_cbDstExt->currentIndex(), dstIndex);
        if (dstIndex < 0) {
            QCOMPARE(m_dlg->m_btnDstIcon->m_hIcon.cacheKey(), m_dlg->m_hIconBlank.cacheKey());
            QCOMPARE(m_dlg->GetDlgItemText(1047), QString());
            QVERIFY(!m_dlg->CommandAction(1019)->isEnabled());
        }
    }

    void sourceChangeDropsTheTarget()
    {
        QTemporaryDir folder;
        for (const char *name : {"a.sfc", "b.tsk", "c.TSK"})
            QVERIFY(TestEnvironment::writeFile(folder.filePath(QString::fromLatin1(name)), "x"));
        start(u"[Common]\nMode=0\n[Original]\nExt=0\nFolder#0=%1\n[Convert]\nExt=0\nFolder#0=%1\n"_s
                  .arg(folder.path()));
        QCOMPARE(m_dlg->m_dst.strExt, u"SFC"_s);
        QVERIFY(m_dlg->CommandAction(1019)->isEnabled());
        m_dlg->SetDlgItemText(1043, u"ﾌｧｲﾙ数 : 1 "_s);
        m_dlg->SetDlgItemText(1045, u"1 個のﾌｧｲﾙを選択 "_s);

        chooseSource(3); // DXF
        QCOMPARE(m_dlg->m_src.strExt, u"DXF"_s);
        QCOMPARE(m_dlg->GetDlgItemText(1046), u"Drawing eXchange Format"_s);
        QCOMPARE(m_dlg->m_dst.nExtIndex, -1);
        QCOMPARE(m_dlg->m_dst.strExt, QString());
        QCOMPARE(m_dlg->m_cbDstExt->currentIndex(), -1);
        QCOMPARE(m_dlg->m_btnDstIcon->m_hIcon.cacheKey(), m_dlg->m_hIconBlank.cacheKey());
        QCOMPARE(m_dlg->GetDlgItemText(1047), QString());
        QCOMPARE(m_dlg->m_dst.Model()->rowCount(), 0);
        // The target's count lines are left as they were until it is listed again.
        QCOMPARE(m_dlg->GetDlgItemText(1043), u"ﾌｧｲﾙ数 : 1 "_s);
        QCOMPARE(m_dlg->GetDlgItemText(1045), u"1 個のﾌｧｲﾙを選択 "_s);
        QVERIFY(!m_dlg->CommandAction(1019)->isEnabled()); // even in automatic mode

        chooseTarget(0); // TSK
        QCOMPARE(m_dlg->m_dst.strExt, u"TSK"_s);
        QVERIFY(!m_dlg->m_btnDstIcon->m_hIcon.isNull());
        QCOMPARE(m_dlg->m_dst.Model()->rowCount(), 2); // b.tsk and c.TSK
        QVERIFY(m_dlg->CommandAction(1019)->isEnabled());
    }

    void choosingTheSelectedItemAgainChangesNothing()
    {
        start(u"[Original]\nExt=2\n[Convert]\nExt=1\n"_s);
        QSignalSpy srcResets(m_dlg->m_src.Model(), &QAbstractItemModel::modelReset);
        QSignalSpy dstResets(m_dlg->m_dst.Model(), &QAbstractItemModel::modelReset);
        const QStringList targets = comboItems(m_dlg->m_cbDstExt);
        chooseSource(2);
        chooseTarget(1);
        QCOMPARE(srcResets.count(), 0);
        QCOMPARE(dstResets.count(), 0);
        QCOMPARE(m_dlg->m_dst.nExtIndex, 1);
        QCOMPARE(comboItems(m_dlg->m_cbDstExt), targets);
    }

    void convertAvailability_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("target");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("no target, automatic") << 0 << -1 << true << false;
        QTest::newRow("no target, manual") << 1 << -1 << true << false;
        QTest::newRow("automatic, empty selection") << 0 << 0 << false << true;
        QTest::newRow("manual, nothing selected") << 1 << 0 << false << false;
        QTest::newRow("manual, a file selected") << 1 << 0 << true << true;
    }
    void convertAvailability()
    {
        QFETCH(int, mode);
        QFETCH(int, target);
        QFETCH(bool, selected);
        QFETCH(bool, enabled);
        QTemporaryDir folder;
        QVERIFY(TestEnvironment::writeFile(folder.filePath(u"a.tsk"_s), "x"));
        start(u"[Common]\nMode=%1\n[Original]\nExt=0\nFolder#0=%3\n[Convert]\nExt=%2\n"_s.arg(mode)
                  .arg(target)
                  .arg(folder.path()));
        if (selected)
            m_dlg->m_lcSrcFiles->selectAll();
        m_dlg->UpdateConvertButton();
        QCOMPARE(m_dlg->CommandAction(1019)->isEnabled(), enabled);
        // Switching modes re-decides at once.
        m_dlg->OnAutoMode();
        QCOMPARE(m_dlg->CommandAction(1019)->isEnabled(), target >= 0);
    }

private:
    void start(const QString &ini)
    {
        QVERIFY(TestEnvironment::writeFile(configIni(), ini.toUtf8()));
        m_dlg = std::make_unique<CConverterDlg>();
        m_dlg->m_strAppDir = m_appDir.path();
        m_dlg->Create();
    }
    void choose(QComboBox *combo, int index)
    {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    void chooseSource(int index) { choose(m_dlg->m_cbSrcExt, index); }
    void chooseTarget(int index) { choose(m_dlg->m_cbDstExt, index); }

    QTemporaryDir m_appDir;
    std::unique_ptr<CConverterDlg> m_dlg;
};

NORVALE_TEST_MAIN(TestFormats)
#include "tst_formats.moc"
