#include "app/CConverterDlg.h"
#include "panes/CNewFolderDlg.h"
#include "panes/FileListModel.h"
#include "platform/System.h"
#include "res/Strings.h"
#include "tests/TestEnvironment.h"
#include "tests/norvale/FakeDesktop.h"
#include "tests/norvale/WindowFixture.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

class TestFolders : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void takeFolder_data();
    void takeFolder();
    void chooseFolder_data();
    void chooseFolder();
    void createFolder_data();
    void createFolder();

private:
    // Folders written as one text: "a b/ x/c" are folders below the test's root, "/" is the
    // root of the file system and "@docs" the documents folder.
    QString path(const QString &strToken) const;
    QStringList paths(const QString &strList) const;
    // Makes the folders, each with one drawing of each pane's extension named after it.
    void makeFolders(const QString &strList) const;
    void setHistory(Side side, const QString &strList);
    Pane &pane(Side side) const { return WindowFixture::pane(*m_dlg, side); }
    QComboBox *combo(Side side) const { return pane(side).GetControls().pFolderCombo; }
    // History, combo, current folder, and a list that shows the current folder.
    void verifyPane(Side side, const QString &strHistory);

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
    for (const QString &strToken : strList.split(u' ', Qt::SkipEmptyParts))
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

void TestFolders::setHistory(Side side, const QString &strList)
{
    pane(side).aHistory = paths(strList);
    pane(side).RefillFolderCombo(true);
}

void TestFolders::verifyPane(Side side, const QString &strHistory)
{
    const QStringList aExpected = paths(strHistory);
    QCOMPARE(pane(side).aHistory, aExpected);
    QStringList aShown;
    for (int i = 0; i < combo(side)->count(); ++i)
        aShown << combo(side)->itemText(i);
    QStringList aNames;
    for (const QString &strEntry : aExpected)
        aNames << m_dlg->FolderDisplayName(strEntry);
    QCOMPARE(aShown, aNames);
    QCOMPARE(combo(side)->currentIndex(), 0);
    // The listing may rewrite the folder into the system's form (no trailing "/").
    const QString strCurrent = QDir::cleanPath(aExpected.first());
    QCOMPARE(QFileInfo(pane(side).strFolder).canonicalFilePath(), strCurrent);
    // The list shows the folder's own drawing; the root holds none, and has no name either.
    const FileListModel *model = pane(side).Model();
    QCOMPARE(model->rowCount() ? QFileInfo(model->Row(0).strName).completeBaseName() : QString(),
             QFileInfo(strCurrent).fileName());
}

void TestFolders::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    m_strRoot = QFileInfo(m_root->path()).canonicalFilePath();
    m_dlg = WindowFixture::open(m_root->path(), {}, true);
    QVERIFY(m_dlg && m_dlg->m_strMyDocumentsDir.startsWith(QDir::homePath()));
    makeFolders(u"@docs"_s);
    m_dlg->m_src.strExt = u"jww"_s;
    m_dlg->m_dst.strExt = u"dxf"_s;
    m_pDesktop = std::make_unique<FakeDesktop>();
}

void TestFolders::cleanup()
{
    m_pDesktop.reset();
    m_dlg.reset();
    m_root.reset();
}

void TestFolders::takeFolder_data()
{
    QTest::addColumn<Side>("side");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("removed");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("after");
    const Side src = Side::Source, dst = Side::Target;
    QTest::newRow("an entry moves to the top, the others keep their order")
        << src << u"a b c d e"_s << QString() << u"d"_s << u"d a b c e"_s;
    QTest::newRow("new folder drops the oldest of ten")
        << src << u"f0 f1 f2 f3 f4 f5 f6 f7 f8 f9"_s << QString() << u"new"_s
        << u"new f0 f1 f2 f3 f4 f5 f6 f7 f8"_s;
    QTest::newRow("entries differ by case")
        << dst << u"x/Work"_s << QString() << u"x/work"_s << u"x/work x/Work"_s;
    QTest::newRow("trailing separator") << src << u"a"_s << QString() << u"b/"_s << u"b/ a"_s;
    QTest::newRow("root") << dst << u"a"_s << QString() << u"/"_s << u"/ a"_s;
    QTest::newRow("refused entry 0 lists the next")
        << src << u"gone a b"_s << u"gone"_s << u"gone"_s << u"a b"_s;
    QTest::newRow("refused later entry is dropped")
        << dst << u"a gone b"_s << u"gone"_s << u"gone"_s << u"a b"_s;
    QTest::newRow("refused only entry leaves the documents")
        << src << u"gone"_s << u"gone"_s << u"gone"_s << u"@docs"_s;
    QTest::newRow("mistyped folder changes nothing")
        << dst << u"a b"_s << QString() << u"nowhere"_s << u"a b"_s;
}

void TestFolders::takeFolder()
{
    QFETCH(Side, side);
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

    side == Side::Source ? m_dlg->SetSrcFolder(path(chosen)) : m_dlg->SetDstFolder(path(chosen));

    verifyPane(side, after);
}

void TestFolders::chooseFolder_data()
{
    QTest::addColumn<Side>("side");
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("same");
    const Side src = Side::Source, dst = Side::Target;
    QTest::newRow("source from the list, same folder") << src << u"list"_s << true;
    QTest::newRow("source's current entry does nothing") << src << u"entry 0"_s << false;
    QTest::newRow("source browsed") << src << u"browse"_s << false;
    QTest::newRow("source browsing cancelled, same folder") << src << u"cancel"_s << true;
    QTest::newRow("source typed") << src << u"typed"_s << false;
    QTest::newRow("source typed, same folder") << src << u"typed"_s << true;
    QTest::newRow("target from the list") << dst << u"list"_s << false;
    QTest::newRow("target browsed") << dst << u"browse"_s << false;
    QTest::newRow("target typed") << dst << u"typed"_s << false;
}

