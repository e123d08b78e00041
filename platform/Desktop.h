#pragma once

#include <QMessageBox>
#include <QString>

#include <optional>

class QByteArray;
class QUrl;
class QWidget;

// What the program asks of the desktop and of the user outside its own windows: open a file or an
// address with the desktop's program, choose a folder, answer a message box, tell whether the
// user has turned to another window, sound the bell. One object serves the whole process; tests
// install their own, which stands in for the user and the desktop in one place.
class Desktop
{
public:
    // Why a file did not open; the desktop tells the user nothing itself.
    enum class OpenFailure { None, Missing, NoProgram, NotStarted };
    struct FileOpening
    {
        OpenFailure failure = OpenFailure::None;
        QString strMimeType; // the file's type, as the desktop knows it
        QString strTypeName; // its name for people, in the user's language where there is one
    };

    virtual ~Desktop();

    // False when the desktop could not open it (it tells the user nothing itself).
    virtual bool OpenUrl(const QUrl &url);
    // Opens the file at path (its bytes) with the desktop's program for its type, if there is
    // one.
    FileOpening OpenFile(const QByteArray &path);
    // The name of the program the desktop opens files of strMimeType with (or of a type it is a
    // kind of), empty when no program is registered for it.
    virtual QString ProgramFor(const QString &strMimeType);
    // The folder chooser over pOwner, starting at strInitialFolder; nothing when cancelled.
    virtual std::optional<QString> ChooseFolder(QWidget *pOwner, const QString &strTitle,
                                                const QString &strInitialFolder);
    // Shows a message box its caller has built and returns the button chosen.
    virtual QMessageBox::StandardButton Ask(QMessageBox &box);
    // Whether none of the program's windows is active.
    virtual bool IsUserAway();
    virtual void Beep();

    static Desktop &Current();
    // Makes pDesktop the current one (nullptr: the real desktop again); the caller keeps it.
    static void Install(Desktop *pDesktop);
};
