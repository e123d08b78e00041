#pragma once

#include <QString>

namespace Platform {

// The user's folder for state that outlives a run but is not worth backing up
// ($XDG_STATE_HOME, else ~/.local/state), without a trailing separator.
QString StateFolder();

} // namespace Platform
