#pragma once

#include <QPointer>
#include <QString>

class QTextBrowser;

// The application object: runs the start-up order, then the main window's modal run.
class CConverterApp
{
public:
    CConverterApp();
    ~CConverterApp();
    CConverterApp(const CConverterApp &) = delete;
    CConverterApp &operator=(const CConverterApp &) = delete;

    // Always false: when it returns, the run is over and the process ends.
    bool InitInstance();

    // Shows the manual in a window of its own (not owned by the main window); does nothing
    // when the manual is missing.
    void ShowHelp();

    // The manual: beside the program in the build tree, else in the installed data folder.
    static QString FindHelpFile(const QString &strProgramFolder);

    QString m_strHelpFilePath;

private:
    QPointer<QTextBrowser> m_pHelpWindow;
};

// The one application object of the process, or null when none exists.
CConverterApp *AfxGetApp();
