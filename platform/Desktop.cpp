#include "platform/Desktop.h"

#include "platform/DesktopEntry.h"
#include "platform/FileNames.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMimeDatabase>
#include <QUrl>

#include <fcntl.h>
#include <unistd.h>

#undef signals // GLib uses the word as a struct member
#include <gio/gio.h>

namespace {
Desktop *g_pInstalled = nullptr;
} // namespace

Desktop::~Desktop() = default;

bool Desktop::OpenUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

Desktop::FileOpening Desktop::OpenFile(const QByteArray &path)
{
    FileOpening opening;
    if (!Platform::RawFileExists(path)) {
        opening.failure = OpenFailure::Missing;
        return opening;
    }
    // The type by name and contents, as the desktop's own launcher decides it. The file is read
    // by its bytes: a name that is not UTF-8 would not survive a QString.
    QByteArray head(4096, '\0');
    const int fd = open(path.constData(), O_RDONLY | O_CLOEXEC);
    const ssize_t nRead = fd >= 0 ? read(fd, head.data(), size_t(head.size())) : -1;
    if (fd >= 0)
        close(fd);
    head.resize(nRead > 0 ? qsizetype(nRead) : 0);
    const QMimeType type = QMimeDatabase().mimeTypeForFileNameAndData(
        Platform::DisplayFileName(path.mid(path.lastIndexOf('/') + 1)), head);
    opening.strMimeType = type.name();
    opening.strTypeName = type.comment();
    // The launcher would say nothing, or say it where the user does not look.
    if (ProgramFor(opening.strMimeType).isEmpty())
        opening.failure = OpenFailure::NoProgram;
    else if (!OpenUrl(Platform::RawFileUrl(path)))
        opening.failure = OpenFailure::NotStarted;
    return opening;
}

QString Desktop::ProgramFor(const QString &strMimeType)
{
    // GIO reads the desktop's own associations as its launchers do: the user's and the system's
    // choices (mimeapps.list), the types a type is a kind of included.
    if (GAppInfo *pApp = g_app_info_get_default_for_type(strMimeType.toUtf8().constData(), FALSE)) {
        const QString strName = QString::fromUtf8(g_app_info_get_display_name(pApp));
        g_object_unref(pApp);
        return strName;
    }
    // GIO finds the programs' own MimeType lines only through the cache that
    // update-desktop-database makes, which a system without it lacks; the launchers of other
    // desktops read the entries themselves.
    QStringList aTypes {strMimeType};
    aTypes += QMimeDatabase().mimeTypeForName(strMimeType).allAncestors();
    return Platform::DesktopEntryForTypes(aTypes);
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
