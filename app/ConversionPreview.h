#pragma once

#include <QIcon>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <memory>

class Pane;
class QThread;

// In automatic mode, marks the source rows that a run would convert (target missing or older,
// by the run's own date rule; of rows with one target name only the first). The targets are
// examined on a worker thread after the lists are shown, so the marks never hold up a listing; they
// are renewed whenever either pane is listed again or the mode changes, and never touch the rows'
// order, counts or texts. A pane listed again with the same folder and format keeps its marks until
// the new ones are in; any other listing drops them at once, as they no longer tell about these
// folders.
class ConversionPreview : public QObject
{
    Q_OBJECT

public:
    // Marks the rows of src against the targets of dst, both of which outlive it.
    ConversionPreview(const Pane &src, const Pane &dst, QObject *pParent);
    ~ConversionPreview() override;

    // Marks only in automatic mode; the window tells each change of mode. Renews the marks.
    void SetAutomatic(bool bAutomatic);
    // Drops the marks and, in automatic mode with a target format, computes them anew.
    void Renew();

    // fileIcon with the small emblem that marks a drawing the run would convert.
    static QIcon WithEmblem(const QIcon &fileIcon);

signals:
    // The marks of the current listings are in place (tests wait for it).
    void marksApplied(int nMarked);

private:
    void Start();
    void Apply(quint64 nGeneration, const QString &strKey, const QSet<QString> &setNames);

    // The folders and formats the present marks were made for.
    QString ListingKey() const;

    const Pane &m_src;
    const Pane &m_dst;
    bool m_bAutomatic = false;
    QString m_strMarkedKey;
    // Raised by every Renew: a worker whose generation is past gives up and its result is let go.
    std::shared_ptr<std::atomic<quint64>> m_pGeneration;
    QThread *m_pWorker = nullptr;
    bool m_bStartPending = false;
};
