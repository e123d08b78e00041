#include "conversion/RunNotice.h"

#include "platform/Desktop.h"
#include "platform/DesktopNotification.h"
#include "res/Strings.h"

qint64 RunNotice::s_nMinRunMs = 10000;

bool RunNotice::IsDue(qint64 nElapsedMs)
{
    if (nElapsedMs <= s_nMinRunMs)
        return false;
    return Desktop::Current().IsUserAway();
}

void RunNotice::Send(int nConverted, int nFailed)
{
    Platform::ShowDesktopNotification(LoadString(346),
                                      LoadString(347).arg(nConverted).arg(nFailed));
}
