#include "conversion/ConversionEngine.h"

#include "conversion/CTarskDocument.h"
#include "conversion/RunReport.h"
#include "platform/FileNames.h"

#include <QHash>
#include <QStringList>

#include <deque>

// A drawing whose Open went to the program before its turn came, with the path the program was
// given, which must lead to the drawing until the program has opened it.
struct ConversionEngine::Opening
{
    Opening(CTarskDocument &document, size_t nSource, const QByteArray &path)
        : doc(document)
        , nIndex(nSource)
        , source(path, Platform::Utf8PathBridge::Use::Read)
    { }

    CTarskDocument &doc;
    size_t nIndex; // in the run's sources
    Platform::Utf8PathBridge source;
    CTarskDocument::Pending pending;
};

// The Opens sent before their turn, in the order of the sources, and the next source to look at.
struct ConversionEngine::Ahead
{
    std::deque<std::unique_ptr<Opening>> openings;
    size_t nNext = 0;
};

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
    Ahead ahead;
    CTarskDocument &other = pSecondDoc ? *pSecondDoc : doc;
    // Each connection is a drawing of its own at the program; an Open sent ahead must not go to
    // one whose drawing is still to be saved.
    const size_t nDepth = !bLookAhead || overwrite == Overwrite::Ask ? 0 : pSecondDoc ? 2 : 1;
    bool bOtherUsed = false;
    const auto sendAhead = [&](size_t nCurrent, CTarskDocument &last) {
        ahead.nNext = std::max(ahead.nNext, nCurrent + 1);
        CTarskDocument *pDoc = ahead.openings.empty() ? &last : &ahead.openings.back()->doc;
        while (ahead.openings.size() < nDepth && ahead.nNext < aSources.size()) {
            const size_t nSource = ahead.nNext++;
            const QByteArray path = AheadOfTurn(aSources[nSource], targetOwners);
            if (path.isEmpty())
                continue;
            pDoc = pDoc == &doc ? &other : &doc;
            bOtherUsed = bOtherUsed || pDoc == pSecondDoc;
            ahead.openings.push_back(SendOpen(*pDoc, nSource, path));
        }
    };
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

        // Only folders that receive a drawing are made, not a copy of the whole tree; those made
        // for a drawing that then fails are removed again.
        const QByteArray folder = targetPath.left(targetPath.lastIndexOf('/'));
        QByteArray madeFrom;
        if (!source.baFolder.isEmpty() && !Platform::RawFolderExists(folder)) {
            madeFrom = folder;
            for (QByteArray above = madeFrom.left(madeFrom.lastIndexOf('/'));
                 !above.isEmpty() && !Platform::RawFolderExists(above);
                 above = above.left(above.lastIndexOf('/')))
                madeFrom = above;
            const QString strReason = Platform::RawMakeFolders(folder);
            if (!strReason.isEmpty()) {
                Platform::RawRemoveEmptyFolders(folder, madeFrom);
                if (fail(strTarget,
                         Platform::DisplayFileName(folder) + QLatin1String(": ") + strReason))
                    break;
                continue;
            }
        }
        report.SetCurrent(strSource, strTarget);
        try {
            Convert(doc, host, nStep, i, sourcePath, targetPath, strSource, strTarget, ahead,
                    sendAhead);
            bConverted = true;
            report.Add(RunReport::Outcome::Converted, strSource, strTarget);
        } catch (const CAutomationError &error) {
            if (!madeFrom.isEmpty())
                Platform::RawRemoveEmptyFolders(folder, madeFrom);
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
        // The program quits when the last drawing it holds for a connection is closed.
        for (CTarskDocument *pDoc : {bOtherUsed ? pSecondDoc : nullptr, &doc}) {
            try {
                if (pDoc)
                    pDoc->Quit();
            } catch (const CAutomationError &) {
                // Everything is saved by now; a server that cannot quit changes nothing for the
                // user.
            }
        }
    }
    return result;
}

std::unique_ptr<ConversionEngine::Opening>
ConversionEngine::SendOpen(CTarskDocument &doc, size_t nSource, const QByteArray &sourcePath) const
{
    // D-Bus strings carry only UTF-8: a path that is not is handed over as one that is and
    // leads to the same file.
    auto opening = std::make_unique<Opening>(doc, nSource, sourcePath);
    if (!opening->source.Path().isEmpty())
        opening->pending = doc.SendOpen(
            opening->source.Path(), nVersion >= 600 ? std::optional(strAuthorName) : std::nullopt,
            nVersion >= 600 && bAffiliation ? std::optional(strAffiliation) : std::nullopt);
    return opening;
}

void ConversionEngine::Convert(CTarskDocument &doc, Host &host, int &nStep, size_t nSource,
                               const QByteArray &sourcePath, const QByteArray &targetPath,
                               const QString &strSource, const QString &strTarget, Ahead &ahead,
                               const SendAhead &sendAhead) const
{
    // Opens sent for drawings the run has passed by were wasted; one sent for a later drawing
    // would leave this one's connection holding that drawing, so those are given up too.
    while (!ahead.openings.empty() && ahead.openings.front()->nIndex < nSource)
        ahead.openings.pop_front();
    std::unique_ptr<Opening> current;
    const bool bAhead = !ahead.openings.empty() && ahead.openings.front()->nIndex == nSource;
    if (bAhead) {
        current = std::move(ahead.openings.front());
        ahead.openings.pop_front();
    } else {
        ahead.openings.clear();
        ahead.nNext = nSource + 1;
        current = SendOpen(doc, nSource, sourcePath);
    }
    CTarskDocument &drawing = current->doc;
    // A target whose name is not UTF-8 is written under one that is, and renamed afterwards.
    Platform::Utf8PathBridge target(targetPath, Platform::Utf8PathBridge::Use::Write);
    if (current->source.Path().isEmpty() || target.Path().isEmpty())
        throw CAutomationError(QStringLiteral("ファイル名を描画プログラムに渡せませんでした。\n%1")
                                   .arg(current->source.Path().isEmpty() ? strSource : strTarget));
    host.Step(nStep++);
    try {
        drawing.Finish(current->pending);
    } catch (const CAutomationError &) {
        if (!bAhead)
            throw;
        // The server it went to may have died saving the drawing before, and the bus starts
        // another for a call in turn; a drawing that cannot be opened fails again, as itself.
        current = SendOpen(drawing, nSource, sourcePath);
        drawing.Finish(current->pending);
    }
    host.Step(nStep++);
    const CTarskDocument::Pending saving = drawing.SendSaveAs(target.Path());
    // The program takes the next Opens as soon as it has saved: it need not wait for this end to
    // hear of the save and answer.
    sendAhead(nSource, drawing);
    drawing.Finish(saving);
    if (!target.Commit())
        throw CAutomationError(
            QStringLiteral("変換したファイルに名前を付けられませんでした。\n%1").arg(strTarget));
}

QByteArray
ConversionEngine::AheadOfTurn(const Source &source,
                              const QHash<QByteArray, const Source *> &targetOwners) const
{
    const QByteArray targetName = TargetName(source.baName, strDstExt.toLower());
    if (targetName.isEmpty() || targetOwners.contains(targetName))
        return QByteArray();
    const QByteArray sourcePath = Platform::JoinRawPath(baSrcFolder, source.baName);
    const std::optional<qint64> nSourceTime = Platform::RawLastWriteTime(sourcePath);
    const bool bConvert = nSourceTime
        && (overwrite == Overwrite::Always
            || NeedsConversion(Platform::JoinRawPath(baDstFolder, targetName), *nSourceTime));
    return bConvert ? sourcePath : QByteArray();
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
