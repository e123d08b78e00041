#include "app/CConverterDlg.h"
#include "controls/MessageBox.h"
#include "panes/FileListHeader.h"
#include "panes/FileListModel.h"
#include "tests/FakeDesktop.h"
#include "tests/TestEnvironment.h"

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
        m_dlg = std::make_unique<CConverterDlg>();
        m_dlg->m_strAppDir = m_appDir.path();
        m_dlg->Create();
        m_dlg->SetSrcFolder(m_folder->path());
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
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

    void deleteTrashesExactlyTheSelectedFiles()
    {
        m_answer = QMessageBox::Yes;
        select({0, 2, 4}); // a.tsk, c.tsk, e|f.tsk
        QSignalSpy relisted(model(), &QAbstractItemModel::modelReset);
        m_dlg->OnDeleteSrcFiles();
        QCOMPARE(m_pDesktop->Texts().size(), 1);
        QVERIFY(m_pDesktop->Texts().first().contains(u"3"_s));
        QVERIFY(m_noWasDefault);
        QVERIFY(relisted.count() >= 1);
        QCOMPARE(names(), QStringList({u"b.tsk"_s, u"d.tsk"_s}));
        QCOMPARE(trashedPaths(),
                 QStringList({path(u"a.tsk"_s), path(u"c.tsk"_s), path(u"e|f.tsk"_s)}));

        // An outside reader of the trash agrees.
        QProcess trashList;
        trashList.start(u"trash-list"_s, {});
        if (!trashList.waitForStarted())
            QSKIP("trash-list (trash-cli) is not installed");
        QVERIFY(trashList.waitForFinished(30000));
        const QString listed = QString::fromUtf8(trashList.readAllStandardOutput());
        for (const QString &name : {u"a.tsk"_s, u"c.tsk"_s, u"e|f.tsk"_s})
            QVERIFY2(listed.contains(path(name)), qPrintable(listed));
        QVERIFY(!listed.contains(path(u"b.tsk"_s)));
    }

    void deleteOneNamesIt()
    {
        m_answer = QMessageBox::Yes;
        select({4});
        m_dlg->OnDeleteSrcFiles();
        QCOMPARE(m_pDesktop->Texts().size(), 1);
        QVERIFY(m_pDesktop->Texts().first().contains(u"e|f.tsk"_s));
        QCOMPARE(trashedPaths(), QStringList {path(u"e|f.tsk"_s)});
        QVERIFY(QFile::exists(path(u"a.tsk"_s)));
    }

    void declinedDeleteRelistsAndKeepsEverything()
    {
        m_answer = QMessageBox::No;
        select({1, 3});
        QSignalSpy relisted(model(), &QAbstractItemModel::modelReset);
        m_dlg->OnDeleteSrcFiles();
        QCOMPARE(m_pDesktop->Texts().size(), 1);
        QVERIFY(relisted.count() >= 1);
        QCOMPARE(model()->rowCount(), 5);
        QVERIFY(trashedPaths().isEmpty());
    }

    void fileThatCannotBeTrashedStaysAndIsNamed()
    {
        m_answer = QMessageBox::Yes;
        select({1, 3});
        // Gone behind the list's back: it cannot be trashed, and the other one still is.
        QVERIFY(QFile::remove(path(u"d.tsk"_s)));
        m_dlg->OnDeleteSrcFiles();
        QCOMPARE(m_pDesktop->Texts().size(), 2);
        QVERIFY(m_pDesktop->Texts().at(1).contains(path(u"d.tsk"_s)));
        QVERIFY(!m_pDesktop->Texts().at(1).contains(path(u"b.tsk"_s)));
        QCOMPARE(trashedPaths(), QStringList {path(u"b.tsk"_s)});
        if (::geteuid() != 0) {
            // A write-protected folder: nothing may be removed from it, so it stays.
            QFile::setPermissions(m_folder->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            m_pDesktop->aMessages.clear();
            select({0});
            m_dlg->OnDeleteSrcFiles();
            QFile::setPermissions(m_folder->path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                      | QFileDevice::ExeOwner);
            QCOMPARE(m_pDesktop->Texts().size(), 2);
            QVERIFY(QFile::exists(path(u"a.tsk"_s)));
        }
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

    void nothingSelectedDeletesNothing()
    {
        QSignalSpy relisted(model(), &QAbstractItemModel::modelReset);
        m_dlg->OnDeleteSrcFiles();
        QVERIFY(m_pDesktop->Texts().isEmpty());
        QCOMPARE(relisted.count(), 0);
    }

    void openTheFirstSelectedRow()
    {
        m_pDesktop->fnOpen = [](const QUrl &url) {
            return url.fileName() != u"d.tsk"_s;
        };
        const QList<QUrl> &opened = m_pDesktop->aOpened;
        select({3, 1});
        m_dlg->OnDblclkSrcList();
        QCOMPARE(opened, QList<QUrl> {QUrl::fromLocalFile(path(u"b.tsk"_s))});
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

    void selectAllAndRefresh()
    {
        m_dlg->OnSelectAllSrc();
        QCOMPARE(m_dlg->GetDlgItemText(1044), u"5 個のﾌｧｲﾙを選択 "_s);
        m_dlg->OnColumnclickSrcList(0); // name, descending
        m_dlg->OnRefreshSrc();
        QCOMPARE(m_dlg->GetDlgItemText(1044), QString());
        QCOMPARE(names().first(), u"e|f.tsk"_s);
        auto *header = qobject_cast<FileListHeader *>(m_dlg->m_lcSrcFiles->header());
        QCOMPARE(header->ArrowSection(), 0);
        QCOMPARE(header->ArrowImage(), 0);
    }

    void headerClicksAndArrows()
    {
        auto *header = qobject_cast<FileListHeader *>(m_dlg->m_lcSrcFiles->header());
        QVERIFY(header);
        QCOMPARE(header->ArrowSection(), 0);
        QCOMPARE(header->ArrowImage(), 1); // name, ascending at start
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
        QCOMPARE(m_dlg->m_src.nSortColumn, 1);
        QCOMPARE(header->ArrowSection(), 1);
        QCOMPARE(header->ArrowImage(), 1);
        m_dlg->OnColumnclickSrcList(1);
        QCOMPARE(header->ArrowImage(), 0);
        QCOMPARE(m_dlg->m_src.anSortDir[1], 0);
        m_dlg->OnColumnclickSrcList(2);
        QCOMPARE(header->ArrowSection(), 2);
        QCOMPARE(header->ArrowImage(), 1);
        QCOMPARE(m_dlg->m_src.anSortDir[0], 0);
        QCOMPARE(m_dlg->m_src.anSortDir[1], 0);
        QCOMPARE(m_dlg->m_src.anSortDir[2], 1);
    }

    void orderSurvivesAFolderChange()
    {
        m_dlg->OnColumnclickSrcList(0); // name, descending
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
    QStringList names() const
    {
        QStringList list;
        for (int i = 0; i < model()->rowCount(); ++i)
            list << model()->Row(i).strName;
        return list;
    }
    void select(const QList<int> &rows)
    {
        QItemSelectionModel *selection = m_dlg->m_lcSrcFiles->selectionModel();
        selection->clearSelection();
        for (const int row : rows)
            selection->select(model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    QTemporaryDir m_appDir;
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<CConverterDlg> m_dlg;
    std::unique_ptr<FakeDesktop> m_pDesktop;
    QMessageBox::StandardButton m_answer = QMessageBox::No;
    bool m_noWasDefault = false;
};

NORVALE_TEST_MAIN(TestListCommands)
#include "tst_listcommands.moc"
