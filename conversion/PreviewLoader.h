#pragma once

#include "conversion/PreviewRenderer.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>

class QDBusMessage;
class QDBusPendingCallWatcher;

// Brings the file a preview shows to its renderer. A PDF, SVG or HTM file is read as it is; a
// drawing the drawing program reads is opened by it and saved as a PDF into a private temporary
// folder, over a bus connection of the preview's own, without waiting: the windows stay
// responsive meanwhile. One request is under way at a time; a newer one replaces the one waiting,
// and one under way is let go when it answers, so that holding an arrow key down over a hundred
// drawings converts the last of them, not all. While held (a conversion run uses the drawing
// program) nothing new is sent.
class PreviewLoader : public QObject
{
    Q_OBJECT

public:
    struct Item
    {
        QByteArray baPath; // as the folder holds it
        QString strExt; // the format, as the extension combo names it
    };

    explicit PreviewLoader(PreviewRenderer &renderer, QObject *pParent = nullptr);
    ~PreviewLoader() override;

    // Asks for item; returns the serial number that the renderer's page and failed() will carry.
    int Request(const Item &item);
    void SetHeld(bool bHeld);
    // Lets go of what is under way or waiting and ends the preview's session with the drawing
    // program, which then keeps no drawing for a window nobody looks at. The next request
    // connects again.
    void Close();

    // Whether the drawing program is asked for the format (strExt as Item has it).
    static bool IsDrawingFormat(const QString &strExt);

signals:
    // The request nSerial ends without a page; strMessage says why, for the user.
    void failed(int nSerial, const QString &strMessage);

private:
    struct Flight;

    void Pump();
    void Start(int nSerial, const Item &item);
    void Fail(int nSerial, const QString &strMessage);
    void Send(const QString &strMethod, const QString &strArgument);
    void OnAnswer(const QDBusMessage &reply);

    PreviewRenderer &m_renderer;
    QString m_strConnection; // the name of m_bus while it is connected
    std::optional<QDBusConnection> m_bus;
    QTemporaryDir m_temp;
    int m_nSerial = 0;
    bool m_bHeld = false;
    std::optional<std::pair<int, Item>> m_pending;
    std::unique_ptr<Flight> m_pFlight;
};
