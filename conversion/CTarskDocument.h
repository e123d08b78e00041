#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QString>
#include <QVariant>

#include <exception>
#include <optional>

class QDBusMessage;

// A failing call to the drawing program: an error it answered with, a server that went away
// without answering, or a lost bus. Description() is the text to show the user.
class CAutomationError : public std::exception
{
public:
    explicit CAutomationError(const QString &strDescription);

    const QString &Description() const { return m_strDescription; }
    const char *what() const noexcept override { return m_baWhat.constData(); }

private:
    QString m_strDescription;
    QByteArray m_baWhat;
};

// The drawing program's document object on the session bus. One instance per use (the probe,
// each conversion run); every operation blocks until the program has finished it, while the
// windows keep painting and user input waits, and throws CAutomationError when it fails.
class CTarskDocument
{
public:
    static constexpr const char16_t *kProgId = u"Tarsk.Document";
    // Opening or saving the largest drawing can take many minutes; the bus's own default of
    // 25 seconds would break off a conversion that is still running.
    static constexpr int kCallTimeoutMs = 60 * 60 * 1000;
    // The start-up probe only asks for a version and two names: a program that takes longer
    // than this for each call is hung or stopped, and the window must not wait for it.
    static constexpr int kProbeTimeoutMs = 3000;

    // bus: the bus the program is reached on; the session bus unless a test says otherwise.
    explicit CTarskDocument(std::optional<QDBusConnection> bus = std::nullopt);
    ~CTarskDocument();
    CTarskDocument(const CTarskDocument &) = delete;
    CTarskDocument &operator=(const CTarskDocument &) = delete;

    // True when the session bus is there and the program runs or can be started by the bus.
    // Shows nothing: the caller decides what to report.
    bool CreateDispatch();
    void ReleaseDispatch();
    // How long each later call, CreateDispatch() included, waits for its answer.
    void SetTimeout(int nTimeoutMs) { m_nTimeoutMs = nTimeoutMs; }

    void Quit();
    void Open(const QString &strPath);
    void SaveAs(const QString &strPath);
    int GetVersion();
    QString GetAuthorName();
    void SetAuthorName(const QString &strName);
    QString GetAffiliation();
    void SetAffiliation(const QString &strAffiliation);

    // The text to show the user for an error reply of the program or the bus.
    static QString DescribeError(const QDBusMessage &reply);

private:
    // Sends message and waits for its answer while the windows keep painting and user input
    // waits; a timeout or a lost bus comes back as an error message.
    static QDBusMessage CallWithGui(const QDBusConnection &bus, const QDBusMessage &message,
                                    int nTimeoutMs);
    QDBusMessage Invoke(const QString &strMethod, const QVariantList &aArgs,
                        const char *pszResultSignature);

    std::optional<QDBusConnection> m_bus;
    std::optional<QDBusConnection> m_connection;
    int m_nTimeoutMs = kCallTimeoutMs;
};
