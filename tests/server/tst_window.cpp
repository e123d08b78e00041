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
    field<QComboBox>(window, "paper")->setCurrentIndex(int(PlotSettings::Paper::Custom));
    field<QDoubleSpinBox>(window, "paperWidth")->setValue(500);
    field<QComboBox>(window, "orientation")->setCurrentIndex(2);
    field<QComboBox>(window, "scale")->setCurrentIndex(int(PlotSettings::Scale::Ratio));
    field<QDoubleSpinBox>(window, "ratio")->setValue(50);
    field<QDoubleSpinBox>(window, "margin")->setValue(5);
    field<QCheckBox>(window, "centered")->setChecked(false);
    field<QComboBox>(window, "colors")->setCurrentIndex(2);
    field<QComboBox>(window, "weights")->setCurrentIndex(1);
    QLineEdit *table = field<QLineEdit>(window, "weightByColor");
    QVERIFY(table->isEnabled());
    table->setText(u"7:0.25, 1:3"_s);
    QTest::mouseClick(field<QPushButton>(window, "save"), Qt::LeftButton);
    QVERIFY(field<QLabel>(window, "status")->text().contains(u"保存していません"_s));
    QVERIFY(!QSettings(ServerSettings::filePath(), QSettings::IniFormat).contains(u"Plot/Paper"_s));
    table->setText(u"7:0.25, 1:0.5"_s);
    QTest::mouseClick(field<QPushButton>(window, "save"), Qt::LeftButton);
    QVERIFY(field<QLabel>(window, "status")->text().startsWith(u"保存しました"_s));

    PlotSettings expected;
    expected.paper = PlotSettings::Paper::Custom;
    expected.customWidth = 500;
    expected.customHeight = 297;
    expected.orientation = PlotSettings::Orientation::Landscape;
    expected.scale = PlotSettings::Scale::Ratio;
    expected.ratio = 50;
    expected.margin = 5;
    expected.centered = false;
    expected.colors = PlotSettings::Colors::Monochrome;
    expected.weights = PlotSettings::Weights::ByColor;
    expected.weightByColor = {{1, 0.5}, {7, 0.25}};
    QStringList warnings;
    QVERIFY(ServerSettings::load(&warnings).plot == expected);
    QVERIFY(warnings.isEmpty());
    // The test knobs stay as they were; a window opened again shows what was saved.
    QCOMPARE(
        QSettings(ServerSettings::filePath(), QSettings::IniFormat).value(u"Testing/DelayMs"_s),
        u"7"_s);
    window = std::make_unique<ServerWindow>(QString());
    QCOMPARE(field<QLineEdit>(window, "weightByColor")->text(), u"1:0.5,7:0.25"_s);
    QCOMPARE(field<QDoubleSpinBox>(window, "ratio")->value(), 50.0);
}

NORVALE_TEST_MAIN(TestWindow)
#include "tst_window.moc"
