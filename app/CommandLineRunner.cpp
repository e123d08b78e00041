#include "app/CommandLineRunner.h"

#include "conversion/CTarskDocument.h"
#include "conversion/ConversionEngine.h"
#include "conversion/RunReport.h"
#include "conversion/SourceTree.h"
#include "formats/FormatTable.h"
#include "platform/FileNames.h"
#include "platform/FolderScan.h"
#include "platform/System.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <utility>

namespace {

struct Options
{
    QByteArray baSrcFolder; // absolute
    QString strSrcExt;
    QByteArray baDstFolder; // absolute
    bool bMakeTarget = false; // baDstFolder does not exist yet
    QString strDstExt;
    bool bAuto = false;
    bool bRecursive = false;
    std::vector<ConversionEngine::Source> aFiles;
    bool bAuthor = false;
    QString strAuthor;
    bool bAffiliation = false;
    QString strAffiliation;
    bool bKeepGoing = false;
    QString strReport;
};

const char kUsage[] = R"(Usage: norvale [--help | --version]
       norvale --convert --source DIR --source-ext EXT --target DIR --target-ext EXT
               (--auto [--recursive] | FILE...) [--author NAME] [--affiliation TEXT]
               [--keep-going] [--report FILE]

Without arguments Norvale opens its window. With --convert it runs one conversion through the
drawing program, without a window, and prints one line per drawing and a summary.

  --source DIR        folder of the source drawings
  --source-ext EXT    source format: TSK, SFC, P21, DXF, JWW or JWC
  --target DIR        folder the converted drawings are saved in; made, with the folders
                      above it, when it does not exist
  --target-ext EXT    target format: TSK, SFC, P21, DXF, JWC, PDF, UMB, EMF, SVG, HTM or DWF,
                      not the source format
  --auto              convert every drawing of the source folder whose target is missing or
                      older than the drawing (the automatic mode of the window)
  --recursive         with --auto: also the drawings of every folder below the source folder,
                      each converted into the same folder below the target folder, made when
                      a drawing goes there; links to folders are not followed
  FILE...             convert these drawings of the source folder (names, or paths in it);
                      existing targets are replaced
  --author NAME       author name sent with each drawing (drawing program 6.00 or later)
  --affiliation TEXT  author affiliation sent with SFC and P21 targets
  --keep-going        go on after a drawing that fails; without it the run stops there
  --report FILE       also write the run report (tab-separated) to FILE

Of drawings of one folder whose names give one target (plan.dxf, plan.v1.dxf: plan.pdf) the
first is converted and the others are skipped.

Exit status: 0 nothing failed, 1 a drawing or a folder failed or a drawing was skipped for sharing
its target, 2 usage error, 3 no drawing server answers, 4 the report of --report or the
standard output could not be written.
Every run's report is kept in $XDG_STATE_HOME/Norvale/runs/.
)";

bool IsSourceExt(const QString &strExt)
{
    return std::any_of(std::begin(g_aszSrcExt), std::end(g_aszSrcExt),
                       [&strExt](const char *psz) { return strExt == QLatin1String(psz); });
}

bool IsTargetExt(const QString &strExt, const QString &strSrcExt)
{
    return strExt != strSrcExt
        && std::any_of(std::begin(g_aFormats), std::end(g_aFormats),
                       [&strExt](const FormatEntry &format) {
                           return format.bTarget && strExt == QLatin1String(format.szExt);
                       });
}

// The parser takes text, but names on the command line are bytes, and archives made on Windows
// bring names in Shift-JIS. An argument that is UTF-8 is decoded as it is; in any other, each byte
// above 0x7f becomes the lone surrogate U+DC80 to U+DCFF, which no decoded UTF-8 holds without a
// high surrogate before it, so that ArgumentBytes gives back the very bytes given.
QString ArgumentText(const QByteArray &arg)
{
    if (Platform::IsUtf8Name(arg))
        return QString::fromUtf8(arg);
    QString strText;
    strText.reserve(arg.size());
    for (const char c : arg)
        strText += uchar(c) < 0x80 ? QChar(QLatin1Char(c)) : QChar(char16_t(0xdc00 + uchar(c)));
    return strText;
}

QByteArray ArgumentBytes(const QString &strText)
{
    const auto isEscape = [](QChar c) {
        return c.unicode() >= 0xdc80 && c.unicode() <= 0xdcff;
    };
    if (std::any_of(strText.begin(), strText.end(), [](QChar c) { return c.isHighSurrogate(); })
        || std::none_of(strText.begin(), strText.end(), isEscape))
        return strText.toUtf8();
    QByteArray bytes;
    bytes.reserve(strText.size());
    for (const QChar c : strText)
        bytes += char(isEscape(c) ? c.unicode() - 0xdc00 : c.unicode());
    return bytes;
}

