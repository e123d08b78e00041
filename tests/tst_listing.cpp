#include "app/CConverterDlg.h"
#include "app/ConversionPreview.h"
#include "panes/FileListModel.h"
#include "tests/TestEnvironment.h"
#include "tests/WindowFixture.h"

#include <QCollator>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QToolTip>
#include <QTreeView>

#include <ctime>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A file of nSize bytes (sparse, so 4 GiB cost nothing) last changed at nModified.
bool makeFile(const QString &path, qint64 nSize = 0, qint64 nModified = 1160368440)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(nSize))
        return false;
    file.close();
    const timespec times[2] = {{time_t(nModified), 0}, {time_t(nModified), 0}};
    return utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

QString fileCountText(int nCount)
{
    return u"ﾌｧｲﾙ数 : %1 "_s.arg(nCount);
}

} // namespace

class TestListing : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CConverterDlg> m_dlg;
    std::unique_ptr<QTemporaryDir> m_dir;
    QTemporaryDir m_appDir;

    QString path(const QString &name = QString()) const
    {
        return name.isEmpty() ? m_dir->path() : m_dir->filePath(name);
    }
    Pane &pane(Side side) const { return WindowFixture::pane(*m_dlg, side); }
    QTreeView *list(Side side) const { return pane(side).GetControls().pList; }
    QString text(int nId) const { return m_dlg->GetDlgItemText(nId); }

    // Lists strFolder into the side as the window does, by the side's number.
    void fill(Side side, const QString &strFolder, const QString &strExt = u"DXF"_s)
    {
        pane(side).strFolder = strFolder;
        m_dlg->FillFileList(pane(side).strFolder, strExt, side == Side::Source ? 1 : 2);
    }
    QStringList names(Side side) const { return WindowFixture::listed(*m_dlg, side); }
    QString cell(Side side, const QString &name, int nColumn) const
    {
        const FileListModel *model = pane(side).Model();
        const int nRow = int(names(side).indexOf(name));
        return nRow < 0 ? u"(not listed)"_s : model->index(nRow, nColumn).data().toString();
    }
    void select(Side side, const QStringList &aNames)
    {
        for (const QString &name : aNames) {
            const int nRow = int(names(side).indexOf(name));
            QVERIFY2(nRow >= 0, qPrintable(name));
            list(side)->selectionModel()->select(pane(side).Model()->index(nRow, 0),
                                                 QItemSelectionModel::Select
                                                     | QItemSelectionModel::Rows);
        }
    }
    QStringList selectedNames(Side side) const
    {
        QStringList aNames;
        for (const QModelIndex &index : list(side)->selectionModel()->selectedRows())
            aNames.append(pane(side).Model()->Row(index.row()).strName);
        aNames.sort();
        return aNames;
    }

