#include "app/CConverterDlg.h"
#include "controls/MessageBox.h"
#include "panes/BrowseForFolder.h"
#include "panes/CNewFolderDlg.h"
#include "panes/FileListModel.h"
#include "platform/System.h"
#include "res/Strings.h"
#include "tests/FakeDesktop.h"
#include "tests/TestEnvironment.h"
#include "tests/WindowFixture.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

QString message(const QString &strText, QMessageBox::StandardButtons buttons,
                QMessageBox::Icon icon)
{
    return u"%1 [buttons %2, icon %3]"_s.arg(strText).arg(int(buttons)).arg(int(icon));
}

// Folders written as one text: "a b/ x/c" are folders below the test's root, "/" is the root
// of the file system and "@docs" the documents folder.
QStringList tokens(const QString &strList)
{
    return strList.split(u' ', Qt::SkipEmptyParts);
}

} // namespace

class TestFolders : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void chooseFromList_data();
    void chooseFromList();
    void takeFolder_data();
    void takeFolder();
    void displayName_data();
    void displayName();
    void documentsFolder_data();
    void documentsFolder();
    void chooseSource_data();
    void chooseSource();
    void sameFolderToggle();
    void createFolder_data();
    void createFolder();
    void newFolderDialog_data();
    void newFolderDialog();

private:
    QString path(const QString &strToken) const;
    QStringList paths(const QString &strList) const;
    // Makes the folders, each with one drawing of each pane's extension named after it.
    void makeFolders(const QString &strList) const;
    void setHistory(int nSide, const QString &strList);
    Pane &pane(int nSide) const { return nSide == 1 ? m_dlg->m_src : m_dlg->m_dst; }
    QComboBox *combo(int nSide) const
    {
        return nSide == 1 ? m_dlg->m_cbSrcFolder : m_dlg->m_cbDstFolder;
    }
    // The folder whose drawing the pane's list shows; empty for an empty list.
    QString listed(int nSide) const;
    // History, combo, current folder, and a list that shows the current folder.
    void verifyPane(int nSide, const QString &strHistory);

    std::unique_ptr<QTemporaryDir> m_root;
    // Canonical, so that paths compare equal to the form the listing gives them.
    QString m_strRoot;
    std::unique_ptr<CConverterDlg> m_dlg;
    std::unique_ptr<FakeDesktop> m_pDesktop;
};

QString TestFolders::path(const QString &strToken) const
{
    if (strToken == u"@docs"_s)
        return m_dlg->m_strMyDocumentsDir;
    return strToken.startsWith(u'/') ? strToken : m_strRoot + u'/' + strToken;
}

QStringList TestFolders::paths(const QString &strList) const
{
    QStringList aPaths;
    for (const QString &strToken : tokens(strList))
        aPaths << path(strToken);
    return aPaths;
}

void TestFolders::makeFolders(const QString &strList) const
{
    for (const QString &strDir : paths(strList)) {
        const QString strName = QFileInfo(QDir::cleanPath(strDir)).fileName();
        QVERIFY(QDir().mkpath(strDir));
        QVERIFY(TestEnvironment::writeFile(strDir + u'/' + strName + u".jww"_s, "x"));
        QVERIFY(TestEnvironment::writeFile(strDir + u'/' + strName + u".dxf"_s, "x"));
    }
}

void TestFolders::setHistory(int nSide, const QString &strList)
{
    pane(nSide).aHistory = paths(strList);
    if (nSide == 1)
        m_dlg->m_src.RefillFolderCombo(true);
    else
        m_dlg->m_dst.RefillFolderCombo(true);
}

QString TestFolders::listed(int nSide) const
{
    const FileListModel *model = pane(nSide).Model();
    return model->rowCount() == 0 ? QString() : QFileInfo(model->Row(0).strName).completeBaseName();
}

