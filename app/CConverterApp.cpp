#include "app/CConverterApp.h"

#include "app/CConverterDlg.h"
#include "controls/MessageBox.h"
#include "platform/SingleInstance.h"
#include "platform/System.h"
#include "res/Icons.h"
#include "res/Resource.h"
#include "res/Strings.h"

#include <QApplication>
#include <QDBusConnection>
#include <QFileInfo>
#include <QKeySequence>
#include <QLibraryInfo>
#include <QShortcut>
#include <QTextBrowser>
#include <QTranslator>
#include <QUrl>

namespace {
CConverterApp *g_pApp = nullptr;

const QString kHelpFile = QStringLiteral("help/index.html");

// The interface is Japanese whatever the locale, so the standard buttons say はい and いいえ.
void InstallJapaneseTranslations()
{
    auto *translator = new QTranslator(qApp);
    if (translator->load(QStringLiteral("qtbase_ja"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}
} // namespace

CConverterApp *AfxGetApp()
{
    return g_pApp;
}

CConverterApp::CConverterApp()
{
    g_pApp = this;
}

CConverterApp::~CConverterApp()
{
    delete m_pHelpWindow.data();
    if (g_pApp == this)
        g_pApp = nullptr;
}

QString CConverterApp::FindHelpFile(const QString &strProgramFolder)
{
    const QStringList candidates = {
        strProgramFolder + QLatin1Char('/') + kHelpFile,
        strProgramFolder + QStringLiteral("/../share/norvale/") + kHelpFile,
        QStringLiteral(NORVALE_DATADIR "/") + kHelpFile,
    };
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isFile())
            return QFileInfo(candidate).canonicalFilePath();
    }
    return candidates.first();
}

bool CConverterApp::InitInstance()
{
    QCoreApplication::setApplicationName(QStringLiteral("Norvale"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NORVALE_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("norvale"));
    QApplication::setWindowIcon(LoadIcon(IDR_MAINFRAME));
    InstallJapaneseTranslations();

    SingleInstance instance(QStringLiteral("Norvale"), Platform::RuntimeFolder());
    switch (instance.Acquire(qEnvironmentVariable("XDG_ACTIVATION_TOKEN"))) {
    case SingleInstance::Role::Failed:
    case SingleInstance::Role::Secondary:
        return false;
    case SingleInstance::Role::Primary:
        break;
    }
    // The token was meant for this start's own window only.
    qunsetenv("XDG_ACTIVATION_TOKEN");

    // The drawing program is driven over the session bus; without it nothing can work.
    if (!QDBusConnection::sessionBus().isConnected()) {
        AfxMessageBox(LoadString(IDS_NO_SESSION_BUS), QMessageBox::Ok, QMessageBox::Warning);
        return false;
    }

    CConverterDlg dlg;
    QObject::connect(&instance, &SingleInstance::activationRequested, &dlg,
                     &CConverterDlg::ActivateFromRequest);
    dlg.m_strAppDir = Platform::ProgramFolder();
    m_strHelpFilePath = FindHelpFile(dlg.m_strAppDir);
    dlg.DoModal();
    return false;
}

void CConverterApp::ShowHelp()
{
    if (!QFileInfo(m_strHelpFilePath).isFile())
        return;
    if (!m_pHelpWindow) {
        m_pHelpWindow = new QTextBrowser;
        m_pHelpWindow->setAttribute(Qt::WA_DeleteOnClose);
        m_pHelpWindow->setObjectName(QStringLiteral("help"));
        m_pHelpWindow->setWindowTitle(QStringLiteral("Norvale ﾍﾙﾌﾟ"));
        m_pHelpWindow->setOpenExternalLinks(true);
        m_pHelpWindow->resize(720, 600);
        // Read beside the program with the keyboard as well: Esc closes it like its close box.
        auto *close = new QShortcut(QKeySequence(Qt::Key_Escape), m_pHelpWindow);
        QObject::connect(close, &QShortcut::activated, m_pHelpWindow.data(), &QWidget::close);
    }
    m_pHelpWindow->setSource(QUrl::fromLocalFile(m_strHelpFilePath));
    m_pHelpWindow->show();
    m_pHelpWindow->raise();
    m_pHelpWindow->activateWindow();
}
