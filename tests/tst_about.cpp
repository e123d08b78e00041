#include "tests/FakeDesktop.h"
#include "tests/TestEnvironment.h"

#include "app/CAboutDlg.h"

#include <QLabel>
#include <QPushButton>

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void labels_data();
    void labels();
    void linkClickOpensAddress();
    void closes_data();
    void closes();

private:
    QLabel *Label(int nId) const { return qobject_cast<QLabel *>(m_pDlg->GetDlgItem(nId)); }

    CAboutDlg *m_pDlg = nullptr;
    std::unique_ptr<FakeDesktop> m_pDesktop;
};

void TestAbout::init()
{
    m_pDesktop = std::make_unique<FakeDesktop>();
    m_pDlg = new CAboutDlg;
    m_pDlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_pDlg));
}

void TestAbout::cleanup()
{
    delete m_pDlg;
    m_pDlg = nullptr;
    m_pDesktop.reset();
}

void TestAbout::labels_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text"); // empty: any text
    QTest::addColumn<QColor>("color");
    QTest::addColumn<int>("pixelSize"); // -1: the dialog font

    QTest::newRow("version") << 1011 << QStringLiteral("Version 1.10") << QColor(Qt::black) << 15;
    QTest::newRow("notice") << 1012 << QString() << QColor(Qt::black) << -1;
    QTest::newRow("link") << 1041 << QStringLiteral("https://norvale.example.org/")
                          << QColor(0, 0, 255) << -1;
}

void TestAbout::labels()
{
    QFETCH(int, id);
    QFETCH(QString, text);
    QFETCH(QColor, color);
    QFETCH(int, pixelSize);

    QLabel *label = Label(id);
    QVERIFY(label);
    QVERIFY(!label->text().isEmpty());
    if (!text.isEmpty())
        QCOMPARE(m_pDlg->GetDlgItemText(id), text);
    QCOMPARE(label->palette().color(QPalette::WindowText), color);
    QVERIFY(!label->font().underline());
    // Only the link shows the hand: nothing else in the box is clickable.
    QCOMPARE(label->cursor().shape() == Qt::PointingHandCursor, id == 1041);
    QVERIFY(m_pDlg->cursor().shape() != Qt::PointingHandCursor);
    if (pixelSize < 0) {
        QCOMPARE(label->font(), m_pDlg->font());
    } else {
        QVERIFY(label->font().bold());
        QCOMPARE(label->font().pixelSize(), pixelSize);
    }
}

void TestAbout::linkClickOpensAddress()
{
    QTest::mouseClick(Label(1011), Qt::LeftButton);
    QTest::mouseClick(Label(1012), Qt::LeftButton);
    QLabel *link = Label(1041);
    // Like a button: released after dragging away from the link, the press opens nothing.
    QTest::mousePress(link, Qt::LeftButton);
    QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(link->width() / 2, -5));
    QVERIFY(m_pDesktop->aOpened.isEmpty());

    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(m_pDesktop->aOpened,
             QList<QUrl> {QUrl(QStringLiteral("https://norvale.example.org/"))});
    QVERIFY(m_pDlg->isVisible());
}

void TestAbout::closes_data()
{
    QTest::addColumn<int>("key"); // 0: click OK
    QTest::addColumn<int>("result");

    QTest::newRow("ok button") << 0 << int(QDialog::Accepted);
    QTest::newRow("enter") << int(Qt::Key_Return) << int(QDialog::Accepted);
    QTest::newRow("escape") << int(Qt::Key_Escape) << int(QDialog::Rejected);
}

void TestAbout::closes()
{
    QFETCH(int, key);
    QFETCH(int, result);

    m_pDlg->setResult(-1);
    auto *ok = qobject_cast<QPushButton *>(m_pDlg->GetDlgItem(1));
    QVERIFY(ok && ok->text() == QStringLiteral("OK"));
    if (key)
        QTest::keyClick(m_pDlg, Qt::Key(key));
    else
        QTest::mouseClick(ok, Qt::LeftButton);
    QTRY_VERIFY(!m_pDlg->isVisible());
    QCOMPARE(m_pDlg->result(), result);
}

NORVALE_TEST_MAIN(TestAbout)
#include "tst_about.moc"
