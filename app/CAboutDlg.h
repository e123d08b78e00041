#pragma once

#include "controls/TemplateDialog.h"
#include "res/Resource.h"

#include <QUrl>

class QLabel;

// The About box: logo, version, notice, application icon and a link to the project's web site.
class CAboutDlg : public TemplateDialog
{
    Q_OBJECT

public:
    enum { IDD = IDD_ABOUTBOX };

    explicit CAboutDlg(QWidget *parent = nullptr);

    static QUrl WebAddress();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *m_pLink = nullptr;
    bool m_bLinkPressed = false;
};
