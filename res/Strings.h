#pragma once

#include <QString>

// The program's string table: every user-visible text that is addressed by number.
// An id without an entry yields an empty string, as a missing resource string does.
QString LoadString(int nId);

// Whether the table holds an entry for nId (a tooltip exists only then).
bool HasString(int nId);
