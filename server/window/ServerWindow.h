#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
struct ServerSettings;

// What the user sees when starting the stand-in from the launch button: its version, the author
// data it hands to clients, the DXF version it writes and how it prints drawings, which can be
// changed here.
class ServerWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ServerWindow(const QString &drawingPath, QWidget *parent = nullptr);

private:
    QWidget *plotGroup(const ServerSettings &settings);
    void enablePlotFields();
    void save();

    QLineEdit *m_authorName = nullptr;
    QLineEdit *m_affiliation = nullptr;
    QComboBox *m_dxfVersion = nullptr;
    QComboBox *m_paper = nullptr;
    QDoubleSpinBox *m_paperWidth = nullptr;
    QDoubleSpinBox *m_paperHeight = nullptr;
    QComboBox *m_orientation = nullptr;
    QComboBox *m_scale = nullptr;
    QDoubleSpinBox *m_ratio = nullptr;
    QDoubleSpinBox *m_margin = nullptr;
    QCheckBox *m_centered = nullptr;
    QComboBox *m_colors = nullptr;
    QComboBox *m_weights = nullptr;
    QLineEdit *m_weightByColor = nullptr;
    QLabel *m_status = nullptr;
};
