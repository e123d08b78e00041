#include "platform/DesktopEntry.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>

#include <iterator>
#include <utility>

namespace Platform {

namespace {

// The data folders in the order the XDG base directories give them precedence; a relative
// path in either variable is invalid there and is ignored.
QStringList DataFolders()
{
    QStringList aFolders;
    const QString strHome = qEnvironmentVariable("XDG_DATA_HOME");
    aFolders << (QDir::isAbsolutePath(strHome)
                     ? strHome
                     : QDir::homePath() + QStringLiteral("/.local/share"));
    QString strDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (strDirs.isEmpty())
        strDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString &strDir : strDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(strDir))
            aFolders << strDir;
    }
    return aFolders;
}

// The value escapes of desktop entries. An unknown escape keeps its backslash, so that the
// quoting rules of Exec, which come after these, still see it.
QString UnescapeValue(const QString &strValue)
{
    QString strOut;
    strOut.reserve(strValue.size());
    for (qsizetype i = 0; i < strValue.size(); ++i) {
        const QChar c = strValue.at(i);
        if (c != QLatin1Char('\\') || i + 1 == strValue.size()) {
            strOut += c;
            continue;
        }
        switch (strValue.at(i + 1).unicode()) {
        case 's':
            strOut += QLatin1Char(' ');
            break;
        case 'n':
            strOut += QLatin1Char('\n');
            break;
        case 't':
            strOut += QLatin1Char('\t');
            break;
        case 'r':
            strOut += QLatin1Char('\r');
            break;
        case '\\':
            strOut += QLatin1Char('\\');
            break;
        default:
            strOut += c;
            continue;
        }
        ++i;
    }
    return strOut;
}

// What the program reads of a desktop entry's [Desktop Entry] group, the first of each key.
struct EntryKeys
{
    // Deleted by the user at this level: it must not fall through to a system-wide copy.
    bool bHidden = false;
    QString strExec;
    QString strName;
    QString strTryExec;
    QString strMimeTypes;
};

EntryKeys ReadEntry(const QString &strPath)
{
    EntryKeys keys;
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return keys;
    const QString strText = QString::fromUtf8(file.readAll());
    bool bInEntry = false;
    const std::pair<QLatin1String, QString *> aWanted[]
        = {{QLatin1String("Exec"), &keys.strExec},
           {QLatin1String("Name"), &keys.strName},
           {QLatin1String("TryExec"), &keys.strTryExec},
           {QLatin1String("MimeType"), &keys.strMimeTypes}};
    bool abHave[std::size(aWanted)] = {};
    for (QStringView line : QStringView(strText).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            bInEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype nEqual = line.indexOf(QLatin1Char('='));
        if (!bInEntry || nEqual < 0)
            continue;
        const QStringView key = line.left(nEqual).trimmed();
        const QStringView value = line.mid(nEqual + 1).trimmed();
        if (key == QLatin1String("Hidden") && value == QLatin1String("true"))
            keys.bHidden = true;
        for (size_t i = 0; i < std::size(aWanted); ++i) {
            if (key == aWanted[i].first && !abHave[i]) {
                *aWanted[i].second = UnescapeValue(value.toString());
                abHave[i] = true;
            }
        }
    }
    return keys;
}

// Names as the environment of this system writes them; anything else between two percent signs
// is left to the field codes.
bool IsVariableName(QStringView name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('_'))
            return false;
    }
    return true;
}

bool IsProgram(const QString &strProgram)
{
    if (!strProgram.contains(QLatin1Char('/')))
        return !QStandardPaths::findExecutable(strProgram).isEmpty();
    const QFileInfo info(strProgram);
    return info.isFile() && info.isExecutable();
}

} // namespace

QString DesktopEntryCommand(const QString &strFileName)
{
    for (const QString &strFolder : DataFolders()) {
        const QString strPath = strFolder + QStringLiteral("/applications/") + strFileName;
        if (QFileInfo(strPath).isFile()) {
            const EntryKeys keys = ReadEntry(strPath);
            return keys.bHidden ? QString() : ExpandExecValue(keys.strExec);
        }
    }
    return {};
}

