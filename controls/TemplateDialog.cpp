#include "controls/TemplateDialog.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QResizeEvent>

#include <cstdint>

TemplateDialog::TemplateDialog(int nTemplateId, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QString::number(nTemplateId));
    setFont(DialogFont());
    m_sizeBaseUnits = BaseUnits(font());
}

QFont TemplateDialog::DialogFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS PGothic"), QStringLiteral("ＭＳ Ｐゴシック"),
                      QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"),
                      QStringLiteral("IPAexGothic")});
    font.setPointSize(9);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QSize TemplateDialog::BaseUnits(const QFont &font)
{
    static const QString letters
        = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics fm(font);
    // The average over 52 letters, rounded to the nearest whole pixel.
    const int cx = (fm.horizontalAdvance(letters) / 26 + 1) / 2;
    return QSize(cx, fm.height());
}

int TemplateDialog::MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const std::int64_t product = std::int64_t(a) * b;
    const bool negative = (product < 0) != (c < 0);
    const std::int64_t num = product < 0 ? -product : product;
    const std::int64_t den = c < 0 ? -std::int64_t(c) : c;
    const std::int64_t result = (num + den / 2) / den;
    return int(negative ? -result : result);
}

QRect TemplateDialog::MapDialogRect(const QRect &rc, const QSize &base)
{
    const int left = MulDiv(rc.left(), base.width(), 4);
    const int top = MulDiv(rc.top(), base.height(), 8);
    const int right = MulDiv(rc.left() + rc.width(), base.width(), 4);
    const int bottom = MulDiv(rc.top() + rc.height(), base.height(), 8);
    return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

QRect TemplateDialog::MapDialogRect(const QRect &rc) const
{
    return MapDialogRect(rc, m_sizeBaseUnits);
}

void TemplateDialog::PlaceControl(QWidget *w, int nId, const QRect &rcDialogUnits)
{
    w->setParent(this);
    if (nId > 0)
        w->setObjectName(QString::number(nId));
    w->setGeometry(MapDialogRect(rcDialogUnits));
    m_aControls.append(w);
    if (!m_aBands.empty()) {
        const auto bandOf = [this](int x) {
            int nBand = 0;
            while (nBand + 1 < int(m_aBands.size()) && m_aBands[size_t(nBand) + 1].xStart <= x)
                ++nBand;
            return nBand;
        };
        Anchor anchor;
        anchor.nLeftBand = bandOf(rcDialogUnits.left());
        anchor.nRightBand = bandOf(rcDialogUnits.left() + rcDialogUnits.width() - 1);
        m_mapAnchored.insert(w, {anchor, QRect()});
    }
}

void TemplateDialog::SetTemplateSize(int cx, int cy)
{
    setFixedSize(MapDialogRect(QRect(0, 0, cx, cy)).size());
}

void TemplateDialog::SetMinimumTemplateSize(int cx, int cy)
{
    m_sizeTemplate = MapDialogRect(QRect(0, 0, cx, cy)).size();
    setMinimumSize(m_sizeTemplate);
    resize(m_sizeTemplate);
}

void TemplateDialog::SetBands(const std::vector<Band> &aBands)
{
    m_aBands = aBands;
}

void TemplateDialog::SetAnchor(int nId, double fLeft, double fRight, double fTop, double fBottom)
{
    QWidget *w = GetDlgItem(nId);
    if (!w || !m_mapAnchored.contains(w))
        return;
    Anchor &anchor = m_mapAnchored[w].anchor;
    anchor.fLeft = fLeft;
    anchor.fRight = fRight;
    anchor.fTop = fTop;
    anchor.fBottom = fBottom;
}

void TemplateDialog::SetAnchor(QWidget *w, const Anchor &anchor)
{
    m_mapAnchored.insert(w, {anchor, w->geometry()});
}

TemplateDialog::Anchor TemplateDialog::GetAnchor(int nId) const
{
    return m_mapAnchored.value(GetDlgItem(nId)).anchor;
}

void TemplateDialog::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    LayoutAnchored();
}

void TemplateDialog::LayoutAnchored()
{
    if (m_sizeTemplate.isEmpty() || m_aBands.empty())
        return;
    // Whole pixels per band, and together exactly the extra width: each band ends where the next
    // begins.
    const int dx = width() - m_sizeTemplate.width();
    const int dy = height() - m_sizeTemplate.height();
    int nTotalWeight = 0;
    for (const Band &band : m_aBands)
        nTotalWeight += band.nWeight;
    std::vector<int> aOffsets(m_aBands.size() + 1, 0);
    int nWeightBefore = 0;
    for (size_t i = 0; i < m_aBands.size(); ++i) {
        nWeightBefore += m_aBands[i].nWeight;
        aOffsets[i + 1] = nTotalWeight > 0 ? MulDiv(dx, nWeightBefore, nTotalWeight) : 0;
    }
    const auto edge = [&aOffsets](int nBand, double fFraction) {
        const size_t i = size_t(nBand);
        return aOffsets[i] + qRound(fFraction * (aOffsets[i + 1] - aOffsets[i]));
    };
    for (auto it = m_mapAnchored.begin(); it != m_mapAnchored.end(); ++it) {
        Anchored &placed = it.value();
        if (!placed.rcTemplate.isValid())
            placed.rcTemplate = it.key()->geometry();
        const Anchor &a = placed.anchor;
        const QRect &rc = placed.rcTemplate;
        const int left = rc.left() + edge(a.nLeftBand, a.fLeft);
        const int right = rc.left() + rc.width() + edge(a.nRightBand, a.fRight);
        const int top = rc.top() + qRound(a.fTop * dy);
        const int bottom = rc.top() + rc.height() + qRound(a.fBottom * dy);
        it.key()->setGeometry(left, top, right - left, bottom - top);
    }
}

void TemplateDialog::ApplyTabOrder()
{
    QWidget *previous = nullptr;
    for (QWidget *w : std::as_const(m_aControls)) {
        if (!(w->focusPolicy() & Qt::TabFocus))
            continue;
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }
}

void TemplateDialog::changeEvent(QEvent *event)
{
    // A dialog window must keep working while the window that owns it is disabled, as an owned
    // window does: a run disables the main window, and its prompt and its progress window must
    // still take answers. Qt passes a parent's disabling on to child windows as well; only an
    // explicit setEnabled(false) on the window itself counts.
    if (event->type() == QEvent::EnabledChange && isWindow() && !isEnabled()
        && !testAttribute(Qt::WA_ForceDisabled))
        setEnabled(true);
    QDialog::changeEvent(event);
}

QWidget *TemplateDialog::GetDlgItem(int nId) const
{
    return findChild<QWidget *>(QString::number(nId));
}

void TemplateDialog::SetDlgItemText(int nId, const QString &strText)
{
    QWidget *w = GetDlgItem(nId);
    if (auto *label = qobject_cast<QLabel *>(w))
        label->setText(strText);
    else if (auto *button = qobject_cast<QAbstractButton *>(w))
        button->setText(strText);
    else if (auto *combo = qobject_cast<QComboBox *>(w); combo && combo->isEditable())
        combo->setEditText(strText);
    else if (auto *edit = qobject_cast<QLineEdit *>(w))
        edit->setText(strText);
    else if (w)
        w->setProperty("text", strText);
}

QString TemplateDialog::GetDlgItemText(int nId) const
{
    QWidget *w = GetDlgItem(nId);
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    if (auto *combo = qobject_cast<QComboBox *>(w))
        return combo->currentText();
    if (auto *edit = qobject_cast<QLineEdit *>(w))
        return edit->text();
    return w ? w->property("text").toString() : QString();
}
