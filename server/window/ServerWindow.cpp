#include "server/window/ServerWindow.h"

#include "server/service/ServerSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// A combo box whose items are in the order of the setting's enum.
QComboBox *choices(const QStringList &items, int current, QWidget *parent)
{
    auto *combo = new QComboBox(parent);
    combo->addItems(items);
    combo->setCurrentIndex(current);
    return combo;
}

QDoubleSpinBox *millimetres(double low, double high, double value, QWidget *parent)
{
    auto *spin = new QDoubleSpinBox(parent);
    spin->setRange(low, high);
    spin->setDecimals(1);
    spin->setSuffix(QStringLiteral(" mm"));
    spin->setValue(value);
    return spin;
}

// One line of a form: the widgets side by side.
QWidget *row(std::initializer_list<QWidget *> widgets, QWidget *parent)
{
    auto *line = new QWidget(parent);
    auto *layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget *widget : widgets)
        layout->addWidget(widget);
    layout->addStretch();
    return line;
}

} // namespace

ServerWindow::ServerWindow(const QString &drawingPath, QWidget *parent)
    : QWidget(parent)
{
    QStringList warnings;
    const ServerSettings settings = ServerSettings::load(&warnings);
    setWindowTitle(QStringLiteral("Tarsk（スタンドイン）"));

    // What this server does with a drawing depends on its backend: the user must not read that
    // a converting server only records.
    const QString does = settings.backend == ServerSettings::Backend::Convert
        ? QStringLiteral("DXF・SFC・P21・JWW の図面を読み込み、PDF・SVG・HTM・EMF・DXF・SFC・P21 に"
                         "変換します。")
        : QStringLiteral("図面の変換は行わず、変換の記録を書き出します。");
    auto *intro = new QLabel(
        QStringLiteral("Norvale の試験と体験のための代用描画サーバーです。\n") + does, this);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("バージョン:"),
                 new QLabel(QString::number(settings.version / 100.0, 'f', 2), this));
    if (!drawingPath.isEmpty())
        form->addRow(QStringLiteral("図面:"),
                     new QLabel(QDir::toNativeSeparators(drawingPath), this));
    m_authorName = new QLineEdit(settings.authorName, this);
    m_affiliation = new QLineEdit(settings.affiliation, this);
    form->addRow(QStringLiteral("作成者名(&N):"), m_authorName);
    form->addRow(QStringLiteral("所属(&A):"), m_affiliation);
    m_dxfVersion = new QComboBox(this);
    m_dxfVersion->addItems(DxfVersions::names());
    m_dxfVersion->setCurrentText(DxfVersions::name(settings.dxfVersion));
    m_dxfVersion->setToolTip(QStringLiteral("DXF に保存するときの版です。R12 と R2000 しか読めない"
                                            "CAD にはその版を選びます。R2007 以降は UTF-8 です。"));
    form->addRow(QStringLiteral("DXF バージョン(&D):"), m_dxfVersion);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    if (!warnings.isEmpty())
        m_status->setText(QStringLiteral("設定ファイルに読めない値があり、既定値を使います:\n")
                          + warnings.join(u'\n'));
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *saveButton
        = buttons->addButton(QStringLiteral("保存(&S)"), QDialogButtonBox::AcceptRole);
    QPushButton *closeButton
        = buttons->addButton(QStringLiteral("閉じる"), QDialogButtonBox::RejectRole);
    saveButton->setDefault(true);
    saveButton->setObjectName(QStringLiteral("save"));
    connect(saveButton, &QPushButton::clicked, this, &ServerWindow::save);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(m_authorName, &QLineEdit::textEdited, m_status, &QLabel::clear);
    connect(m_affiliation, &QLineEdit::textEdited, m_status, &QLabel::clear);
    connect(m_dxfVersion, &QComboBox::activated, m_status, &QLabel::clear);

    auto *columns = new QHBoxLayout;
    columns->addLayout(form);
    columns->addWidget(plotGroup(settings), 0, Qt::AlignTop);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(columns);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
}

