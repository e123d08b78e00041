#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <vector>

// Reader and writer for Windows-style initialisation files, behaving like the Windows profile
// functions. QSettings is not used because it escapes keys such as "Folder#0" and rewrites the
// whole file; here every line that is not written stays byte for byte as it was.
class IniProfile
{
public:
    // Reads the file now; a missing or unreadable file is an empty profile.
    explicit IniProfile(const QString &path);

    QString path() const { return m_path; }

    // Missing keys give the default; text that is no number gives 0. Hexadecimal "0x..." is
    // accepted and values beyond the int range wrap around modulo 2^32, so "0xFFFFFFFF" is -1.
    int readInt(const QString &section, const QString &key, int defaultValue) const;
    // The whole value, however long.
    QString readString(const QString &section, const QString &key,
                       const QString &defaultValue = {}) const;
    // Changes only the memory copy; save() writes it.
    void writeString(const QString &section, const QString &key, const QString &value);
    // Replaces the file atomically. Does not create missing folders. Without changes since the
    // last load or save, nothing is written and the result is true.
    bool save();

private:
    enum class LineKind { Other, Section, Key };

    struct Line
    {
        QByteArray raw; // as in the file, without the line break
        QByteArray lineBreak; // "\r\n", "\n", or empty for a last line without one
        LineKind kind = LineKind::Other;
        QString name; // section name or key, trimmed
        QString value; // trimmed and unquoted
    };

    static Line parseLine(const QByteArray &raw, const QByteArray &lineBreak);
    int findSection(QStringView section) const;
    int findKey(int sectionLine, QStringView key) const;
    void insertLine(int index, const QString &text);

    QString m_path;
    std::vector<Line> m_lines;
    QByteArray m_lineBreak = "\n";
    bool m_hasBom = false;
    bool m_modified = false;
};
