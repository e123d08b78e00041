#include "platform/Desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

namespace {
Desktop *g_pInstalled = nullptr;
} // namespace

Desktop::~Desktop() = default;

bool Desktop::OpenUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

std::optional<QString> Desktop::ChooseFolder(QWidget *pOwner, const QString &strTitle,
                                             const QString &strInitialFolder)
{
    const QString strChosen = QFileDialog::getExistingDirectory(pOwner, strTitle, strInitialFolder);
    // The chooser answers a cancel with an empty path; no folder has an empty path.
    if (strChosen.isEmpty())
        return std::nullopt;
    return strChosen;
}

QMessageBox::StandardButton Desktop::Ask(QMessageBox &box)
{
    return QMessageBox::StandardButton(box.exec());
}

bool Desktop::IsUserAway()
{
    return QApplication::activeWindow() == nullptr;
}

void Desktop::Beep()
{
    QApplication::beep();
}

Desktop &Desktop::Current()
{
    static Desktop real;
    return g_pInstalled ? *g_pInstalled : real;
}

void Desktop::Install(Desktop *pDesktop)
{
    g_pInstalled = pDesktop;
}