QWidget *ServerWindow::plotGroup(const ServerSettings &settings)
{
    const PlotSettings &plot = settings.plot;
    auto *group = new QGroupBox(QStringLiteral("印刷設定"), this);
    group->setToolTip(
        QStringLiteral("PDF・SVG・HTM・EMF に保存するときの用紙、縮尺、色、線の太さです。"
                       "変更は次に開く図面から使われます。"));
    auto *form = new QFormLayout(group);

    m_paper = choices({QStringLiteral("図面のまま"), QStringLiteral("A0"), QStringLiteral("A1"),
                       QStringLiteral("A2"), QStringLiteral("A3"), QStringLiteral("A4"),
                       QStringLiteral("寸法を指定")},
                      int(plot.paper), group);
    const bool custom = plot.paper == PlotSettings::Paper::Custom;
    m_paperWidth = millimetres(ServerSettings::kMinPaperSide, ServerSettings::kMaxPaperSide,
                               custom ? plot.customWidth : 420, group);
    m_paperHeight = millimetres(ServerSettings::kMinPaperSide, ServerSettings::kMaxPaperSide,
                                custom ? plot.customHeight : 297, group);
    m_paperWidth->setToolTip(QStringLiteral("用紙の幅"));
    m_paperHeight->setToolTip(QStringLiteral("用紙の高さ"));
    form->addRow(
        QStringLiteral("用紙(&P):"),
        row({m_paper, m_paperWidth, new QLabel(QStringLiteral("×"), group), m_paperHeight}, group));
    m_orientation = choices({QStringLiteral("自動"), QStringLiteral("縦"), QStringLiteral("横")},
                            int(plot.orientation), group);
    form->addRow(QStringLiteral("向き(&O):"), m_orientation);

    m_scale = choices(
        {QStringLiteral("図面のまま"), QStringLiteral("用紙に合わせる"), QStringLiteral("指定")},
        int(plot.scale), group);
    m_ratio = new QDoubleSpinBox(group);
    m_ratio->setRange(ServerSettings::kMinRatio, ServerSettings::kMaxRatio);
    m_ratio->setDecimals(2);
    m_ratio->setPrefix(QStringLiteral("1 : "));
    m_ratio->setValue(plot.ratio);
    form->addRow(QStringLiteral("縮尺(&K):"), row({m_scale, m_ratio}, group));

    m_margin = millimetres(0, ServerSettings::kMaxMargin, plot.margin, group);
    form->addRow(QStringLiteral("余白(&M):"), m_margin);
    m_centered = new QCheckBox(QStringLiteral("用紙の中央に配置する(&E)"), group);
    m_centered->setChecked(plot.centered);
    form->addRow(QString(), m_centered);

    m_colors = choices(
        {QStringLiteral("カラー"), QStringLiteral("グレースケール"), QStringLiteral("モノクロ")},
        int(plot.colors), group);
    m_colors->setToolTip(QStringLiteral("モノクロでは線と文字をすべて黒で、白い塗りつぶしは白のまま"
                                        "印刷します。提出用の印刷に使います。"));
    form->addRow(QStringLiteral("色(&L):"), m_colors);
    m_weights = choices({QStringLiteral("図面のまま"), QStringLiteral("色ごとに指定")},
                        int(plot.weights), group);
    form->addRow(QStringLiteral("線の太さ(&W):"), m_weights);
    m_weightByColor = new QLineEdit(ServerSettings::weightTableText(plot.weightByColor), group);
    m_weightByColor->setPlaceholderText(QStringLiteral("色番号:太さ(mm)、例 1:0.5, 7:0.25"));
    m_weightByColor->setToolTip(
        QStringLiteral("色番号 1〜255 ごとの線の太さ 0.05〜2.11 mm をカンマで区切って並べます。"
                       "書かれていない色は図面の太さのままです。"));
    form->addRow(QStringLiteral("色ごとの太さ(&T):"), m_weightByColor);

    // Names for the tests, which set the fields as a user does.
    for (auto [widget, name] : {std::pair<QWidget *, const char *>(m_paper, "paper"),
                                {m_paperWidth, "paperWidth"},
                                {m_paperHeight, "paperHeight"},
                                {m_orientation, "orientation"},
                                {m_scale, "scale"},
                                {m_ratio, "ratio"},
                                {m_margin, "margin"},
                                {m_centered, "centered"},
                                {m_colors, "colors"},
                                {m_weights, "weights"},
                                {m_weightByColor, "weightByColor"}})
        widget->setObjectName(QLatin1String(name));
    for (QComboBox *combo : {m_paper, m_orientation, m_scale, m_colors, m_weights}) {
        connect(combo, &QComboBox::currentIndexChanged, this, &ServerWindow::enablePlotFields);
        connect(combo, &QComboBox::currentIndexChanged, m_status, &QLabel::clear);
    }
    for (QDoubleSpinBox *spin : {m_paperWidth, m_paperHeight, m_ratio, m_margin})
        connect(spin, &QDoubleSpinBox::valueChanged, m_status, &QLabel::clear);
    connect(m_centered, &QCheckBox::toggled, m_status, &QLabel::clear);
    connect(m_weightByColor, &QLineEdit::textEdited, m_status, &QLabel::clear);
    enablePlotFields();
    return group;
}