QString DesktopEntryForTypes(const QStringList &aMimeTypes)
{
    // An entry is known by its path below its applications folder; the first folder that has it
    // decides, be it hidden there.
    QSet<QString> setSeen;
    for (const QString &strFolder : DataFolders()) {
        const QString strApplications = strFolder + QStringLiteral("/applications");
        QDirIterator it(strApplications, {QStringLiteral("*.desktop")}, QDir::Files,
                        QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        while (it.hasNext()) {
            const QString strPath = it.next();
            const QString strId = strPath.mid(strApplications.size() + 1);
            if (setSeen.contains(strId))
                continue;
            setSeen.insert(strId);
            const EntryKeys keys = ReadEntry(strPath);
            if (keys.bHidden || keys.strExec.isEmpty()
                || (!keys.strTryExec.isEmpty() && !IsProgram(keys.strTryExec)))
                continue;
            const QStringList aTypes
                = keys.strMimeTypes.split(QLatin1Char(';'), Qt::SkipEmptyParts);
            for (const QString &strType : aMimeTypes) {
                if (aTypes.contains(strType))
                    return keys.strName.isEmpty() ? strId : keys.strName;
            }
        }
    }
    return {};
}

QString ExpandExecValue(const QString &strExec)
{
    QString strOut;
    const qsizetype nSize = strExec.size();
    for (qsizetype i = 0; i < nSize; ++i) {
        const QChar c = strExec.at(i);
        if (c != QLatin1Char('%') || i + 1 == nSize) {
            strOut += c;
            continue;
        }
        // A variable reference is taken before any field code, so that %FILES% is never read
        // as %F. One that is not set stays as written, and its closing percent sign may open
        // the next reference, as the Windows expansion does.
        const qsizetype nClose = strExec.indexOf(QLatin1Char('%'), i + 1);
        if (nClose > i + 1 && IsVariableName(QStringView(strExec).mid(i + 1, nClose - i - 1))) {
            const QByteArray baName = strExec.mid(i + 1, nClose - i - 1).toLatin1();
            if (qEnvironmentVariableIsSet(baName.constData())) {
                strOut += qEnvironmentVariable(baName.constData());
                i = nClose;
            } else {
                strOut += QStringView(strExec).mid(i, nClose - i);
                i = nClose - 1;
            }
            continue;
        }
        const QChar code = strExec.at(i + 1);
        if (code == QLatin1Char('%')) {
            strOut += QLatin1Char('%');
            ++i;
        } else if (QStringView(u"fFuU").contains(code)) {
            strOut += QStringLiteral("%1");
            ++i;
        } else if (QStringView(u"dDnNickvm").contains(code)) {
            // A code that stood alone takes its separating blank with it: the program lookup
            // cuts the command at the last blank before %1 and must not keep a stray one.
            const bool bAlone = i + 2 == nSize || strExec.at(i + 2) == QLatin1Char(' ');
            if (bAlone && strOut.endsWith(QLatin1Char(' ')))
                strOut.chop(1);
            ++i;
        } else {
            strOut += c;
        }
    }
    return strOut;
}

QString ExecutableFromCommand(QString strCommand)
{
    const qsizetype nArg = strCommand.indexOf(QStringLiteral("%1"));
    if (nArg >= 0) {
        strCommand.truncate(nArg);
        const qsizetype nBlank = strCommand.lastIndexOf(QLatin1Char(' '));
        if (nBlank < 0)
            return strCommand;
        strCommand.truncate(nBlank);
    }
    const qsizetype nQuote = strCommand.indexOf(QLatin1Char('"'));
    if (nQuote >= 0) {
        strCommand.remove(0, nQuote + 1);
        const qsizetype nClose = strCommand.lastIndexOf(QLatin1Char('"'));
        if (nClose < 0)
            return {};
        strCommand.truncate(nClose);
    }
    return strCommand;
}

QStringList SplitCommandLine(const QString &strCommandLine)
{
    QStringList aArgs;
    QString strArg;
    bool bInArg = false;
    bool bQuoted = false;
    const qsizetype nSize = strCommandLine.size();
    for (qsizetype i = 0; i < nSize; ++i) {
        const QChar c = strCommandLine.at(i);
        if (bQuoted) {
            if (c == QLatin1Char('\\') && i + 1 < nSize
                && QStringView(u"\"`$\\").contains(strCommandLine.at(i + 1)))
                strArg += strCommandLine.at(++i);
            else if (c == QLatin1Char('"'))
                bQuoted = false;
            else
                strArg += c;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (bInArg)
                aArgs << std::exchange(strArg, QString());
            bInArg = false;
        } else {
            if (c == QLatin1Char('"'))
                bQuoted = true;
            else
                strArg += c;
            bInArg = true;
        }
    }
    if (bInArg)
        aArgs << strArg;
    return aArgs;
}

bool StartCommandLine(const QString &strCommandLine)
{
    QStringList aArgs = SplitCommandLine(strCommandLine);
    if (aArgs.isEmpty())
        return false;
    QString strProgram = aArgs.takeFirst();
    // Paths with blanks reach us unquoted, because the program lookup strips the quotes.
    if (!IsProgram(strProgram) && !strCommandLine.contains(QLatin1Char('"'))) {
        const QString strLine = strCommandLine.trimmed();
        for (qsizetype nBlank = strLine.indexOf(QLatin1Char(' '));;
             nBlank = strLine.indexOf(QLatin1Char(' '), nBlank + 1)) {
            const QString strPrefix = nBlank < 0 ? strLine : strLine.left(nBlank);
            if (IsProgram(strPrefix)) {
                strProgram = strPrefix;
                aArgs = nBlank < 0 ? QStringList() : SplitCommandLine(strLine.mid(nBlank));
                break;
            }
            if (nBlank < 0)
                break;
        }
    }
    return QProcess::startDetached(strProgram, aArgs);
}

} // namespace Platform
