#include "app/CConverterDlg.h"

#include "panes/Paths.h"
#include "platform/IniProfile.h"
#include "platform/System.h"

namespace {

constexpr int kHistorySlots = 10;

const QString kCommon = QStringLiteral("Common");
const QString kOriginal = QStringLiteral("Original");
const QString kConvert = QStringLiteral("Convert");
const QString kFolder = QStringLiteral("Folder");
const QString kMode = QStringLiteral("Mode");
const QString kExt = QStringLiteral("Ext");

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
    m_src.nExtIndex = profile.readInt(kOriginal, kExt, 0);
    m_src.aHistory = ReadHistory(profile, kOriginal, m_strMyDocumentsDir);
    m_dst.nExtIndex = profile.readInt(kConvert, kExt, 0);
    m_dst.aHistory = ReadHistory(profile, kConvert, m_strMyDocumentsDir);
    LoadPreviewSettings(profile);
}

void CConverterDlg::SaveSettings()
{
    // Written as one atomic replacement of the file, so that a crash or a full disk leaves the
    // old settings whole.
    IniProfile profile(m_strIniPath);
    profile.writeString(kCommon, kFolder, QString::number(m_bSameFolder ? 1 : 0));
    profile.writeString(kCommon, kMode, QString::number(m_nMode));
    profile.writeString(kOriginal, kExt, QString::number(m_src.nExtIndex));
    WriteHistory(profile, kOriginal, m_src.aHistory);
    profile.writeString(kConvert, kExt, QString::number(m_dst.nExtIndex));
    WriteHistory(profile, kConvert, m_dst.aHistory);
    SavePreviewSettings(profile);
    profile.save();
}
