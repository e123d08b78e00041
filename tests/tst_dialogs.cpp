#include "tests/FakeDesktop.h"
#include "tests/TestEnvironment.h"

#include "controls/CIconButton.h"
#include "controls/CPathLabel.h"
#include "conversion/CAuthorDlg.h"
#include "conversion/COverwriteDlg.h"
#include "conversion/CProgressDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <functional>

using namespace Qt::Literals::StringLiterals;

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void overwriteAnswers_data();
    void overwriteAnswers();
    void overwriteShowsPath();

    void progressSteps_data();
    void progressSteps();
    void progressFolderLines_data();
    void progressFolderLines();
    void progressFileNames();
    void trimFolderText_data();
    void trimFolderText();
    void progressCancel_data();
    void progressCancel();
    void progressQuitIsCancel();

    void authorDialog_data();
    void authorDialog();

private:
    // Runs answer on the modal dialog once it is open. A dialog the answer leaves open is closed
    // anyway and recorded, so that a failing test never hangs.
    void whenModal(std::function<void(QDialog *)> answer);
    void verifyAnswered() const;

    bool m_bAnswered = false;
    bool m_bLeftOpen = false;
    std::unique_ptr<FakeDesktop> m_pDesktop;
};

void TestDialogs::init()
{
    m_bAnswered = false;
    m_bLeftOpen = false;
    m_pDesktop = std::make_unique<FakeDesktop>();
    m_pDesktop->bShowBoxes = true;
}

void TestDialogs::cleanup()
{
    m_pDesktop.reset();
}

void TestDialogs::whenModal(std::function<void(QDialog *)> answer)
{
    QTimer::singleShot(0, this, [this, answer] {
        QPointer<QDialog> dlg = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        m_bAnswered = true;
        answer(dlg);
        if (dlg && dlg->isVisible()) {
            m_bLeftOpen = true;
            dlg->reject();
        }
    });
}

void TestDialogs::verifyAnswered() const
{
    QVERIFY(m_bAnswered);
    QVERIFY(!m_bLeftOpen);
}

// --- Overwrite prompt ---

void TestDialogs::overwriteAnswers_data()
{
    QTest::addColumn<int>("button"); // 0: no click
    QTest::addColumn<int>("key"); // 0: no key
    QTest::addColumn<bool>("closeBox");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("altChoice");

    QTest::newRow("はい") << 1 << 0 << false << int(COverwriteDlg::IDOK) << false;
    QTest::newRow("すべて上書き") << 1032 << 0 << false << int(COverwriteDlg::IDOK) << true;
    QTest::newRow("いいえ") << 1033 << 0 << false << int(COverwriteDlg::IDCANCEL) << true;
    QTest::newRow("ｷｬﾝｾﾙ") << 2 << 0 << false << int(COverwriteDlg::IDCANCEL) << false;
    QTest::newRow("Enter") << 0 << int(Qt::Key_Return) << false << int(COverwriteDlg::IDOK)
                           << false;
    QTest::newRow("Esc") << 0 << int(Qt::Key_Escape) << false << int(COverwriteDlg::IDCANCEL)
                         << false;
    QTest::newRow("close box") << 0 << 0 << true << int(COverwriteDlg::IDCANCEL) << false;
}

void TestDialogs::overwriteAnswers()
{
    QFETCH(int, button);
    QFETCH(int, key);
    QFETCH(bool, closeBox);
    QFETCH(int, result);
    QFETCH(bool, altChoice);

    COverwriteDlg dlg;
    // One object serves a whole run: the flag of an earlier answer must not leak into this one.
    dlg.m_bAltChoice = true;
    dlg.m_strFileName = u"/data/out/PLAN.dxf"_s;
    whenModal([&](QDialog *modal) {
        QCOMPARE(modal, &dlg);
        QCOMPARE(dlg.m_stFileName->text(), u"/data/out/PLAN.dxf"_s);
        if (button)
            QTest::mouseClick(qobject_cast<QPushButton *>(dlg.GetDlgItem(button)), Qt::LeftButton);
        else if (key)
            QTest::keyClick(&dlg, Qt::Key(key));
        else if (closeBox)
            dlg.close();
    });
    QCOMPARE(dlg.DoModal(), result);
    verifyAnswered();
    QCOMPARE(dlg.m_bAltChoice, altChoice);
}

