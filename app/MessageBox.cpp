#include "app/MessageBox.h"

QMessageBox::StandardButton
AfxMessageBox(const QString &strText, QMessageBox::StandardButtons buttons, QMessageBox::Icon icon,
              QMessageBox::StandardButton defaultButton, QWidget *parent)
{
    QMessageBox box(icon, QStringLiteral("Norvale"), strText, buttons, parent);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return QMessageBox::StandardButton(box.exec());
}
