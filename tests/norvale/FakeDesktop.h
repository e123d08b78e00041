#pragma once

#include "platform/Desktop.h"

#include <QList>
#include <QPushButton>
#include <QStringList>
#include <QUrl>

#include <functional>

// Stands in for the user and the desktop while it lives: records what the program asked of them
// and answers as the test says, so that no test opens a browser, a file manager or a box that
// nobody answers.
class FakeDesktop : public Desktop
{
public:
    struct Message
    {
        QString strText;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
    };

    FakeDesktop() { Install(this); }
    ~FakeDesktop() override { Install(nullptr); }
    FakeDesktop(const FakeDesktop &) = delete;
    FakeDesktop &operator=(const FakeDesktop &) = delete;

    bool OpenUrl(const QUrl &url) override
    {
        aOpened.append(url);
        return fnOpen ? fnOpen(url) : true;
    }

    QString ProgramFor(const QString &strMimeType) override
    {
        return fnProgram ? fnProgram(strMimeType) : QStringLiteral("viewer");
    }

    std::optional<QString> ChooseFolder(QWidget *pOwner, const QString &,
                                        const QString &strInitialFolder) override
    {
        pChooserOwner = pOwner;
        strChooserStart = strInitialFolder;
        return chosenFolder;
    }

    QMessageBox::StandardButton Ask(QMessageBox &box) override
    {
        aMessages.append({box.text(), box.standardButtons(),
                          box.defaultButton() ? box.standardButton(box.defaultButton())
                                              : QMessageBox::NoButton});
        if (bShowBoxes)
            return Desktop::Ask(box);
        if (fnAnswer)
            return fnAnswer(aMessages.last());
        return box.standardButtons().testFlag(QMessageBox::Yes) ? QMessageBox::Yes
                                                                : QMessageBox::Ok;
    }

    bool IsUserAway() override { return bUserAway; }
    void Beep() override { ++nBeeps; }

    QStringList Texts() const
    {
        QStringList aTexts;
        for (const Message &message : aMessages)
            aTexts.append(message.strText);
        return aTexts;
    }

    // Answers of the user; a question offering Yes is answered Yes, any other box with OK.
    // With bShowBoxes the real box is shown, for a test that answers it with keys and clicks.
    bool bShowBoxes = false;
    std::function<QMessageBox::StandardButton(const Message &)> fnAnswer;
    QList<Message> aMessages;
    // Whether the desktop manages to open a file, and the program for a type; every file opens
    // when unset.
    std::function<bool(const QUrl &)> fnOpen;
    std::function<QString(const QString &)> fnProgram;
    QList<QUrl> aOpened;
    // The chooser's answer (nothing: cancelled), and what it was shown with.
    std::optional<QString> chosenFolder;
    QWidget *pChooserOwner = nullptr;
    QString strChooserStart;
    bool bUserAway = false;
    int nBeeps = 0;
};
