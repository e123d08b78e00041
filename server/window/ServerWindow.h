#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;

// What the user sees when starting the stand-in from the launch button: its version, the author
// data it hands to clients and the DXF version it writes, which can be changed here.
class ServerWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ServerWindow(const QString &drawingPath, QWidget *parent = nullptr);

private:
    void save();

    QLineEdit *m_authorName = nullptr;
    QLineEdit *m_affiliation = nullptr;
    QComboBox *m_dxfVersion = nullptr;
    QLabel *m_status = nullptr;
};
