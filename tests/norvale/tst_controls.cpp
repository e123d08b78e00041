#include "tests/TestEnvironment.h"

#include "controls/CPathLabel.h"
#include "controls/TemplateDialog.h"

#include <QFontMetrics>

class TestControls : public QObject
{
    Q_OBJECT

private slots:
    void elidePath_data()
    {
        QTest::addColumn<QString>("text");

        QTest::newRow("unix") << QStringLiteral(
            "/home/user/Drawings/2006/Projects/Site A/plan.tsk");
        QTest::newRow("backslash")
            << QStringLiteral("C:\\Drawings\\2006\\Projects\\Site A\\plan.tsk");
        QTest::newRow("no separator")
            << QStringLiteral("A rather long drawing title without any separator.tsk");
        QTest::newRow("long last component")
            << QStringLiteral("/d/An extremely long file name that is wider than the label.tsk");
        QTest::newRow("trailing separator") << QStringLiteral("/home/user/Drawings/2006/Projects/");
        // Any cut at an odd position in the start would split a pair.
        QTest::newRow("surrogate pairs") << QStringLiteral("/𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜𝒜/plan.tsk");
    }

    // Every width from too narrow for the last component up to the full text.
    void elidePath()
    {
        QFETCH(QString, text);

        const QFontMetrics fm(TemplateDialog::DialogFont());
        const int full = fm.horizontalAdvance(text);
        QCOMPARE(CPathLabel::ElidePath(text, fm, full), text);
        const qsizetype sep
            = std::max(text.lastIndexOf(QLatin1Char('/')), text.lastIndexOf(QLatin1Char('\\')));
        const QString tail = QStringLiteral("...") + text.mid(sep);
        const int narrowest = fm.horizontalAdvance(text.left(2) + QChar(0x2026) + text.right(2));
        for (int width = narrowest; width < full; ++width) {
            const QString result = CPathLabel::ElidePath(text, fm, width);
            const QByteArray what = QStringLiteral("%1 at %2").arg(result).arg(width).toUtf8();
            QVERIFY2(fm.horizontalAdvance(result) <= width && result.isValidUtf16(), what);
            if (sep >= 0 && width >= fm.horizontalAdvance(tail)) {
                // The longest start that fits, then "..." and the last component whole.
                const QString kept = result.chopped(tail.size());
                const qsizetype more
                    = kept.size() + (text.at(kept.size()).isHighSurrogate() ? 2 : 1);
                QVERIFY2(result.endsWith(tail) && text.startsWith(kept), what);
                QVERIFY2(fm.horizontalAdvance(text.left(more) + tail) > width, what);
            } else { // nothing sensible to keep of the path: the middle goes, both ends still show
                QVERIFY2(result.contains(QChar(0x2026)), what);
                QVERIFY2(result.front() == text.front() && result.back() == text.back(), what);
            }
        }
    }
};

NORVALE_TEST_MAIN(TestControls)
#include "tst_controls.moc"
