#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QString>
#include <QVariant>

#include <exception>
#include <optional>
#include <vector>

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
// each conversion run); every operation blocks until the program has finished it and throws
// CAutomationError when it fails. How it waits is the caller's choice (Wait).
class CTarskDocument
{
public:
    enum class Wait {
        // The windows keep painting and user input waits; a server in this very process (a
        // test's fake) can answer.
        WithGui,
        // The thread sleeps until the answer is in: for the command line, which has no window,
        // and to which a turn of an event loop per call costs as much as converting a small
        // drawing. The server must live in another process.
        Block,
    };

    static constexpr const char16_t *kProgId = u"Tarsk.Document";
    // Opening or saving the largest drawing can take many minutes; the bus's own default of
    // 25 seconds would break off a conversion that is still running.
    static constexpr int kCallTimeoutMs = 60 * 60 * 1000;
    // The start-up probe only asks for a version and two names: a program that takes longer
    // than this for each call is hung or stopped, and the window must not wait for it.
    static constexpr int kProbeTimeoutMs = 3000;

    // bus: the bus the program is reached on; the session bus unless a test says otherwise.
    explicit CTarskDocument(std::optional<QDBusConnection> bus = std::nullopt,
                            Wait wait = Wait::WithGui);
    ~CTarskDocument();
    CTarskDocument(const CTarskDocument &) = delete;
    CTarskDocument &operator=(const CTarskDocument &) = delete;

    // True when the session bus is there and the program runs or can be started by the bus.
    // Shows nothing: the caller decides what to report.
    bool CreateDispatch();
    void ReleaseDispatch();
    // How long each later call, CreateDispatch() included, waits for its answer.
    void SetTimeout(int nTimeoutMs) { m_nTimeoutMs = nTimeoutMs; }

private:
    struct Call
    {
        QString strMethod;
        QVariantList aArgs;
        const char *pszResultSignature;
    };

public:
    // Calls sent and not yet answered, which the program takes in the order sent; Finish()
    // waits for their answers.
    class Pending
    {
        friend class CTarskDocument;
        std::vector<Call> m_aCalls;
        std::vector<QDBusPendingCall> m_aReplies;
    };

    void Quit();
    void Open(const QString &strPath);
    void SaveAs(const QString &strPath);
    int GetVersion();
    QString GetAuthorName();
    void SetAuthorName(const QString &strName);
    QString GetAffiliation();
    void SetAffiliation(const QString &strAffiliation);

    // Open, then SetAuthorName and SetAffiliation for what is given, sent at once to be answered
    // in one wait rather than three; sent without waiting at all, so that a run can have the next
    // drawing's Open at the program while the last drawing is saved. A failing Open is the error
    // Finish() throws; the author data then went to no drawing that is saved.
    Pending SendOpen(const QString &strPath, const std::optional<QString> &strAuthorName,
                     const std::optional<QString> &strAffiliation);
    Pending SendSaveAs(const QString &strPath);
    // Waits for every answer, then throws the error of the first call that failed.
    std::vector<QDBusMessage> Finish(const Pending &pending) const;

    // The text to show the user for an error reply of the program or the bus.
    static QString DescribeError(const QDBusMessage &reply);

private:
    // The answer to call, waited for as m_wait says; a timeout or a lost bus comes back as an
    // error message.
    QDBusMessage Await(const QDBusPendingCall &call) const;
    Pending Send(std::vector<Call> aCalls);
    QDBusMessage Invoke(const QString &strMethod, const QVariantList &aArgs,
                        const char *pszResultSignature);

    std::optional<QDBusConnection> m_bus;
    std::optional<QDBusConnection> m_connection;
    int m_nTimeoutMs = kCallTimeoutMs;
    Wait m_wait;
};
