#pragma once

#include "server/service/DocumentBackend.h"
#include "server/service/ServerSettings.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QTimer>

#include <memory>

// The drawing document as the automation client sees it. It keeps one current drawing, as the
// real program does; its backend reads and saves it. The knobs of the settings act before the
// backend sees a call.
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

private:
    class CallScope;
    friend class CallScope;

    void fail(const QString &message);
    bool isListed(const QStringList &names, const QString &path) const;
    void crashIfAsked(const QString &path) const;
    void shutDown();

    QDBusConnection m_connection;
    ServerSettings m_settings;
    std::unique_ptr<DocumentBackend> m_backend;
    QTimer m_idleTimer;
    QString m_currentPath;
    QString m_drawingAuthorName;
    QString m_drawingAffiliation;
    int m_nCalls = 0;
    qint64 m_busyNanoseconds = 0;
    bool m_bShuttingDown = false;
};
