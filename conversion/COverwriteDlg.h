#pragma once

#include "controls/TemplateDialog.h"
#include "res/Resource.h"

#include <QString>

class CIconButton;
class CPathLabel;

// Asks whether an existing target file may be replaced. The four answers come back as two values,
// the modal result and m_bAltChoice:
//   "はい"          IDOK      false
//   "すべて上書き"   IDOK      true
//   "いいえ"        IDCANCEL  true
//   "ｷｬﾝｾﾙ"         IDCANCEL  false   (also Esc and the close button)
// One object serves a whole run and is shown again for every existing target.
class COverwriteDlg : public TemplateDialog
{
    Q_OBJECT

public:
    enum { IDD = IDD_OVERWRITE };

    explicit COverwriteDlg(QWidget *parent = nullptr);

    // Shows the prompt for m_strFileName and returns IDOK or IDCANCEL.
    int DoModal();

    QString m_strFileName;
    bool m_bAltChoice = false;

    CIconButton *m_btnIcon = nullptr;
    CPathLabel *m_stFileName = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void OnInitDialog();
    void OnOverwriteAll();
    void OnNo();
};