// Each way of choosing reaches the folder's handler from its control: the combo's list, the
// browse button and Enter after typing. The target follows a source while the option is on.
void TestFolders::chooseFolder()
{
    QFETCH(Side, side);
    QFETCH(QString, how);
    QFETCH(bool, same);
    const Side other = side == Side::Source ? Side::Target : Side::Source;
    makeFolders(u"a b t"_s);
    setHistory(side, u"a b"_s);
    setHistory(other, u"t"_s);
    if (same)
        m_dlg->CommandAction(ID_SAME_FOLDER)->trigger();
    QCOMPARE(m_dlg->m_bSameFolder, same);
    const QString strOther = same ? u"a t"_s : u"t"_s;
    verifyPane(other, strOther);
    // Only a new listing would show the second drawing.
    QVERIFY(TestEnvironment::writeFile(path(u"a/0.jww"_s), "x"));
    QVERIFY(TestEnvironment::writeFile(path(u"a/0.dxf"_s), "x"));

    if (how != u"cancel"_s)
        m_pDesktop->chosenFolder = path(u"b"_s);
    if (how == u"list"_s || how == u"entry 0"_s) {
        const int nIndex = how == u"list"_s ? 1 : 0;
        combo(side)->setCurrentIndex(nIndex);
        emit combo(side)->activated(nIndex);
    } else if (how == u"typed"_s) {
        QLineEdit *edit = combo(side)->lineEdit();
        edit->selectAll();
        QTest::keyClicks(edit, path(u"b"_s));
        QTest::keyClick(edit, Qt::Key_Return);
    } else {
        QTest::mouseClick(pane(side).GetControls().pBrowseButton, Qt::LeftButton);
        QCOMPARE(m_pDesktop->pChooserOwner, m_dlg.get());
        QCOMPARE(m_pDesktop->strChooserStart, path(u"a"_s));
    }

    const bool bKept = how == u"cancel"_s || how == u"entry 0"_s;
    verifyPane(side, bKept ? u"a b"_s : u"b a"_s);
    QCOMPARE(pane(side).Model()->rowCount(), 1);
    verifyPane(other, bKept ? strOther : same ? u"b a t"_s : u"t"_s);
}

void TestFolders::createFolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("close");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<bool>("created");
    QTest::newRow("plain") << u"Out"_s << u"ok"_s << false << true;
    QTest::newRow("Enter, blanks kept") << u"  a b  "_s << u"enter"_s << false << true;
    QTest::newRow("longer than a line edit's default limit")
        << QString(40000, u'n') << u"ok"_s << false << false;
    QTest::newRow("second time") << u"Out"_s << u"ok"_s << true << false;
    QTest::newRow("slash") << u"./Out"_s << u"ok"_s << false << false;
    QTest::newRow("empty") << QString() << u"ok"_s << false << false;
    QTest::newRow("cancel button") << u"Out"_s << u"cancel"_s << false << false;
    QTest::newRow("Esc") << u"Out"_s << u"esc"_s << false << false;
}

// The real dialog, opened by the button and answered with keys and clicks: it opens empty and
// takes the name as typed, whatever its length; a folder that cannot be made is reported.
void TestFolders::createFolder()
{
    QFETCH(QString, name);
    QFETCH(QString, close);
    QFETCH(bool, existing);
    QFETCH(bool, created);
    makeFolders(u"t"_s);
    setHistory(Side::Target, u"t"_s);
    if (existing)
        QVERIFY(QDir().mkdir(path(u"t/"_s + name)));

    QString strOpened = u"(not opened)"_s;
    QTimer::singleShot(0, m_dlg.get(), [&] {
        auto *dlg = qobject_cast<CNewFolderDlg *>(QApplication::activeModalWidget());
        QVERIFY(dlg);
        auto *edit = qobject_cast<QLineEdit *>(dlg->GetDlgItem(IDC_FOLDER_NAME));
        strOpened = edit->text();
        edit->insert(name);
        QCOMPARE(edit->text(), name);
        if (close == u"enter"_s || close == u"esc"_s)
            QTest::keyClick(edit, close == u"enter"_s ? Qt::Key_Return : Qt::Key_Escape);
        else
            QTest::mouseClick(
                qobject_cast<QPushButton *>(dlg->GetDlgItem(
                    close == u"ok"_s ? CNewFolderDlg::IDOK : CNewFolderDlg::IDCANCEL)),
                Qt::LeftButton);
    });
    m_dlg->CommandAction(ID_CREATE_FOLDER)->trigger();
    QCOMPARE(strOpened, QString());

    const QStringList aInside = QDir(path(u"t"_s)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(aInside, created || existing ? QStringList {name} : QStringList());
    const bool bMessage = !created && (close == u"ok"_s || close == u"enter"_s);
    QCOMPARE(m_pDesktop->Texts(),
             bMessage ? QStringList {LoadString(IDS_CREATE_FOLDER_FAILED)} : QStringList());
    if (created) {
        const QString strNew = path(u"t/"_s + name);
        QCOMPARE(m_dlg->m_dst.aHistory, QStringList({strNew, path(u"t"_s)}));
        QCOMPARE(m_dlg->m_cbDstFolder->currentText(), m_dlg->FolderDisplayName(strNew));
        QCOMPARE(QFileInfo(m_dlg->m_dst.strFolder).canonicalFilePath(), strNew);
        QCOMPARE(m_dlg->m_dst.Model()->rowCount(), 0);
    } else {
        verifyPane(Side::Target, u"t"_s);
    }
}

NORVALE_TEST_MAIN(TestFolders)
#include "tst_folders.moc"
