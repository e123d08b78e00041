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
    // Reads the file now; a missing or unreadable file is an empty profile, and so is anything
    // but a regular file (a FIFO would block the reader for good).
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
    // last load or save, nothing is written and the result is true. On any failure (a full
    // disk, a path that is not a regular file) the old file stays untouched and the result is
    // false.
    bool save();

private:
    // Only section headers and key lines get an entry, eight bytes each: a file of millions of
    // blank or foreign lines costs little more than its own size. Other lines live only in
    // m_data, byte for byte.
    using Entry = quint64; // line offset in m_data << 1 | 1 for a section header

    struct LineRef
    {
        qsizetype begin = 0;
        qsizetype end = 0; // before the line break
        qsizetype next = 0; // after the line break
    };

    LineRef lineAt(qsizetype offset) const;
    QByteArray entryName(Entry entry) const;
    QString entryValue(Entry entry) const;
    int findSection(QStringView section) const;
    int findKey(int sectionEntry, QStringView key) const;
    bool lookUp(const QString &section, const QString &key, QString &value) const;
    void replaceBytes(qsizetype offset, qsizetype length, const QByteArray &bytes,
                      int firstShifted);
    void insertLine(qsizetype offset, int entryIndex, const QString &text);

    QString m_path;
    QByteArray m_data; // the file without its byte order mark
    std::vector<Entry> m_entries;
    QByteArray m_lineBreak = "\n";
    bool m_hasBom = false;
    bool m_modified = false;
    // The loader asks many keys of one section in a row.
    mutable QString m_strCachedSection;
    mutable int m_nCachedSection = -2;
};