void TestFolders::verifyPane(int nSide, const QString &strHistory)
{
    const QStringList aExpected = paths(strHistory);
    QCOMPARE(pane(nSide).aHistory, aExpected);
    QStringList aShown;
    for (int i = 0; i < combo(nSide)->count(); ++i)
        aShown << combo(nSide)->itemText(i);
    QStringList aNames;
    for (const QString &strEntry : aExpected)
        aNames << m_dlg->FolderDisplayName(strEntry);
    QCOMPARE(aShown, aNames);
    QCOMPARE(combo(nSide)->currentIndex(), 0);
    QCOMPARE(combo(nSide)->currentText(), aNames.value(0));
    // The listing may rewrite the folder into the system's form (no trailing "/").
    const QString strCurrent = QDir::cleanPath(aExpected.first());
    QCOMPARE(QFileInfo(pane(nSide).strFolder).canonicalFilePath(), strCurrent);
    // The root holds no drawings: its name and its empty list are both empty.
    QCOMPARE(listed(nSide), QFileInfo(strCurrent).fileName());
}

void TestFolders::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    m_strRoot = QFileInfo(m_root->path()).canonicalFilePath();
    m_dlg = WindowFixture::open(m_root->path());
    QVERIFY(m_dlg);
    QVERIFY(m_dlg->m_strMyDocumentsDir.startsWith(QDir::homePath()));
    makeFolders(u"@docs"_s);
    m_dlg->m_src.strExt = u"jww"_s;
    m_dlg->m_dst.strExt = u"dxf"_s;
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    m_pDesktop = std::make_unique<FakeDesktop>();
}

void TestFolders::cleanup()
{
    m_pDesktop.reset();
    m_dlg.reset();
    m_root.reset();
}

void TestFolders::chooseFromList_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("history");
    QTest::newRow("source index 3 moves up") << 1 << 3 << u"d a b c e"_s;
    QTest::newRow("target index 0 does nothing") << 2 << 0 << u"a b c d e"_s;
}

void TestFolders::chooseFromList()
{
    QFETCH(int, side);
    QFETCH(int, index);
    QFETCH(QString, history);
    makeFolders(u"a b c d e"_s);
    setHistory(side, u"a b c d e"_s);
    QCOMPARE(listed(side), u"a"_s);
    // Only a new listing would show the second drawing.
    QVERIFY(TestEnvironment::writeFile(path(u"a/0.jww"_s), "x"));
    QVERIFY(TestEnvironment::writeFile(path(u"a/0.dxf"_s), "x"));

    combo(side)->setCurrentIndex(index);
    emit combo(side)->activated(index);

    verifyPane(side, history);
    QCOMPARE(pane(side).Model()->rowCount(), 1);
}

void TestFolders::takeFolder_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("removed");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("after");

    QTest::newRow("new folder drops the oldest of ten")
        << 1 << u"f0 f1 f2 f3 f4 f5 f6 f7 f8 f9"_s << QString() << u"new"_s
        << u"new f0 f1 f2 f3 f4 f5 f6 f7 f8"_s;
    QTest::newRow("entries differ by case")
        << 2 << u"x/Work"_s << QString() << u"x/work"_s << u"x/work x/Work"_s;
    QTest::newRow("trailing separator") << 1 << u"a"_s << QString() << u"b/"_s << u"b/ a"_s;
    QTest::newRow("root") << 2 << u"a"_s << QString() << u"/"_s << u"/ a"_s;
    QTest::newRow("refused entry 0 lists the next")
        << 1 << u"gone a b"_s << u"gone"_s << u"gone"_s << u"a b"_s;
    QTest::newRow("refused later entry is dropped")
        << 2 << u"a gone b"_s << u"gone"_s << u"gone"_s << u"a b"_s;
    QTest::newRow("refused only entry leaves the documents")
        << 1 << u"gone"_s << u"gone"_s << u"gone"_s << u"@docs"_s;
    QTest::newRow("mistyped folder changes nothing")
        << 2 << u"a b"_s << QString() << u"nowhere"_s << u"a b"_s;
}

