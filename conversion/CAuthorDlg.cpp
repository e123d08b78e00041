#include "conversion/CAuthorDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include <limits>

namespace {
QLineEdit *MakeField(const QString &strAccessibleName)
{
    auto *edit = new QLineEdit;
    // Any text goes, empty included: the drawing program is the judge of what it stores.
    edit->setMaxLength(std::numeric_limits<int>::max());
    edit->setAccessibleName(strAccessibleName);
    return edit;
}
} // namespace

CAuthorDlg::CAuthorDlg(QWidget *parent)
    : TemplateDialog(IDD, parent)
{
    setWindowTitle(QStringLiteral("作成者名"));
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    SetTemplateSize(206, 70);

    auto *nameLabel = AddControl(new QLabel(QStringLiteral("作成者名(&N):")), 0, 7, 9, 55, 8);
    m_pAuthor = AddControl(MakeField(QStringLiteral("作成者名(N)")), IDC_AUTHOR, 64, 7, 80, 12);
    nameLabel->setBuddy(m_pAuthor);
    auto *user
        = AddControl(new QPushButton(QStringLiteral("ﾕｰｻﾞｰ名(&U)")), IDC_USER_NAME, 149, 6, 50, 14);
    user->setAccessibleName(QStringLiteral("ﾕｰｻﾞｰ名(U)"));

    auto *affilLabel = AddControl(new QLabel(QStringLiteral("作成者所属(&A):")),
                                  IDC_AFFILIATION_LABEL, 7, 28, 55, 8);
    m_pAffil
        = AddControl(MakeField(QStringLiteral("作成者所属(A)")), IDC_AFFILIATION, 64, 26, 135, 12);
    affilLabel->setBuddy(m_pAffil);

    auto *ok = AddControl(new QPushButton(QStringLiteral("OK")), IDOK, 95, 49, 50, 14);
    ok->setDefault(true);
    ok->setAccessibleName(ok->text());
    auto *cancel = AddControl(new QPushButton(QStringLiteral("ｷｬﾝｾﾙ")), IDCANCEL, 149, 49, 50, 14);
    cancel->setAccessibleName(cancel->text());

    connect(user, &QPushButton::clicked, this, &CAuthorDlg::OnUserName);
    connect(ok, &QPushButton::clicked, this, &CAuthorDlg::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    ApplyTabOrder();
}

int CAuthorDlg::DoModal()
{
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void CAuthorDlg::showEvent(QShowEvent *event)
{
    // Only an opening fills the fields, not the window manager mapping the window again.
    if (!event->spontaneous())
        OnInitDialog();
    TemplateDialog::showEvent(event);
}

void CAuthorDlg::DoDataExchange(bool bSaveAndValidate)
{
    if (bSaveAndValidate) {
        m_strAuthor = m_pAuthor->text();
        m_strAffil = m_pAffil->text();
    } else {
        m_pAuthor->setText(m_strAuthor);
        m_pAffil->setText(m_strAffil);
    }
}

void CAuthorDlg::OnInitDialog()
{
    DoDataExchange(false);
    GetDlgItem(IDC_AFFILIATION_LABEL)->setEnabled(m_bAffiliation);
    m_pAffil->setEnabled(m_bAffiliation);
    m_pAuthor->setFocus();
}

void CAuthorDlg::OnOK()
{
    DoDataExchange(true);
    accept();
}

void CAuthorDlg::OnUserName()
{
    m_pAuthor->setText(m_strUser);
}
