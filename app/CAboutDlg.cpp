#include "app/CAboutDlg.h"

#include "platform/Desktop.h"
#include "res/Icons.h"
#include "res/Resource.h"
#include "res/Strings.h"

#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>

namespace {

// Renders an SVG from the resources to fit box, keeping its aspect ratio, sharp at dpr. A missing
// picture yields a null pixmap, so the label simply stays empty.
QPixmap RenderSvg(const QString &path, const QSize &box, qreal dpr)
{
    if (box.isEmpty() || !QFile::exists(path))
        return QPixmap();
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return QPixmap();
    QSize size = renderer.defaultSize();
    if (size.isEmpty())
        size = box;
    size.scale(box, Qt::KeepAspectRatio);
    QPixmap pixmap(size * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

QLabel *MakeLabel(const QString &text, const QString &accessibleName)
{
    auto *label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setAutoFillBackground(true);
    label->setAccessibleName(accessibleName);
    return label;
}

} // namespace

CAboutDlg::CAboutDlg(QWidget *parent)
    : TemplateDialog(IDD, parent)
{
    setWindowTitle(QStringLiteral("バージョン情報"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);

    // White behind everything, black text; the children inherit both roles.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);

    SetTemplateSize(157, 109);
    const qreal dpr = devicePixelRatioF();

    QLabel *logo = AddControl(MakeLabel(QString(), QStringLiteral("Norvale")), -1, 8, 4, 141, 25);
    logo->setPixmap(RenderSvg(IconPath(IDB_LOGO), logo->size(), dpr));

    const QString strVersion = LoadString(IDS_VERSION);
    QLabel *version
        = AddControl(MakeLabel(strVersion, strVersion), IDC_ABOUT_VERSION, 8, 30, 141, 11);
    QFont fontVersion = font();
    fontVersion.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    fontVersion.setPixelSize(15);
    fontVersion.setBold(true);
    version->setFont(fontVersion);

    // Two lines' room: the notice may not fit on one line with a wide fallback font.
    const QString strNotice = LoadString(IDS_NOTICE);
    QLabel *notice = AddControl(MakeLabel(strNotice, strNotice), IDC_ABOUT_NOTICE, 4, 42, 149, 16);
    notice->setWordWrap(true);

    QLabel *icon = AddControl(MakeLabel(QString(), QStringLiteral("Norvale")), -1, 8, 59, 141, 21);
    icon->setPixmap(RenderSvg(IconPath(IDR_MAINFRAME), QSize(32, 32), dpr));

    const QString strAddress = WebAddress().toString();
    m_pLink = AddControl(MakeLabel(strAddress, strAddress), IDC_ABOUT_WEBLINK, 4, 81, 149, 8);
    QPalette palLink = m_pLink->palette();
    palLink.setColor(QPalette::WindowText, QColor(0, 0, 255));
    m_pLink->setPalette(palLink);
    // The hand shows over the label's whole rectangle, as it does over the static it replaces.
    m_pLink->setCursor(Qt::PointingHandCursor);
    m_pLink->installEventFilter(this);

    auto *line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    AddControl(line, -1, 4, 90, 149, 1);
    // A sunken line needs its dark and its light pixel row; with a small dialog font one dialog
    // unit rounds to a single pixel and the dark row would be clipped away.
    if (line->height() < 2)
        line->resize(line->width(), 2);

    auto *ok = AddControl(new QPushButton(QStringLiteral("OK")), IDOK, 53, 93, 50, 14);
    ok->setDefault(true);
    ok->setAutoDefault(true);
    ok->setAccessibleName(ok->text());
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    ApplyTabOrder();
    ok->setFocus();
}

QUrl CAboutDlg::WebAddress()
{
    return QUrl(QStringLiteral("https://norvale.example.org/"));
}

bool CAboutDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_pLink)
        return TemplateDialog::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton)
            m_bLinkPressed = true;
        return true;
    }
    case QEvent::MouseButtonRelease: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton)
            return true;
        // Like a button: the click counts only if the mouse is released over the link, so the
        // user can still change their mind by dragging away.
        const bool bClicked
            = m_bLinkPressed && m_pLink->rect().contains(mouse->position().toPoint());
        m_bLinkPressed = false;
        if (bClicked)
            Desktop::Current().OpenUrl(WebAddress());
        return true;
    }
    default:
        return TemplateDialog::eventFilter(watched, event);
    }
}
