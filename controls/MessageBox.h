#pragma once

#include <QMessageBox>

class QWidget;

// The application's message box: titled with the application name, with the given buttons,
// default button and icon, the buttons labelled in Japanese. Returns the button chosen.
QMessageBox::StandardButton
AfxMessageBox(const QString &strText, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
              QMessageBox::Icon icon = QMessageBox::Warning,
              QMessageBox::StandardButton defaultButton = QMessageBox::NoButton,
              QWidget *parent = nullptr);

// Shows a box its caller has built with more than a text (a line of detail, a button of its own),
// titled and labelled as AfxMessageBox's, and returns the button chosen.
QMessageBox::StandardButton AfxMessageBox(QMessageBox &box);
