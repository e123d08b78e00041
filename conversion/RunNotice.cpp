#include "conversion/RunNotice.h"

#include "platform/DesktopNotification.h"
#include "res/Strings.h"

#include <QApplication>

qint64 RunNotice::s_nMinRunMs = 10000;
std::function<bool()> RunNotice::userAwayHook;

bool RunNotice::IsDue(qint64 nElapsedMs)
{
    if (nElapsedMs <= s_nMinRunMs)
        return false;
    return userAwayHook ? userAwayHook() : QApplication::activeWindow() == nullptr;
}

void RunNotice::Send(int nConverted, int nFailed)
{
    Platform::ShowDesktopNotification(LoadString(346),
                                      LoadString(347).arg(nConverted).arg(nFailed));
}
