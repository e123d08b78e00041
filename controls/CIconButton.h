#pragma once

#include <QIcon>
#include <QWidget>

// A picture-only button face: shows one icon in a 32×32 square and never takes a click or the
// focus, so it can stand beside real controls purely as decoration.
class CIconButton : public QWidget
{
    Q_OBJECT

public:
    explicit CIconButton(QWidget *parent = nullptr);

    void SetIconSize();
    void SetIcon(const QIcon &hIcon);

    QSize sizeHint() const override;

    // Null until an icon is set.
    QIcon m_hIcon;

    static constexpr int kIconSize = 32;

protected:
    void paintEvent(QPaintEvent *event) override;
};
