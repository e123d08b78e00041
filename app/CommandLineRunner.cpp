#include "app/CommandLineRunner.h"

#include "app/CConverterDlg.h"
#include "conversion/CTarskDocument.h"
#include "conversion/RunReport.h"
#include "formats/FormatTable.h"
#include "panes/Paths.h"
#include "platform/FolderScan.h"
#include "platform/System.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

struct Options
{
    QString strSrcFolder;
    QString strSrcExt;
    QString strDstFolder;
    QString strDstExt;
    bool bAuto = false;
    QStringList aFiles; // full paths
    bool bAuthor = false;
    QString strAuthor;
    bool bAffiliation = false;
    QString strAffiliation;
    bool bKeepGoing = false;
    QString strReport;
};

const char kUsage[] = R"(Usage: norvale [--help | --version]
       norvale --convert --source DIR --source-ext EXT --target DIR --target-ext EXT
               (--auto | FILE...) [--author NAME] [--affiliation TEXT] [--keep-going]
               [--report FILE]

Without arguments Norvale opens its window. With --convert it runs one conversion through the
drawing program, without a window, and prints one line per drawing and a summary.

  --source DIR        folder of the source drawings
  --source-ext EXT    source format: TSK, SFC, P21, DXF, JWW or JWC
  --target DIR        folder the converted drawings are saved in
  --target-ext EXT    target format: TSK, SFC, P21, DXF, JWC, PDF, UMB, EMF, SVG, HTM or DWF,
                      not the source format
  --auto              convert every drawing of the source folder whose target is missing or
                      older than the drawing (the automatic mode of the window)
  FILE...             convert these drawings of the source folder (names, or paths in it);
                      existing targets are replaced
  --author NAME       author name sent with each drawing (drawing program 6.00 or later)
  --affiliation TEXT  author affiliation sent with SFC and P21 targets
  --keep-going        go on after a drawing that fails; without it the run stops there
  --report FILE       also write the run report (tab-separated) to FILE

Exit status: 0 nothing failed, 1 a drawing failed, 2 usage error, 3 no drawing server answers.
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
    const std::pair<const char *, QString *> aFolders[]
        = {{"source", &options.strSrcFolder}, {"target", &options.strDstFolder}};
    for (const auto &[pszName, pstrFolder] : aFolders) {
        const QString strFolder = parser.value(QLatin1String(pszName));
        if (!IsExistingFolder(strFolder))
            return QStringLiteral("%1 folder %2 does not exist")
                .arg(QLatin1String(pszName), strFolder);
        *pstrFolder = QDir::cleanPath(QDir(strFolder).absolutePath());
    }
    options.bAuto = parser.isSet(QStringLiteral("auto"));
    const QStringList aFiles = parser.positionalArguments();
    if (options.bAuto == !aFiles.isEmpty())
        return QStringLiteral("give either --auto or the drawings to convert");
    const QString strSrcCanonical = QFileInfo(options.strSrcFolder).canonicalFilePath();
    const QString strSuffix = QLatin1Char('.') + options.strSrcExt;
    for (const QString &strFile : aFiles) {
        const QFileInfo info(strFile.contains(QLatin1Char('/'))
                                 ? strFile
                                 : options.strSrcFolder + QLatin1Char('/') + strFile);
        if (!info.isFile())
            return QStringLiteral("%1 is not a file of the source folder").arg(strFile);
        if (QFileInfo(info.absolutePath()).canonicalFilePath() != strSrcCanonical)
            return QStringLiteral("%1 is not in the source folder").arg(strFile);
        if (!info.fileName().endsWith(strSuffix, Qt::CaseInsensitive))
            return QStringLiteral("%1 is not a %2 drawing").arg(strFile, options.strSrcExt);
        QString strPath = options.strSrcFolder;
        JoinPath(strPath, info.fileName());
        options.aFiles << strPath;
    }
    options.bAuthor = parser.isSet(QStringLiteral("author"));
    options.strAuthor = parser.value(QStringLiteral("author"));
    options.bAffiliation = parser.isSet(QStringLiteral("affiliation"));
    options.strAffiliation = parser.value(QStringLiteral("affiliation"));
    options.bKeepGoing = parser.isSet(QStringLiteral("keep-going"));
    options.strReport = parser.value(QStringLiteral("report"));
    return QString();
}

// The drawings of an automatic run: the folder's drawings of the source format by name.
QStringList AutoSources(const Options &options)
{
    std::vector<FileRow> aRows = FolderScan::ListFiles(options.strSrcFolder, options.strSrcExt);
    QStringList aNames;
    for (const FileRow &row : aRows)
        aNames << row.strName;
    aNames.sort();
    QStringList aPaths;
    for (const QString &strName : std::as_const(aNames)) {
        QString strPath = options.strSrcFolder;
        JoinPath(strPath, strName);
        aPaths << strPath;
    }
    return aPaths;
}

