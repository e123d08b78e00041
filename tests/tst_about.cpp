#include "tests/TestEnvironment.h"

#include "app/CAboutDlg.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void controlsExist_data();
    void controlsExist();
    void versionLine();
    void colours();
    void linkCursor();
    void separatorAndNamesVisible();
    void pictures();
    void linkClickOpensAddress();
    void linkClickNeedsReleaseInside();
    void closes_data();
    void closes();

private:
    QLabel *Label(int nId) const { return qobject_cast<QLabel *>(m_pDlg->GetDlgItem(nId)); }

    CAboutDlg *m_pDlg = nullptr;
    QList<QUrl> m_aOpened;
};

void TestAbout::init()
{
    m_aOpened.clear();
    CAboutDlg::openUrlHook = [this](const QUrl &url) {
        m_aOpened.append(url);
        return true;
    };
    m_pDlg = new CAboutDlg;
    m_pDlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_pDlg));
}

void TestAbout::cleanup()
{
    delete m_pDlg;
    m_pDlg = nullptr;
    CAboutDlg::openUrlHook = nullptr;
}

void TestAbout::controlsExist_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text");

    QTest::newRow("version") << 1011 << QStringLiteral("Version 1.10");
    QTest::newRow("notice") << 1012 << QString();
    QTest::newRow("link") << 1041 << QStringLiteral("https://norvale.example.org/");
    QTest::newRow("ok") << 1 << QStringLiteral("OK");
}

void TestAbout::controlsExist()
{
    QFETCH(int, id);
    QFETCH(QString, text);

    QCOMPARE(m_pDlg->objectName(), QStringLiteral("100"));
    QWidget *w = m_pDlg->GetDlgItem(id);
    QVERIFY(w);
    QVERIFY(w->isVisible());
    QVERIFY(m_pDlg->rect().contains(w->geometry()));
    QVERIFY(!m_pDlg->GetDlgItemText(id).isEmpty());
    if (!text.isEmpty())
        QCOMPARE(m_pDlg->GetDlgItemText(id), text);
    QVERIFY(!w->accessibleName().isEmpty());
}

void TestAbout::versionLine()
{
    QLabel *version = Label(1011);
    QVERIFY(version);
    QCOMPARE(version->text(), QStringLiteral("Version 1.10"));
    QCOMPARE(version->textFormat(), Qt::PlainText);
    QVERIFY(version->font().bold());
    QCOMPARE(version->font().pixelSize(), 15);
    QCOMPARE(version->font().families().value(0), QStringLiteral("Arial"));
    // The notice keeps the dialog font.
    QCOMPARE(Label(1012)->font(), m_pDlg->font());
}

void TestAbout::colours()
{
    QLabel *link = Label(1041);
    QVERIFY(link);
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QVERIFY(!link->font().underline());
    for (int nId : {1011, 1012}) {
        QCOMPARE(Label(nId)->palette().color(QPalette::WindowText), QColor(Qt::black));
        QCOMPARE(Label(nId)->palette().color(QPalette::Window), QColor(Qt::white));
    }
    QCOMPARE(link->palette().color(QPalette::Window), QColor(Qt::white));

    // What the user sees: the dialog is white where no control stands.
    const QImage image = m_pDlg->grab().toImage();
    QCOMPARE(image.pixelColor(1, 1), QColor(Qt::white));
    QCOMPARE(image.pixelColor(image.width() - 2, image.height() / 2), QColor(Qt::white));
}

void TestAbout::linkCursor()
{
    QLabel *link = Label(1041);
    QVERIFY(link->testAttribute(Qt::WA_SetCursor));
    QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(link->width() > m_pDlg->width() / 2);
    for (int nId : {1011, 1012})
        QVERIFY(Label(nId)->cursor().shape() != Qt::PointingHandCursor);
    QVERIFY(m_pDlg->cursor().shape() != Qt::PointingHandCursor);
}

