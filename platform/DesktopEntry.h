#pragma once

#include <QString>
#include <QStringList>

// Desktop entries stand where Windows keeps a program's open command in the registry, and the
// command line of a desktop entry stands for the command line Windows hands to process creation.
namespace Platform {

// The open command of the desktop entry strFileName ("Tarsk.Document.desktop"): the Exec value of
// the first such file in $XDG_DATA_HOME/applications, then in each $XDG_DATA_DIRS/applications,
// with its file field code turned into "%1" and environment references expanded
// (ExpandExecValue). Empty when there is no such entry, it is hidden or it has no Exec.
QString DesktopEntryCommand(const QString &strFileName);

// The name of a program registered for one of aMimeTypes: the first desktop entry in the
// applications folders of $XDG_DATA_HOME and each $XDG_DATA_DIRS, subfolders included, whose
// MimeType names one of them, and which is neither hidden nor missing its TryExec program. Empty
// when none is.
QString DesktopEntryForTypes(const QStringList &aMimeTypes);

// An Exec value (string escapes already resolved) as an open command: %f %F %u %U become "%1",
// the other field codes vanish, "%%" is a percent sign, and %NAME% is the value of the
// environment variable NAME when it is set (other references stay as written).
QString ExpandExecValue(const QString &strExec);

// The program part of an open command: the text before "%1" up to its last blank, without the
// quotes around it. Empty when the command is only "%1" or a quote has no partner.
QString ExecutableFromCommand(QString strCommand);

// Program and arguments of a command line, split by the desktop-entry rules: blanks separate
// arguments, double quotes group them, and inside quotes a backslash escapes " ` $ and itself.
QStringList SplitCommandLine(const QString &strCommandLine);

// Starts a command line as a detached process, without a shell, in the current folder. An
// unquoted line whose first word is no program is read as Windows reads it: the shortest
// blank-delimited beginning that names an executable is the program. False when nothing started.
bool StartCommandLine(const QString &strCommandLine);

} // namespace Platform