int Convert(const Options &options, QTextStream &out, QTextStream &err)
{
    CTarskDocument doc;
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

    const QStringList aSources = options.bAuto ? AutoSources(options) : options.aFiles;
    RunReport report;
    report.onRow = [&out](const RunReport::Row &row) {
        out << RunReport::Keyword(row.outcome) << '\t' << row.strSource;
        if (!row.strTarget.isEmpty())
            out << " -> " << row.strTarget;
        if (!row.strMessage.isEmpty())
            out << ": " << QString(row.strMessage).replace(u'\n', u' '); // one line per file
        out << Qt::endl;
    };
    if (!report.Begin(aSources, options.strReport))
        err << "norvale: the run report cannot be written in full" << Qt::endl;

    const QString strExtLower = options.strDstExt.toLower();
    bool bStopped = false;
    for (const QString &strSourcePath : aSources) {
        const QFileInfo source(strSourcePath);
        const QString strTargetName = CConverterDlg::MakeTargetName(source.fileName(), strExtLower);
        if (strTargetName.isEmpty()) {
            report.Add(RunReport::Outcome::Skipped, strSourcePath, QString(),
                       RunReportText(RunReportReason::NoTargetName));
            continue;
        }
        if (!source.exists()) {
            report.Add(RunReport::Outcome::Skipped, strSourcePath, QString(),
                       RunReportText(RunReportReason::Vanished));
            continue;
        }
        QString strTargetPath = options.strDstFolder;
        JoinPath(strTargetPath, strTargetName);
        if (options.bAuto
            && !CConverterDlg::NeedsConversion(strTargetPath,
                                               source.lastModified().toSecsSinceEpoch())) {
            report.Add(RunReport::Outcome::UpToDate, strSourcePath, strTargetPath);
            continue;
        }
        report.SetCurrent(strSourcePath, strTargetPath);
        try {
            doc.Open(strSourcePath);
            if (nVersion >= 600) {
                doc.SetAuthorName(strAuthor);
                if (bSxf)
                    doc.SetAffiliation(strAffiliation);
            }
            doc.SaveAs(strTargetPath);
            report.Add(RunReport::Outcome::Converted, strSourcePath, strTargetPath);
        } catch (const CAutomationError &error) {
            report.AddFailure(error.Description());
            if (!options.bKeepGoing) {
                bStopped = true;
                break;
            }
        }
    }
    report.Finish();
    // A server that just failed is not told to quit, as in the window: the bus would only start
    // a new one to hear it.
    if (!bStopped) {
        try {
            doc.Quit();
        } catch (const CAutomationError &) {
            // Everything is saved by now.
        }
    }

    using Outcome = RunReport::Outcome;
    out << "converted " << report.Count(Outcome::Converted) << ", up to date "
        << report.Count(Outcome::UpToDate) << ", skipped " << report.Count(Outcome::Skipped)
        << ", failed " << report.Count(Outcome::Failed) << ", not attempted "
        << report.Count(Outcome::NotAttempted) << Qt::endl;
    if (!report.Path().isEmpty())
        out << "report " << report.Path() << Qt::endl;
    return report.Count(Outcome::Failed) > 0 ? CommandLineRunner::kDrawingFailed
                                             : CommandLineRunner::kSuccess;
}

} // namespace

bool CommandLineRunner::Wants(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--", 2) == 0 || std::strcmp(argv[i], "-h") == 0
            || std::strcmp(argv[i], "-v") == 0)
            return true;
    }
    return false;
}

int CommandLineRunner::Run(const QStringList &aArgs, QTextStream &out, QTextStream &err)
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
    for (const char *pszName :
         {"source", "source-ext", "target", "target-ext", "author", "affiliation", "report"})
        option({QLatin1String(pszName)}, QStringLiteral("value"));

    const auto usageError = [&err](const QString &strMessage) {
        err << "norvale: " << strMessage << "\nTry 'norvale --help'.\n";
        err.flush();
        return kUsageError;
    };
    if (!parser.parse(aArgs))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        out << kUsage;
        return kSuccess;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out << "norvale " NORVALE_VERSION "\n";
        return kSuccess;
    }
    if (!parser.isSet(QStringLiteral("convert")))
        return usageError(QStringLiteral("nothing to do: give --convert, --help or --version"));
    Options options;
    const QString strError = CheckOptions(parser, options);
    if (!strError.isEmpty())
        return usageError(strError);
    return Convert(options, out, err);
}