// Texts (author data, the report's path) are text whatever bytes they came as.
QString ArgumentValue(const QCommandLineParser &parser, const char *pszName)
{
    return QString::fromUtf8(ArgumentBytes(parser.value(QLatin1String(pszName))));
}

// Fills options from the parsed arguments; an error text when they do not make one run.
QString CheckOptions(const QCommandLineParser &parser, Options &options)
{
    for (const char *pszName : {"source", "source-ext", "target", "target-ext"}) {
        if (!parser.isSet(QLatin1String(pszName)))
            return QStringLiteral("--%1 is missing").arg(QLatin1String(pszName));
    }
    options.strSrcExt = parser.value(QStringLiteral("source-ext")).toUpper();
    options.strDstExt = parser.value(QStringLiteral("target-ext")).toUpper();
    if (!IsSourceExt(options.strSrcExt))
        return QStringLiteral("%1 is not a source format").arg(options.strSrcExt);
    if (!IsTargetExt(options.strDstExt, options.strSrcExt))
        return QStringLiteral("%1 is not a target format for %2")
            .arg(options.strDstExt, options.strSrcExt);
    const std::pair<const char *, QByteArray *> aFolders[]
        = {{"source", &options.baSrcFolder}, {"target", &options.baDstFolder}};
    for (const auto &[pszName, pFolder] : aFolders) {
        const QByteArray folder = ArgumentBytes(parser.value(QLatin1String(pszName)));
        *pFolder = Platform::RawAbsolutePath(folder);
        // A missing target folder is made, as cp -r makes its own, once the rest is known to be
        // right.
        if (pFolder == &options.baDstFolder)
            options.bMakeTarget = !Platform::RawFolderExists(folder);
        else if (!Platform::RawFolderExists(folder))
            return QStringLiteral("%1 folder %2 does not exist")
                .arg(QLatin1String(pszName), Platform::DisplayFileName(folder));
    }
    options.bAuto = parser.isSet(QStringLiteral("auto"));
    const QStringList aFiles = parser.positionalArguments();
    if (options.bAuto == !aFiles.isEmpty())
        return QStringLiteral("give either --auto or the drawings to convert");
    options.bRecursive = parser.isSet(QStringLiteral("recursive"));
    if (options.bRecursive && !options.bAuto)
        return QStringLiteral("--recursive goes with --auto");
    const QByteArray srcCanonical = Platform::RawCanonicalPath(options.baSrcFolder);
    const QByteArray suffix = '.' + options.strSrcExt.toLower().toUtf8();
    for (const QString &strFile : aFiles) {
        const QByteArray file = ArgumentBytes(strFile);
        const qsizetype nSlash = file.lastIndexOf('/');
        const QByteArray name = file.mid(nSlash + 1);
        const QString strShown
            = Platform::DisplayFileName(file.left(nSlash + 1)) + Platform::DisplayFileName(name);
        const QByteArray path
            = nSlash < 0 ? Platform::JoinRawPath(options.baSrcFolder, file) : file;
        if (!Platform::RawFileExists(path))
            return QStringLiteral("%1 is not a file of the source folder").arg(strShown);
        if (Platform::RawCanonicalPath(path.left(path.lastIndexOf('/') + 1)) != srcCanonical)
            return QStringLiteral("%1 is not in the source folder").arg(strShown);
        if (name.right(suffix.size()).toLower() != suffix)
            return QStringLiteral("%1 is not a %2 drawing").arg(strShown, options.strSrcExt);
        options.aFiles.push_back({name, Platform::DisplayFileName(name)});
    }
    options.bAuthor = parser.isSet(QStringLiteral("author"));
    options.strAuthor = ArgumentValue(parser, "author");
    options.bAffiliation = parser.isSet(QStringLiteral("affiliation"));
    options.strAffiliation = ArgumentValue(parser, "affiliation");
    options.bKeepGoing = parser.isSet(QStringLiteral("keep-going"));
    options.strReport = ArgumentValue(parser, "report");
    return QString();
}