void TestAbout::separatorAndNamesVisible()
{
    QFrame *separator = nullptr;
    for (QFrame *frame : m_pDlg->findChildren<QFrame *>())
        if (frame->frameShape() == QFrame::HLine)
            separator = frame;
    QVERIFY(separator);
    QVERIFY(separator->geometry().bottom() < m_pDlg->GetDlgItem(1)->geometry().top());
    const QImage image = m_pDlg->grab(separator->geometry()).toImage();
    bool bDrawn = false;
    for (int y = 0; y < image.height(); ++y)
        bDrawn = bDrawn || image.pixelColor(image.width() / 2, y) != QColor(Qt::white);
    QVERIFY2(bDrawn, "the separator line is not visible");

    // Every label, the pictures included, tells a screen reader what it shows.
    const QList<QLabel *> labels = m_pDlg->findChildren<QLabel *>();
    QCOMPARE(labels.size(), 5);
    for (QLabel *label : labels)
        QVERIFY2(!label->accessibleName().isEmpty(), qPrintable(label->objectName()));
}

void TestAbout::pictures()
{
    QList<QLabel *> pictures;
    for (QLabel *label : m_pDlg->findChildren<QLabel *>())
        if (label->text().isEmpty())
            pictures.append(label);
    QCOMPARE(pictures.size(), 2);
    for (QLabel *label : pictures) {
        const QPixmap pixmap = label->pixmap();
        QVERIFY2(!pixmap.isNull(), "picture missing from the resources");
        const QSize size = (QSizeF(pixmap.size()) / pixmap.devicePixelRatio()).toSize();
        QVERIFY(label->contentsRect().width() >= size.width());
        QVERIFY(label->contentsRect().height() >= size.height());
    }
    // The logo comes first, above the version; the application icon below the notice.
    QVERIFY(pictures.at(0)->y() < m_pDlg->GetDlgItem(1011)->y());
    QVERIFY(pictures.at(1)->y() > m_pDlg->GetDlgItem(1012)->y());
    const QPixmap icon = pictures.at(1)->pixmap();
    QCOMPARE((QSizeF(icon.size()) / icon.devicePixelRatio()).toSize(), QSize(32, 32));
}

void TestAbout::linkClickOpensAddress()
{
    QTest::mouseClick(Label(1041), Qt::LeftButton);
    QCOMPARE(m_aOpened, QList<QUrl> {QUrl(QStringLiteral("https://norvale.example.org/"))});
    QVERIFY(m_pDlg->isVisible());

    // Clicks on the other lines open nothing.
    QTest::mouseClick(Label(1011), Qt::LeftButton);
    QTest::mouseClick(Label(1012), Qt::LeftButton);
    QCOMPARE(m_aOpened.size(), 1);
}

void TestAbout::linkClickNeedsReleaseInside()
{
    QLabel *link = Label(1041);
    QTest::mousePress(link, Qt::LeftButton);
    QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(link->width() / 2, -5));
    QVERIFY(m_aOpened.isEmpty());
    QTest::mouseClick(link, Qt::RightButton);
    QVERIFY(m_aOpened.isEmpty());
}

void TestAbout::closes_data()
{
    QTest::addColumn<int>("how");
    QTest::addColumn<int>("result");

    QTest::newRow("ok button") << 0 << int(QDialog::Accepted);
    QTest::newRow("enter") << 1 << int(QDialog::Accepted);
    QTest::newRow("escape") << 2 << int(QDialog::Rejected);
    QTest::newRow("close box") << 3 << int(QDialog::Rejected);
}

void TestAbout::closes()
{
    QFETCH(int, how);
    QFETCH(int, result);

    m_pDlg->setResult(-1);
    auto *ok = qobject_cast<QPushButton *>(m_pDlg->GetDlgItem(1));
    QVERIFY(ok);
    QVERIFY(ok->isDefault());
    switch (how) {
    case 0:
        QTest::mouseClick(ok, Qt::LeftButton);
        break;
    case 1:
        QTest::keyClick(m_pDlg, Qt::Key_Return);
        break;
    case 2:
        QTest::keyClick(m_pDlg, Qt::Key_Escape);
        break;
    default:
        m_pDlg->close();
        break;
    }
    QTRY_VERIFY(!m_pDlg->isVisible());
    QCOMPARE(m_pDlg->result(), result);
}

NORVALE_TEST_MAIN(TestAbout)
#include "tst_about.moc"
