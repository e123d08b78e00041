#include "tests/TestEnvironment.h"
#include "tests/norvale/FakeDesktop.h"

#include "app/CAboutDlg.h"

#include <QLabel>

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    // The link behaves like a button: only a click released over it opens the address, so a
    // user who pressed by mistake can drag away; the other lines open nothing.
    void linkClickOpensAddress()
    {
        FakeDesktop desktop;
        CAboutDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const auto label = [&dlg](int nId) {
            return qobject_cast<QLabel *>(dlg.GetDlgItem(nId));
        };
        QTest::mouseClick(label(IDC_ABOUT_VERSION), Qt::LeftButton);
        QTest::mouseClick(label(IDC_ABOUT_NOTICE), Qt::LeftButton);
        QLabel *link = label(IDC_ABOUT_WEBLINK);
        QTest::mousePress(link, Qt::LeftButton);
        QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(link->width() / 2, -5));
        QVERIFY(desktop.aOpened.isEmpty());

        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(desktop.aOpened,
                 QList<QUrl> {QUrl(QStringLiteral("https://norvale.example.org/"))});
        QVERIFY(dlg.isVisible());
    }
};

NORVALE_TEST_MAIN(TestAbout)
#include "tst_about.moc"
