#pragma once

#include <QMessageBox>

#include <functional>

class QWidget;

// The application's message box: titled with the application name, with the given buttons,
// default button and icon, the buttons labelled in Japanese. Returns the button chosen.
QMessageBox::StandardButton
AfxMessageBox(const QString &strText, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
              QMessageBox::Icon icon = QMessageBox::Warning,
              QMessageBox::StandardButton defaultButton = QMessageBox::NoButton,
              QWidget *parent = nullptr);

// Answers in place of the user when set (tests); receives what the box would show.
using MessageBoxHook = std::function<QMessageBox::StandardButton(
    const QString &strText, QMessageBox::StandardButtons buttons, QMessageBox::Icon icon,
    QMessageBox::StandardButton defaultButton)>;
extern MessageBoxHook g_messageBoxHook;