void TestFolders::takeFolder()
{
    QFETCH(int, side);
    QFETCH(QString, before);
    QFETCH(QString, removed);
    QFETCH(QString, chosen);
    QFETCH(QString, after);
    makeFolders(before);
    if (chosen != u"/"_s && chosen != u"nowhere"_s)
        makeFolders(chosen);
    setHistory(side, before);
    if (!removed.isEmpty())
        QVERIFY(QDir(path(removed)).removeRecursively());

    if (side == 1)
        m_dlg->SetSrcFolder(path(chosen));
    else
        m_dlg->SetDstFolder(path(chosen));

    verifyPane(side, after);
}

void TestFolders::displayName_data()
{
    QTest::addColumn<QString>("documents");
    QTest::addColumn<QString>("desktop");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("name");
    const QString docs = u"/home/u/Documents"_s, desk = u"/home/u/Desktop"_s;
    QTest::newRow("documents") << docs << desk << docs << u"ﾏｲ ﾄﾞｷｭﾒﾝﾄ"_s;
    QTest::newRow("desktop") << docs << desk << desk << u"ﾃﾞｽｸﾄｯﾌﾟ"_s;
    QTest::newRow("documents replaced, desktop not tried")
        << docs << u"/Plans"_s << docs + u"/Plans"_s << u"ﾏｲ ﾄﾞｷｭﾒﾝﾄ/Plans"_s;
    QTest::newRow("case differs") << docs << desk << u"/home/u/documents"_s
                                  << u"/home/u/documents"_s;
    QTest::newRow("empty special paths") << QString() << QString() << u"/srv/a"_s << u"/srv/a"_s;
    QTest::newRow("home is the desktop")
        << docs << u"/home/u"_s << u"/home/u/a"_s << u"ﾃﾞｽｸﾄｯﾌﾟ/a"_s;
}

void TestFolders::displayName()
{
    QFETCH(QString, documents);
    QFETCH(QString, desktop);
    QFETCH(QString, entry);
    QFETCH(QString, name);
    m_dlg->m_strMyDocumentsDir = documents;
    m_dlg->m_strDesktopDir = desktop;
    QCOMPARE(m_dlg->FolderDisplayName(entry), name);
}

void TestFolders::documentsFolder_data()
{
    QTest::addColumn<QByteArray>("userDirs"); // the documents line of user-dirs.dirs; none: empty
    QTest::addColumn<QString>("made"); // a folder made in home; none: empty
    QTest::addColumn<QString>("expected"); // below home; home itself: empty
    QTest::newRow("fresh account: home") << QByteArray() << QString() << QString();
    QTest::newRow("~/Documents") << QByteArray() << u"Documents"_s << u"Documents"_s;
    QTest::newRow("named by xdg-user-dirs")
        << QByteArray("XDG_DOCUMENTS_DIR=\"$HOME/書類\"\n") << u"書類"_s << u"書類"_s;
    QTest::newRow("named but missing: home")
        << QByteArray("XDG_DOCUMENTS_DIR=\"$HOME/書類\"\n") << u"Documents"_s << QString();
}

void TestFolders::documentsFolder()
{
    QFETCH(QByteArray, userDirs);
    QFETCH(QString, made);
    QFETCH(QString, expected);
    const QString home = QDir::homePath();
    const QString userDirsFile
        = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + u"/user-dirs.dirs"_s;
    const auto clear = [&] {
        QFile::remove(userDirsFile);
        for (const QString &name : {u"Documents"_s, u"書類"_s})
            QDir(home + u'/' + name).removeRecursively();
    };
    clear();
    if (!userDirs.isEmpty())
        QVERIFY(TestEnvironment::writeFile(userDirsFile, userDirs));
    if (!made.isEmpty())
        QVERIFY(QDir(home).mkdir(made));
    const QString strExpected = expected.isEmpty() ? home : home + u'/' + expected;
    QCOMPARE(Platform::SpecialFolderPath(Platform::SpecialFolder::Documents), strExpected);

    // A first start shows that folder, under the documents folder's name, in both panes.
    const std::unique_ptr<CConverterDlg> fresh = WindowFixture::open(m_root->path());
    for (const Pane *pPane : {&fresh->m_src, &fresh->m_dst})
        QCOMPARE(pPane->strFolder, strExpected);
    QCOMPARE(fresh->m_cbSrcFolder->currentText(), u"ﾏｲ ﾄﾞｷｭﾒﾝﾄ"_s);
    QCOMPARE(fresh->m_cbDstFolder->currentText(), u"ﾏｲ ﾄﾞｷｭﾒﾝﾄ"_s);
    clear();
}

