#pragma once

#include <QDialog>
#include <QHash>
#include <QRect>

#include <vector>

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

    // How a control follows a window that is larger than its template. The extra width is
    // shared by bands, columns of the template, in the ratio of their weights; each vertical edge
    // moves with the band it stands in, by the band's offset and its fraction of the band's
    // growth, and each horizontal edge by its fraction of the extra height.
    struct Anchor
    {
        int nLeftBand = 0;
        double fLeft = 0;
        int nRightBand = 0;
        double fRight = 0;
        double fTop = 0;
        double fBottom = 0;
    };
    struct Band
    {
        int xStart; // dialog units: where the band begins
        int nWeight;
    };

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
    // Makes the template's size the smallest the window may have; it may grow from there, its
    // controls following the anchors.
    void SetMinimumTemplateSize(int cx, int cy);
    // The bands, left to right, the first beginning at 0. Controls placed from now on stand in
    // the bands of their edges, not growing with them until SetAnchor says so.
    void SetBands(const std::vector<Band> &aBands);
    // Each edge's fraction of its band's growth (0: stays with the band's left side, 1: with its
    // right side) and of the extra height.
    void SetAnchor(int nId, double fLeft, double fRight, double fTop, double fBottom);
    // w (a control or anything placed over one) follows the window as anchor says; its present
    // place is its place at the template's size.
    void SetAnchor(QWidget *w, const Anchor &anchor);
    Anchor GetAnchor(int nId) const;
    void resizeEvent(QResizeEvent *event) override;
    // Chains the tab order of the focusable controls in the order they were added.
    void ApplyTabOrder();
    void changeEvent(QEvent *event) override;

private:
    struct Anchored
    {
        Anchor anchor;
        QRect rcTemplate; // in pixels; recorded at the first layout, while nothing has moved it
    };
    // Moves every anchored control to its place in a window of the present size.
    void LayoutAnchored();

    QSize m_sizeBaseUnits;
    QList<QWidget *> m_aControls;
    QSize m_sizeTemplate;
    std::vector<Band> m_aBands;
    QHash<QWidget *, Anchored> m_mapAnchored;
};
