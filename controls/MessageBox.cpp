#include "controls/MessageBox.h"

#include "platform/Desktop.h"

#include <QPushButton>

QMessageBox::StandardButton
AfxMessageBox(const QString &strText, QMessageBox::StandardButtons buttons, QMessageBox::Icon icon,
              QMessageBox::StandardButton defaultButton, QWidget *parent)
{
    QMessageBox box(icon, QStringLiteral("Norvale"), strText, buttons, parent);
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
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return Desktop::Current().Ask(box);
}
