#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

// Keeps one instance per user: a lock file marks the running instance and a local socket lets a
// later start ask it to come forward. A lock left by a crashed instance is taken over, since
// QLockFile recognises a lock whose owner process no longer exists.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Role {
        Primary, // this process runs the program
        Secondary, // another instance runs; it has been asked to come forward
        Failed, // neither could be established
    };

    // name identifies the program ("Norvale"); folder holds the lock and the socket (an empty
    // folder makes Acquire() fail).
    SingleInstance(const QString &name, const QString &folder, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock, or asks the running instance to activate its window, passing the
    // activation token this start received from the desktop (may be empty).
    Role Acquire(const QString &activationToken);

signals:
    void activationRequested(const QString &activationToken);

private:
    bool RemoveOrphanedLock();
    void ReadRequest();
    static bool SendActivation(const QString &socketPath, const QString &activationToken);

    QString m_strLockPath;
    QString m_strSocketPath;
    std::unique_ptr<QLockFile> m_pLock;
    QLocalServer *m_pServer = nullptr;
};
