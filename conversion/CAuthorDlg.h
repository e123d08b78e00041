#pragma once

#include "controls/TemplateDialog.h"
#include "res/Resource.h"

#include <QString>

class QLineEdit;

// Edits the author name (and, for the SXF formats, the affiliation) sent with every drawing. The
// dialog works on its own members only: the caller fills them, and takes them back after IDOK.
class CAuthorDlg : public TemplateDialog
{
    Q_OBJECT

public:
    enum { IDD = IDD_AUTHOR };

    explicit CAuthorDlg(QWidget *parent = nullptr);

    // Returns IDOK (the fields copied into the members) or IDCANCEL (the members untouched).
    int DoModal();

    bool m_bAffiliation = false;
    QString m_strUser;
    QString m_strAuthor;
    QString m_strAffil;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void DoDataExchange(bool bSaveAndValidate);
    void OnInitDialog();
    void OnOK();
    void OnUserName();

    QLineEdit *m_pAuthor = nullptr;
    QLineEdit *m_pAffil = nullptr;
};
