#include "panes/CNewFolderDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include <limits>

CNewFolderDlg::CNewFolderDlg(QWidget *parent)
    : TemplateDialog(IDD, parent)
{
    setWindowTitle(QStringLiteral("フォルダ作成"));
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    SetTemplateSize(115, 55);

    auto *label = AddControl(new QLabel(QStringLiteral("名称(&N):")), 0, 5, 5, 25, 8);
    m_pEdit = AddControl(new QLineEdit, IDC_FOLDER_NAME, 5, 15, 105, 14);
    // Any name goes through; one the file system refuses fails when the folder is created.
    m_pEdit->setMaxLength(std::numeric_limits<int>::max());
    label->setBuddy(m_pEdit);
    m_pEdit->setAccessibleName(QStringLiteral("名称(N)"));

    auto *ok = AddControl(new QPushButton(QStringLiteral("OK")), IDOK, 5, 35, 50, 14);
    ok->setDefault(true);
    ok->setAccessibleName(ok->text());
    auto *cancel = AddControl(new QPushButton(QStringLiteral("ｷｬﾝｾﾙ")), IDCANCEL, 60, 35, 50, 14);
    cancel->setAccessibleName(cancel->text());
    connect(ok, &QPushButton::clicked, this, &CNewFolderDlg::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    ApplyTabOrder();
}

void CNewFolderDlg::showEvent(QShowEvent *event)
{
    // Only an opening fills the field, not the window manager showing it again.
    if (!event->spontaneous()) {
        m_pEdit->setText(m_strName);
        m_pEdit->setFocus();
    }
    TemplateDialog::showEvent(event);
}

void CNewFolderDlg::OnOK()
{
    m_strName = m_pEdit->text();
    accept();
}
