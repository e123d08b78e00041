#pragma once

#include <QDialog>
#include <QRect>

class QLabel;

// A dialog laid out from a template in dialog units: every control stands where the template
// puts it, converted to pixels through the dialog font, so the window keeps its proportions
// whatever the font. Controls are addressed by their numeric id, carried as objectName.
class TemplateDialog : public QDialog
{
    Q_OBJECT

public:
    // The two commands every dialog has, whatever its template: OK, and Cancel (also Esc and the
    // close box).
    enum { IDOK = 1, IDCANCEL = 2 };

    explicit TemplateDialog(int nTemplateId, QWidget *parent = nullptr);

    QWidget *GetDlgItem(int nId) const;
    void SetDlgItemText(int nId, const QString &strText);
    QString GetDlgItemText(int nId) const;

    // Horizontal base unit (average width of A–Z a–z) and vertical base unit (font height).
    static QSize BaseUnits(const QFont &font);
    // Dialog units to pixels: x·cx/4 and y·cy/8, rounded as the Windows MulDiv rounds.
    static QRect MapDialogRect(const QRect &rcDialogUnits, const QSize &baseUnits);
    QRect MapDialogRect(const QRect &rcDialogUnits) const;
    // a·b/c rounded half away from zero, computed in 64 bits; -1 when c is 0.
    static int MulDiv(int a, int b, int c);

    // "MS PGothic" 9 pt, or the Japanese proportional sans that stands in for it.
    static QFont DialogFont();

protected:
    // Places w at its template rectangle and names it by id; controls are added in tab order.
    template<class Widget>
    Widget *AddControl(Widget *w, int nId, int x, int y, int cx, int cy)
    {
        PlaceControl(w, nId, QRect(x, y, cx, cy));
        return w;
    }
    void PlaceControl(QWidget *w, int nId, const QRect &rcDialogUnits);
    // Fixes the client size from the template's size in dialog units.
    void SetTemplateSize(int cx, int cy);
    // Chains the tab order of the focusable controls in the order they were added.
    void ApplyTabOrder();
    void changeEvent(QEvent *event) override;

private:
    QSize m_sizeBaseUnits;
    QList<QWidget *> m_aControls;
};
