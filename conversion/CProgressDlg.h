#pragma once

#include "controls/TemplateDialog.h"
#include "res/Resource.h"

#include <QRect>
#include <QString>
#include <QTimer>

class CPathLabel;
class QProgressBar;

// The modeless window of a conversion run: which file goes from which folder to which, a bar that
// moves two steps per converted file, and a Cancel button. Between files the run lets pending
// events through here, which is where a Cancel click (or a request to quit the application) is
// noticed; the request is held until the run asks for it.
//
// Created hidden, once, by the main window (its owner) and shown only while a run works.
class CProgressDlg : public TemplateDialog
{
    Q_OBJECT

public:
    enum { IDD = IDD_PROGRESS };

    explicit CProgressDlg(QWidget *pOwner = nullptr);

    // Prepares the window for a run of nTotal steps, clearing any earlier cancel request. Until
    // Finish the window is painted in frames: its texts and bar change at once, the screen
    // follows within a frame.
    void Begin(const QString &strSrcFolder, const QString &strDstFolder, int nTotal);
    // A null strDstName leaves the target name as it is.
    void SetFileNames(const QString &strSrcName, const QString &strDstName = QString());
    // Shows step n of m_nTotal; must not be called while m_nTotal is 0.
    void Step(int n);
    void Finish();
    // Lets pending events through and tells whether a cancel request is pending. A request to
    // quit the application that arrives meanwhile is taken as a cancel.
    bool CheckCancel();
    void OnCancel();

    // The display form of a folder: no trailing "/" except for the root.
    static void TrimFolderText(QString &strFolder);

    QProgressBar *m_progress = nullptr;
    CPathLabel *m_stSrcFolder = nullptr;
    CPathLabel *m_stDstFolder = nullptr;
    bool m_bCancel = false;
    int m_nTotal = 0;
    int m_nLastPos = 0;

    void reject() override;

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void OnInitDialog();
    void PaintFrame();

    QRect m_rcSrcFolder;
    QTimer m_frameTimer;
    bool m_bUpdateHeld = false;
};