void TestDialogs::overwriteShowsPath()
{
    const QString strPath
        = u"/home/user/Drawings/2006/Projects/Site A with a rather long name/Phase 2/plan.tsk"_s;
    COverwriteDlg dlg;
    dlg.m_strFileName = strPath;
    whenModal([&](QDialog *) {
        const CPathLabel *label = dlg.m_stFileName;
        QCOMPARE(label->text(), strPath);
        QVERIFY(label->m_bPathEllipsis);
        const QString strShown = label->DisplayText(label->width());
        QVERIFY2(strShown != strPath, qPrintable(strShown));
        QVERIFY(strShown.startsWith(u"/home/"_s));
        QVERIFY(strShown.endsWith(u".../plan.tsk"_s));
        QVERIFY(label->fontMetrics().horizontalAdvance(strShown) <= label->width());

        QVERIFY(!dlg.m_btnIcon->m_hIcon.isNull());
        QCOMPARE(dlg.m_btnIcon->size(), QSize(32, 32));
        QCOMPARE(dlg.focusWidget(), dlg.GetDlgItem(1));
        dlg.reject();
    });
    dlg.DoModal();
    verifyAnswered();
}

// --- Progress window ---

void TestDialogs::progressSteps_data()
{
    QTest::addColumn<int>("total");
    QTest::addColumn<QList<int>>("positions");

    QList<int> aAll;
    for (int i = 1; i <= 20; ++i)
        aAll.append(i);
    QTest::newRow("1 file") << 2 << QList<int> {1, 11};
    QTest::newRow("2 files") << 4 << QList<int> {1, 6, 11, 16};
    QTest::newRow("3 files") << 6 << QList<int> {1, 4, 7, 11, 14, 17};
    QTest::newRow("12 files") << 24 << aAll;
    QTest::newRow("20 files") << 40 << aAll;
    QTest::newRow("50 files") << 100 << aAll;
}

void TestDialogs::progressSteps()
{
    QFETCH(int, total);
    QFETCH(QList<int>, positions);

    CProgressDlg dlg;
    QCOMPARE(dlg.m_progress->minimum(), 1);
    QCOMPARE(dlg.m_progress->maximum(), 20);
    QSignalSpy spy(dlg.m_progress, &QProgressBar::valueChanged);
    // An earlier run stopped after its first step: this one must start from an empty bar and
    // send its first position again.
    dlg.Begin(u"/a"_s, u"/b"_s, total);
    dlg.Step(0);
    dlg.Begin(u"/a"_s, u"/b"_s, total);
    QVERIFY(dlg.m_progress->value() < dlg.m_progress->minimum());
    spy.clear();
    for (int n = 0; n < total; ++n) {
        dlg.Step(n);
        QCOMPARE(dlg.m_progress->value(), dlg.m_nLastPos);
    }
    QList<int> aSent;
    for (const QList<QVariant> &args : std::as_const(spy))
        aSent.append(args.at(0).toInt());
    QCOMPARE(aSent, positions);
    dlg.Finish();
    QCOMPARE(dlg.m_progress->value(), 20);
}

void TestDialogs::progressFolderLines_data()
{
    QTest::addColumn<QString>("src");
    QTest::addColumn<QString>("dst");
    QTest::addColumn<bool>("oneLine");
    QTest::addColumn<QString>("srcText");
    QTest::addColumn<QString>("dstText"); // null: not shown

    QTest::newRow("same") << u"/w/plans/"_s << u"/w/plans/"_s << true << u"/w/plans"_s << QString();
    QTest::newRow("same root") << u"/"_s << u"/"_s << true << u"/"_s << QString();
    QTest::newRow("different") << u"/w/plans/"_s << u"/w/out"_s << false << u"/w/plans"_s
                               << u"/w/out"_s;
    // Compared as they are: the same folder spelt differently still gets two lines.
    QTest::newRow("trailing slash differs")
        << u"/w/plans/"_s << u"/w/plans"_s << false << u"/w/plans"_s << u"/w/plans"_s;
}

