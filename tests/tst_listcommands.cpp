#include "app/CConverterDlg.h"
#include "panes/FileListHeader.h"
#include "panes/FileListModel.h"
#include "tests/FakeDesktop.h"
#include "tests/TestEnvironment.h"
#include "tests/WindowFixture.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QString trashInfoFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Trash/info"_s;
}

// Paths recorded in the trash's .trashinfo files, decoded.
QStringList trashedPaths()
{
    QStringList paths;
    const QDir info(trashInfoFolder());
    for (const QString &name : info.entryList({u"*.trashinfo"_s}, QDir::Files)) {
        const QByteArray text = TestEnvironment::readFile(info.filePath(name));
        for (const QByteArray &line : text.split('\n'))
            if (line.startsWith("Path="))
                paths << QUrl::fromPercentEncoding(line.mid(5));
    }
    paths.sort();
    return paths;
}

} // namespace

class TestListCommands : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QDir(trashInfoFolder() + u"/.."_s).removeRecursively();
        m_folder = std::make_unique<QTemporaryDir>();
        for (const QString &name : {u"a.tsk"_s, u"b.tsk"_s, u"c.tsk"_s, u"d.tsk"_s, u"e|f.tsk"_s})
            QVERIFY(TestEnvironment::writeFile(path(name), name.toUtf8()));
        QVERIFY(TestEnvironment::writeFile(path(u"g.sfc"_s), "target"));
        m_dlg = WindowFixture::open(m_appDir.path(), {}, true);
        QVERIFY(m_dlg);
        m_dlg->SetSrcFolder(m_folder->path());
        QCOMPARE(model()->rowCount(), 5);
        m_pDesktop = std::make_unique<FakeDesktop>();
        m_pDesktop->fnAnswer = [this](const FakeDesktop::Message &message) {
            if (message.buttons & QMessageBox::Yes) {
                m_noWasDefault = message.defaultButton == QMessageBox::No;
                return m_answer;
            }
            return QMessageBox::Ok;
        };
    }
    void cleanup()
    {
        m_dlg.reset();
        m_pDesktop.reset();
    }

    // One question for the selection, the default answer No; what could not be trashed stays
    // and is named; a declined question trashes nothing, and nothing is asked without a selection.
    void deleteSelected_data()
    {
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("vanished"); // removed behind the list's back
        QTest::addColumn<QString>("question"); // a text the question holds; empty: no question
        QTest::addColumn<QStringList>("trashed");
        QTest::addColumn<QStringList>("left");
        const QStringList all = {u"a.tsk"_s, u"b.tsk"_s, u"c.tsk"_s, u"d.tsk"_s, u"e|f.tsk"_s};
        QTest::newRow("several") << QList<int> {0, 2, 4} << true << QString() << u" 3 個"_s
                                 << QStringList {u"a.tsk"_s, u"c.tsk"_s, u"e|f.tsk"_s}
                                 << QStringList {u"b.tsk"_s, u"d.tsk"_s};
        QTest::newRow("one, named") << QList<int> {4} << true << QString() << u"'e|f.tsk'"_s
                                    << QStringList {u"e|f.tsk"_s} << all.mid(0, 4);
        QTest::newRow("declined") << QList<int> {1, 3} << false << QString() << u" 2 個"_s
                                  << QStringList() << all;
        QTest::newRow("one gone meanwhile")
            << QList<int> {1, 3} << true << u"d.tsk"_s << u" 2 個"_s << QStringList {u"b.tsk"_s}
            << QStringList {u"a.tsk"_s, u"c.tsk"_s, u"e|f.tsk"_s};
        QTest::newRow("nothing selected")
            << QList<int>() << true << QString() << QString() << QStringList() << all;
    }
    void deleteSelected()
    {
        QFETCH(QList<int>, rows);
        QFETCH(bool, yes);
        QFETCH(QString, vanished);
        QFETCH(QString, question);
        QFETCH(QStringList, trashed);
        QFETCH(QStringList, left);
        m_answer = yes ? QMessageBox::Yes : QMessageBox::No;
        select(rows);
        if (!vanished.isEmpty())
            QVERIFY(QFile::remove(path(vanished)));
        QSignalSpy relisted(model(), &QAbstractItemModel::modelReset);
        // From the list's own menu, as a user deletes.
        QTimer::singleShot(0, this, [] {
            QPointer<QWidget> menu = QApplication::activePopupWidget();
            if (menu)
                QTest::keyClick(menu, Qt::Key_D);
            // Without a selection the item is greyed and the key does nothing.
            if (menu && menu->isVisible())
                menu->close();
        });
        m_dlg->m_lcSrcFiles->customContextMenuRequested(QPoint(5, 5));

        const QStringList texts = m_pDesktop->Texts();
        QCOMPARE(texts.size(), question.isEmpty() ? 0 : vanished.isEmpty() ? 1 : 2);
        QCOMPARE(relisted.count() > 0, !rows.isEmpty());
        if (!question.isEmpty()) {
            QVERIFY2(texts.first().contains(question), qPrintable(texts.first()));
            QVERIFY(m_noWasDefault);
        }
        if (!vanished.isEmpty()) {
            QVERIFY(texts.at(1).contains(path(vanished)));
            QVERIFY(!texts.at(1).contains(path(trashed.first())));
        }
        QCOMPARE(names(), left);
        QStringList expected;
        for (const QString &name : std::as_const(trashed))
            expected << path(name);
        QCOMPARE(trashedPaths(), expected);
        if (trashed.size() < 3)
            return;
        // An outside reader of the trash agrees.
        QProcess trashList;
        trashList.start(u"trash-list"_s, {});
        if (!trashList.waitForStarted())
            QSKIP("trash-list (trash-cli) is not installed");
        QVERIFY(trashList.waitForFinished(30000));
        const QString listed = QString::fromUtf8(trashList.readAllStandardOutput());
        for (const QString &name : std::as_const(trashed))
            QVERIFY2(listed.contains(path(name)), qPrintable(listed));
        QVERIFY(!listed.contains(path(u"b.tsk"_s)));
    }

    void writeProtectedFolderKeepsItsFiles()
    {
        if (::geteuid() == 0)
            QSKIP("root may remove files from any folder");
        m_answer = QMessageBox::Yes;
        QFile::setPermissions(m_folder->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        select({0});
        m_dlg->OnDeleteSrcFiles();
        QFile::setPermissions(m_folder->path(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                  | QFileDevice::ExeOwner);
        QCOMPARE(m_pDesktop->Texts().size(), 2);
        QVERIFY(m_pDesktop->Texts().at(1).contains(path(u"a.tsk"_s)));
        QVERIFY(QFile::exists(path(u"a.tsk"_s)));
    }

    void rawNames_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("encoded"); // in the URL and the trash record
        QTest::newRow("Shift-JIS") << QByteArray("\x93\xfa\x96\x7b.tsk") << u"日本.tsk"_s
                                   << QByteArray("%93%FA%96%7B.tsk");
        QTest::newRow("neither UTF-8 nor Shift-JIS")
            << QByteArray("\xff\xfe.tsk") << u"\ufffd\ufffd.tsk"_s << QByteArray("%FF%FE.tsk");
        QTest::newRow("look-alike")
            << QByteArray("\xef\xbf\xbd\xef\xbf\xbd.tsk") << u"\ufffd\ufffd.tsk"_s
            << QByteArray("%EF%BF%BD%EF%BF%BD.tsk");
    }

    // Names that are not UTF-8 are shown readably, and opening or deleting one acts on exactly
    // that file, never on the look-alike that is really named with the replacement characters.
    void rawNames()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, shown);
        QFETCH(QByteArray, encoded);
        const QByteArray folder = QFile::encodeName(m_folder->path()) + '/';
        const QList<QByteArray> all
            = {"\x93\xfa\x96\x7b.tsk", "\xff\xfe.tsk", "\xef\xbf\xbd\xef\xbf\xbd.tsk"};
        for (const QByteArray &file : all) {
            const int fd = ::open((folder + file).constData(), O_WRONLY | O_CREAT, 0600);
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        m_dlg->OnRefreshSrc();
        int nRow = -1;
        for (int i = 0; i < model()->rowCount(); ++i) {
            if (model()->Row(i).RawName() == name)
                nRow = i;
        }
        QVERIFY(nRow >= 0);
        QCOMPARE(model()->Row(nRow).strName, shown);
        QCOMPARE(model()->data(model()->index(nRow, 0)).toString(), shown);

        select({nRow});
        m_dlg->OnDblclkSrcList();
        const QList<QUrl> &opened = m_pDesktop->aOpened;
        QCOMPARE(opened.size(), 1);
        QVERIFY2(opened.first().toEncoded().endsWith('/' + encoded), opened.first().toEncoded());

        m_answer = QMessageBox::Yes;
        select({nRow});
        m_dlg->OnDeleteSrcFiles();
        QCOMPARE(m_pDesktop->Texts().size(), 1);
        QVERIFY(m_pDesktop->Texts().first().contains(shown));
        for (const QByteArray &file : all)
            QCOMPARE(::access((folder + file).constData(), F_OK) == 0, file != name);
        // The record's own name holds the raw bytes as well, which QDir can neither list nor
        // remove.
        const QByteArray info = QFile::encodeName(trashInfoFolder()) + '/';
        const QByteArray wanted
            = "Path=" + QUrl::toPercentEncoding(m_folder->path(), "/") + '/' + encoded + '\n';
        int nRecords = 0;
        DIR *dir = ::opendir(info.constData());
        QVERIFY(dir);
        while (const dirent *entry = ::readdir(dir)) {
            char text[512] = {};
            const int fd = ::open((info + entry->d_name).constData(), O_RDONLY);
            if (fd >= 0 && ::read(fd, text, sizeof text - 1) > 0
                && QByteArray(text).contains(wanted))
                ++nRecords;
            if (fd >= 0)
                ::close(fd);
        }
        ::closedir(dir);
        QCOMPARE(nRecords, 1);
        QCOMPARE(QProcess::execute(u"rm"_s, {u"-rf"_s, QFileInfo(trashInfoFolder()).path()}), 0);
    }

    void openTheFirstSelectedRow()
    {
        m_pDesktop->fnOpen = [](const QUrl &url) {
            return url.fileName() != u"d.tsk"_s;
        };
        const QList<QUrl> &opened = m_pDesktop->aOpened;
        // A double click on the row, as a user opens it; the first selected row opens.
        select({3, 1});
        QWidget *viewport = m_dlg->m_lcSrcFiles->viewport();
        const QPoint row3 = m_dlg->m_lcSrcFiles->visualRect(model()->index(3, 0)).center();
        QTest::mouseDClick(viewport, Qt::LeftButton, Qt::ControlModifier, row3);
        QTRY_COMPARE(opened, QList<QUrl> {QUrl::fromLocalFile(path(u"b.tsk"_s))});
        QVERIFY(m_pDesktop->Texts().isEmpty());
        select({3});
        m_dlg->OnDblclkSrcList();
        QCOMPARE(m_pDesktop->Texts().size(), 1); // the failure is reported, naming the file
        QVERIFY(m_pDesktop->Texts().first().contains(path(u"d.tsk"_s)));
    }

    void menuGreying_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<bool>("emptyList");
        QTest::addColumn<bool>("selection");
        QTest::addColumn<bool>("deleteEnabled");
        QTest::addColumn<bool>("selectAllEnabled");
        QTest::newRow("rows, no selection") << 1 << false << false << false << true;
        QTest::newRow("rows and a selection") << 1 << false << true << true << true;
        QTest::newRow("empty list") << 1 << true << false << false << false;
        QTest::newRow("target with rows, source empty") << 2 << false << false << false << true;
    }
    void menuGreying()
    {
        QFETCH(int, side);
        QFETCH(bool, emptyList);
        QFETCH(bool, selection);
        QFETCH(bool, deleteEnabled);
        QFETCH(bool, selectAllEnabled);
        if (side == 2)
            m_dlg->SetDstFolder(m_folder->path()); // lists g.sfc
        if (side == 2 || emptyList) {
            m_dlg->m_src.strExt = u"DXF"_s;
            m_dlg->OnRefreshSrc();
            QCOMPARE(model()->rowCount(), 0);
        }
        if (selection)
            select({1});
        QStringList enabled;
        QTimer::singleShot(0, this, [&] {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                for (QAction *action : menu->actions())
                    if (!action->isSeparator() && action->isEnabled())
                        enabled << action->objectName();
                menu->close();
            }
        });
        side == 1 ? m_dlg->OnRclickSrcList(QPoint(5, 5)) : m_dlg->OnRclickDstList(QPoint(5, 5));
        const int base = side == 1 ? 1026 : 1029;
        QStringList expected;
        if (deleteEnabled)
            expected << QString::number(base);
        if (selectAllEnabled)
            expected << QString::number(base + 1);
        expected << QString::number(base + 2);
        QCOMPARE(enabled, expected);
    }

    // A click on a header sorts by it, a second click turns the order round, the other columns
    // start ascending; the order and its arrow survive a new listing and a folder change, while
    // the selection does not.
    void sortStateFollowsHeaderClicks()
    {
        auto *header = qobject_cast<FileListHeader *>(m_dlg->m_lcSrcFiles->header());
        QVERIFY(header);
        const auto arrow = [header] {
            return std::pair(header->ArrowSection(), header->ArrowImage());
        };
        QCOMPARE(arrow(), std::pair(0, 1)); // name, ascending at start
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
        QCOMPARE(m_dlg->m_src.nSortColumn, 1);
        QCOMPARE(arrow(), std::pair(1, 1));
        m_dlg->OnColumnclickSrcList(1);
        QCOMPARE(arrow(), std::pair(1, 0));
        m_dlg->OnColumnclickSrcList(2);
        QCOMPARE(arrow(), std::pair(2, 1));
        QCOMPARE(m_dlg->m_src.anSortDir[1], 0);
        m_dlg->OnColumnclickSrcList(0);
        m_dlg->OnColumnclickSrcList(0); // name, descending

        m_dlg->OnSelectAllSrc();
        QCOMPARE(m_dlg->GetDlgItemText(1044), u"5 個のﾌｧｲﾙを選択 "_s);
        m_dlg->OnRefreshSrc();
        QCOMPARE(m_dlg->GetDlgItemText(1044), QString());
        QCOMPARE(names().first(), u"e|f.tsk"_s);
        QCOMPARE(arrow(), std::pair(0, 0));
        QTemporaryDir other;
        for (const QString &name : {u"x.tsk"_s, u"y.tsk"_s, u"z.tsk"_s})
            QVERIFY(TestEnvironment::writeFile(other.filePath(name), "1"));
        m_dlg->SetSrcFolder(other.path());
        QCOMPARE(names(), QStringList({u"z.tsk"_s, u"y.tsk"_s, u"x.tsk"_s}));
    }

    void countLineFollowsTheKeyboard_data()
    {
        QTest::addColumn<QList<QKeyCombination>>("keys");
        QTest::addColumn<QString>("count");
        const QKeyCombination down(Qt::Key_Down), shiftDown(Qt::ShiftModifier, Qt::Key_Down);
        QTest::newRow("Down") << QList {down} << u"1 個のﾌｧｲﾙを選択 "_s;
        QTest::newRow("Shift+Down twice")
            << QList {down, shiftDown, shiftDown} << u"3 個のﾌｧｲﾙを選択 "_s;
        QTest::newRow("Ctrl+A") << QList {QKeyCombination(Qt::ControlModifier, Qt::Key_A)}
                                << u"5 個のﾌｧｲﾙを選択 "_s;
    }
    void countLineFollowsTheKeyboard()
    {
        QFETCH(QList<QKeyCombination>, keys);
        QFETCH(QString, count);
        m_dlg->OnManualMode();
        QVERIFY(!m_dlg->CommandAction(1019)->isEnabled() || m_dlg->m_dst.nExtIndex >= 0);
        m_dlg->m_lcSrcFiles->setFocus();
        for (const QKeyCombination key : keys)
            QTest::keyClick(m_dlg->m_lcSrcFiles, key.key(), key.keyboardModifiers());
        QCOMPARE(m_dlg->GetDlgItemText(1044), count);
        QCOMPARE(m_dlg->CommandAction(1019)->isEnabled(), m_dlg->m_dst.nExtIndex >= 0);
    }

private:
    QString path(const QString &name) const { return m_folder->path() + u'/' + name; }
    FileListModel *model() const { return m_dlg->m_src.Model(); }
    QStringList names() const { return WindowFixture::listed(*m_dlg, 1); }
    void select(const QList<int> &rows) { WindowFixture::select(*m_dlg, 1, rows); }

    QTemporaryDir m_appDir;
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<CConverterDlg> m_dlg;
    std::unique_ptr<FakeDesktop> m_pDesktop;
    QMessageBox::StandardButton m_answer = QMessageBox::No;
    bool m_noWasDefault = false;
};

NORVALE_TEST_MAIN(TestListCommands)
#include "tst_listcommands.moc"
