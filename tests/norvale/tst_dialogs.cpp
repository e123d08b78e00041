#include "tests/TestEnvironment.h"
#include "tests/norvale/FakeDesktop.h"

#include "controls/CIconButton.h"
#include "controls/CPathLabel.h"
#include "conversion/CAuthorDlg.h"
#include "conversion/COverwriteDlg.h"
#include "conversion/CProgressDlg.h"

#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <functional>

using namespace Qt::Literals::StringLiterals;

// The run's dialogs on their own, for what a run cannot easily reach: the close box, Esc, a quit
// request, the layouts. tst_conversion and tst_runreport drive each of them inside a real run.
class TestDialogs : public QObject
{
    Q_OBJECT

    bool m_bAnswered = false;
    bool m_bLeftOpen = false;
    std::unique_ptr<FakeDesktop> m_pDesktop;

    // Runs answer on the modal dialog once it is open. A dialog the answer leaves open is closed
    // anyway and recorded, so that a failing test never hangs.
    void whenModal(std::function<void(QDialog *)> answer)
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

    void verifyAnswered() const
    {
        QVERIFY(m_bAnswered);
        QVERIFY(!m_bLeftOpen);
    }

private slots:
    void init()
    {
        m_bAnswered = false;
        m_bLeftOpen = false;
        m_pDesktop = std::make_unique<FakeDesktop>();
        m_pDesktop->bShowBoxes = true;
    }

    void cleanup() { m_pDesktop.reset(); }

    // A long path loses its middle, never its file name; はい has the focus; the close box cancels
    // the run, even when the prompt's previous answer was いいえ or すべて上書き: one prompt
    // object serves a whole run, and a stale m_bAltChoice would turn the cancel into a skip.
    void overwritePrompt()
    {
        const QString strPath
            = u"/home/user/Drawings/2006/Projects/Site A with a rather long name/Phase 2/plan.tsk"_s;
        COverwriteDlg dlg;
        dlg.m_bAltChoice = true;
        dlg.m_strFileName = strPath;
        whenModal([&](QDialog *modal) {
            QCOMPARE(modal, &dlg);
            const CPathLabel *label = dlg.m_stFileName;
            QCOMPARE(label->text(), strPath);
            const QString strShown = label->DisplayText(label->width());
            QVERIFY2(strShown.startsWith(u"/home/"_s) && strShown.endsWith(u".../plan.tsk"_s),
                     qPrintable(strShown));
            QVERIFY(label->fontMetrics().horizontalAdvance(strShown) <= label->width());
            QVERIFY(!dlg.m_btnIcon->m_hIcon.isNull());
            QCOMPARE(dlg.m_btnIcon->size(), QSize(32, 32));
            QCOMPARE(dlg.focusWidget(), dlg.GetDlgItem(COverwriteDlg::IDOK));
            dlg.close();
        });
        QCOMPARE(dlg.DoModal(), int(COverwriteDlg::IDCANCEL));
        verifyAnswered();
        QCOMPARE(dlg.m_bAltChoice, false);
    }

    void progressSteps_data()
    {
        QTest::addColumn<int>("total");
        QTest::addColumn<QList<int>>("positions");
        QList<int> aAll;
        for (int i = 1; i <= 20; ++i)
            aAll.append(i);
        // Fewer steps than the bar's 20 positions are spread over it; more send each one once.
        QTest::newRow("1 file") << 2 << QList<int> {1, 11};
        QTest::newRow("3 files") << 6 << QList<int> {1, 4, 7, 11, 14, 17};
        QTest::newRow("12 files") << 24 << aAll;
    }

    void progressSteps()
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

    void progressFolderLines_data()
    {
        QTest::addColumn<QString>("src");
        QTest::addColumn<QString>("dst");
        QTest::addColumn<bool>("oneLine");
        QTest::addColumn<QString>("srcText");
        QTest::addColumn<QString>("dstText");
        QTest::newRow("same") << u"/w/plans/"_s << u"/w/plans/"_s << true << u"/w/plans"_s
                              << QString();
        QTest::newRow("same root") << u"/"_s << u"/"_s << true << u"/"_s << QString();
        QTest::newRow("different")
            << u"/w/plans/"_s << u"/w/out"_s << false << u"/w/plans"_s << u"/w/out"_s;
        // Compared as they are: the same folder spelt differently still gets two lines.
        QTest::newRow("trailing slash differs")
            << u"/w/plans/"_s << u"/w/plans"_s << false << u"/w/plans"_s << u"/w/plans"_s;
    }

