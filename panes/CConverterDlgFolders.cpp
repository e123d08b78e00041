#include "app/CConverterDlg.h"

#include "platform/System.h"

QString CConverterDlg::GetSpecialFolderPath(int nFolder) const
{
    // 0 is the desktop, 5 the personal documents folder.
    return Platform::SpecialFolderPath(nFolder == 0 ? Platform::SpecialFolder::Desktop
                                                    : Platform::SpecialFolder::Documents);
}
