#include "app/CConverterDlg.h"
#include "controls/CIconButton.h"
#include "formats/FormatTable.h"
#include "panes/FileListModel.h"
#include "tests/TestEnvironment.h"
#include "tests/norvale/WindowFixture.h"

#include <QAction>
#include <QComboBox>
#include <QTreeView>

using namespace Qt::Literals::StringLiterals;

namespace {

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
    void cleanup() { m_dlg.reset(); }

    // Stored formats are positions: the source's in its list, the target's in the list built for
    // that source, which leaves the source out and never offers JWW. Anything outside the lists
    // gives TSK, or no target format.
    void storedFormats_data()
    {
        QTest::addColumn<int>("srcIndex");
        QTest::addColumn<int>("dstIndex");
        QTest::addColumn<QString>("srcExt");
        QTest::addColumn<QString>("dstExt"); // empty: none
        QTest::newRow("TSK, first target") << 0 << 0 << u"TSK"_s << u"SFC"_s;
        QTest::newRow("DXF, a middle one") << 3 << 3 << u"DXF"_s << u"JWC"_s;
        QTest::newRow("JWW, its eleventh target") << 4 << 10 << u"JWW"_s << u"DWF"_s;
        QTest::newRow("beyond TSK's ten targets") << 0 << 10 << u"TSK"_s << QString();
        QTest::newRow("none stays none") << 0 << -1 << u"TSK"_s << QString();
        QTest::newRow("source beyond the list") << 9 << 2 << u"TSK"_s << u"DXF"_s;
        QTest::newRow("negative source") << -3 << 0 << u"TSK"_s << u"SFC"_s;
    }
    void storedFormats()
    {
        QFETCH(int, srcIndex);
        QFETCH(int, dstIndex);
        QFETCH(QString, srcExt);
        QFETCH(QString, dstExt);
        QVERIFY(start(u"[Original]\nExt=%1\n[Convert]\nExt=%2\n"_s.arg(srcIndex).arg(dstIndex)));
        QCOMPARE(m_dlg->m_src.strExt, srcExt);
        QCOMPARE(m_dlg->m_cbSrcExt->currentText(), srcExt);
        QVERIFY(!comboItems(m_dlg->m_cbDstExt).contains(srcExt));
        QVERIFY(!comboItems(m_dlg->m_cbDstExt).contains(u"JWW"_s));
        QCOMPARE(m_dlg->m_dst.strExt, dstExt);
        QCOMPARE(m_dlg->m_cbDstExt->currentText(), dstExt);
        QCOMPARE(m_dlg->m_dst.nExtIndex, dstExt.isEmpty() ? -1 : dstIndex);
        if (dstExt.isEmpty())
            QVERIFY(!m_dlg->CommandAction(ID_CONVERT)->isEnabled());
    }

    // The target list is built for the source anew: the stored target goes, and so does its
    // listing, until another is chosen.
    void sourceChangeDropsTheTarget()
    {
        QTemporaryDir folder;
        for (const char *name : {"a.sfc", "b.tsk", "c.TSK"})
            QVERIFY(TestEnvironment::writeFile(folder.filePath(QString::fromLatin1(name)), "x"));
        QVERIFY(
            start(WindowFixture::settings(0, u"TSK"_s, folder.path(), u"SFC"_s, folder.path())));
        QCOMPARE(m_dlg->m_dst.strExt, u"SFC"_s);
        QCOMPARE(m_dlg->m_dst.Model()->rowCount(), 1);

        chooseSource(3); // DXF
        QCOMPARE(m_dlg->m_src.strExt, u"DXF"_s);
        QCOMPARE(m_dlg->m_dst.strExt, QString());
        QCOMPARE(m_dlg->m_cbDstExt->currentIndex(), -1);
        QCOMPARE(m_dlg->m_dst.Model()->rowCount(), 0);
        QVERIFY(!m_dlg->CommandAction(ID_CONVERT)->isEnabled()); // even in automatic mode

        chooseTarget(0); // TSK
        QCOMPARE(m_dlg->m_dst.strExt, u"TSK"_s);
        QCOMPARE(m_dlg->m_dst.Model()->rowCount(), 2); // b.tsk and c.TSK
        QVERIFY(m_dlg->CommandAction(ID_CONVERT)->isEnabled());
    }

private:
    bool start(const QString &ini) { return start(ini.toUtf8()); }
    bool start(const QByteArray &ini)
    {
        m_dlg = WindowFixture::open(m_appDir.path(), ini);
        return m_dlg != nullptr;
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
