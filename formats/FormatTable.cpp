#include "formats/FormatTable.h"

const FormatEntry g_aFormats[12] = {
    {"TSK", "Tarsk図面形式", true},
    {"SFC", "SXFデータ交換形式", true},
    {"P21", "SXF電子納品形式", true},
    {"DXF", "Drawing eXchange Format", true},
    {"JWC", "JW_CAD for DOS形式", true},
    {"PDF", "Portable Document Format", true},
    {"UMB", "Umbrin図面形式", true},
    {"EMF", "拡張メタファイル形式", true},
    {"SVG", "Scalable Vector Graphics", true},
    {"HTM", "Vector Markup Language", true},
    {"DWF", "Drawing Web Format", true},
    {"JWW", "Jw_cad for Windows形式", false},
};

const char *const g_aszSrcExt[6] = {"TSK", "SFC", "P21", "DXF", "JWW", "JWC"};

const char *const g_aszAuthorExt[6] = {"SFC", "P21", "TSK", "UMB", "PDF", "DWF"};

QString GetFormatDescription(const QString &strExt)
{
    for (const FormatEntry &format : g_aFormats) {
        if (strExt == QLatin1String(format.szExt))
            return QString::fromUtf8(format.szDescription);
    }
    return QString();
}
