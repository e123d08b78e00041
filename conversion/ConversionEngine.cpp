#include "conversion/ConversionEngine.h"

#include "conversion/CTarskDocument.h"
#include "conversion/RunReport.h"
#include "platform/FileNames.h"

#include <QHash>
#include <QStringList>

ConversionEngine::Result ConversionEngine::Run(CTarskDocument &doc,
                                               const std::vector<Source> &aSources,
                                               RunReport &report, Host &host) const
{
    // The report and the user see names decoded; the files are reached by their bytes.
    const QString strSrcFolder = Platform::DisplayFileName(Platform::JoinRawPath(baSrcFolder, {}));
    const QString strDstFolder = Platform::DisplayFileName(Platform::JoinRawPath(baDstFolder, {}));
    QStringList aPaths;
    aPaths.reserve(qsizetype(aSources.size()));
    for (const Source &source : aSources)
        aPaths << strSrcFolder + source.strFolder + source.strName;
    Result result;
    result.bReportComplete = report.Begin(aPaths, strReportCopy);

    const QString strExtLower = strDstExt.toLower();
    // Which drawing of the run has a target name, so that no later one overwrites its target:
    // the names are cut at the first dot, and plan.dxf and plan.v1.dxf both give plan.pdf. The key
    // holds the folder, as drawings of two folders go to two folders.
    QHash<QByteArray, const Source *> targetOwners;
    bool bAsk = overwrite == Overwrite::Ask;
    bool bConverted = false;
    bool bFailedStop = false;
    int nStep = 0;
    for (size_t i = 0; i < aSources.size(); ++i) {
        if (host.CancelRequested())
            break;
        const Source &source = aSources[i];
        const QString &strSource = aPaths.at(qsizetype(i));
        // A failure of the file system rather than of the server, which is fine and still hears
        // Quit; true when the run stops there.
        const auto fail = [&](const QString &strTarget, const QString &strMessage) {
            report.Add(RunReport::Outcome::Failed, strSource, strTarget, strMessage);
            if (!result.failure)
                result.failure = strMessage;
            return !bKeepGoing;
        };
        if (!source.strUnreadable.isEmpty()) {
            if (fail(QString(), source.strUnreadable))
                break;
            continue;
        }
        const QByteArray targetName = TargetName(source.baName, strExtLower);
        if (targetName.isEmpty()) {
            report.Add(RunReport::Outcome::Skipped, strSource, QString(),
                       RunReportText(RunReportReason::NoTargetName));
            continue;
        }
        const QByteArray sourcePath
            = Platform::JoinRawPath(baSrcFolder, source.baFolder + source.baName);
        const QByteArray targetPath
            = Platform::JoinRawPath(baDstFolder, source.baFolder + targetName);
        const QString strTargetName = Platform::DisplayFileName(targetName);
        const QString strTarget = strDstFolder + source.strFolder + strTargetName;
        // The list was read before the run; a drawing deleted since then is not handed to the
        // server, whose message would stop the run.
        const std::optional<qint64> nSourceTime = Platform::RawLastWriteTime(sourcePath);
        if (!nSourceTime) {
            report.Add(RunReport::Outcome::Skipped, strSource, QString(),
                       RunReportText(RunReportReason::Vanished));
            continue;
        }
        const Source *&pOwner = targetOwners[source.baFolder + targetName];
        if (pOwner && pOwner->baName != source.baName) {
            report.Add(RunReport::Outcome::Skipped, strSource, strTarget,
                       RunReportText(RunReportReason::SameTarget).arg(pOwner->strName));
            result.bSharedTarget = true;
            continue;
        }
        // The same drawing named twice is converted once.
        if (pOwner)
            continue;
        pOwner = &source;
        if (overwrite == Overwrite::IfOlder && !NeedsConversion(targetPath, *nSourceTime)) {
            report.Add(RunReport::Outcome::UpToDate, strSource, strTarget);
            continue;
        }
        host.ShowFiles(source.strName, strTargetName);
        const Answer answer = bAsk && Platform::RawFileExists(targetPath)
            ? host.AskOverwrite(strTarget)
            : Answer::Yes;
        if (answer == Answer::Cancel)
            break;
        if (answer == Answer::No) {
            report.Add(RunReport::Outcome::Skipped, strSource, strTarget,
                       RunReportText(RunReportReason::Declined));
            continue;
        }
        if (answer == Answer::YesToAll)
            bAsk = false;

        // Only folders that receive a drawing are made, not a copy of the whole tree.
        if (!source.baFolder.isEmpty()) {
            const QByteArray folder = targetPath.left(targetPath.lastIndexOf('/'));
            const QString strReason
                = Platform::RawFolderExists(folder) ? QString() : Platform::RawMakeFolders(folder);
            if (!strReason.isEmpty()) {
                if (fail(strTarget,
                         Platform::DisplayFileName(folder) + QLatin1String(": ") + strReason))
                    break;
                continue;
            }
        }
        report.SetCurrent(strSource, strTarget);
        try {
            Convert(doc, host, nStep, sourcePath, targetPath, strSource, strTarget);
            bConverted = true;
            report.Add(RunReport::Outcome::Converted, strSource, strTarget);
        } catch (const CAutomationError &error) {
            report.AddFailure(error.Description());
            if (!result.failure)
                result.failure = error.Description();
            if (!bKeepGoing) {
                bFailedStop = true;
                break;
            }
        }
    }
    report.Finish();
    host.Ended(bConverted);
    if (!bFailedStop) {
        try {
            doc.Quit();
        } catch (const CAutomationError &) {
            // Everything is saved by now; a server that cannot quit changes nothing for the user.
        }
    }
    return result;
}

void ConversionEngine::Convert(CTarskDocument &doc, Host &host, int &nStep,
                               const QByteArray &sourcePath, const QByteArray &targetPath,
                               const QString &strSource, const QString &strTarget) const
{
    // D-Bus strings carry only UTF-8: a path that is not is handed over as one that is and
    // leads to the same file, and put back in place afterwards.
    const Platform::Utf8PathBridge source(sourcePath, Platform::Utf8PathBridge::Use::Read);
    Platform::Utf8PathBridge target(targetPath, Platform::Utf8PathBridge::Use::Write);
    if (source.Path().isEmpty() || target.Path().isEmpty())
        throw CAutomationError(QStringLiteral("ファイル名を描画プログラムに渡せませんでした。\n%1")
                                   .arg(source.Path().isEmpty() ? strSource : strTarget));
    host.Step(nStep++);
    doc.Open(source.Path());
    if (nVersion >= 600) {
        doc.SetAuthorName(strAuthorName);
        if (bAffiliation)
            doc.SetAffiliation(strAffiliation);
    }
    host.Step(nStep++);
    doc.SaveAs(target.Path());
    if (!target.Commit())
        throw CAutomationError(
            QStringLiteral("変換したファイルに名前を付けられませんでした。\n%1").arg(strTarget));
}

QByteArray ConversionEngine::TargetName(const QByteArray &sourceName, const QString &strExtLower)
{
    const qsizetype nDot = sourceName.indexOf('.');
    return nDot <= 0 ? QByteArray() : sourceName.left(nDot + 1) + strExtLower.toUtf8();
}

bool ConversionEngine::NeedsConversion(const QByteArray &targetPath, qint64 nSourceTime)
{
    if (!Platform::RawFileExists(targetPath))
        return true;
    const std::optional<qint64> nTargetTime = Platform::RawLastWriteTime(targetPath);
    return !nTargetTime || nSourceTime > *nTargetTime;
}
