#include "app/CConverterDlg.h"
#include "app/ConversionPreview.h"
#include "panes/FileListModel.h"
#include "tests/TestEnvironment.h"
#include "tests/norvale/WindowFixture.h"

#include <QToolTip>
#include <QTreeView>

#include <ctime>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

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

} // namespace

class TestListing : public QObject
{
    Q_OBJECT

    std::unique_ptr<CConverterDlg> m_dlg;
    std::unique_ptr<QTemporaryDir> m_dir;
    QTemporaryDir m_appDir;

    QString path(const QString &name = QString()) const
    {
        return name.isEmpty() ? m_dir->path() : m_dir->filePath(name);
    }
    Pane &source() const { return m_dlg->m_src; }
    QTreeView *list() const { return source().GetControls().pList; }
    // Lists strFolder into the source side as the window does.
    void fill(Side side, const QString &strFolder)
    {
        Pane &pane = WindowFixture::pane(*m_dlg, side);
        pane.strFolder = strFolder;
        m_dlg->FillFileList(pane.strFolder, u"DXF"_s, side == Side::Source ? 1 : 2);
    }
    QStringList names(Side side = Side::Source) const
    {
        return WindowFixture::listed(*m_dlg, side);
    }
    QString cell(const QString &name, int nColumn) const
    {
        const int nRow = int(names().indexOf(name));
        return nRow < 0 ? u"(not listed)"_s
                        : source().Model()->index(nRow, nColumn).data().toString();
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

    // What a folder entry lists as, beside a file that always does; a link lists with what it
    // points to, which lies elsewhere. Which names list is the folder scan fuzzer's to check.
    void listing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("modified");
        QTest::addColumn<QString>("sizeText"); // empty: not listed
        QTest::addColumn<QString>("timeText");
        const qint64 t = 1160368440;
        QTest::newRow("extension case ignored, seconds dropped")
            << u"図面 1.Dxf"_s << u"file"_s << 7LL << t + 59 << u"7"_s << u"2006/10/09 13:34"_s;
        QTest::newRow("above 32 bits, date changes with the zone")
            << u"big.dxf"_s << u"file"_s << 4294967296LL << 1136041140LL << u"4,294,967,296"_s
            << u"2005/12/31 23:59"_s;
        QTest::newRow("13 digits, before 1970")
            << u"old.dxf"_s << u"file"_s << 9999999999999LL << -152423640LL
            << u"9,999,999,999,999"_s << u"1965/03/04 05:06"_s;
        QTest::newRow("link to a file, after 2038")
            << u"z.dxf"_s << u"linkfile"_s << 1234LL << 2219868480LL << u"1,234"_s
            << u"2040/05/06 07:08"_s;
        QTest::newRow("directory") << u"x.DXF"_s << u"dir"_s << 0LL << t << QString() << QString();
        QTest::newRow("link to a directory")
            << u"y.dxf"_s << u"linkdir"_s << 0LL << t << QString() << QString();
        QTest::newRow("dangling link")
            << u"gone.dxf"_s << u"dangling"_s << 0LL << t << QString() << QString();
    }
    void listing()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(qint64, size);
        QFETCH(qint64, modified);
        QFETCH(QString, sizeText);
        QFETCH(QString, timeText);
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(u"target.bin"_s);
        QVERIFY(makeFile(target, size, modified));
        QVERIFY(QDir().mkdir(elsewhere.filePath(u"folder"_s)));
        if (kind == u"file"_s)
            QVERIFY(makeFile(path(name), size, modified));
        else if (kind == u"dir"_s)
            QVERIFY(QDir().mkdir(path(name)));
        else
            QVERIFY(QFile::link(elsewhere.filePath(kind == u"linkfile"_s      ? u"target.bin"_s
                                                       : kind == u"linkdir"_s ? u"folder"_s
                                                                              : u"nothing"_s),
                                path(name)));
        QVERIFY(makeFile(path(u"control.dxf"_s)));

        fill(Side::Source, path());
        const bool bListed = !sizeText.isEmpty();
        QCOMPARE(names().contains(name), bListed);
        QCOMPARE(names().size(), bListed ? 2 : 1);
        QCOMPARE(m_dlg->GetDlgItemText(IDC_SRC_COUNT), u"ﾌｧｲﾙ数 : %1 "_s.arg(names().size()));
        if (bListed) {
            QCOMPARE(cell(name, 1), sizeText);
            QCOMPARE(cell(name, 2), timeText);
        }
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
    // In the C locale too, which has no collation of its own: names still in linguistic order.
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
        for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::Japanese, QLocale::Japan)}) {
            QLocale::setDefault(locale);
            source().nSortColumn = 0;
            source().anSortDir[0] = 1;
            fill(Side::Source, path());
            QCOMPARE(names().size(), files.size());
            int *anSortDir = source().anSortDir;
            std::fill(anSortDir, anSortDir + 3, 1);
            anSortDir[column] = ascending ? 1 : 0;
            source().SortFileList(column);
            QCOMPARE(names(), expected);
            for (int j = 0; j < 3; ++j)
                QCOMPARE(anSortDir[j], j == column ? (ascending ? 1 : 0) : 0);
        }
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
        QVERIFY(QDir().mkdir(path(u"dst"_s)));
        for (const QChar c : u"abcd"_s)
            QVERIFY(makeFile(path(c + u".dxf"_s), 100 * (c.unicode() - 'a' + 1)));
        m_dlg = WindowFixture::open(
            m_appDir.path(), WindowFixture::settings(0, u"DXF"_s, path(), u"PDF"_s, path(u"dst"_s)),
            true);
        QVERIFY(m_dlg);
        QSignalSpy marked(m_dlg->m_pPreview, &ConversionPreview::marksApplied);
        QVERIFY(marked.wait());
        m_dlg->OnColumnclickSrcList(FileListModel::SizeColumn);
        WindowFixture::select(*m_dlg, Side::Source, {1, 3});
        const QStringList aBefore = names();
        QStringList aUnmarked; // names listed before that lost their marks when listed again
        QSignalSpy listed(&source(), &Pane::listed);
        connect(&source(), &Pane::listed, this, [&] {
            for (int i = 0; i < source().Model()->rowCount(); ++i)
                if (!source().Model()->IsMarked(i) && aBefore.contains(names().at(i)))
                    aUnmarked << names().at(i);
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
            for (int i = 0; i < names().size(); ++i) {
                const QString name = QFileInfo(names().at(i)).baseName();
                aShown << (list()->selectionModel()->isRowSelected(i) ? u'[' + name + u']' : name);
            }
            return aShown.join(u' ');
        };
        QTRY_COMPARE_WITH_TIMEOUT(shown(), expected, 1000);
        QCOMPARE(listed.count(), 1);
        QCOMPARE(aUnmarked, QStringList());
        QTRY_COMPARE(marked.count(), 2);
        for (int i = 0; i < source().Model()->rowCount(); ++i)
            QVERIFY(source().Model()->IsMarked(i));
    }
};

NORVALE_TEST_MAIN(TestListing)
#include "tst_listing.moc"
