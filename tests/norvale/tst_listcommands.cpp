#include "app/CConverterDlg.h"
#include "formats/FormatTable.h"
#include "panes/FileListModel.h"
#include "res/Strings.h"
#include "tests/TestEnvironment.h"
#include "tests/norvale/FakeDesktop.h"
#include "tests/norvale/WindowFixture.h"

#include <QAction>
#include <QMenu>
#include <QMimeDatabase>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QString trashInfoFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Trash/info"_s;
}

// What an outside reader of the trash finds there: trash-list prints "<date> <time> <path>".
QStringList trashedPaths()
{
    QProcess list;
    list.start(u"trash-list"_s, {});
    if (!list.waitForFinished(30000))
        return {u"(trash-list did not run)"_s};
    QStringList paths;
    for (const QString &line :
         QString::fromUtf8(list.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts))
        paths << line.mid(20);
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
    }

    // What cannot be trashed stays where it was, and is named.
    void writeProtectedFolderKeepsItsFiles()
    {
        if (::geteuid() == 0)
            QSKIP("root may remove files from any folder");
        m_answer = QMessageBox::Yes;
        const auto writable = QFile::permissions(m_folder->path());
        QFile::setPermissions(m_folder->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        select(Side::Source, {0});
        m_dlg->OnDeleteSrcFiles();
        QFile::setPermissions(m_folder->path(), writable);
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
        QProcess grep;
        grep.start(u"grep"_s,
                   {u"-rlF"_s,
                    QString::fromLatin1("Path=" + QUrl::toPercentEncoding(m_folder->path(), "/")
                                        + '/' + encoded),
                    trashInfoFolder()});
        QVERIFY(grep.waitForFinished());
        QCOMPARE(grep.readAllStandardOutput().count('\n'), 1);
        QCOMPARE(QProcess::execute(u"rm"_s, {u"-rf"_s, QFileInfo(trashInfoFolder()).path()}), 0);
    }

    // A double click anywhere opens the first selected row, not the one under the mouse. A
    // drawing that does not open is named with why: the program did not start; no program for
    // the type, which its name and contents tell; the drawing gone since it was listed.
    void doubleClickOpensTheFirstSelectedRow()
    {
        const QString failing = names(Side::Target).at(1);
        m_pDesktop->fnOpen = [failing](const QUrl &url) {
            return url.fileName() != failing;
        };
        const auto doubleClick = [this](Qt::KeyboardModifiers modifiers = {}) {
            QTest::mouseDClick(
                list(Side::Target)->viewport(), Qt::LeftButton, modifiers,
                list(Side::Target)->visualRect(model(Side::Target)->index(1, 0)).center());
        };
        select(Side::Target, {1, 0});
        doubleClick(Qt::ControlModifier);
        QTRY_COMPARE(m_pDesktop->aOpened,
                     QList<QUrl> {QUrl::fromLocalFile(path(names(Side::Target).first()))});
        QVERIFY(m_pDesktop->Texts().isEmpty());
        select(Side::Target, {1});
        doubleClick();
        QTRY_COMPARE(m_pDesktop->Texts().size(), 1);
        m_pDesktop->fnProgram = [](const QString &strType) {
            return strType == u"text/plain" ? u"Viewer"_s : QString();
        };
        QVERIFY(TestEnvironment::writeFile(path(failing), QByteArray("\x01\x00", 2)));
        doubleClick();
        QTRY_COMPARE(m_pDesktop->Texts().size(), 2);
        // Binary, so not plain text: octet-stream, or whatever else the system has for the name.
        const QString strMime = QMimeDatabase().mimeTypeForFile(path(failing)).name();
        QVERIFY(QFile::remove(path(failing)));
        doubleClick();
        const QString strType = GetFormatDescription(QFileInfo(failing).suffix().toUpper());
        QStringList aExpected;
        for (const QString &strReason :
             {LoadString(IDS_OPEN_NOT_STARTED),
              LoadString(IDS_OPEN_NO_PROGRAM).arg(strType, strMime), LoadString(IDS_OPEN_MISSING)})
            aExpected << LoadString(IDS_OPEN_FAILED).arg(path(failing), strReason);
        QTRY_COMPARE(m_pDesktop->Texts(), aExpected);
    }

    // Every way of selecting brings the count line (and Convert) up to date, a click also when
    // it leaves the selection as it was; a list command works Convert out again, a delete with
    // nothing selected included.
    void countLineFollowsTheSelection_data()
    {
        QTest::addColumn<Side>("side");
        QTest::addColumn<QList<QKeyCombination>>("keys"); // none: a click on the second row
        QTest::addColumn<int>("count");
        const QKeyCombination down(Qt::Key_Down), shiftDown(Qt::ShiftModifier, Qt::Key_Down);
        QTest::newRow("source, click") << Side::Source << QList<QKeyCombination>() << 1;
        QTest::newRow("target, click") << Side::Target << QList<QKeyCombination>() << 1;
        QTest::newRow("Shift+Down twice")
            << Side::Source << QList {down, shiftDown, shiftDown} << 3;
        QTest::newRow("Ctrl+A") << Side::Source
                                << QList {QKeyCombination(Qt::ControlModifier, Qt::Key_A)} << 5;
    }
    void countLineFollowsTheSelection()
    {
        QFETCH(Side, side);
        QFETCH(QList<QKeyCombination>, keys);
        QFETCH(int, count);
        m_dlg->OnManualMode();
        const int nLine = side == Side::Source ? IDC_SRC_SELECTED : IDC_DST_SELECTED;
        FileListView *pList = list(side);
        if (keys.isEmpty()) {
            select(side, {1});
            m_dlg->SetDlgItemText(nLine, QString());
            QTest::mouseClick(pList->viewport(), Qt::LeftButton, {},
                              pList->visualRect(model(side)->index(1, 0)).center());
        } else {
            pList->setFocus();
            for (const QKeyCombination key : keys)
                QTest::keyClick(pList, key.key(), key.keyboardModifiers());
        }
        QCOMPARE(m_dlg->GetDlgItemText(nLine), u"%1 個のﾌｧｲﾙを選択 "_s.arg(count));
        QCOMPARE(m_dlg->CommandAction(ID_CONVERT)->isEnabled(), side == Side::Source);
        select(side, {});
        m_dlg->EnableToolButton(ID_CONVERT, true);
        m_dlg->OnCommand(side == Side::Source ? ID_DELETE_SRC_FILES : ID_DELETE_DST_FILES);
        QVERIFY(!m_dlg->CommandAction(ID_CONVERT)->isEnabled());
    }

private:
    QString path(const QString &name) const { return m_folder->path() + u'/' + name; }
    FileListView *list(Side side) const
    {
        return WindowFixture::pane(*m_dlg, side).GetControls().pList;
    }
    FileListModel *model(Side side) const { return WindowFixture::pane(*m_dlg, side).Model(); }
    QStringList names(Side side) const { return WindowFixture::listed(*m_dlg, side); }
    void select(Side side, const QList<int> &rows) { WindowFixture::select(*m_dlg, side, rows); }
    // Opens the list's menu as a right click does and presses key in it.
    void fromMenu(Side side, Qt::Key key)
    {
        bool bShown = false;
        QTimer::singleShot(0, this, [&] {
            QPointer<QMenu> menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            bShown = menu;
            if (menu)
                QTest::keyClick(menu, key);
            if (menu && menu->isVisible())
                menu->close();
        });
        emit list(side)->customContextMenuRequested(QPoint(5, 5));
        QVERIFY(bShown);
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
