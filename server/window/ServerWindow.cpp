#include "server/window/ServerWindow.h"

#include "server/service/ServerSettings.h"

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

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
}

void ServerWindow::save()
{
    if (ServerSettings::saveAuthor(m_authorName->text(), m_affiliation->text()))
        m_status->setText(QStringLiteral("保存しました。次に起動されたときから使われます。"));
    else
        m_status->setText(QStringLiteral("%1 に保存できませんでした。")
                              .arg(QDir::toNativeSeparators(ServerSettings::filePath())));
}
