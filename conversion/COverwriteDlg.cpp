#include "conversion/COverwriteDlg.h"

#include "controls/CIconButton.h"
#include "controls/CPathLabel.h"

#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>

COverwriteDlg::COverwriteDlg(QWidget *parent)
    : TemplateDialog(IDD, parent)
{
    setWindowTitle(QStringLiteral("上書きの確認"));
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    SetTemplateSize(234, 55);

    const auto addButton = [this](const QString &strText, int nId, int x) {
        auto *button = AddControl(new QPushButton(strText), nId, x, 35, 50, 14);
        button->setAccessibleName(strText);
        return button;
    };
    QPushButton *yes = addButton(QStringLiteral("はい"), IDOK, 10);
    yes->setDefault(true);
    QPushButton *all = addButton(QStringLiteral("すべて上書き"), IDC_OVERWRITE_ALL, 65);
    QPushButton *no = addButton(QStringLiteral("いいえ"), IDC_OVERWRITE_NO, 120);
    QPushButton *cancel = addButton(QStringLiteral("ｷｬﾝｾﾙ"), IDCANCEL, 175);

    AddControl(new QLabel(QStringLiteral("上書きしますか？")), 0, 35, 20, 190, 8);

    m_stFileName = AddControl(new CPathLabel, IDC_OVERWRITE_FILE, 35, 10, 190, 8);
    // Before any text arrives: a long path must lose its middle, never its file name.
    m_stFileName->m_bPathEllipsis = true;

    m_btnIcon = AddControl(new CIconButton, IDC_OVERWRITE_ICON, 11, 8, 20, 20);
    m_btnIcon->SetIconSize();
    m_btnIcon->SetIcon(style()->standardIcon(QStyle::SP_MessageBoxQuestion, nullptr, this));

    connect(yes, &QPushButton::clicked, this, &QDialog::accept);
    connect(all, &QPushButton::clicked, this, &COverwriteDlg::OnOverwriteAll);
    connect(no, &QPushButton::clicked, this, &COverwriteDlg::OnNo);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    ApplyTabOrder();
}

int COverwriteDlg::DoModal()
{
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void COverwriteDlg::showEvent(QShowEvent *event)
{
    // Only an opening resets the prompt, not the window manager mapping it again.
    if (!event->spontaneous())
        OnInitDialog();
    TemplateDialog::showEvent(event);
}

void COverwriteDlg::OnInitDialog()
{
    // A POSIX path keeps its leading "/": it is the root, not a stray separator.
    m_stFileName->setText(m_strFileName);
    m_bAltChoice = false;
    GetDlgItem(IDOK)->setFocus();
}

void COverwriteDlg::OnOverwriteAll()
{
    m_bAltChoice = true;
    accept();
}

void COverwriteDlg::OnNo()
{
    m_bAltChoice = true;
    reject();
}