// The drawings of an automatic run: the folder's drawings of the source format, by name.
std::vector<ConversionEngine::Source> AutoSources(const Options &options)
{
    std::vector<FileRow> aRows;
    FolderScan::ReadEntries(
        options.baSrcFolder, FolderScan::EncodeSuffix(options.strSrcExt), 4096,
        [&aRows](FolderScan::Batch &&batch) { FolderScan::AppendRows(batch, aRows); });
    std::stable_sort(aRows.begin(), aRows.end(),
                     [](const FileRow &a, const FileRow &b) { return a.strName < b.strName; });
    std::vector<ConversionEngine::Source> aSources;
    aSources.reserve(aRows.size());
    for (const FileRow &row : aRows)
        aSources.push_back({row.RawName(), row.strName});
    return aSources;
}

// Empty when the file can be written, else the system's reason. What the file holds is left
// alone, and a file made for the test is removed again. A device or a pipe is not opened: a pipe's
// reader would take the test's close for the end of the report.
QString WriteProblem(const QString &strPath)
{
    const QFileInfo info(strPath);
    if (info.exists() && !info.isFile() && !info.isDir())
        return QString();
    QFile file(strPath);
    if (!file.open(QIODevice::WriteOnly | (info.exists() ? QIODevice::Append : QIODevice::NewOnly)))
        return file.errorString();
    if (!info.exists())
        file.remove();
    return QString();
}

void ReportWriteProblem(const QString &strPath, const QString &strReason, QTextStream &err)
{
    err << "norvale: cannot write the run report " << strPath << ": " << strReason << Qt::endl;
}

int Convert(const Options &options, QTextStream &out, QTextStream &err)
{
    // A report that cannot be written is said before the run, not after it converted everything.
    if (!options.strReport.isEmpty()) {
        const QString strReason = WriteProblem(options.strReport);
        if (!strReason.isEmpty()) {
            ReportWriteProblem(options.strReport, strReason, err);
            return CommandLineRunner::kOutputFailed;
        }
    }
    if (options.bMakeTarget) {
        const QString strFolder = Platform::DisplayFileName(options.baDstFolder);
        const QString strReason = Platform::RawMakeFolders(options.baDstFolder);
        if (!strReason.isEmpty()) {
            err << "norvale: target folder " << strFolder << " cannot be made: " << strReason
                << Qt::endl;
            return CommandLineRunner::kUsageError;
        }
        out << "created target folder " << strFolder << Qt::endl;
    }
    CTarskDocument doc(std::nullopt, CTarskDocument::Wait::Block);
    if (!doc.CreateDispatch()) {
        err << "norvale: no drawing server answers (" << QString::fromUtf16(CTarskDocument::kProgId)
            << ")\n";
        return CommandLineRunner::kNoServer;
    }

    // The author data as the window sends it: name and affiliation for the SXF formats, which
    // start from what the drawing program stores; a name for the rest, which starts from the
    // login name.
    const qsizetype nAuthorIndex
        = std::find_if(
              std::begin(g_aszAuthorExt), std::end(g_aszAuthorExt),
              [&options](const char *psz) { return options.strDstExt == QLatin1String(psz); })
        - std::begin(g_aszAuthorExt);
    const bool bSxf = nAuthorIndex < 2;
    int nVersion = 0;
    QString strAuthor = options.bAuthor ? options.strAuthor : Platform::LogonUserName();
    QString strAffiliation = options.strAffiliation;
    try {
        nVersion = doc.GetVersion();
        if (nVersion >= 600 && bSxf) {
            if (!options.bAuthor)
                strAuthor = doc.GetAuthorName();
            if (!options.bAffiliation)
                strAffiliation = doc.GetAffiliation();
        }
    } catch (const CAutomationError &error) {
        err << "norvale: the drawing server failed: " << error.Description() << '\n';
        return CommandLineRunner::kNoServer;
    }

    ConversionEngine engine;
    engine.baSrcFolder = options.baSrcFolder;
    engine.baDstFolder = options.baDstFolder;
    engine.strDstExt = options.strDstExt;
    engine.overwrite = options.bAuto ? ConversionEngine::Overwrite::IfOlder
                                     : ConversionEngine::Overwrite::Always;
    engine.nVersion = nVersion;
    engine.strAuthorName = strAuthor;
    engine.bAffiliation = bSxf;
    engine.strAffiliation = strAffiliation;
    engine.bKeepGoing = options.bKeepGoing;
    engine.strReportCopy = options.strReport;
    engine.bLookAhead = true;
    // A client of its own to the program, so that it holds a second drawing.
    CTarskDocument second(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                        QStringLiteral("norvale-second")),
                          CTarskDocument::Wait::Block);
    if (second.CreateDispatch())
        engine.pSecondDoc = &second;
    RunReport report;
    report.onRow = [&out](const RunReport::Row &row) {
        out << RunReport::Keyword(row.outcome) << '\t' << row.strSource;
        if (!row.strTarget.isEmpty())
            out << " -> " << row.strTarget;
        if (!row.strMessage.isEmpty())
            out << ": " << QString(row.strMessage).replace(u'\n', u' '); // one line per file
        out << Qt::endl;
    };
    ConversionEngine::Host host;
    const ConversionEngine::Result result
        = engine.Run(doc,
                     options.bRecursive  ? SourceTree::List(options.baSrcFolder, options.strSrcExt)
                         : options.bAuto ? AutoSources(options)
                                         : options.aFiles,
                     report, host);
    bool bReportFailed = false;
    for (const RunReport::Problem &problem : report.Problems()) {
        ReportWriteProblem(problem.strPath, problem.strReason, err);
        // The kept report is Norvale's own record; a run without one has still done its work.
        bReportFailed = bReportFailed || problem.strPath == options.strReport;
    }

    using Outcome = RunReport::Outcome;
    out << "converted " << report.Count(Outcome::Converted) << ", up to date "
        << report.Count(Outcome::UpToDate) << ", skipped " << report.Count(Outcome::Skipped)
        << ", failed " << report.Count(Outcome::Failed) << ", not attempted "
        << report.Count(Outcome::NotAttempted) << Qt::endl;
    if (!report.Path().isEmpty())
        out << "report " << report.Path() << Qt::endl;
    if (report.Count(Outcome::Failed) > 0 || result.bSharedTarget)
        return CommandLineRunner::kDrawingFailed;
    return bReportFailed ? CommandLineRunner::kOutputFailed : CommandLineRunner::kSuccess;
}

} // namespace

