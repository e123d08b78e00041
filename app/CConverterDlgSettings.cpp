#include "app/CConverterDlg.h"

#include "panes/Paths.h"
#include "platform/IniProfile.h"
#include "platform/System.h"

#include <QScreen>

namespace {

constexpr int kHistorySlots = 10;

const QString kCommon = QStringLiteral("Common");
const QString kOriginal = QStringLiteral("Original");
const QString kConvert = QStringLiteral("Convert");
const QString kFolder = QStringLiteral("Folder");
const QString kMode = QStringLiteral("Mode");
const QString kExt = QStringLiteral("Ext");
const QString kWindowWidth = QStringLiteral("WindowWidth");
const QString kWindowHeight = QStringLiteral("WindowHeight");
const QString kWindowMaximized = QStringLiteral("WindowMaximized");
const QString kColumnWidthKeys[]
    = {QStringLiteral("NameWidth"), QStringLiteral("SizeWidth"), QStringLiteral("TimeWidth")};

QString HistoryKey(int i)
{
    return QStringLiteral("Folder#%1").arg(i);
}

// Reads up to the first empty slot; folders that no longer exist are passed over.
QStringList ReadHistory(const IniProfile &profile, const QString &section,
                        const QString &strFallback)
{
    QStringList history;
    for (int i = 0; i < kHistorySlots; ++i) {
        const QString value = profile.readString(section, HistoryKey(i));
        if (value.isEmpty())
            break;
        if (IsExistingFolder(value))
            history.append(value);
    }
    if (history.isEmpty())
        history.append(strFallback);
    return history;
}

void WriteHistory(IniProfile &profile, const QString &section, const QStringList &history)
{
    for (int i = 0; i < kHistorySlots; ++i)
        profile.writeString(section, HistoryKey(i), i < history.size() ? history.at(i) : QString());
}

// A width that no screen could show is a hand-edited value, and the designed width serves.
void ReadColumnWidths(const IniProfile &profile, const QString &section, int *anWidths)
{
    constexpr int kMaxWidth = 100000;
    for (int i = 0; i < 3; ++i) {
        const int nWidth = profile.readInt(section, kColumnWidthKeys[i], 0);
        anWidths[i] = nWidth > 0 && nWidth <= kMaxWidth ? nWidth : 0;
    }
}

void WriteColumnWidths(IniProfile &profile, const QString &section, const int *anWidths)
{
    for (int i = 0; i < 3; ++i)
        profile.writeString(section, kColumnWidthKeys[i], QString::number(anWidths[i]));
}

} // namespace

void CConverterDlg::LoadSettings()
{
    m_strIniPath = Platform::SettingsFilePath(m_strAppDir);
    const IniProfile profile(m_strIniPath);

    m_bSameFolder = profile.readInt(kCommon, kFolder, 0) != 0;
    m_nMode = profile.readInt(kCommon, kMode, 1);
    // Only 0 and 1 mean something; a hand-edited value falls back to the default, manual.
    if (m_nMode != 0 && m_nMode != 1)
        m_nMode = 1;
    m_sizeWindow = QSize(profile.readInt(kCommon, kWindowWidth, 0),
                         profile.readInt(kCommon, kWindowHeight, 0));
    m_bMaximized = profile.readInt(kCommon, kWindowMaximized, 0) != 0;
    m_src.nExtIndex = profile.readInt(kOriginal, kExt, 0);
    m_src.aHistory = ReadHistory(profile, kOriginal, m_strMyDocumentsDir);
    ReadColumnWidths(profile, kOriginal, m_src.anColumnWidth);
    m_dst.nExtIndex = profile.readInt(kConvert, kExt, 0);
    m_dst.aHistory = ReadHistory(profile, kConvert, m_strMyDocumentsDir);
    ReadColumnWidths(profile, kConvert, m_dst.anColumnWidth);
    LoadPreviewSettings(profile);
}

void CConverterDlg::RestoreWindowSize()
{
    if (m_sizeWindow.isValid()) {
        QSize size = m_sizeWindow.expandedTo(minimumSize());
        // A size kept from a larger screen would put the window's edges out of reach.
        if (const QScreen *pScreen = screen())
            size = size.boundedTo(pScreen->availableSize()).expandedTo(minimumSize());
        resize(size);
    }
    if (m_bMaximized)
        setWindowState(windowState() | Qt::WindowMaximized);
}

void CConverterDlg::KeepWindowSize()
{
    m_bMaximized = isMaximized();
    const QRect rcNormal = m_bMaximized ? normalGeometry() : geometry();
    if (rcNormal.isValid())
        m_sizeWindow = rcNormal.size();
    for (Pane *pPane : {&m_src, &m_dst}) {
        const QList<int> anWidths
            = pPane->GetControls().pList->ColumnWidthsAt(m_nTemplateColumnSpace);
        for (int i = 0; i < 3; ++i)
            pPane->anColumnWidth[i] = qMax(0, anWidths.value(i));
    }
}

void CConverterDlg::SaveSettings()
{
    // Written as one atomic replacement of the file, so that a crash or a full disk leaves the
    // old settings whole.
    IniProfile profile(m_strIniPath);
    profile.writeString(kCommon, kFolder, QString::number(m_bSameFolder ? 1 : 0));
    profile.writeString(kCommon, kMode, QString::number(m_nMode));
    profile.writeString(kCommon, kWindowWidth, QString::number(m_sizeWindow.width()));
    profile.writeString(kCommon, kWindowHeight, QString::number(m_sizeWindow.height()));
    profile.writeString(kCommon, kWindowMaximized, QString::number(m_bMaximized ? 1 : 0));
    profile.writeString(kOriginal, kExt, QString::number(m_src.nExtIndex));
    WriteHistory(profile, kOriginal, m_src.aHistory);
    WriteColumnWidths(profile, kOriginal, m_src.anColumnWidth);
    profile.writeString(kConvert, kExt, QString::number(m_dst.nExtIndex));
    WriteHistory(profile, kConvert, m_dst.aHistory);
    WriteColumnWidths(profile, kConvert, m_dst.anColumnWidth);
    SavePreviewSettings(profile);
    profile.save();
}
