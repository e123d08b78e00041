#include "tests/TestEnvironment.h"

#include "app/TemplateDialog.h"
#include "controls/CIconButton.h"
#include "controls/CPathLabel.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

namespace {

class CountingPathLabel : public CPathLabel
{
public:
    using CPathLabel::CPathLabel;
    int nPaints = 0;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        ++nPaints;
        CPathLabel::paintEvent(event);
    }
};

class LabelDialog : public TemplateDialog
{
public:
    LabelDialog()
        : TemplateDialog(900)
    {
        AddControl(new CPathLabel(0, true), 1030, 4, 4, 100, 8);
    }
};

QIcon SolidIcon(const QColor &color)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(color);
    return QIcon(pixmap);
}

QImage Render(QWidget &w, const QColor &background)
{
    QImage image(w.size(), QImage::Format_ARGB32);
    image.fill(background);
    // No window background: whatever ends up in the image was painted by the widget itself.
    w.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

bool AllPixels(const QImage &image, const QColor &color)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) != color)
                return false;
    return true;
}

} // namespace

class TestControls : public QObject
{
    Q_OBJECT

private slots:
    void elidePath_data();
    void elidePath();
    void elidePathAlwaysFits_data();
    void elidePathAlwaysFits();
    void elidePathKeepsSurrogatePairs();
    void pathLabelRepaintsOnSameText();
    void pathLabelTextProperty();
    void iconButtonNullIconPaintsNothing();
    void iconButtonReleaseKeepsOwnersIcon();
    void iconButtonSetIconSizeKeepsPosition();

private:
    QFont m_font = TemplateDialog::DialogFont();
};

// Widths are given in multiples of the width of "..." + the last component, so the rows hold
// whatever font the machine falls back to.
void TestControls::elidePath_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("extra"); // characters' worth of room beyond "..." + tail; -1: text
    QTest::addColumn<QString>("expectedStart");
    QTest::addColumn<QString>("expectedTail");

    QTest::newRow("fits") << QStringLiteral("/home/user/plan.tsk") << -1
                          << QStringLiteral("/home/user/plan.tsk") << QString();
    QTest::newRow("unix") << QStringLiteral("/home/user/Drawings/2006/Projects/Site A/plan.tsk")
                          << 10 << QStringLiteral("/home/") << QStringLiteral(".../plan.tsk");
    QTest::newRow("backslash") << QStringLiteral("C:\\Drawings\\2006\\Projects\\Site A\\plan.tsk")
                               << 8 << QStringLiteral("C:\\Dr") << QStringLiteral("...\\plan.tsk");
    QTest::newRow("ampersand") << QStringLiteral("/srv/R&D/Drawings/Very long folder/R&D plan.tsk")
                               << 6 << QStringLiteral("/srv/R&")
                               << QStringLiteral(".../R&D plan.tsk");
    QTest::newRow("only start cut")
        << QStringLiteral("/a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/q/r/s/t/u/v/w/x/y/z/file.tsk") << 0
        << QString() << QStringLiteral(".../file.tsk");
}

void TestControls::elidePath()
{
    QFETCH(QString, text);
    QFETCH(int, extra);
    QFETCH(QString, expectedStart);
    QFETCH(QString, expectedTail);

    const QFontMetrics fm(m_font);
    int width = fm.horizontalAdvance(text);
    if (extra >= 0)
        width = fm.horizontalAdvance(expectedTail) + extra * fm.horizontalAdvance(QLatin1Char('W'));
    QVERIFY(extra < 0 || width < fm.horizontalAdvance(text));

    const QString result = CPathLabel::ElidePath(text, fm, width);
    QVERIFY2(fm.horizontalAdvance(result) <= width, qPrintable(result));
    if (extra < 0) {
        QCOMPARE(result, text);
        return;
    }
    QVERIFY2(result.startsWith(expectedStart), qPrintable(result));
    QVERIFY2(result.endsWith(expectedTail), qPrintable(result));
    QCOMPARE(result.count(QStringLiteral("...")), 1);
    // The kept start is a prefix of the text and is as long as the width allows.
    const QString start = result.left(result.size() - expectedTail.size());
    QVERIFY(text.startsWith(start));
    const QString longer = text.left(start.size() + 1) + expectedTail;
    QVERIFY2(fm.horizontalAdvance(longer) > width, qPrintable(longer));
}

void TestControls::elidePathAlwaysFits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expectPathEllipsis"); // at widths where "..." + tail fits

    QTest::newRow("unix") << QStringLiteral("/home/user/Drawings/2006/Projects/Site A/plan.tsk")
                          << true;
    QTest::newRow("backslash") << QStringLiteral("C:\\Drawings\\2006\\Projects\\Site A\\plan.tsk")
                               << true;
    QTest::newRow("no separator") << QStringLiteral(
        "A rather long drawing title without any separator.tsk")
                                  << false;
    QTest::newRow("long last component")
        << QStringLiteral("/d/An extremely long file name that is wider than the label.tsk")
        << true;
    QTest::newRow("trailing separator")
        << QStringLiteral("/home/user/Drawings/2006/Projects/") << true;
}

