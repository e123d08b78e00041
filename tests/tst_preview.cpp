#include "tests/TestEnvironment.h"

#include "app/CConverterDlg.h"
#include "formats/FormatTable.h"
#include "panes/ConversionPreview.h"
#include "panes/FileListModel.h"

#include <QFont>
#include <QStandardPaths>

using namespace Qt::Literals::StringLiterals;
using TestEnvironment::writeFile;

namespace {

bool setTime(const QString &strPath, const QDateTime &time)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadWrite)
        && file.setFileTime(time, QFileDevice::FileModificationTime);
}

} // namespace

// The marks of automatic mode: which source rows a run would convert, by the run's date rule.
class TestPreview : public QObject
{
    Q_OBJECT

    QTemporaryDir m_appDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CConverterDlg> m_dlg;
    QDateTime m_base;

    QString src(const QString &name = {}) const { return m_dir->filePath(u"src/"_s + name); }
    QString dst(const QString &name = {}) const { return m_dir->filePath(u"dst/"_s + name); }

    bool openWindow(int nMode)
    {
        int nDxf = 0;
        for (const FormatEntry &format : g_aFormats) {
            if (QLatin1String(format.szExt) == u"DXF")
                break;
            if (format.bTarget && QLatin1String(format.szExt) != u"SFC")
                ++nDxf;
        }
        const QString ini = u"[Common]\nFolder=0\nMode=%1\n[Original]\nExt=1\nFolder#0=%2\n"
                            u"[Convert]\nExt=%3\nFolder#0=%4\n"_s.arg(nMode)
                                .arg(src())
                                .arg(nDxf)
                                .arg(dst());
        if (!writeFile(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                           + u"/Norvale/Norvale.ini"_s,
                       ini.toUtf8()))
            return false;
        m_dlg = std::make_unique<CConverterDlg>();
        m_dlg->m_strAppDir = m_appDir.path();
        m_dlg->Create();
        return m_dlg->m_dst.strExt == u"DXF" && m_dlg->m_nMode == nMode && m_dlg->m_pPreview;
    }

    // "name:marked" for every source row, in the list's order, with what the list shows.
    QStringList rows() const
    {
        QStringList aRows;
        const FileListModel *model = m_dlg->ListModel(1);
        for (int i = 0; i < model->rowCount(); ++i) {
            const QModelIndex index = model->index(i, FileListModel::NameColumn);
            const bool bBold = index.data(Qt::FontRole).value<QFont>().bold();
            const bool bEmblem = index.data(Qt::DecorationRole).value<QIcon>().cacheKey()
                != model->FileIcon().cacheKey();
            if (bBold != model->IsMarked(i) || bEmblem != model->IsMarked(i))
                return {u"bold and emblem disagree on "_s + model->Row(i).strName};
            aRows << model->Row(i).strName + (model->IsMarked(i) ? u":marked"_s : u""_s);
        }
        return aRows;
    }

    bool waitForMarks()
    {
        QSignalSpy spy(m_dlg->m_pPreview, &ConversionPreview::marksApplied);
        return spy.wait(10000);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(src()) && QDir().mkpath(dst()));
        m_base = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 86400);
        // The date rule's four cases, in whole seconds as the run compares them.
        const struct
        {
            const char *pszName;
            int nSourceMs;
            int nTargetMs; // -1: no target
        } aCases[]
            = {{"missing", 0, -1}, {"older", 1100, 900}, {"same", 1900, 1100}, {"newer", 0, 5000}};
        for (const auto &c : aCases) {
            const QString name = QLatin1String(c.pszName);
            QVERIFY(writeFile(src(name + u".sfc"_s), "drawing\n"));
            QVERIFY(setTime(src(name + u".sfc"_s), m_base.addMSecs(c.nSourceMs)));
            if (c.nTargetMs >= 0) {
                QVERIFY(writeFile(dst(name + u".dxf"_s), "target\n"));
                QVERIFY(setTime(dst(name + u".dxf"_s), m_base.addMSecs(c.nTargetMs)));
            }
        }
    }
    void cleanup()
    {
        m_dlg.reset();
        QDir::setCurrent(QDir::tempPath());
        m_dir.reset();
    }

    void dateRule()
    {
        QVERIFY(openWindow(0));
        const QString strCount = m_dlg->GetDlgItemText(1042);
        QVERIFY(waitForMarks());
        QCOMPARE(rows(),
                 QStringList({u"missing.sfc:marked"_s, u"newer.sfc"_s, u"older.sfc:marked"_s,
                              u"same.sfc"_s}));
        QCOMPARE(m_dlg->GetDlgItemText(1042), strCount);

        // Renewed when the target pane is listed again: a target written since then counts.
        QVERIFY(writeFile(dst(u"missing.dxf"_s), "target\n"));
        m_dlg->FillFileList(m_dlg->m_dst.strFolder, m_dlg->m_dst.strExt, 2);
        QVERIFY(waitForMarks());
        QCOMPARE(
            rows(),
            QStringList({u"missing.sfc"_s, u"newer.sfc"_s, u"older.sfc:marked"_s, u"same.sfc"_s}));
    }

    // Manual mode marks nothing; the mode commands bring the marks and take them away.
    void modes()
    {
        QVERIFY(openWindow(1));
        const QStringList aPlain
            = {u"missing.sfc"_s, u"newer.sfc"_s, u"older.sfc"_s, u"same.sfc"_s};
        QTest::qWait(100);
        QCOMPARE(rows(), aPlain);
        m_dlg->OnCommand(1020);
        QVERIFY(waitForMarks());
        QCOMPARE(rows(),
                 QStringList({u"missing.sfc:marked"_s, u"newer.sfc"_s, u"older.sfc:marked"_s,
                              u"same.sfc"_s}));
        m_dlg->OnCommand(1021);
        QCOMPARE(rows(), aPlain);
    }
};

NORVALE_TEST_MAIN(TestPreview)
#include "tst_preview.moc"
