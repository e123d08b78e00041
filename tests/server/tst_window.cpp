#include "tests/TestEnvironment.h"

#include "server/service/ServerSettings.h"
#include "server/window/ServerWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

using namespace TestEnvironment;
using namespace Qt::Literals::StringLiterals;

namespace {

template<typename T>
T *field(const std::unique_ptr<ServerWindow> &window, const char *name)
{
    T *found = window->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no field %s", name);
    return found;
}

} // namespace

// The server's own window, as a user sets it: what it saves is what the server reads, and a
// table it cannot read is refused with a message instead of saved.
class TestWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void plotSettingsRoundTrip();
};

void TestWindow::plotSettingsRoundTrip()
{
    QVERIFY(writeFile(ServerSettings::filePath(), "[Testing]\nDelayMs=7\n[Plot]\nColors=sepia\n"));
    auto window = std::make_unique<ServerWindow>(QString());
    // The value it could not read is shown; the default is in its place.
    QVERIFY(field<QLabel>(window, "status")->text().contains(u"sepia"_s));
    QCOMPARE(field<QComboBox>(window, "colors")->currentIndex(), 0);
    // Every field away from its default, so that one left unsaved shows when read again.
    for (const char *name : {"paper", "orientation", "scale", "colors", "weights"}) {
        QComboBox *combo = field<QComboBox>(window, name);
        combo->setCurrentIndex(combo->count() - 1);
    }
    for (const char *name : {"paperWidth", "paperHeight", "ratio", "margin"})
        field<QDoubleSpinBox>(window, name)->setValue(12.5);
    field<QCheckBox>(window, "centered")->setChecked(false);
    QLineEdit *table = field<QLineEdit>(window, "weightByColor");
    QVERIFY(table->isEnabled());
    table->setText(u"7:0.25, 1:3"_s);
    QTest::mouseClick(field<QPushButton>(window, "save"), Qt::LeftButton);
    QVERIFY(field<QLabel>(window, "status")->text().contains(u"保存していません"_s));
    QVERIFY(!QSettings(ServerSettings::filePath(), QSettings::IniFormat).contains(u"Plot/Paper"_s));
    table->setText(u"1:0.5,7:0.25"_s);
    QTest::mouseClick(field<QPushButton>(window, "save"), Qt::LeftButton);
    QVERIFY(field<QLabel>(window, "status")->text().startsWith(u"保存しました"_s));

    QStringList warnings;
    ServerSettings::load(&warnings);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(u'\n')));
    QCOMPARE(
        QSettings(ServerSettings::filePath(), QSettings::IniFormat).value(u"Testing/DelayMs"_s),
        u"7"_s);
    // Opened again, the window shows what was saved.
    window = std::make_unique<ServerWindow>(QString());
    for (const char *name : {"paper", "orientation", "scale", "colors", "weights"}) {
        QComboBox *combo = field<QComboBox>(window, name);
        QCOMPARE(combo->currentIndex(), combo->count() - 1);
    }
    for (const char *name : {"paperWidth", "paperHeight", "ratio", "margin"})
        QCOMPARE(field<QDoubleSpinBox>(window, name)->value(), 12.5);
    QVERIFY(!field<QCheckBox>(window, "centered")->isChecked());
    QCOMPARE(field<QLineEdit>(window, "weightByColor")->text(), u"1:0.5,7:0.25"_s);
}

NORVALE_TEST_MAIN(TestWindow)
#include "tst_window.moc"
