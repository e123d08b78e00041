#include "controls/MessageBox.h"

#include "platform/Desktop.h"

#include <QPushButton>

QMessageBox::StandardButton
AfxMessageBox(const QString &strText, QMessageBox::StandardButtons buttons, QMessageBox::Icon icon,
              QMessageBox::StandardButton defaultButton, QWidget *parent)
{
    QMessageBox box(icon, QString(), strText, buttons, parent);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return AfxMessageBox(box);
}

QMessageBox::StandardButton AfxMessageBox(QMessageBox &box)
{
    box.setWindowTitle(QStringLiteral("Norvale"));
    // The interface is Japanese whatever the desktop's language.
    const std::pair<QMessageBox::StandardButton, const char *> labels[] = {
        {QMessageBox::Ok, "OK"},
        {QMessageBox::Yes, "はい(&Y)"},
        {QMessageBox::No, "いいえ(&N)"},
        {QMessageBox::Cancel, "ｷｬﾝｾﾙ"},
    };
    for (const auto &[button, pszLabel] : labels) {
        if (QAbstractButton *b = box.button(button))
            b->setText(QString::fromUtf8(pszLabel));
    }
    return Desktop::Current().Ask(box);
}
