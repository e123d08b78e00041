#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

// What the user sees when starting the stand-in from the launch button: its version and the
// author data it hands to clients, which can be changed here.
class ServerWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ServerWindow(const QString &drawingPath, QWidget *parent = nullptr);

private:
    void save();

    QLineEdit *m_authorName = nullptr;
    QLineEdit *m_affiliation = nullptr;
    QLabel *m_status = nullptr;
};