bool CommandLineRunner::Wants(int argc, char *argv[])
{
    // What QApplication takes out of the arguments for itself; "-style=fusion" counts too.
    static const char *const kWithValue[]
        = {"-platform",    "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry",
           "-qwindowicon", "-qwindowtitle",       "-session",       "-style",  "-stylesheet",
           "-display",     "-geometry",           "-qmljsdebugger"};
    static const char *const kFlags[] = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};
    const auto isAny = [](const auto &aNames, const QByteArray &arg) {
        return std::any_of(std::begin(aNames), std::end(aNames),
                           [&arg](const char *psz) { return arg == psz; });
    };
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        const qsizetype nEquals = arg.indexOf('=');
        if (nEquals > 0 && isAny(kWithValue, arg.left(nEquals)))
            continue;
        if (isAny(kWithValue, arg))
            ++i;
        else if (!isAny(kFlags, arg))
            return true;
    }
    return false;
}

int CommandLineRunner::Run(const QList<QByteArray> &aArgs, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const auto option = [&parser](const QStringList &aNames, const QString &strValue = {}) {
        parser.addOption(QCommandLineOption(aNames, QString(), strValue));
    };
    option({QStringLiteral("h"), QStringLiteral("help")});
    option({QStringLiteral("v"), QStringLiteral("version")});
    option({QStringLiteral("convert")});
    option({QStringLiteral("auto")});
    option({QStringLiteral("keep-going")});
    option({QStringLiteral("recursive")});
    for (const char *pszName :
         {"source", "source-ext", "target", "target-ext", "author", "affiliation", "report"})
        option({QLatin1String(pszName)}, QStringLiteral("value"));

    const auto usageError = [&err](const QString &strMessage) {
        err << "norvale: " << strMessage << "\nTry 'norvale --help'.\n";
        err.flush();
        return kUsageError;
    };
    QStringList aTexts;
    for (const QByteArray &arg : aArgs)
        aTexts << ArgumentText(arg);
    if (!parser.parse(aTexts))
        return usageError(parser.errorText());
    int nStatus = kSuccess;
    if (parser.isSet(QStringLiteral("help"))) {
        out << kUsage;
    } else if (parser.isSet(QStringLiteral("version"))) {
        out << "norvale " NORVALE_VERSION "\n";
    } else if (!parser.isSet(QStringLiteral("convert"))) {
        return usageError(QStringLiteral("nothing to do: give --convert, --help or --version"));
    } else {
        Options options;
        const QString strError = CheckOptions(parser, options);
        if (!strError.isEmpty())
            return usageError(strError);
        nStatus = Convert(options, out, err);
    }
    // Output that went nowhere (a full disk) is a failure the script must hear of.
    out.flush();
    if (out.status() != QTextStream::Ok) {
        err << "norvale: cannot write the standard output: "
            << (out.device() ? out.device()->errorString() : QString()) << Qt::endl;
        return nStatus == kSuccess ? kOutputFailed : nStatus;
    }
    return nStatus;
}