private slots:
    void initTestCase()
    {
        // A zone east of UTC with no daylight saving, so that local time is tested but
        // known: the texts below are its wall-clock times.
        qputenv("TZ", "JST-9");
        tzset();
        // The lists collate names in the user's locale; Japanese users are the ones who matter.
        QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_dlg = WindowFixture::open(m_appDir.path(), {}, true);
        QVERIFY(m_dlg);
    }
    void cleanup()
    {
        m_dlg.reset();
        QDir::setCurrent(QDir::tempPath());
        m_dir.reset();
    }

    void insertThousandsSeparators_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("expected");
        QTest::newRow("three digits") << u"999"_s << u"999"_s;
        QTest::newRow("above 32 bits") << u"4294967296"_s << u"4,294,967,296"_s;
        QTest::newRow("no comma after the sign") << u"-123456"_s << u"-123,456"_s;
        QTest::newRow("fraction digits not grouped") << u"1234.56789"_s << u"1,234.56789"_s;
        QTest::newRow("leading blanks not counted") << u"   1234"_s << u"   1,234"_s;
        QTest::newRow("empty") << QString() << QString();
    }
    void insertThousandsSeparators()
    {
        QFETCH(QString, number);
        QFETCH(QString, expected);
        InsertThousandsSeparators(number);
        QCOMPARE(number, expected);
    }

    // Both lists start sorted by name; a text its column cuts short shows whole as a tooltip, as
    // two names that differ only at the end would look alike.
    void columnsShowTheirTexts()
    {
        const QString strLong = QString(60, u'図') + u"-A.dxf"_s;
        QVERIFY(makeFile(path(strLong), 9999999999999LL));
        QVERIFY(makeFile(path(u"a.dxf"_s)));
        for (const Side side : {Side::Source, Side::Target}) {
            fill(side, path());
            QCOMPARE(pane(side).nSortColumn, 0);
            QCOMPARE(pane(side).anSortDir[0], 1);
        }
        QCOMPARE(names(Side::Source), (QStringList {u"a.dxf"_s, strLong}));
        QCOMPARE(cell(Side::Source, strLong, 1), u"9,999,999,999,999"_s);
        const auto tooltip = [this](int nRow, int nColumn) {
            QTreeView *pList = list(Side::Source);
            const QRect rc = pList->visualRect(m_dlg->m_src.Model()->index(nRow, nColumn));
            QHelpEvent event(QEvent::ToolTip, rc.center(),
                             pList->viewport()->mapToGlobal(rc.center()));
            QApplication::sendEvent(pList->viewport(), &event);
            return QToolTip::isVisible() ? QToolTip::text() : QString();
        };
        QCOMPARE(tooltip(0, 0), QString());
        QCOMPARE(tooltip(1, 1), u"9,999,999,999,999"_s);
        QCOMPARE(tooltip(1, 0), strLong);
    }

    // Names in the C locale, which has no collation of its own: still in linguistic order.
    void nameOrderInTheCLocale()
    {
        QLocale::setDefault(QLocale::c());
        for (const QString &name : {u"図面.dxf"_s, u"b.dxf"_s, u"B.dxf"_s, u"a.dxf"_s})
            QVERIFY(makeFile(path(name)));
        fill(Side::Source, path());
        const QStringList aNames = names(Side::Source);
        QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
        QCOMPARE(aNames, (QStringList {u"a.dxf"_s, u"b.dxf"_s, u"B.dxf"_s, u"図面.dxf"_s}));
    }

    void listingRules_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("listed");
        QTest::newRow("extension case ignored") << u"図面 1.Dxf"_s << u"file"_s << true;
        QTest::newRow("hidden") << u".plan.dxf"_s << u"file"_s << false;
        QTest::newRow("directory") << u"x.DXF"_s << u"dir"_s << false;
        QTest::newRow("link to a directory") << u"y.dxf"_s << u"linkdir"_s << false;
        QTest::newRow("dangling link") << u"gone.dxf"_s << u"dangling"_s << false;
        QTest::newRow("link to a file") << u"z.dxf"_s << u"linkfile"_s << true;
        QTest::newRow("extension not last") << u"x.dxf.bak"_s << u"file"_s << false;
        QTest::newRow("extension without a dot") << u"plandxf"_s << u"file"_s << false;
    }
    void listingRules()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(bool, listed);
        // The target of a link lies elsewhere and carries its own size and time.
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(u"target.bin"_s);
        QVERIFY(makeFile(target, 1234, 2219868480));
        QVERIFY(QDir().mkdir(elsewhere.filePath(u"folder"_s)));
        if (kind == u"file"_s)
            QVERIFY(makeFile(path(name), 7));
        else if (kind == u"dir"_s)
            QVERIFY(QDir().mkdir(path(name)));
        else if (kind == u"linkdir"_s)
            QVERIFY(QFile::link(elsewhere.filePath(u"folder"_s), path(name)));
        else if (kind == u"linkfile"_s)
            QVERIFY(QFile::link(target, path(name)));
        else if (kind == u"dangling"_s)
            QVERIFY(QFile::link(elsewhere.filePath(u"nothing"_s), path(name)));
        // A file that always matches, so a listing that shows nothing at all is caught too.
        QVERIFY(makeFile(path(u"control.dxf"_s)));

        fill(Side::Source, path());
        QCOMPARE(names(Side::Source).contains(name), listed);
        QCOMPARE(names(Side::Source).size(), listed ? 2 : 1);
        QCOMPARE(text(IDC_SRC_COUNT), fileCountText(listed ? 2 : 1));
        if (kind == u"linkfile"_s) {
            QCOMPARE(cell(Side::Source, name, 1), u"1,234"_s);
            QCOMPARE(cell(Side::Source, name, 2), u"2040/05/06 07:08"_s);
        }
    }

    void timeText_data()
    {
        QTest::addColumn<qint64>("modified");
        QTest::addColumn<QString>("expected");
        QTest::newRow("seconds dropped") << qint64(1160368440 + 59) << u"2006/10/09 13:34"_s;
        QTest::newRow("date changes with the zone") << qint64(1136041140) << u"2005/12/31 23:59"_s;
        QTest::newRow("after 2038") << qint64(2219868480) << u"2040/05/06 07:08"_s;
        QTest::newRow("before 1970") << qint64(-152423640) << u"1965/03/04 05:06"_s;
    }
    void timeText()
    {
        QFETCH(qint64, modified);
        QFETCH(QString, expected);
        QVERIFY(makeFile(path(u"a.dxf"_s), 1, modified));
        fill(Side::Source, path());
        QCOMPARE(cell(Side::Source, u"a.dxf"_s, 2), expected);
    }

    void folderForm_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::newRow("as given") << QString();
        QTest::newRow("trailing separator") << u"/"_s;
        QTest::newRow("relative part") << u"/sub/.."_s;
    }
    void folderForm()
    {
        QFETCH(QString, suffix);
        QVERIFY(QDir().mkdir(path(u"sub"_s)));
        QVERIFY(makeFile(path(u"a.dxf"_s)));
        fill(Side::Source, path() + suffix);
        QCOMPARE(pane(Side::Source).strFolder, QFileInfo(path()).canonicalFilePath());
        QCOMPARE(QDir::currentPath(), pane(Side::Source).strFolder);
        QCOMPARE(names(Side::Source), QStringList {u"a.dxf"_s});
    }

    void countLines_data()
    {
        QTest::addColumn<Side>("side");
        QTest::addColumn<int>("countId");
        QTest::addColumn<int>("selectedId");
        QTest::addColumn<int>("otherSelectedId");
        QTest::newRow("source") << Side::Source << IDC_SRC_COUNT << IDC_SRC_SELECTED
                                << IDC_DST_SELECTED;
        QTest::newRow("target") << Side::Target << IDC_DST_COUNT << IDC_DST_SELECTED
                                << IDC_SRC_SELECTED;
    }
    void countLines()
    {
        QFETCH(Side, side);
        QFETCH(int, countId);
        QFETCH(int, selectedId);
        QFETCH(int, otherSelectedId);
        // An empty folder: 0 files and an empty selection line.
        fill(side, path());
        QCOMPARE(text(countId), fileCountText(0));
        QCOMPARE(text(selectedId), QString());

        for (const QString &name : {u"a.dxf"_s, u"b.dxf"_s, u"c.dxf"_s})
            QVERIFY(makeFile(path(name)));
        fill(side, path());
        QCOMPARE(text(countId), fileCountText(3));
        select(side, {u"a.dxf"_s, u"c.dxf"_s});
        QCOMPARE(text(selectedId), u"2 個のﾌｧｲﾙを選択 "_s);
        // The other pane's lines belong to the other pane.
        QCOMPARE(text(otherSelectedId), QString());

        // A fresh listing selects nothing.
        fill(side, path());
        QCOMPARE(text(selectedId), QString());

        // An empty extension empties the list but leaves both lines and the sort alone.
        select(side, {u"b.dxf"_s});
        pane(side).nSortColumn = 2;
        pane(side).anSortDir[0] = 1;
        pane(side).anSortDir[2] = 1;
        m_dlg->FillFileList(pane(side).strFolder, QString(), side == Side::Source ? 1 : 2);
        QCOMPARE(pane(side).Model()->rowCount(), 0);
        QCOMPARE(text(countId), fileCountText(3));
        QCOMPARE(text(selectedId), u"1 個のﾌｧｲﾙを選択 "_s);
        QCOMPARE(pane(side).nSortColumn, 2);
        QCOMPARE(pane(side).anSortDir[0], 1);
        QCOMPARE(pane(side).anSortDir[2], 1);
    }

    void removedFolder()
    {
        // The target pane lists its folder last, so that folder is the current directory when
        // the source pane's folder has gone.
        const QString gone = path(u"gone"_s);
        const QString other = path(u"other"_s);
        QVERIFY(QDir().mkdir(gone));
        QVERIFY(QDir().mkdir(other));
        QVERIFY(makeFile(gone + u"/mine.dxf"_s));
        QVERIFY(makeFile(other + u"/theirs.dxf"_s));
        fill(Side::Source, gone);
        QCOMPARE(names(Side::Source), QStringList {u"mine.dxf"_s});
        const QString strGone = pane(Side::Source).strFolder;
        fill(Side::Target, other);
        QVERIFY(QDir(gone).removeRecursively());

        fill(Side::Source, strGone);
        QCOMPARE(names(Side::Source), QStringList());
        QCOMPARE(pane(Side::Source).strFolder, strGone);
        QCOMPARE(text(IDC_SRC_COUNT), fileCountText(0));
        QCOMPARE(text(IDC_SRC_SELECTED), QString());
        QCOMPARE(names(Side::Target), QStringList {u"theirs.dxf"_s});
    }

    void sortOrder_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("ascending");
        // name, size, time; created in this order, which the listing sorts by name first.
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QList<qint64>>("sizes");
        QTest::addColumn<QList<qint64>>("times");
        QTest::addColumn<QStringList>("expected");

        const QStringList names = {u"図面.dxf"_s, u"b.dxf"_s, u"B.dxf"_s, u"a.dxf"_s};
        const QList<qint64> none = {0, 0, 0, 0};
        QTest::newRow("name ascending: lower case first only on a tie, Latin before kanji")
            << 0 << true << names << none << none
            << QStringList {u"a.dxf"_s, u"b.dxf"_s, u"B.dxf"_s, u"図面.dxf"_s};
        QTest::newRow("name descending")
            << 0 << false << names << none << none
            << QStringList {u"図面.dxf"_s, u"B.dxf"_s, u"b.dxf"_s, u"a.dxf"_s};

        // As texts "999" > "12,345" > "1,000"; the column sorts by number.
        const QStringList sized = {u"s1.dxf"_s, u"s2.dxf"_s, u"s3.dxf"_s};
        QTest::newRow("size ascending")
            << 1 << true << sized << QList<qint64> {12345, 999, 1000} << QList<qint64> {0, 0, 0}
            << QStringList {u"s2.dxf"_s, u"s3.dxf"_s, u"s1.dxf"_s};
        QTest::newRow("equal sizes keep their order")
            << 1 << true << sized << QList<qint64> {1000, 5, 1000} << QList<qint64> {0, 0, 0}
            << QStringList {u"s2.dxf"_s, u"s1.dxf"_s, u"s3.dxf"_s};

        // 2006/10/09 13:34, 2006/01/05 09:00, 2005/12/31 23:59
        const QList<qint64> months = {1160368440, 1136419200, 1136041140};
        QTest::newRow("time ascending across months and years")
            << 2 << true << sized << none.mid(0, 3) << months
            << QStringList {u"s3.dxf"_s, u"s2.dxf"_s, u"s1.dxf"_s};
        // s1 and s2 changed within one minute: equal, whichever second.
        QTest::newRow("same minute descending keeps the order")
            << 2 << false << sized << none.mid(0, 3)
            << QList<qint64> {1160368440 + 5, 1160368440 + 50, 1160368440 + 61}
            << QStringList {u"s3.dxf"_s, u"s1.dxf"_s, u"s2.dxf"_s};
    }
    void sortOrder()
    {
        QFETCH(int, column);
        QFETCH(bool, ascending);
        QFETCH(QStringList, files);
        QFETCH(QList<qint64>, sizes);
        QFETCH(QList<qint64>, times);
        QFETCH(QStringList, expected);
        for (qsizetype i = 0; i < files.size(); ++i)
            QVERIFY(makeFile(path(files[i]), sizes[i], times[i] ? times[i] : 1160368440));
        fill(Side::Source, path());
        QCOMPARE(names(Side::Source).size(), files.size());

        int *anSortDir = pane(Side::Source).anSortDir;
        std::fill(anSortDir, anSortDir + 3, 1);
        anSortDir[column] = ascending ? 1 : 0;
        pane(Side::Source).SortFileList(column);
        QCOMPARE(names(Side::Source), expected);
        for (int j = 0; j < 3; ++j)
            QCOMPARE(anSortDir[j], j == column ? (ascending ? 1 : 0) : 0);
    }

    void largeListingSortsInOrder_data()
    {
        QTest::addColumn<int>("listedBy");
        QTest::addColumn<bool>("ascending");
        // Listed by name, the rows come with their keys; re-sorted by size, the keys must move
        // with their rows. Listed by size, the keys are made by the later sort by name.
        QTest::newRow("listed by name, descending") << 0 << false;
        QTest::newRow("listed by size, then by name ascending") << 1 << true;
    }
    void largeListingSortsInOrder()
    {
        // Enough rows for the work to be split; the parts must merge into one order.
        QFETCH(int, listedBy);
        QFETCH(bool, ascending);
        const QStringList stems = {u"plan"_s, u"Plan"_s, u"図面"_s, u"b-"_s, u"B_"_s, u"ｻ"_s};
        const int nFiles = 6000;
        for (int i = 0; i < nFiles; ++i) {
            const QString name
                = u"%1%2.dxf"_s.arg(stems[i % stems.size()]).arg((i * 7919) % nFiles);
            QVERIFY(makeFile(path(name), (i * 104729) % 5000));
        }
        QVERIFY(makeFile(path(u"other.jww"_s)));
        pane(Side::Source).nSortColumn = listedBy;
        pane(Side::Source).anSortDir[listedBy] = 1;
        fill(Side::Source, path());
        QCOMPARE(names(Side::Source).size(), nFiles);
        pane(Side::Source).anSortDir[1] = 1;
        pane(Side::Source).SortFileList(1);
        pane(Side::Source).anSortDir[0] = ascending ? 1 : 0;
        pane(Side::Source).SortFileList(0);

        const QStringList aNames = names(Side::Source);
        QCollator collator {QLocale()};
        for (qsizetype i = 1; i < aNames.size(); ++i) {
            const int nCompare = collator.compare(aNames[i - 1], aNames[i]);
            QVERIFY2(ascending ? nCompare < 0 : nCompare > 0,
                     qPrintable(aNames[i - 1] + u" / "_s + aNames[i]));
        }
    }

    void selectionKeptThroughSort()
    {
        const QList<std::pair<QString, qint64>> files
            = {{u"a.dxf"_s, 50}, {u"b.dxf"_s, 40}, {u"c.dxf"_s, 30}, {u"d.dxf"_s, 20}};
        for (const auto &[name, size] : files)
            QVERIFY(makeFile(path(name), size));
        fill(Side::Source, path());
        select(Side::Source, {u"a.dxf"_s, u"c.dxf"_s});
        const QModelIndex current
            = m_dlg->m_src.Model()->index(int(names(Side::Source).indexOf(u"c.dxf"_s)), 0);
        list(Side::Source)
            ->selectionModel()
            ->setCurrentIndex(current, QItemSelectionModel::NoUpdate);

        pane(Side::Source).anSortDir[1] = 1;
        pane(Side::Source).SortFileList(1);
        QCOMPARE(names(Side::Source),
                 (QStringList {u"d.dxf"_s, u"c.dxf"_s, u"b.dxf"_s, u"a.dxf"_s}));
        QCOMPARE(selectedNames(Side::Source), (QStringList {u"a.dxf"_s, u"c.dxf"_s}));
        QCOMPARE(list(Side::Source)->selectionModel()->currentIndex().row(), 1);
        QCOMPARE(text(IDC_SRC_SELECTED), u"2 個のﾌｧｲﾙを選択 "_s);
    }

    // A drawing added, removed, renamed or changed on disk shows in the list by itself, however
    // many changed at once in one listing, keeping the selection, the sort and the marks of
    // automatic mode; other files and hidden ones are not listed.
    void listFollowsTheDisk_data()
    {
        QTest::addColumn<QString>("change"); // +name: written, -name: removed, name>name: renamed
        QTest::addColumn<QString>("expected"); // listed, still by size; selected ones in brackets
        QTest::newRow("added") << u"+e.dxf"_s << u"a [b] e c [d]"_s;
        QTest::newRow("renamed") << u"b.dxf>f.dxf"_s << u"a f c [d]"_s;
        QTest::newRow("changed") << u"+a.dxf"_s << u"[b] a c [d]"_s;
        QTest::newRow("many at once")
            << u"+x1.dxf +x2.dxf +x3.DXF +x.txt +.y.dxf -a.dxf"_s << u"[b] x1 x2 x3 c [d]"_s;
    }
    void listFollowsTheDisk()
    {
        QFETCH(QString, change);
        QFETCH(QString, expected);
        const QString dst = path(u"dst"_s);
        QVERIFY(QDir().mkdir(dst));
        for (const QChar c : u"abcd"_s)
            QVERIFY(makeFile(path(c + u".dxf"_s), 100 * (c.unicode() - 'a' + 1)));
        m_dlg = WindowFixture::open(
            m_appDir.path(), WindowFixture::settings(0, u"DXF"_s, path(), u"PDF"_s, dst), true);
        QVERIFY(m_dlg);
        QSignalSpy marked(m_dlg->m_pPreview, &ConversionPreview::marksApplied);
        QVERIFY(marked.wait());
        m_dlg->OnColumnclickSrcList(FileListModel::SizeColumn);
        select(Side::Source, {u"b.dxf"_s, u"d.dxf"_s});
        const QStringList aBefore = names(Side::Source);
        QStringList aUnmarked; // names listed before that lost their marks when listed again
        QSignalSpy listed(&m_dlg->m_src, &Pane::listed);
        connect(&m_dlg->m_src, &Pane::listed, this, [&] {
            for (int i = 0; i < m_dlg->m_src.Model()->rowCount(); ++i)
                if (!m_dlg->m_src.Model()->IsMarked(i) && aBefore.contains(names(Side::Source)[i]))
                    aUnmarked << names(Side::Source).at(i);
        });

        for (const QString &step : change.split(u' ')) {
            const QString name = step.mid(1);
            if (step.startsWith(u'+'))
                QVERIFY(makeFile(path(name), 250 + change.indexOf(step)));
            else if (step.startsWith(u'-'))
                QVERIFY(QFile::remove(path(name)));
            else
                QVERIFY(QFile::rename(path(step.section(u'>', 0, 0)), path(step.section(u'>', 1))));
        }
        const auto shown = [this] {
            QStringList aShown;
            for (const QString &name : names(Side::Source))
                aShown << (selectedNames(Side::Source).contains(name)
                               ? u'[' + QFileInfo(name).baseName() + u']'
                               : QFileInfo(name).baseName());
            return aShown.join(u' ');
        };
        QTRY_COMPARE_WITH_TIMEOUT(shown(), expected, 1000);
        QCOMPARE(listed.count(), 1);
        QCOMPARE(aUnmarked, QStringList());
        QTRY_COMPARE(marked.count(), 2);
        for (int i = 0; i < m_dlg->m_src.Model()->rowCount(); ++i)
            QVERIFY(m_dlg->m_src.Model()->IsMarked(i));
    }

    void oneIconPerExtension()
    {
        QVERIFY(makeFile(path(u"a.dxf"_s)));
        QVERIFY(makeFile(path(u"b.DXF"_s)));
        fill(Side::Source, path());
        const FileListModel *model = m_dlg->m_src.Model();
        const QIcon first = model->index(0, 0).data(Qt::DecorationRole).value<QIcon>();
        const QIcon second = model->index(1, 0).data(Qt::DecorationRole).value<QIcon>();
        QVERIFY(!first.isNull());
        QCOMPARE(second.cacheKey(), first.cacheKey());
        QVERIFY(!model->index(0, 1).data(Qt::DecorationRole).isValid());
    }
};

NORVALE_TEST_MAIN(TestListing)
#include "tst_listing.moc"