void TestFolders::chooseSource_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("same");
    QTest::newRow("list, same folder") << u"list"_s << true;
    QTest::newRow("browse") << u"browse"_s << false;
    QTest::newRow("browse cancelled") << u"cancel"_s << true;
    QTest::newRow("typed") << u"typed"_s << false;
    QTest::newRow("typed, same folder") << u"typed"_s << true;
}

void TestFolders::chooseSource()
{
    QFETCH(QString, how);
    QFETCH(bool, same);
    makeFolders(u"a b t"_s);
    setHistory(1, u"a b"_s);
    setHistory(2, u"t"_s);
    if (same)
        m_dlg->CommandAction(1018)->trigger();
    QCOMPARE(m_dlg->m_bSameFolder, same);
    const QString strTarget = same ? u"a t"_s : u"t"_s;
    verifyPane(2, strTarget);

    if (how != u"cancel"_s)
        m_pDesktop->chosenFolder = path(u"b"_s);
    if (how == u"list"_s) {
        m_dlg->m_cbSrcFolder->setCurrentIndex(1);
        emit m_dlg->m_cbSrcFolder->activated(1);
    } else if (how == u"typed"_s) {
        QLineEdit *edit = m_dlg->m_cbSrcFolder->lineEdit();
        edit->selectAll();
        QTest::keyClicks(edit, path(u"b"_s));
        QTest::keyClick(edit, Qt::Key_Return);
    } else {
        QTest::mouseClick(qobject_cast<QPushButton *>(m_dlg->GetDlgItem(1006)), Qt::LeftButton);
        QCOMPARE(m_pDesktop->pChooserOwner, m_dlg.get());
        QCOMPARE(m_pDesktop->strChooserStart, path(u"a"_s));
    }

    const bool bCancelled = how == u"cancel"_s;
    verifyPane(1, bCancelled ? u"a b"_s : u"b a"_s);
    verifyPane(2, bCancelled ? strTarget : same ? u"b a t"_s : u"t"_s);
}

void TestFolders::sameFolderToggle()
{
    makeFolders(u"a t"_s);
    setHistory(1, u"a"_s);
    setHistory(2, u"t"_s);
    QAction *same = m_dlg->CommandAction(1018);
    QWidget *targets[] = {m_dlg->m_cbDstFolder, m_dlg->GetDlgItem(1009)};

    same->trigger();
    QVERIFY(same->isChecked());
    verifyPane(2, u"a t"_s);
    for (QWidget *w : targets)
        QVERIFY(!w->isEnabled());
    QVERIFY(!m_dlg->CommandAction(1024)->isEnabled());

    // Turned off again, the target stays where it followed the source to.
    same->trigger();
    QVERIFY(!same->isChecked());
    QVERIFY(!m_dlg->m_bSameFolder);
    verifyPane(2, u"a t"_s);
    for (QWidget *w : targets)
        QVERIFY(w->isEnabled());
    QVERIFY(m_dlg->CommandAction(1024)->isEnabled());
}

void TestFolders::createFolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("created");
    QTest::newRow("plain") << u"Out"_s << false << false << true;
    QTest::newRow("second time") << u"Out"_s << true << false << false;
    QTest::newRow("slash") << u"./Out"_s << false << false << false;
    QTest::newRow("empty") << QString() << false << false << false;
    QTest::newRow("cancelled") << u"Out"_s << false << true << false;
}