// The numbers of a choice are offered only with it; they keep their values meanwhile.
void ServerWindow::enablePlotFields()
{
    const bool custom = m_paper->currentIndex() == int(PlotSettings::Paper::Custom);
    m_paperWidth->setEnabled(custom);
    m_paperHeight->setEnabled(custom);
    m_ratio->setEnabled(m_scale->currentIndex() == int(PlotSettings::Scale::Ratio));
    m_weightByColor->setEnabled(m_weights->currentIndex() == int(PlotSettings::Weights::ByColor));
}

void ServerWindow::save()
{
    const std::optional<QHash<int, double>> weights
        = ServerSettings::weightTable(m_weightByColor->text());
    if (!weights) {
        m_status->setText(QStringLiteral("色ごとの太さ「%1」を読めないため、保存していません。"
                                         "色番号 1〜255 と太さ 0.05〜2.11 mm を「1:0.5, 7:0.25」"
                                         "のように書いてください。")
                              .arg(m_weightByColor->text()));
        m_weightByColor->setFocus();
        return;
    }
    ServerSettings choices;
    choices.authorName = m_authorName->text();
    choices.affiliation = m_affiliation->text();
    choices.dxfVersion
        = DxfVersions::fromName(m_dxfVersion->currentText()).value_or(DxfVersions::kDefault);
    PlotSettings &plot = choices.plot;
    plot.paper = PlotSettings::Paper(m_paper->currentIndex());
    if (plot.paper == PlotSettings::Paper::Custom) {
        plot.customWidth = m_paperWidth->value();
        plot.customHeight = m_paperHeight->value();
    }
    plot.orientation = PlotSettings::Orientation(m_orientation->currentIndex());
    plot.scale = PlotSettings::Scale(m_scale->currentIndex());
    plot.ratio = m_ratio->value();
    plot.margin = m_margin->value();
    plot.centered = m_centered->isChecked();
    plot.colors = PlotSettings::Colors(m_colors->currentIndex());
    plot.weights = PlotSettings::Weights(m_weights->currentIndex());
    plot.weightByColor = *weights;
    if (ServerSettings::saveChoices(choices))
        m_status->setText(QStringLiteral("保存しました。作成者の情報は次に起動されたときから、"
                                         "DXF バージョンは次に保存する図面から、"
                                         "印刷設定は次に開く図面から使われます。"));
    else
        m_status->setText(QStringLiteral("%1 に保存できませんでした。")
                              .arg(QDir::toNativeSeparators(ServerSettings::filePath())));
}
