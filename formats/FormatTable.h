#pragma once

#include <QString>

// One drawing format, known to the program only by its file extension.
struct FormatEntry
{
    const char *szExt; // three upper-case letters, no dot
    const char *szDescription; // UTF-8
    bool bTarget; // offered as a target format
};

// Every format, in the order the target combo offers them. The last row is a source format
// only: it is listed so that it gets a description.
extern const FormatEntry g_aFormats[12];

// The source formats, in the order of the source combo.
extern const char *const g_aszSrcExt[6];

// Target formats that carry author data; the first two take a name and an affiliation, the
// others a name only.
extern const char *const g_aszAuthorExt[6];

// The description of an extension (exact, case-sensitive match), or an empty text.
QString GetFormatDescription(const QString &strExt);