    // One folder for both sides gets one line as wide as both.
    void progressFolderLines()
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
        dlg.Begin(u"/x"_s, oneLine ? u"/y"_s : u"/x"_s, 2);
        dlg.Begin(src, dst, 2);
        QCOMPARE(srcLine->text(), srcText);
        QCOMPARE(dstLine->isHidden(), oneLine);
        if (oneLine) {
            QRect rcWide = rcTemplate;
            rcWide.setRight(dlg.GetDlgItem(IDC_PROGRESS_DST_NAME)->geometry().right());
            QCOMPARE(srcLine->geometry(), rcWide);
            QVERIFY(rcWide.width() > rcTemplate.width());
        } else {
            QCOMPARE(srcLine->geometry(), rcTemplate);
            QCOMPARE(dstLine->text(), dstText);
        }
    }

    void progressCancel_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("button") << u"button"_s;
        QTest::newRow("Esc") << u"escape"_s;
        QTest::newRow("close box") << u"close"_s;
    }

    // During a run the owner is disabled; Cancel must still work, beep once, and be forgotten by
    // the next run.
    void progressCancel()
    {
        QFETCH(QString, how);
        QWidget owner;
        auto *dlg = new CProgressDlg(&owner);
        owner.show();
        dlg->Begin(u"/a"_s, u"/b"_s, 2);
        QVERIFY(!dlg->isVisible());
        dlg->show();
        owner.setEnabled(false);
        QVERIFY(!dlg->CheckCancel());
        auto *cancel = qobject_cast<QPushButton *>(dlg->GetDlgItem(CProgressDlg::IDCANCEL));
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

    // Closing the application during a run is taken as a cancel, not acted on: no window is
    // closed under the run, which still has to tell the server to quit.
    void progressQuitIsCancel()
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
        QVERIFY(owner.isVisible());
        QVERIFY(dlg->isVisible());
        QCOMPARE(m_pDesktop->nBeeps, 0);
    }

    void authorDialog_data()
    {
        QTest::addColumn<bool>("affiliation"); // an SXF target, which records one
        QTest::addColumn<QString>("user"); // the logon name
        QTest::addColumn<QString>("typed"); // null: the user-name button instead
        QTest::addColumn<QString>("close");
        QTest::addColumn<QString>("author");
        QTest::addColumn<QString>("affil");
        QTest::newRow("user name")
            << false << u"yamada"_s << QString() << u"ok"_s << u"yamada"_s << QString();
        QTest::newRow("no user name empties the field")
            << false << QString() << QString() << u"ok"_s << QString() << QString();
        QTest::newRow("SXF, typed")
            << true << u"yamada"_s << u"Suzuki"_s << u"ok"_s << u"Suzuki"_s << u"Sales & Co"_s;
        QTest::newRow("SXF, user name keeps affiliation")
            << true << u"yamada"_s << QString() << u"ok"_s << u"yamada"_s << u"設計部"_s;
        QTest::newRow("SXF, Cancel")
            << true << u"yamada"_s << QString() << u"cancel"_s << u"山田"_s << u"設計部"_s;
        QTest::newRow("SXF, typed, Esc")
            << true << u"yamada"_s << u"Suzuki"_s << u"escape"_s << u"山田"_s << u"設計部"_s;
    }

    void authorDialog()
    {
        QFETCH(bool, affiliation);
        QFETCH(QString, user);
        QFETCH(QString, typed);
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
            auto *name = qobject_cast<QLineEdit *>(dlg.GetDlgItem(IDC_AUTHOR));
            auto *affilField = qobject_cast<QLineEdit *>(dlg.GetDlgItem(IDC_AFFILIATION));
            QVERIFY(name && affilField);
            QCOMPARE(name->text(), u"山田"_s);
            QCOMPARE(affilField->text(), dlg.m_strAffil);
            QCOMPARE(affilField->isEnabled(), affiliation);
            QCOMPARE(dlg.GetDlgItem(IDC_AFFILIATION_LABEL)->isEnabled(), affiliation);
            QCOMPARE(dlg.focusWidget(), name);
            if (typed.isNull()) {
                QTest::mouseClick(qobject_cast<QPushButton *>(dlg.GetDlgItem(IDC_USER_NAME)),
                                  Qt::LeftButton);
            } else {
                name->clear();
                QTest::keyClicks(name, typed);
                if (affiliation) {
                    affilField->clear();
                    QTest::keyClicks(affilField, u"Sales & Co"_s);
                }
            }
            if (close == u"escape"_s)
                QTest::keyClick(&dlg, Qt::Key_Escape);
            else
                QTest::mouseClick(qobject_cast<QPushButton *>(dlg.GetDlgItem(
                                      close == u"ok"_s ? CAuthorDlg::IDOK : CAuthorDlg::IDCANCEL)),
                                  Qt::LeftButton);
        });
        const int nResult = dlg.DoModal();
        verifyAnswered();
        QCOMPARE(nResult, close == u"ok"_s ? int(CAuthorDlg::IDOK) : int(CAuthorDlg::IDCANCEL));
        QCOMPARE(dlg.m_strAuthor, author);
        QCOMPARE(dlg.m_strAffil, affil);
    }
};

NORVALE_TEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