void TestControls::elidePathAlwaysFits()
{
    QFETCH(QString, text);
    QFETCH(bool, expectPathEllipsis);

    const QFontMetrics fm(m_font);
    const qsizetype sep
        = std::max(text.lastIndexOf(QLatin1Char('/')), text.lastIndexOf(QLatin1Char('\\')));
    const QString tail = text.mid(sep);
    const int full = fm.horizontalAdvance(text);
    const int tailWidth = fm.horizontalAdvance(QStringLiteral("...") + tail);
    // From the narrowest width at which the fallback can still show both ends.
    const int narrowest = fm.horizontalAdvance(text.left(2) + QChar(0x2026) + text.right(2));
    for (int width = narrowest; width < full; width += 7) {
        const QString result = CPathLabel::ElidePath(text, fm, width);
        QVERIFY2(fm.horizontalAdvance(result) <= width,
                 qPrintable(QStringLiteral("%1 at %2").arg(result).arg(width)));
        QVERIFY2(result != text, qPrintable(result));
        if (expectPathEllipsis && width >= tailWidth) {
            QVERIFY2(result.endsWith(QStringLiteral("...") + tail), qPrintable(result));
        } else {
            // The fallback still shows both ends with an ellipsis between them.
            QVERIFY2(result.contains(QChar(0x2026)), qPrintable(result));
            QCOMPARE(result.front(), text.front());
            QCOMPARE(result.back(), text.back());
        }
    }
}

void TestControls::elidePathKeepsSurrogatePairs()
{
    const QFontMetrics fm(m_font);
    // Non-BMP characters in the part that gets cut: any odd cut would split a pair.
    const QString text = QStringLiteral("/𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜/plan.tsk");
    const int tailWidth = fm.horizontalAdvance(QStringLiteral(".../plan.tsk"));
    for (int width = tailWidth; width < fm.horizontalAdvance(text); ++width) {
        const QString result = CPathLabel::ElidePath(text, fm, width);
        QVERIFY(fm.horizontalAdvance(result) <= width);
        const qsizetype dots = result.indexOf(QStringLiteral("..."));
        QVERIFY(dots >= 0);
        QVERIFY2(dots == 0 || !result.at(dots - 1).isHighSurrogate(),
                 qPrintable(QString::number(width)));
    }
}

void TestControls::pathLabelRepaintsOnSameText()
{
    CountingPathLabel label(0, true);
    label.resize(200, 20);
    label.show();
    QVERIFY(QTest::qWaitForWindowExposed(&label));
    label.setText(QStringLiteral("/home/user/plan.tsk"));
    QTRY_VERIFY(label.nPaints > 0);

    for (int i = 0; i < 2; ++i) {
        QTest::qWait(50); // let any pending repaint land before counting
        const int before = label.nPaints;
        label.setText(QStringLiteral("/home/user/plan.tsk"));
        QTRY_VERIFY2(label.nPaints > before, "setText with the same text did not repaint");
    }
}

void TestControls::pathLabelTextProperty()
{
    LabelDialog dialog;
    const QString text = QStringLiteral("/srv/R&D/plan.tsk");
    dialog.SetDlgItemText(1030, text);
    QCOMPARE(dialog.GetDlgItemText(1030), text);
    auto *label = qobject_cast<CPathLabel *>(dialog.GetDlgItem(1030));
    QVERIFY(label);
    QCOMPARE(label->text(), text);
    // The label draws the dialog's font, so its measurements are the dialog's.
    QCOMPARE(label->font(), dialog.font());
}

void TestControls::iconButtonNullIconPaintsNothing()
{
    const QColor background(255, 0, 255);
    CIconButton button;
    button.SetIconSize();
    QVERIFY(button.m_hIcon.isNull());
    QVERIFY(AllPixels(Render(button, background), background));

    // The same check catches a painted icon, so it is not vacuous.
    button.SetIcon(SolidIcon(Qt::red));
    const QImage painted = Render(button, background);
    QCOMPARE(painted.pixelColor(0, 0), QColor(Qt::red));
    QCOMPARE(painted.pixelColor(31, 31), QColor(Qt::red));

    button.ReleaseIcon();
    QVERIFY(button.m_hIcon.isNull());
    QVERIFY(AllPixels(Render(button, background), background));
}

void TestControls::iconButtonReleaseKeepsOwnersIcon()
{
    const QIcon owned = SolidIcon(Qt::blue);
    {
        CIconButton button;
        button.SetIcon(owned);
        QVERIFY(!button.m_hIcon.isNull());
        button.ReleaseIcon();
        button.ReleaseIcon();
        QVERIFY(button.m_hIcon.isNull());
    }
    QVERIFY(!owned.isNull());
    CIconButton other;
    other.SetIconSize();
    other.SetIcon(owned);
    const QImage image = Render(other, Qt::white);
    QCOMPARE(image.pixelColor(16, 16), QColor(Qt::blue));
}

void TestControls::iconButtonSetIconSizeKeepsPosition()
{
    QWidget parent;
    auto *button = new CIconButton(&parent);
    button->setGeometry(17, 23, 50, 10);
    button->SetIconSize();
    QCOMPARE(button->geometry(), QRect(17, 23, 32, 32));
    // Decoration only: it must not be reachable by Tab or by a click.
    QCOMPARE(button->focusPolicy(), Qt::NoFocus);
    QVERIFY(!button->isEnabled());
}

NORVALE_TEST_MAIN(TestControls)
#include "tst_controls.moc"
