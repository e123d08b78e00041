#include "tests/BusFixture.h"
#include "tests/norvale/FakeDesktop.h"
#include "tests/norvale/WindowFixture.h"

#include "app/CPreviewDlg.h"
#include "app/PreviewCanvas.h"
#include "platform/IniProfile.h"

#include <QLabel>
#include <QMenu>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

// The preview window in a real main window, its drawings converted for real by the stand-in on a
// private bus: the keys a user presses, the files of every kind it shows, and a run it waits for.
class TestPreview : public QObject
{
    Q_OBJECT

    BusFixture m_bus;
    QTemporaryDir m_appDir;
    QTemporaryDir m_dir;
    std::unique_ptr<FakeDesktop> m_desktop;
    std::unique_ptr<CConverterDlg> m_dlg;

    QString folder(const QString &strSide) const { return m_dir.filePath(strSide); }
    CPreviewDlg *preview() const { return m_dlg->m_pPreviewDlg; }
    QTreeView *list(Side side) const
    {
        return WindowFixture::pane(*m_dlg, side).GetControls().pList;
    }
    QString status() const { return preview()->m_stStatus->text(); }
    // Moves the list's current row to nRow, selecting it, as a click does.
    void choose(Side side, int nRow)
    {
        list(side)->setCurrentIndex(WindowFixture::pane(*m_dlg, side).Model()->index(nRow, 0));
    }
    // Whether the picture of strName, or a message about it, is shown; the status line tells
    // which.
    bool shown(const QString &strName) const
    {
        const PreviewCanvas *pCanvas = preview()->m_pCanvas;
        return status().startsWith(strName) && !status().contains(u"準備"_s)
            && (pCanvas->ShownSerial() == pCanvas->Serial() || !pCanvas->Message().isEmpty());
    }
    qlonglong serverCalls()
    {
        return BusFixture::call(u"GetStatistics"_s).arguments().value(0).toLongLong();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
        QVERIFY(BusFixture::configure(BusFixture::kConverting));
        QVERIFY(QDir().mkpath(folder(u"src"_s)) && QDir().mkpath(folder(u"dst"_s)));
        for (const char *pszName : {"floor-plan.dxf", "site.dxf"})
            QVERIFY(
                QFile::copy(QStringLiteral(NORVALE_SOURCE_DIR "/samples/") + QLatin1String(pszName),
                            folder(u"src/"_s + QLatin1String(pszName))));
        QVERIFY(TestEnvironment::writeFile(folder(u"src/broken.dxf"_s), "0\nSECTION\n2\nENTI"));
        // One page 100 × 50 mm in each target format the preview reads itself, and one it does not.
        {
            QPdfWriter pdf(folder(u"dst/page.pdf"_s));
            pdf.setPageSize(QPageSize(QSizeF(100, 50), QPageSize::Millimeter, QString(),
                                      QPageSize::ExactMatch));
            pdf.setPageMargins(QMarginsF());
            QPainter painter(&pdf);
            painter.drawLine(0, 0, 1000, 500);
        }
        const QByteArray svg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="100mm" )"
                               R"(height="50mm" viewBox="0 0 1000 500"><path d="M0 0L1000 500" )"
                               R"(stroke="black"/></svg>)";
        QVERIFY(TestEnvironment::writeFile(folder(u"dst/page.svg"_s), svg));
        QVERIFY(TestEnvironment::writeFile(folder(u"dst/page.htm"_s),
                                           "<!DOCTYPE html><html><body>" + svg + "</body></html>"));
        QVERIFY(TestEnvironment::writeFile(folder(u"dst/page.emf"_s), "EMF"));
        QVERIFY(TestEnvironment::writeFile(
            folder(u"dst/loop.pdf"_s),
            "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n2 0 obj\n<< /Type "
            "/Pages /Kids [3 0 R] /Count 1 >>\nendobj\n3 0 obj\n<< /Type /Pages /Kids [2 0 R] "
            "/Count 1 >>\nendobj\ntrailer\n<< /Root 1 0 R >>\n%%EOF\n"));
        m_desktop = std::make_unique<FakeDesktop>();
        m_dlg = WindowFixture::open(
            m_appDir.path(),
            WindowFixture::settings(1, u"DXF"_s, folder(u"src"_s), u"PDF"_s, folder(u"dst"_s)),
            true);
        QVERIFY(m_dlg);
        QCOMPARE(WindowFixture::listed(*m_dlg, Side::Source),
                 QStringList({u"broken.dxf"_s, u"floor-plan.dxf"_s, u"site.dxf"_s}));
    }
    void cleanupTestCase() { m_dlg.reset(); }

    // Space opens the preview of the selected drawing, the arrow keys move it through the list,
    // + - and F zoom and fit, Esc and Space close it; its place is kept in the settings.
    void keys()
    {
        QTreeView *pList = list(Side::Source);
        choose(Side::Source, 1);
        pList->setFocus();
        QTest::keyClick(pList, Qt::Key_Space);
        QTRY_VERIFY(preview() && preview()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(shown(u"floor-plan.dxf"_s), 20000);
        QCOMPARE(status(), u"floor-plan.dxf    用紙 607 × 538 mm    縮尺 1:20"_s);
        QVERIFY(m_dlg->isVisible() && preview()->m_pCanvas->Message().isEmpty());

        PreviewCanvas *pCanvas = preview()->m_pCanvas;
        const double dFit = pCanvas->FitScale();
        QTest::keyClick(preview(), Qt::Key_Plus);
        QCOMPARE(pCanvas->Scale(), dFit * 1.25);
        QTest::keyClick(preview(), Qt::Key_Minus);
        QTest::keyClick(preview(), Qt::Key_Minus);
        QCOMPARE(pCanvas->Scale(), dFit * 0.8);
        QTest::keyClick(preview(), Qt::Key_F);
        QCOMPARE(pCanvas->Scale(), dFit);

        QTest::keyClick(pList, Qt::Key_Down);
        QTRY_VERIFY_WITH_TIMEOUT(shown(u"site.dxf"_s), 20000);
        // From the preview too, and up to a drawing the server refuses, which says why.
        QTest::keyClick(preview(), Qt::Key_Up);
        QTest::keyClick(preview(), Qt::Key_Up);
        QTRY_VERIFY_WITH_TIMEOUT(shown(u"broken.dxf"_s), 20000);
        QVERIFY2(pCanvas->Message().contains(u"broken.dxf"_s), qPrintable(pCanvas->Message()));

        QTest::keyClick(pList, Qt::Key_Escape);
        QVERIFY(!preview()->isVisible() && m_dlg->isVisible());
        QTest::keyClick(pList, Qt::Key_Space);
        QTRY_VERIFY(preview()->isVisible());
        QTest::keyClick(pList, Qt::Key_Space);
        QVERIFY(!preview()->isVisible());

        const QRect rcPlace(40, 60, 500, 400);
        preview()->setGeometry(rcPlace);
        m_dlg->SaveSettings();
        const IniProfile profile(m_dlg->m_strIniPath);
        QCOMPARE(QRect(profile.readInt(u"Preview"_s, u"Left"_s, 0),
                       profile.readInt(u"Preview"_s, u"Top"_s, 0),
                       profile.readInt(u"Preview"_s, u"Width"_s, 0),
                       profile.readInt(u"Preview"_s, u"Height"_s, 0)),
                 rcPlace);
    }

    // The target list's menu entry, for each kind of file a target can be.
    void targets_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("message");
        const QString strPage = u"    用紙 100 × 50 mm"_s;
        QTest::newRow("PDF") << u"page.pdf"_s << u"page.pdf"_s + strPage << QString();
        QTest::newRow("SVG") << u"page.svg"_s << u"page.svg"_s + strPage << QString();
        QTest::newRow("HTM") << u"page.htm"_s << u"page.htm"_s + strPage << QString();
        QTest::newRow("EMF") << u"page.emf"_s << u"page.emf"_s << u"EMF 形式"_s;
        // Its library would walk the pages for good, and no PDF would show after it.
        QTest::newRow("PDF page tree in a loop")
            << u"loop.pdf"_s << u"loop.pdf"_s << u"ページの構成"_s;
    }
    void targets()
    {
        QFETCH(QString, file);
        QFETCH(QString, status);
        QFETCH(QString, message);
        m_dlg->m_dst.strExt = file.section(u'.', 1).toUpper();
        m_dlg->OnRefreshDst();
        choose(Side::Target, WindowFixture::listed(*m_dlg, Side::Target).indexOf(file));
        // Chosen by its mnemonic; a menu without the entry would stay open and fail the test.
        QTimer::singleShot(0, this, [] {
            if (QPointer<QWidget> pMenu = QApplication::activePopupWidget()) {
                QTest::keyClick(pMenu, Qt::Key_V);
                if (pMenu && pMenu->isVisible())
                    pMenu->close();
            }
        });
        emit list(Side::Target)->customContextMenuRequested(QPoint(5, 5));
        QTRY_VERIFY(preview()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(shown(file), 20000);
        QCOMPARE(this->status(), status);
        const QString strShown = preview()->m_pCanvas->Message();
        QVERIFY2(message.isEmpty() ? strShown.isEmpty() : strShown.contains(message),
                 qPrintable(strShown));
    }

    // A run has the drawing program: the preview waits and keeps its picture, and shows the
    // drawing asked for meanwhile once the run is over. Of drawings asked for while the server
    // is busy, only the last is converted.
    void waitsAndSkips()
    {
        QVERIFY(BusFixture::configure(QByteArray(BusFixture::kConverting)
                                      + "[Testing]\nDelayMs=300\n"));
        choose(Side::Source, 1);
        m_dlg->OnCommand(ID_PREVIEW_SRC);
        QTRY_VERIFY_WITH_TIMEOUT(shown(u"floor-plan.dxf"_s), 20000);
        const int nShown = preview()->m_pCanvas->ShownSerial();
        const qlonglong nCalls = serverCalls();
        m_dlg->SetRunning(true);
        choose(Side::Source, 2);
        QTest::qWait(800);
        QCOMPARE(status(), u"site.dxf    変換が終わるまでお待ちください"_s);
        QCOMPARE(preview()->m_pCanvas->ShownSerial(), nShown);
        QCOMPARE(serverCalls(), nCalls);
        QVERIFY(preview()->isEnabled()); // zoomed and panned meanwhile
        m_dlg->SetRunning(false);
        QTRY_VERIFY_WITH_TIMEOUT(shown(u"site.dxf"_s), 20000);

        const qlonglong nBefore = serverCalls();
        for (const int nRow : {0, 1, 2, 1})
            choose(Side::Source, nRow);
        QTRY_VERIFY_WITH_TIMEOUT(shown(u"floor-plan.dxf"_s), 20000);
        // Open of the first, which was under way, then Open and SaveAs of the last.
        QCOMPARE(serverCalls() - nBefore, 3);
    }
};

NORVALE_TEST_MAIN(TestPreview)
#include "tst_preview.moc"
