#include "conversion/RunNotice.h"

#include "platform/Desktop.h"
#include "platform/DesktopNotification.h"
#include "res/Resource.h"
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
    Platform::ShowDesktopNotification(LoadString(IDS_RUN_NOTICE_TITLE),
                                      LoadString(IDS_RUN_NOTICE_TEXT).arg(nConverted).arg(nFailed));
}
