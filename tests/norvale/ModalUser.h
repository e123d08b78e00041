#pragma once

#include "controls/CPathLabel.h"
#include "conversion/CAuthorDlg.h"
#include "conversion/COverwriteDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QtTest>

#include <functional>

// The user at the screen: answers each modal window the program opens, inside that window's own
// modal loop, with its real buttons and keys. An answer that does not close the window is no
// answer: two seconds later the window is closed from outside and bLeftOpen set, so that a test
// fails instead of waiting for ever.
class ModalUser : public QObject
{
public:
    // Message boxes: Y はい (or OK), N いいえ, E Enter, X Esc; none left: Y.
    QString boxAnswers;
    // Overwrite prompts: Y はい, A すべて上書き, N いいえ, C ｷｬﾝｾﾙ, E Enter, X Esc, Z the close
    // box; none left: C.
    QString promptAnswers;
    // The author dialog: "name|affiliation|ok or cancel"; the name "@user" presses the
    // user-name button instead of typing, an empty affiliation is left as it is.
    QString authorAnswer;
    QStringList prompts; // the paths the overwrite prompts showed
    std::function<void()> duringPrompt;
    bool bLeftOpen = false;

    ModalUser()
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalUser::Answer);
        m_timer.start(5);
    }

private:
    void Answer()
    {
        auto *dlg = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dlg || !dlg->isVisible())
            return;
        if (dlg == m_pOpen) {
            if (++m_nTicksOpen > 400) {
                bLeftOpen = true;
                m_pOpen = nullptr;
                dlg->reject();
            }
            return;
        }
        QAbstractButton *button = nullptr;
        QChar c;
        if (auto *box = qobject_cast<QMessageBox *>(dlg)) {
            c = Next(boxAnswers, u'Y');
            button = box->button(c == u'N'                           ? QMessageBox::No
                                     : box->button(QMessageBox::Yes) ? QMessageBox::Yes
                                                                     : QMessageBox::Ok);
        } else if (auto *prompt = qobject_cast<COverwriteDlg *>(dlg)) {
            prompts << prompt->m_stFileName->text();
            if (duringPrompt)
                duringPrompt();
            c = Next(promptAnswers, u'C');
            const int nId = c == u'Y' ? COverwriteDlg::IDOK
                : c == u'A'           ? IDC_OVERWRITE_ALL
                : c == u'N'           ? IDC_OVERWRITE_NO
                                      : COverwriteDlg::IDCANCEL;
            button = qobject_cast<QAbstractButton *>(prompt->GetDlgItem(nId));
        } else if (auto *author = qobject_cast<CAuthorDlg *>(dlg)) {
            const QStringList answer = authorAnswer.split(u'|');
            if (answer.value(0) == u"@user")
                qobject_cast<QAbstractButton *>(author->GetDlgItem(IDC_USER_NAME))->click();
            for (const int nId : {IDC_AUTHOR, IDC_AFFILIATION}) {
                auto *field = qobject_cast<QLineEdit *>(author->GetDlgItem(nId));
                const QString text = answer.value(nId == IDC_AUTHOR ? 0 : 1);
                // Typed as an input method would: key events carry no kana or kanji.
                if (!text.isEmpty() && text != u"@user" && field->isEnabled()) {
                    field->selectAll();
                    field->insert(text);
                }
            }
            button = qobject_cast<QAbstractButton *>(author->GetDlgItem(
                answer.value(2) == u"ok" ? CAuthorDlg::IDOK : CAuthorDlg::IDCANCEL));
        } else {
            bLeftOpen = true;
            dlg->reject();
            return;
        }
        if (c == u'E' || c == u'X')
            QTest::keyClick(dlg->focusWidget() ? dlg->focusWidget() : dlg,
                            c == u'E' ? Qt::Key_Return : Qt::Key_Escape);
        else if (c == u'Z')
            dlg->close();
        else if (button)
            QTest::mouseClick(button, Qt::LeftButton);
        m_pOpen = dlg->isVisible() ? dlg : nullptr;
        m_nTicksOpen = 0;
    }

    static QChar Next(QString &answers, QChar none)
    {
        const QChar c = answers.isEmpty() ? none : answers.front();
        answers.remove(0, 1);
        return c;
    }

    QTimer m_timer;
    QPointer<QDialog> m_pOpen; // answered, and still open
    int m_nTicksOpen = 0;
};
