#include "server/window/ServerWindow.h"

#include "server/service/ServerSettings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

ServerWindow::ServerWindow(const QString &drawingPath, QWidget *parent)
    : QWidget(parent)
{
    const ServerSettings settings = ServerSettings::load();
    setWindowTitle(QStringLiteral("Tarsk（スタンドイン）"));

    auto *intro = new QLabel(QStringLiteral("Norvale の試験と体験のための代用描画サーバーです。\n"
                                            "図面の変換は行わず、変換の記録を書き出します。"),
                             this);

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
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *saveButton
        = buttons->addButton(QStringLiteral("保存(&S)"), QDialogButtonBox::AcceptRole);
    QPushButton *closeButton
        = buttons->addButton(QStringLiteral("閉じる"), QDialogButtonBox::RejectRole);
    saveButton->setDefault(true);
    connect(saveButton, &QPushButton::clicked, this, &ServerWindow::save);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(m_authorName, &QLineEdit::textEdited, m_status, &QLabel::clear);
    connect(m_affiliation, &QLineEdit::textEdited, m_status, &QLabel::clear);
    connect(m_dxfVersion, &QComboBox::activated, m_status, &QLabel::clear);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
}

void ServerWindow::save()
{
    const DxfVersion version
        = DxfVersions::fromName(m_dxfVersion->currentText()).value_or(DxfVersions::kDefault);
    if (ServerSettings::saveChoices(m_authorName->text(), m_affiliation->text(), version))
        m_status->setText(QStringLiteral("保存しました。作成者の情報は次に起動されたときから、"
                                         "DXF バージョンは次に保存する図面から使われます。"));
    else
        m_status->setText(QStringLiteral("%1 に保存できませんでした。")
                              .arg(QDir::toNativeSeparators(ServerSettings::filePath())));
}
