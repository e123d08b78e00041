#include "app/CConverterDlg.h"
#include "formats/FormatTable.h"
#include "panes/FileListHeader.h"
#include "panes/FileListModel.h"
#include "res/Strings.h"
#include "tests/FakeDesktop.h"
#include "tests/TestEnvironment.h"
#include "tests/WindowFixture.h"

#include <QAction>
#include <QDir>
#include <QHeaderView>
#include <QMenu>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
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
        for (const QString &name :
             {u"a.tsk"_s, u"b.tsk"_s, u"c.tsk"_s, u"d.tsk"_s, u"e|f.tsk"_s, u"g.sfc"_s, u"h.sfc"_s})
            QVERIFY(TestEnvironment::writeFile(path(name), name.toUtf8()));
        m_dlg = WindowFixture::open(m_appDir.path(), {}, true);
        QVERIFY(m_dlg);
        // The source lists the TSK drawings, the target (SFC at a first start) the other two.
        m_dlg->SetSrcFolder(m_folder->path());
        m_dlg->SetDstFolder(m_folder->path());
        QCOMPARE(names(Side::Source).size(), 5);
        QCOMPARE(names(Side::Target).size(), 2);
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

    // From the list's own menu: one question for the selection, the default answer No; what
    // could not be trashed stays and is named; a declined question trashes nothing, and nothing
    // is asked without a selection.
    void deleteSelected_data()
    {
        QTest::addColumn<Side>("side");
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("vanished"); // removed behind the list's back
        QTest::addColumn<QString>("question"); // a text the question holds; empty: no question
        QTest::addColumn<QStringList>("trashed");
        QTest::addColumn<QStringList>("left");
        const Side src = Side::Source;
        const QStringList all = {u"a.tsk"_s, u"b.tsk"_s, u"c.tsk"_s, u"d.tsk"_s, u"e|f.tsk"_s};
        QTest::newRow("several") << src << QList<int> {0, 2, 4} << true << QString() << u" 3 個"_s
                                 << QStringList {u"a.tsk"_s, u"c.tsk"_s, u"e|f.tsk"_s}
                                 << QStringList {u"b.tsk"_s, u"d.tsk"_s};
        QTest::newRow("one, named") << src << QList<int> {4} << true << QString() << u"'e|f.tsk'"_s
                                    << QStringList {u"e|f.tsk"_s} << all.mid(0, 4);
        QTest::newRow("declined") << src << QList<int> {1, 3} << false << QString() << u" 2 個"_s
                                  << QStringList() << all;
        QTest::newRow("one gone meanwhile")
            << src << QList<int> {1, 3} << true << u"d.tsk"_s << u" 2 個"_s
            << QStringList {u"b.tsk"_s} << QStringList {u"a.tsk"_s, u"c.tsk"_s, u"e|f.tsk"_s};
        QTest::newRow("nothing selected")
            << src << QList<int>() << true << QString() << QString() << QStringList() << all;
        QTest::newRow("target") << Side::Target << QList<int> {1} << true << QString()
                                << u"'h.sfc'"_s << QStringList {u"h.sfc"_s}
                                << QStringList {u"g.sfc"_s};
    }
    void deleteSelected()
    {
        QFETCH(Side, side);
        QFETCH(QList<int>, rows);
        QFETCH(bool, yes);
        QFETCH(QString, vanished);
        QFETCH(QString, question);
        QFETCH(QStringList, trashed);
        QFETCH(QStringList, left);
        m_answer = yes ? QMessageBox::Yes : QMessageBox::No;
        select(side, rows);
        if (!vanished.isEmpty())
            QVERIFY(QFile::remove(path(vanished)));
        QSignalSpy relisted(model(side), &QAbstractItemModel::modelReset);
        // Without a selection the item is greyed and the key does nothing.
        fromMenu(side, Qt::Key_D);

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
        QCOMPARE(names(side), left);
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
        select(Side::Source, {0});
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
        const FileListModel *pModel = model(Side::Source);
        int nRow = -1;
        for (int i = 0; i < pModel->rowCount(); ++i) {
            if (pModel->Row(i).RawName() == name)
                nRow = i;
        }
        QVERIFY(nRow >= 0);
        QCOMPARE(pModel->Row(nRow).strName, shown);
        QCOMPARE(pModel->data(pModel->index(nRow, 0)).toString(), shown);

        select(Side::Source, {nRow});
        m_dlg->OnDblclkSrcList();
        const QList<QUrl> &opened = m_pDesktop->aOpened;
        QCOMPARE(opened.size(), 1);
        QVERIFY2(opened.first().toEncoded().endsWith('/' + encoded), opened.first().toEncoded());

        m_answer = QMessageBox::Yes;
        select(Side::Source, {nRow});
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

    // A double click anywhere opens the first selected row, not the one under the mouse, and
    // tells when the desktop cannot open it.
    void doubleClickOpensTheFirstSelectedRow_data() { addSides(); }
    void doubleClickOpensTheFirstSelectedRow()
    {
        QFETCH(Side, side);
        const QString failing = names(side).at(1);
        m_pDesktop->fnOpen = [failing](const QUrl &url) {
            return url.fileName() != failing;
        };
        select(side, {1, 0});
        doubleClick(side, 1, Qt::ControlModifier);
        QTRY_COMPARE(m_pDesktop->aOpened,
                     QList<QUrl> {QUrl::fromLocalFile(path(names(side).first()))});
        QVERIFY(m_pDesktop->Texts().isEmpty());
        // Why it did not open: the program did not start; no program for the type, which its
        // name and contents tell; the drawing gone since it was listed.
        select(side, {1});
        doubleClick(side, 1);
        QTRY_COMPARE(m_pDesktop->Texts().size(), 1);
        m_pDesktop->fnProgram = [](const QString &strType) {
            return strType == u"text/plain" ? u"Viewer"_s : QString();
        };
        QVERIFY(TestEnvironment::writeFile(path(failing), QByteArray("\x01\x00", 2)));
        doubleClick(side, 1);
        QTRY_COMPARE(m_pDesktop->Texts().size(), 2);
        // Binary, so not plain text: octet-stream, or whatever else the system has for the name.
        const QString strMime = QMimeDatabase().mimeTypeForFile(path(failing)).name();
        QVERIFY(QFile::remove(path(failing)));
        doubleClick(side, 1);
        const QString strType = GetFormatDescription(QFileInfo(failing).suffix().toUpper());
        QStringList aExpected;
        for (const QString &strReason :
             {LoadString(IDS_OPEN_NOT_STARTED),
              LoadString(IDS_OPEN_NO_PROGRAM).arg(strType, strMime), LoadString(IDS_OPEN_MISSING)})
            aExpected << LoadString(IDS_OPEN_FAILED).arg(path(failing), strReason);
        QTRY_COMPARE(m_pDesktop->Texts(), aExpected);
    }

    // A click brings the count line (and for the source, Convert) up to date, also when it
    // leaves the selection as it was.
    void clickUpdatesTheCountLine_data() { addSides(); }
    void clickUpdatesTheCountLine()
    {
        QFETCH(Side, side);
        m_dlg->OnManualMode();
        select(side, {1});
        const int nLine = side == Side::Source ? IDC_SRC_SELECTED : IDC_DST_SELECTED;
        m_dlg->SetDlgItemText(nLine, QString());
        m_dlg->EnableToolButton(ID_CONVERT, side != Side::Source);
        const FileListView *pList = list(side);
        QTest::mouseClick(pList->viewport(), Qt::LeftButton, {},
                          pList->visualRect(model(side)->index(1, 0)).center());
        QCOMPARE(m_dlg->GetDlgItemText(nLine), u"1 個のﾌｧｲﾙを選択 "_s);
        QVERIFY(m_dlg->CommandAction(ID_CONVERT)->isEnabled());
        // A list command works Convert out again, a delete with nothing selected included.
        select(side, {});
        m_dlg->EnableToolButton(ID_CONVERT, true);
        m_dlg->OnCommand(side == Side::Source ? ID_DELETE_SRC_FILES : ID_DELETE_DST_FILES);
        QVERIFY(!m_dlg->CommandAction(ID_CONVERT)->isEnabled());
    }

    void menuGreying_data()
    {
        QTest::addColumn<Side>("side");
        QTest::addColumn<bool>("emptyList");
        QTest::addColumn<bool>("selection");
        QTest::addColumn<QList<int>>("enabled");
        QTest::newRow("rows, no selection")
            << Side::Source << false << false << QList {ID_SELECT_ALL_SRC, ID_REFRESH_SRC};
        QTest::newRow("rows and a selection")
            << Side::Source << false << true
            << QList {ID_PREVIEW_SRC, ID_DELETE_SRC_FILES, ID_SELECT_ALL_SRC, ID_REFRESH_SRC};
        QTest::newRow("empty list") << Side::Source << true << false << QList {ID_REFRESH_SRC};
        QTest::newRow("target with rows, source empty")
            << Side::Target << true << false << QList {ID_SELECT_ALL_DST, ID_REFRESH_DST};
    }
    void menuGreying()
    {
        QFETCH(Side, side);
        QFETCH(bool, emptyList);
        QFETCH(bool, selection);
        QFETCH(QList<int>, enabled);
        if (emptyList) {
            m_dlg->m_src.strExt = u"DXF"_s;
            m_dlg->OnRefreshSrc();
            QCOMPARE(names(Side::Source).size(), 0);
        }
        if (selection)
            select(side, {1});
        QList<int> shown;
        withMenu(side, [&](QMenu *menu) {
            QCOMPARE(menu->objectName().toInt(),
                     side == Side::Source ? IDR_SRC_LIST_MENU : IDR_DST_LIST_MENU);
            for (QAction *action : menu->actions())
                if (!action->isSeparator() && action->isEnabled())
                    shown << action->objectName().toInt();
        });
        QCOMPARE(shown, enabled);
    }

    // A click on a header sorts by it, a second click turns the order round, the other columns
    // start ascending; the order and its arrow survive select all, a refresh and a folder change
    // from the list's menu, while the selection does not.
    void sortStateFollowsHeaderClicks_data() { addSides(); }
    void sortStateFollowsHeaderClicks()
    {
        QFETCH(Side, side);
        Pane &pane = WindowFixture::pane(*m_dlg, side);
        auto *header = qobject_cast<FileListHeader *>(list(side)->header());
        QVERIFY(header);
        const auto arrow = [header] {
            return std::pair(header->ArrowSection(), header->ArrowImage());
        };
        const auto click = [header](int nColumn) {
            QTest::mouseClick(
                header->viewport(), Qt::LeftButton, {},
                QPoint(header->sectionViewportPosition(nColumn) + 5, header->height() / 2));
        };
        const QStringList ascending = names(side);
        QCOMPARE(arrow(), std::pair(0, 1)); // name, ascending at start
        click(1);
        QCOMPARE(pane.nSortColumn, 1);
        QCOMPARE(arrow(), std::pair(1, 1));
        click(1);
        QCOMPARE(arrow(), std::pair(1, 0));
        click(2);
        QCOMPARE(arrow(), std::pair(2, 1));
        QCOMPARE(pane.anSortDir[1], 0);
        click(0);
        click(0); // name, descending

        const int nLine = side == Side::Source ? IDC_SRC_SELECTED : IDC_DST_SELECTED;
        fromMenu(side, Qt::Key_A);
        QCOMPARE(m_dlg->GetDlgItemText(nLine), u"%1 個のﾌｧｲﾙを選択 "_s.arg(ascending.size()));
        QVERIFY(TestEnvironment::writeFile(path(u"0"_s + ascending.first()), "new"));
        fromMenu(side, Qt::Key_R);
        QCOMPARE(m_dlg->GetDlgItemText(nLine), QString());
        QCOMPARE(names(side).last(), u"0"_s + ascending.first());
        QCOMPARE(arrow(), std::pair(0, 0));
        QTemporaryDir other;
        for (const QString &name : {u"x."_s, u"y."_s, u"z."_s})
            QVERIFY(TestEnvironment::writeFile(other.filePath(name + pane.strExt), "1"));
        side == Side::Source ? m_dlg->SetSrcFolder(other.path())
                             : m_dlg->SetDstFolder(other.path());
        QCOMPARE(
            names(side),
            QStringList({u"z."_s + pane.strExt, u"y."_s + pane.strExt, u"x."_s + pane.strExt}));
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
        QVERIFY(!m_dlg->CommandAction(ID_CONVERT)->isEnabled() || m_dlg->m_dst.nExtIndex >= 0);
        m_dlg->m_lcSrcFiles->setFocus();
        for (const QKeyCombination key : keys)
            QTest::keyClick(m_dlg->m_lcSrcFiles, key.key(), key.keyboardModifiers());
        QCOMPARE(m_dlg->GetDlgItemText(IDC_SRC_SELECTED), count);
        QCOMPARE(m_dlg->CommandAction(ID_CONVERT)->isEnabled(), m_dlg->m_dst.nExtIndex >= 0);
    }

private:
    static void addSides()
    {
        QTest::addColumn<Side>("side");
        QTest::newRow("source") << Side::Source;
        QTest::newRow("target") << Side::Target;
    }
    QString path(const QString &name) const { return m_folder->path() + u'/' + name; }
    FileListView *list(Side side) const
    {
        return WindowFixture::pane(*m_dlg, side).GetControls().pList;
    }
    FileListModel *model(Side side) const { return WindowFixture::pane(*m_dlg, side).Model(); }
    QStringList names(Side side) const { return WindowFixture::listed(*m_dlg, side); }
    void select(Side side, const QList<int> &rows) { WindowFixture::select(*m_dlg, side, rows); }
    void doubleClick(Side side, int nRow, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseDClick(list(side)->viewport(), Qt::LeftButton, modifiers,
                           list(side)->visualRect(model(side)->index(nRow, 0)).center());
    }
    // Opens the list's menu as a right click does and lets use act on it; a menu that act leaves
    // open is closed.
    void withMenu(Side side, const std::function<void(QMenu *)> &use)
    {
        bool bShown = false;
        QTimer::singleShot(0, this, [&] {
            QPointer<QMenu> menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            bShown = menu;
            if (menu)
                use(menu);
            if (menu && menu->isVisible())
                menu->close();
        });
        emit list(side)->customContextMenuRequested(QPoint(5, 5));
        QVERIFY(bShown);
    }
    void fromMenu(Side side, Qt::Key key)
    {
        withMenu(side, [key](QMenu *menu) { QTest::keyClick(menu, key); });
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