void TestDialogs::progressFolderLines()
{
    QFETCH(QString, src);
    QFETCH(QString, dst);
    QFETCH(bool, oneLine);
    QFETCH(QString, srcText);
    QFETCH(QString, dstText);

    CProgressDlg dlg;
    CPathLabel *srcLine = dlg.m_stSrcFolder;
    CPathLabel *dstLine = dlg.m_stDstFolder;
    QVERIFY(srcLine->m_bPathEllipsis && dstLine->m_bPathEllipsis);
    const QRect rcTemplate = srcLine->geometry();
    // The earlier run had the other layout, which this one must undo.
    if (oneLine)
        dlg.Begin(u"/x"_s, u"/y"_s, 2);
    else
        dlg.Begin(u"/x"_s, u"/x"_s, 2);
    dlg.Begin(src, dst, 2);

    QCOMPARE(srcLine->text(), srcText);
    QCOMPARE(dstLine->isHidden(), oneLine);
    if (oneLine) {
        QRect rcWide = rcTemplate;
        rcWide.setRight(dlg.GetDlgItem(1029)->geometry().right());
        QCOMPARE(srcLine->geometry(), rcWide);
        QVERIFY(rcWide.width() > rcTemplate.width());
    } else {
        QCOMPARE(srcLine->geometry(), rcTemplate);
        QCOMPARE(dstLine->text(), dstText);
    }
}

void TestDialogs::progressFileNames()
{
    CProgressDlg dlg;
    dlg.SetFileNames(u"a & b.sfc"_s, u"a & b.dxf"_s);
    QCOMPARE(dlg.GetDlgItemText(1038), u"a & b.sfc"_s);
    QCOMPARE(dlg.GetDlgItemText(1029), u"a & b.dxf"_s);
    dlg.SetFileNames(u"c.sfc"_s, QString());
    QCOMPARE(dlg.GetDlgItemText(1038), u"c.sfc"_s);
    QCOMPARE(dlg.GetDlgItemText(1029), u"a & b.dxf"_s);
}

void TestDialogs::trimFolderText_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("shown");

    QTest::newRow("root") << u"/"_s << u"/"_s;
    QTest::newRow("trailing slash") << u"/a/b/"_s << u"/a/b"_s;
    QTest::newRow("plain") << u"/a"_s << u"/a"_s;
    QTest::newRow("one slash only") << u"/a/b//"_s << u"/a/b/"_s;
    QTest::newRow("double root") << u"//"_s << u"/"_s;
    QTest::newRow("empty") << QString() << QString();
}

void TestDialogs::trimFolderText()
{
    QFETCH(QString, folder);
    QFETCH(QString, shown);
    CProgressDlg::TrimFolderText(folder);
    QCOMPARE(folder, shown);
}

void TestDialogs::progressCancel_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("button") << u"button"_s;
    QTest::newRow("Esc") << u"escape"_s;
    QTest::newRow("close box") << u"close"_s;
}

void TestDialogs::progressCancel()
{
    QFETCH(QString, how);

    QWidget owner;
    auto *dlg = new CProgressDlg(&owner);
    owner.show();
    QCoreApplication::processEvents();
    QVERIFY(!dlg->isVisible());
    dlg->Begin(u"/a"_s, u"/b"_s, 2);
    dlg->Step(0);
    dlg->Finish();
    QVERIFY(!dlg->isVisible());

    // During a run the owner is disabled; the Cancel button must still work.
    dlg->show();
    owner.setEnabled(false);
    dlg->Begin(u"/a"_s, u"/b"_s, 2);
    QVERIFY(!dlg->CheckCancel());
    auto *cancel = qobject_cast<QPushButton *>(dlg->GetDlgItem(2));
    QVERIFY(cancel->isEnabled());
    if (how == u"button"_s)
        QTest::mouseClick(cancel, Qt::LeftButton);
    else if (how == u"escape"_s)
        QTest::keyClick(dlg, Qt::Key_Escape);
    else
        dlg->close();
    QVERIFY(!dlg->isVisible());
    QCOMPARE(m_pDesktop->nBeeps, 1);
    QVERIFY(dlg->CheckCancel());
    QVERIFY(dlg->CheckCancel());

    dlg->Begin(u"/a"_s, u"/b"_s, 2);
    QVERIFY(!dlg->CheckCancel());
    QCOMPARE(m_pDesktop->nBeeps, 1);
}

