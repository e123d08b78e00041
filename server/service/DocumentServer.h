#pragma once

#include "server/service/DocumentBackend.h"
#include "server/service/ServerSettings.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QTimer>

#include <map>
#include <memory>

// The drawing document as the automation client sees it. Each client connection has a current
// drawing of its own, read and saved by a backend of its own, so that clients running at once
// (two command-line runs, or one beside the window's) never save each other's drawings. The knobs
// of the settings act before a backend sees a call.
class DocumentServer : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "Tarsk.Document")

public:
    static QString serviceName() { return QStringLiteral("Tarsk.Document"); }
    static QString objectPath() { return QStringLiteral("/Tarsk/Document"); }

    DocumentServer(const QDBusConnection &connection, const ServerSettings &settings,
                   QObject *parent = nullptr);

    // Registers the object before taking the name, so that a call queued by activation never
    // finds the name owned and the object missing.
    bool start(QString *errorMessage);

public Q_SLOTS:
    void Quit();
    void Open(const QString &path);
    void SaveAs(const QString &path);
    int GetVersion();
    QString GetAuthorName();
    void SetAuthorName(const QString &name);
    QString GetAffiliation();
    void SetAffiliation(const QString &affiliation);

    // Lets a benchmark subtract the server's own share from the time a conversion run takes.
    int GetStatistics(qlonglong &busyMicroseconds);

private Q_SLOTS:
    void busLost();
    void nameOwnerChanged(const QString &name, const QString &oldOwner, const QString &owner);

private:
    class CallScope;
    friend class CallScope;

    // What one client has open. A client holds a session from its first drawing opened until it
    // quits or leaves the bus.
    struct Session
    {
        std::unique_ptr<DocumentBackend> backend;
        QString path;
        QString authorName;
        QString affiliation;
    };
    // The caller's session, null when it has no drawing open.
    Session *session();

    void fail(const QString &message);
    bool isListed(const QStringList &names, const QString &path) const;
    void crashIfAsked(const QString &path) const;
    void shutDown();
    // The choices the window saves while servers run (plot settings, DXF version), read again
    // only when the settings file has changed: parsing it for every drawing would cost more than
    // converting a small one.
    void reloadChoices();

    QDBusConnection m_connection;
    ServerSettings m_settings;
    QString m_settingsStamp; // the settings file's size and time when last read
    // Tells which formats are taken; the sessions open and save with backends of their own.
    std::unique_ptr<DocumentBackend> m_backend;
    std::map<QString, Session> m_sessions; // by the client's unique bus name
    QTimer m_idleTimer;
    int m_nCalls = 0;
    qint64 m_busyNanoseconds = 0;
    bool m_bShuttingDown = false;
};
