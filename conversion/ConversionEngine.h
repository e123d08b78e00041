#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class CTarskDocument;
class RunReport;

// The loop of a conversion run, the same for the window's automatic and manual runs and for the
// command line: for each drawing it forms the target, decides whether to convert it, has the
// drawing program open and save it, and records the outcome in the run's report. What differs
// between the callers — a progress window and a prompt, or nothing at all — comes in through
// Host. Names are bytes throughout: a drawing whose name is not UTF-8 is converted as exactly
// that file, to a target with the same bytes before its extension.
class ConversionEngine
{
public:
    // What becomes of a target that already exists.
    enum class Overwrite {
        IfOlder, // replaced when older than its drawing, to the second; else up to date
        Ask, // Host::AskOverwrite decides
        Always,
    };
    enum class Answer { Yes, YesToAll, No, Cancel };

    // A drawing, or a folder of a tree that could not be read. A drawing of a subfolder is
    // converted into the same subfolder below the target folder, made when a drawing goes there.
    struct Source
    {
        Source(QByteArray name, QString strShown, QByteArray folder = {},
               QString strShownFolder = {}, QString strReason = {})
            : baName(std::move(name))
            , strName(std::move(strShown))
            , baFolder(std::move(folder))
            , strFolder(std::move(strShownFolder))
            , strUnreadable(std::move(strReason))
        { }

        QByteArray baName; // as the folder holds it
        QString strName; // as shown
        QByteArray baFolder; // below the source folder, ending in "/"; empty for the folder itself
        QString strFolder; // as shown
        // The system's reason when baFolder could not be read; the source is then that folder.
        QString strUnreadable;
    };

    // The caller's side of a run. Every default does nothing.
    class Host
    {
    public:
        virtual ~Host() = default;
        // Asked before each drawing; true ends the run there.
        virtual bool CancelRequested() { return false; }
        // The names of the pair about to be converted, or asked about.
        virtual void ShowFiles(const QString &, const QString &) { }
        // Two steps per converted drawing, counted from 0: before it is opened, before it is saved.
        virtual void Step(int) { }
        // Whether this existing target (its full path as shown) may be replaced.
        virtual Answer AskOverwrite(const QString &) { return Answer::Cancel; }
        // The last drawing is done with and the report complete; the server is still there.
        virtual void Ended(bool /*bConverted*/) { }
    };

    struct Result
    {
        std::optional<QString> failure; // the first failure's message
        bool bReportComplete = true; // the report files could all be opened
        // A drawing was skipped because an earlier one of the run has the same target.
        bool bSharedTarget = false;
    };

    QByteArray baSrcFolder;
    QByteArray baDstFolder;
    QString strDstExt;
    Overwrite overwrite = Overwrite::Ask;
    // Sent with each drawing when nVersion is 600 or more.
    int nVersion = 0;
    QString strAuthorName;
    bool bAffiliation = false;
    QString strAffiliation;
    // Without it the run stops at the first failure.
    bool bKeepGoing = false;
    // Where a copy of the report goes, if anywhere.
    QString strReportCopy;
    // Sends the next drawing's Open while the last one is saved, so that the program never sits
    // idle for a round trip between drawings. For runs that ask nothing and are never
    // cancelled, the command line's: the program may have opened a drawing the run then stops
    // before.
    bool bLookAhead = false;
    // A second connection to the program, connected, which holds a drawing of its own: the
    // look-ahead then goes two drawings ahead, the connections taking turns, and the program has
    // the next Open to work on while this end answers a save with the next drawing's.
    CTarskDocument *pSecondDoc = nullptr;

    // Converts aSources in their order with doc, which must be connected, and writes report from
    // Begin to Finish. A source that no longer exists when its turn comes is skipped; of several
    // sources of one folder with one target name (plan.dxf, plan.v1.dxf) only the first is
    // considered, the others are skipped. An unreadable folder, or a target folder that cannot be
    // made, fails as a drawing does. The server is told to quit at the end, unless the run
    // stopped at a failure of the server: the bus would only start a new one to hear it.
    Result Run(CTarskDocument &doc, const std::vector<Source> &aSources, RunReport &report,
               Host &host) const;

    // The name up to and including its first ".", then strExtLower; empty when the name has no
    // "." or begins with one. The bytes before the dot are kept as they are.
    static QByteArray TargetName(const QByteArray &sourceName, const QString &strExtLower);
    // The date rule: the target is missing, or its time in whole seconds is older.
    static bool NeedsConversion(const QByteArray &targetPath, qint64 nSourceTime);

private:
    struct Opening;
    struct Ahead;
    // Sends Opens ahead after the drawing at the given index was sent to be saved through doc.
    using SendAhead = std::function<void(size_t, CTarskDocument &)>;

    std::unique_ptr<Opening> SendOpen(CTarskDocument &doc, size_t nSource,
                                      const QByteArray &sourcePath) const;
    // Takes the drawing's Open from ahead when it went ahead, else sends it through doc.
    void Convert(CTarskDocument &doc, Host &host, int &nStep, size_t nSource,
                 const QByteArray &sourcePath, const QByteArray &targetPath,
                 const QString &strSource, const QString &strTarget, Ahead &ahead,
                 const SendAhead &sendAhead) const;
    // The path of a drawing if a run without questions is to convert it, else empty; not one
    // whose target name a drawing before it took (targetOwners). Judged before its turn, it is a
    // guess; the turn decides, and an Open sent for a drawing that is not converted is wasted.
    QByteArray AheadOfTurn(const Source &source,
                           const QHash<QByteArray, const Source *> &targetOwners) const;
};
