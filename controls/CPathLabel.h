#pragma once

#include <QString>
#include <QWidget>

class QFontMetrics;

// A one-line static that paints its own text and, when the text is too wide, shortens it: a path
// loses characters from its middle so that its start and its file name stay readable; any other
// text loses its end.
class CPathLabel : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)

public:
    explicit CPathLabel(bool bPathEllipsis = false, QWidget *parent = nullptr);

    QString text() const { return m_strText; }
    void setText(const QString &text);

    // The text shortened to fit width: start and last path component kept whole, "..." before the
    // last separator.
    static QString ElidePath(const QString &text, const QFontMetrics &fm, int width);
    // The text as this label would draw it at the given width.
    QString DisplayText(int width) const;

    QSize sizeHint() const override;

    bool m_bPathEllipsis;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_strText;
};
