#pragma once

#include "controls/TemplateDialog.h"
#include "res/Resource.h"

#include <QString>

class QLineEdit;

// Asks for the name of a new folder. It only collects the text: checking the name and creating
// the folder are the caller's business.
class CNewFolderDlg : public TemplateDialog
{
    Q_OBJECT

public:
    enum { IDD = IDD_NEW_FOLDER };

    explicit CNewFolderDlg(QWidget *parent = nullptr);

    // Shown in the field on opening; after OK, the text exactly as typed.
    QString m_strName;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void OnOK();

    QLineEdit *m_pEdit = nullptr;
};