void TestFolders::createFolder()
{
    QFETCH(QString, name);
    QFETCH(bool, existing);
    QFETCH(bool, cancel);
    QFETCH(bool, created);
    makeFolders(u"t"_s);
    setHistory(2, u"t"_s);
    if (existing)
        QVERIFY(QDir().mkdir(path(u"t/"_s + name)));

    QTimer::singleShot(0, m_dlg.get(), [&] {
        auto *dlg = qobject_cast<CNewFolderDlg *>(QApplication::activeModalWidget());
        QVERIFY(dlg);
        if (cancel)
            return dlg->reject();
        QTest::keyClicks(dlg->GetDlgItem(1025), name);
        QTest::mouseClick(qobject_cast<QPushButton *>(dlg->GetDlgItem(1)), Qt::LeftButton);
    });
    m_dlg->CommandAction(1024)->trigger();

    const QStringList aInside = QDir(path(u"t"_s)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(aInside, created || existing ? QStringList {name} : QStringList());
    const bool bMessage = !created && !cancel;
    QStringList aMessages;
    for (const FakeDesktop::Message &shown : std::as_const(m_pDesktop->aMessages))
        aMessages << message(shown.strText, shown.buttons, shown.icon);
    QCOMPARE(aMessages,
             bMessage
                 ? QStringList {message(LoadString(302), QMessageBox::Ok, QMessageBox::Warning)}
                 : QStringList());
    if (created) {
        const QString strNew = path(u"t/"_s + name);
        QCOMPARE(m_dlg->m_dst.aHistory, QStringList({strNew, path(u"t"_s)}));
        QCOMPARE(m_dlg->m_cbDstFolder->currentText(), m_dlg->FolderDisplayName(strNew));
        QCOMPARE(QFileInfo(m_dlg->m_dst.strFolder).canonicalFilePath(), strNew);
        QCOMPARE(m_dlg->m_dst.Model()->rowCount(), 0);
    } else {
        verifyPane(2, u"t"_s);
    }
}

void TestFolders::newFolderDialog_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("close");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("name");
    QTest::newRow("OK, empty") << QString() << u"ok"_s << 1 << QString();
    QTest::newRow("Enter, blanks kept") << u"  a b  "_s << u"enter"_s << 1 << u"  a b  "_s;
    QTest::newRow("longer than a line edit's default limit")
        << QString(40000, u'n') << u"ok"_s << 1 << QString(40000, u'n');
    QTest::newRow("cancel button") << u"a"_s << u"cancel"_s << 0 << u"kept"_s;
    QTest::newRow("Esc") << u"a"_s << u"esc"_s << 0 << u"kept"_s;
}

void TestFolders::newFolderDialog()
{
    QFETCH(QString, typed);
    QFETCH(QString, close);
    QFETCH(int, result);
    QFETCH(QString, name);
    CNewFolderDlg dlg;
    QVERIFY(dlg.m_strName.isEmpty());
    if (result == 0)
        dlg.m_strName = u"kept"_s;
    auto *edit = qobject_cast<QLineEdit *>(dlg.GetDlgItem(1025));
    QVERIFY(edit);

    QString strOpened;
    QTimer::singleShot(0, &dlg, [&] {
        strOpened = edit->text();
        edit->selectAll();
        edit->insert(typed);
        if (close == u"ok"_s)
            QTest::mouseClick(qobject_cast<QPushButton *>(dlg.GetDlgItem(1)), Qt::LeftButton);
        else if (close == u"enter"_s)
            QTest::keyClick(edit, Qt::Key_Return);
        else if (close == u"cancel"_s)
            QTest::mouseClick(qobject_cast<QPushButton *>(dlg.GetDlgItem(2)), Qt::LeftButton);
        else
            QTest::keyClick(edit, Qt::Key_Escape);
    });
    QCOMPARE(dlg.exec(), result);
    QCOMPARE(strOpened, result == 0 ? u"kept"_s : QString());
    QCOMPARE(dlg.m_strName, name);
}

NORVALE_TEST_MAIN(TestFolders)
#include "tst_folders.moc"
