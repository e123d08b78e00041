#include "app/CConverterApp.h"
#include "app/CConverterDlg.h"
#include "res/Strings.h"
#include "tests/norvale/FakeDesktop.h"
#include "tests/norvale/WindowFixture.h"

#include <QAction>
#include <QHeaderView>
#include <QTextBrowser>
#include <QToolBar>

using namespace Qt::Literals::StringLiterals;
using WindowFixture::configIni;

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // The shared test bus has no drawing program: a run ends at the message that it cannot
        // be started, answered here.
        m_pDesktop = std::make_unique<FakeDesktop>();
        m_dlg = WindowFixture::open(m_appDir.path(), {}, true);
        QVERIFY(m_dlg);
    }
    void cleanup()
    {
        m_dlg.reset();
        m_pDesktop.reset();
    }

    // Posted, not called, whatever the state of the buttons and wherever the focus is.
    void functionKeysPostTheirCommands_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("focus");
        QTest::newRow("F5 in the source list") << int(Qt::Key_F5) << ID_CONVERT << IDC_SRC_LIST;
        QTest::newRow("F7 in the folder combo")
            << int(Qt::Key_F7) << ID_AUTO_MODE << IDC_SRC_FOLDER;
        QTest::newRow("F8 in the extension combo")
            << int(Qt::Key_F8) << ID_MANUAL_MODE << IDC_DST_EXT;
        QTest::newRow("F1 without a manual") << int(Qt::Key_F1) << ID_HELP << IDC_DST_LIST;
    }
    void functionKeysPostTheirCommands()
    {
        QFETCH(int, key);
        QFETCH(int, command);
        QFETCH(int, focus);
        QTemporaryDir noManual;
        CConverterApp app;
        app.m_strHelpFilePath = CConverterApp::FindHelpFile(noManual.path());
        m_dlg->m_nMode = command == ID_MANUAL_MODE ? 0 : 1;
        for (int id : {ID_CONVERT, ID_AUTO_MODE, ID_MANUAL_MODE})
            m_dlg->EnableToolButton(id, false);
        QSignalSpy spy(m_dlg.get(), &CConverterDlg::commandRun);
        QWidget *target = m_dlg->GetDlgItem(focus);
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
        QCOMPARE(spy.count(), 0);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), command);
        if (command == ID_CONVERT) {
            QCOMPARE(m_pDesktop->Texts(), QStringList {LoadString(IDS_SERVER_UNAVAILABLE)});
        } else if (command == ID_HELP) {
            QVERIFY(!helpWindow());
        } else {
            // Only the handler decides which mode button is down.
            const int mode = command == ID_AUTO_MODE ? 0 : 1;
            QCOMPARE(m_dlg->m_nMode, mode);
            QCOMPARE(m_dlg->CommandAction(ID_AUTO_MODE)->isChecked(), mode == 0);
            QCOMPARE(m_dlg->CommandAction(ID_MANUAL_MODE)->isChecked(), mode == 1);
            QCOMPARE(m_dlg->GetDlgItemText(IDC_STATUS),
                     LoadString(mode == 0 ? IDS_AUTO_MODE_STATUS : IDS_MANUAL_MODE_STATUS));
        }
    }

    // The designed size is the smallest; a larger window gives each pane half the extra width with
    // the toolbar column between them, the lists the extra height and the name column what its list
    // gains, while the lines under the lists stay under them.
    void windowGrowsFromItsDesignedSize()
    {
        const QSize growth(301, 120);
        const QSize designed = m_dlg->MapDialogRect(QRect(0, 0, 385, 345)).size();
        QCOMPARE(m_dlg->size(), designed);
        QCOMPARE(m_dlg->minimumSize(), designed);
        QVERIFY(m_dlg->windowFlags() & Qt::WindowMaximizeButtonHint);
        const auto rect = [this](int nId) {
            return m_dlg->GetDlgItem(nId)->geometry();
        };
        const QRect src = rect(IDC_SRC_LIST), dst = rect(IDC_DST_LIST), status = rect(IDC_STATUS);
        const QRect browse = rect(IDC_BROWSE_DST);
        const auto columns = [this] {
            const QHeaderView *header = m_dlg->m_lcDstFiles->header();
            return QList<int> {header->sectionSize(0), header->sectionSize(1),
                               header->sectionSize(2)};
        };
        const int nTime = m_dlg->m_lcDstFiles->ColumnSpace() - 180;
        QCOMPARE(columns(), QList<int>({120, 60, nTime}));
        m_dlg->resize(designed + growth);
        // Shared to the pixel: an odd pixel goes to one side.
        const int dxLeft = rect(IDC_SRC_LIST).width() - src.width();
        QVERIFY(qAbs(2 * dxLeft - growth.width()) <= 1);
        QCOMPARE(rect(IDC_SRC_LIST), src.adjusted(0, 0, dxLeft, growth.height()));
        QCOMPARE(rect(IDC_DST_LIST), dst.adjusted(dxLeft, 0, growth.width(), growth.height()));
        QCOMPARE(rect(IDC_BROWSE_DST), browse.translated(growth.width(), 0));
        QCOMPARE(rect(IDC_STATUS),
                 status.adjusted(0, growth.height(), growth.width(), growth.height()));
        const QRect convert = m_dlg->m_tbConvert->geometry();
        QVERIFY(rect(IDC_SRC_LIST).right() < convert.left());
        QVERIFY(convert.right() < rect(IDC_DST_LIST).left());
        QCOMPARE(columns(), QList<int>({120 + growth.width() - dxLeft, 60, nTime}));
    }

    // ... and the next start shows the window as it was left: its size, and the columns as the
    // user set them, the name taking what the list has beyond its designed width.
    void everyWayOfClosingWritesTheSettings_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("close button of the vertical toolbar") << 0;
        QTest::newRow("Esc") << 1;
        QTest::newRow("close box") << 2;
    }
    void everyWayOfClosingWritesTheSettings()
    {
        QFETCH(int, way);
        m_dlg->OnAutoMode();
        const QSize designed = m_dlg->size();
        m_dlg->resize(designed + QSize(100, 30));
        m_dlg->m_lcDstFiles->header()->resizeSection(1, 90);
        const QList<int> anWidths
            = m_dlg->m_lcDstFiles->ColumnWidthsAt(m_dlg->m_lcDstFiles->ColumnSpace());
        QSignalSpy finished(m_dlg.get(), &QDialog::finished);
        if (way == 0) {
            m_dlg->CommandAction(CConverterDlg::IDOK)->trigger();
        } else if (way == 1) {
            m_dlg->m_lcSrcFiles->setFocus();
            QTest::keyClick(m_dlg->m_lcSrcFiles, Qt::Key_Escape);
        } else {
            m_dlg->close();
        }
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(!m_dlg->isVisible());
        const QByteArray ini = TestEnvironment::readFile(configIni());
        QVERIFY(ini.contains("[Common]\nFolder=0\nMode=0\n"));

        m_dlg = WindowFixture::open(m_appDir.path(), ini, true);
        QCOMPARE(m_dlg->size(), designed + QSize(100, 30));
        QCOMPARE(m_dlg->m_lcDstFiles->ColumnWidthsAt(m_dlg->m_lcDstFiles->ColumnSpace()), anWidths);
        QCOMPARE(anWidths.mid(1), QList<int>({90, m_dlg->m_nTemplateColumnSpace - 180}));
    }

private:
    static QTextBrowser *helpWindow()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == u"help"_s && w->isVisible())
                return qobject_cast<QTextBrowser *>(w);
        return nullptr;
    }

    QTemporaryDir m_appDir;
    std::unique_ptr<CConverterDlg> m_dlg;
    std::unique_ptr<FakeDesktop> m_pDesktop;
};

NORVALE_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
