#pragma once

#include <QString>

// The operating-system services the shell needs, in one small interface.
namespace Platform {

// Login name of the process owner; empty when the system knows none.
QString LogonUserName();

// Folder of the running executable, without a trailing separator.
QString ProgramFolder();

// The settings file: beside the program when a Norvale.ini is already there (portable use),
// otherwise in the user's configuration folder, which is created so a save cannot fail for
// want of it.
QString SettingsFilePath(const QString &strProgramFolder);

enum class SpecialFolder { Desktop, Documents };
// The user's desktop or documents folder, without a trailing separator. The documents folder
// is the home folder when the one named does not exist.
QString SpecialFolderPath(SpecialFolder folder);

// Per-user folder for the instance lock and socket: $XDG_RUNTIME_DIR when it is the user's own
// with mode 0700, else a private folder in the user's cache folder; empty when neither is safe.
QString RuntimeFolder();

} // namespace Platform
