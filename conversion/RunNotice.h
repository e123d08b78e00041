#pragma once

#include <QtGlobal>

// The desktop notification at the end of a long run that the user has turned away from.
class RunNotice
{
public:
    // Runs shorter than this end in front of the user's eyes and need no notice.
    static qint64 s_nMinRunMs;

    static bool IsDue(qint64 nElapsedMs);
    static void Send(int nConverted, int nFailed);
};