void TestDialogs::progressQuitIsCancel()
{
    QWidget owner;
    auto *dlg = new CProgressDlg(&owner);
    owner.show();
    dlg->show();
    dlg->Begin(u"/a"_s, u"/b"_s, 4);

    bool bDelivered = false;
    QMetaObject::invokeMethod(
        this, [&] { bDelivered = true; }, Qt::QueuedConnection);
    QVERIFY(!dlg->CheckCancel());
    QVERIFY(bDelivered);

    QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit));
    QVERIFY(dlg->CheckCancel());
    // Taken as a cancel, not acted on: no window was closed under the run.
    QVERIFY(owner.isVisible());
    QVERIFY(dlg->isVisible());
    QCOMPARE(m_pDesktop->nBeeps, 0);
}

// --- Author dialog ---

void TestDialogs::authorDialog_data()
{
    QTest::addColumn<bool>("affiliation");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("typed"); // null: nothing typed
    QTest::addColumn<bool>("userButton");
    QTest::addColumn<QString>("close");
    QTest::addColumn<QString>("author");
    QTest::addColumn<QString>("affil");

    QTest::newRow("plain, typed, OK")
        << false << u"yamada"_s << u"Suzuki"_s << false << u"ok"_s << u"Suzuki"_s << QString();
    QTest::newRow("plain, user name, OK")
        << false << u"yamada"_s << QString() << true << u"ok"_s << u"yamada"_s << QString();
    QTest::newRow("no user name empties the field")
        << false << QString() << QString() << true << u"ok"_s << QString() << QString();
    QTest::newRow("SXF, typed, OK")
        << true << u"yamada"_s << u"Suzuki"_s << false << u"ok"_s << u"Suzuki"_s << u"Sales & Co"_s;
    QTest::newRow("SXF, user name keeps affiliation")
        << true << u"yamada"_s << QString() << true << u"ok"_s << u"yamada"_s << u"設計部"_s;
    QTest::newRow("SXF, user name, Cancel")
        << true << u"yamada"_s << QString() << true << u"cancel"_s << u"山田"_s << u"設計部"_s;
    QTest::newRow("SXF, typed, Esc")
        << true << u"yamada"_s << u"Suzuki"_s << false << u"escape"_s << u"山田"_s << u"設計部"_s;
}

void TestDialogs::authorDialog()
{
    QFETCH(bool, affiliation);
    QFETCH(QString, user);
    QFETCH(QString, typed);
    QFETCH(bool, userButton);
    QFETCH(QString, close);
    QFETCH(QString, author);
    QFETCH(QString, affil);

    CAuthorDlg dlg;
    dlg.m_bAffiliation = affiliation;
    dlg.m_strUser = user;
    dlg.m_strAuthor = u"山田"_s;
    // The caller leaves the affiliation empty outside the SXF formats.
    dlg.m_strAffil = affiliation ? u"設計部"_s : QString();
    whenModal([&](QDialog *) {
        auto *name = qobject_cast<QLineEdit *>(dlg.GetDlgItem(1049));
        auto *affilField = qobject_cast<QLineEdit *>(dlg.GetDlgItem(1051));
        QVERIFY(name && affilField);
        QCOMPARE(name->text(), u"山田"_s);
        QCOMPARE(affilField->text(), dlg.m_strAffil);
        QCOMPARE(affilField->isEnabled(), affiliation);
        QCOMPARE(dlg.GetDlgItem(1011)->isEnabled(), affiliation);
        QCOMPARE(dlg.focusWidget(), name);
        if (!typed.isNull()) {
            name->clear();
            QTest::keyClicks(name, typed);
            if (affiliation) {
                affilField->clear();
                QTest::keyClicks(affilField, u"Sales & Co"_s);
            }
        }
        if (userButton)
            QTest::mouseClick(qobject_cast<QPushButton *>(dlg.GetDlgItem(1050)), Qt::LeftButton);
        if (close == u"escape"_s)
            QTest::keyClick(&dlg, Qt::Key_Escape);
        else
            QTest::mouseClick(qobject_cast<QPushButton *>(dlg.GetDlgItem(close == u"ok"_s ? 1 : 2)),
                              Qt::LeftButton);
    });
    const int nResult = dlg.DoModal();
    verifyAnswered();
    QCOMPARE(nResult, close == u"ok"_s ? int(CAuthorDlg::IDOK) : int(CAuthorDlg::IDCANCEL));
    QCOMPARE(dlg.m_strAuthor, author);
    QCOMPARE(dlg.m_strAffil, affil);
}

NORVALE_TEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
