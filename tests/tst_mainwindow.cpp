#include "app/CConverterApp.h"
#include "app/CConverterDlg.h"
#include "res/Strings.h"
#include "tests/FakeDesktop.h"
#include "tests/WindowFixture.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>

using namespace Qt::Literals::StringLiterals;
using TestEnvironment::readFile;
using WindowFixture::configIni;

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // The shared test bus has no drawing program: a run ends at message 305, answered here.
        m_pDesktop = std::make_unique<FakeDesktop>();
        m_dlg = WindowFixture::open(m_appDir.path(), {}, true);
        QVERIFY(m_dlg);
    }
    void cleanup()
    {
        m_dlg.reset();
        m_pDesktop.reset();
    }

    // Edges are mapped, not sizes, so neighbouring controls never overlap by rounding; a half
    // rounds up as on Windows.
    void mapDialogRect_data()
    {
        QTest::addColumn<QRect>("units");
        QTest::addColumn<QSize>("base");
        QTest::addColumn<QRect>("pixels");
        QTest::newRow("folder combo")
            << QRect(5, 55, 158, 105) << QSize(6, 13) << QRect(QPoint(8, 89), QPoint(244, 259));
        QTest::newRow("browse button")
            << QRect(167, 55, 13, 14) << QSize(7, 15) << QRect(292, 103, 23, 26);
    }
    void mapDialogRect()
    {
        QFETCH(QRect, units);
        QFETCH(QSize, base);
        QFETCH(QRect, pixels);
        QCOMPARE(TemplateDialog::MapDialogRect(units, base), pixels);
    }

    void windowIsFixedWithoutMinimiseOrMaximise()
    {
        const QSize base = TemplateDialog::BaseUnits(m_dlg->font());
        const QSize expected = TemplateDialog::MapDialogRect(QRect(0, 0, 385, 345), base).size();
        QCOMPARE(m_dlg->size(), expected);
        QCOMPARE(m_dlg->minimumSize(), expected);
        QCOMPARE(m_dlg->maximumSize(), expected);
        const Qt::WindowFlags flags = m_dlg->windowFlags();
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QCOMPARE(m_dlg->windowTitle(), u"Quellith Norvale"_s);
    }

    // A control is found by its id: no two may share one.
    void idsAreUnique()
    {
        QStringList ids;
        for (const QWidget *w : m_dlg->findChildren<QWidget *>()) {
            bool bNumber = false;
            w->objectName().toInt(&bNumber);
            if (bNumber)
                ids << w->objectName();
        }
        QVERIFY(ids.size() > 30);
        QCOMPARE(ids.removeDuplicates(), 0);
    }

    void tabOrderFollowsTheTemplate()
    {
        // The controls Tab visits, in the order it visits them, starting at the first one.
        QStringList order;
        QWidget *w = m_dlg->GetDlgItem(1002);
        do {
            if (w->parentWidget() == m_dlg.get() && (w->focusPolicy() & Qt::TabFocus)
                && !order.contains(w->objectName()))
                order << w->objectName();
            w = w->nextInFocusChain();
        } while (w != m_dlg->GetDlgItem(1002));
        QCOMPARE(order,
                 QStringList({u"1002"_s, u"1003"_s, u"1006"_s, u"1005"_s, u"1004"_s, u"1007"_s,
                              u"1009"_s, u"1008"_s}));
    }

    // Each field is reached by the letter of its label with Alt, and read out by the label's words.
    void mnemonicsAndAccessibleNames()
    {
        for (const int id : {1002, 1003, 1004, 1007}) {
            QWidget *field = m_dlg->GetDlgItem(id);
            const QList<QLabel *> labels = m_dlg->findChildren<QLabel *>();
            const auto label = std::find_if(labels.begin(), labels.end(),
                                            [field](QLabel *l) { return l->buddy() == field; });
            QVERIFY(label != labels.end());
            const QString text = (*label)->text();
            QCOMPARE(field->accessibleName(), QString(text).remove(u'&').chopped(1));
            m_dlg->GetDlgItem(1005)->setFocus();
            QTest::keyClick(m_dlg.get(), text.at(text.indexOf(u'&') + 1).toLatin1(),
                            Qt::AltModifier);
            QTRY_VERIFY(field->hasFocus());
        }
    }

    // Every tool button has an icon and a name that is read out; the name is its tip, but for the
    // close button, which has none.
    void toolButtons()
    {
        for (const int id : {1018, 1019, 1020, 1021, 1023, 1024, 32774, 57670, 1}) {
            QWidget *button = m_dlg->GetDlgItem(id);
            QVERIFY(button);
            QVERIFY(!button->accessibleName().isEmpty());
            QCOMPARE(button->toolTip(), id == 1 ? QString() : button->accessibleName());
            QVERIFY(!m_dlg->CommandAction(id)->icon().isNull());
        }
    }

    void toolbarsStandOnTheirPlaceholders_data()
    {
        QTest::addColumn<QString>("bar");
        QTest::addColumn<int>("placeholder");
        QTest::addColumn<int>("align");
        QTest::newRow("launch") << u"toolbar132"_s << 1011 << 1;
        QTest::newRow("author") << u"toolbar133"_s << 1012 << 2;
        QTest::newRow("same folder") << u"toolbar129"_s << 1013 << 1;
        QTest::newRow("convert") << u"toolbar130"_s << 1014 << 1;
        QTest::newRow("mode") << u"toolbar131"_s << 1015 << 3;
    }
    void toolbarsStandOnTheirPlaceholders()
    {
        QFETCH(QString, bar);
        QFETCH(int, placeholder);
        QFETCH(int, align);
        auto *toolbar = m_dlg->findChild<QToolBar *>(bar);
        QVERIFY(toolbar);
        const QRect rc = m_dlg->GetDlgItem(placeholder)->geometry();
        QVERIFY(!m_dlg->GetDlgItem(placeholder)->isVisible());
        // Its left, its right or (standing) its bottom corner on the placeholder's.
        const auto corner = [align](const QRect &r) {
            return align == 2 ? r.topRight() : align == 3 ? r.bottomLeft() : r.topLeft();
        };
        QCOMPARE(corner(toolbar->geometry()), corner(rc));
        QCOMPARE(toolbar->orientation(), align == 3 ? Qt::Vertical : Qt::Horizontal);
        // Every button is shown in full, none is pushed into an overflow menu.
        const QList<QAction *> actions = toolbar->actions();
        QVERIFY(!actions.isEmpty());
        int previous = -1;
        for (QAction *action : actions) {
            QWidget *button = toolbar->widgetForAction(action);
            QVERIFY(button->isVisible());
            QVERIFY(toolbar->rect().contains(button->geometry()));
            const int position = align == 3 ? button->y() : button->x();
            QVERIFY(position > previous);
            previous = position;
        }
    }

    void buttonsStartAsTheOwnersSetThem()
    {
        // Manual mode from the defaults: only 1021 pressed; no target extension state yet.
        QCOMPARE(m_dlg->CommandAction(1021)->isChecked(), true);
        QCOMPARE(m_dlg->CommandAction(1020)->isChecked(), false);
        QCOMPARE(m_dlg->CommandAction(1018)->isChecked(), false);
        QCOMPARE(m_dlg->GetDlgItemText(1010), LoadString(304));
        // A click on a mode button does not toggle it by itself: only the handler decides.
        m_dlg->CommandAction(1021)->trigger();
        QCOMPARE(m_dlg->CommandAction(1021)->isChecked(), true);
        m_dlg->CommandAction(1018)->trigger(); // the handler turns the option on
        QCOMPARE(m_dlg->CommandAction(1018)->isChecked(), true);
        m_dlg->CommandAction(1018)->trigger();
        QCOMPARE(m_dlg->CommandAction(1018)->isChecked(), false);
    }

    void functionKeysPostTheirCommands_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("focus");
        QTest::newRow("F5 in the source list") << int(Qt::Key_F5) << 1019 << 1005;
        QTest::newRow("F7 in the folder combo") << int(Qt::Key_F7) << 1020 << 1003;
        QTest::newRow("F8 in the extension combo") << int(Qt::Key_F8) << 1021 << 1004;
    }
    void functionKeysPostTheirCommands()
    {
        QFETCH(int, key);
        QFETCH(int, command);
        QFETCH(int, focus);
        m_dlg->m_nMode = command == 1021 ? 0 : 1;
        // Disabled buttons must not stop the keys.
        for (int id : {1019, 1020, 1021})
            m_dlg->EnableToolButton(id, false);
        QSignalSpy spy(m_dlg.get(), &CConverterDlg::commandRun);
        QWidget *target = m_dlg->GetDlgItem(focus);
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
        // Posted, not called: the handler runs from the event loop.
        QCOMPARE(spy.count(), 0);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), command);
        if (command == 1019)
            QCOMPARE(m_pDesktop->Texts(), QStringList {LoadString(305)}); // the run was attempted
        if (command != 1019) {
            const int mode = command - 1020;
            QCOMPARE(m_dlg->m_nMode, mode);
            QCOMPARE(m_dlg->CommandAction(1020)->isChecked(), mode == 0);
            QCOMPARE(m_dlg->CommandAction(1021)->isChecked(), mode == 1);
            QCOMPARE(m_dlg->GetDlgItemText(1010), LoadString(303 + mode));
        }
    }

    void enterWithNothingPendingDoesNothing_data()
    {
        QTest::addColumn<int>("focus");
        QTest::newRow("folder combo") << 1003;
        QTest::newRow("browse button") << 1006;
        QTest::newRow("target list") << 1008;
    }
    void enterWithNothingPendingDoesNothing()
    {
        QFETCH(int, focus);
        QSignalSpy finished(m_dlg.get(), &QDialog::finished);
        QSignalSpy typed(m_dlg.get(), &CConverterDlg::typedFolderEntered);
        QWidget *target = m_dlg->GetDlgItem(focus);
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
        QCoreApplication::processEvents();
        QVERIFY(m_dlg->isVisible());
        QCOMPARE(finished.count(), 0);
        QCOMPARE(typed.count(), 0);
        QVERIFY(!QFile::exists(configIni()));
    }

    void enterAppliesATypedFolder_data()
    {
        QTest::addColumn<int>("combo");
        QTest::newRow("source") << 1003;
        QTest::newRow("target") << 1007;
    }
    void enterAppliesATypedFolder()
    {
        QFETCH(int, combo);
        auto *box = qobject_cast<QComboBox *>(m_dlg->GetDlgItem(combo));
        box->setFocus();
        box->lineEdit()->clear();
        QTest::keyClicks(box->lineEdit(), u"/srv/drawings 2026"_s);
        QCOMPARE(m_dlg->m_nEditFolderId, unsigned(combo));
        QSignalSpy typed(m_dlg.get(), &CConverterDlg::typedFolderEntered);
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(typed.count(), 1);
        QCOMPARE(typed.at(0).at(0).toInt(), combo);
        QCOMPARE(typed.at(0).at(1).toString(), u"/srv/drawings 2026"_s);
        QCOMPARE(m_dlg->m_nEditFolderId, 0u);
        // A folder that does not exist is never added as an item.
        QCOMPARE(box->findText(u"/srv/drawings 2026"_s), -1);
        QVERIFY(m_dlg->isVisible());
    }

    void leavingTheComboDropsTheTypedFolder()
    {
        m_dlg->m_src.aHistory = {u"/data/current"_s, u"/data/older"_s};
        m_dlg->m_src.RefillFolderCombo(false);
        m_dlg->m_cbSrcFolder->setFocus();
        QTRY_VERIFY(m_dlg->m_cbSrcFolder->hasFocus());
        QTest::keyClicks(m_dlg->m_cbSrcFolder->lineEdit(), u"xyz"_s);
        QCOMPARE(m_dlg->m_nEditFolderId, 1003u);
        m_dlg->m_cbDstFolder->setFocus();
        QTRY_VERIFY(m_dlg->m_cbDstFolder->hasFocus());
        QCOMPARE(m_dlg->m_nEditFolderId, 0u);
        QCOMPARE(m_dlg->m_cbSrcFolder->currentText(), u"/data/current"_s);
        QSignalSpy typed(m_dlg.get(), &CConverterDlg::typedFolderEntered);
        QTest::keyClick(m_dlg->m_cbDstFolder, Qt::Key_Return);
        QCOMPARE(typed.count(), 0);
    }

    void everyWayOfClosingWritesTheSettings_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("close button of the vertical toolbar") << 0;
        QTest::newRow("Esc") << 1;
        QTest::newRow("close box") << 2;
    }
    void everyWayOfClosingWritesTheSettings()
    {
        QFETCH(int, way);
        m_dlg->OnAutoMode();
        QSignalSpy finished(m_dlg.get(), &QDialog::finished);
        switch (way) {
        case 0:
            m_dlg->CommandAction(1)->trigger();
            break;
        case 1:
            m_dlg->m_lcSrcFiles->setFocus();
            QTest::keyClick(m_dlg->m_lcSrcFiles, Qt::Key_Escape);
            break;
        case 2:
            m_dlg->close();
            break;
        }
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(!m_dlg->isVisible());
        const QByteArray ini = readFile(configIni());
        QVERIFY(ini.contains("[Common]\nFolder=0\nMode=0\n"));
        QVERIFY(ini.contains("Folder#9="));
    }

    void contextMenuOffersTheAboutBox()
    {
        QStringList texts;
        bool separatorFirst = false;
        QTimer::singleShot(0, this, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu)
                return;
            const QList<QAction *> actions = menu->actions();
            separatorFirst = !actions.isEmpty() && actions.first()->isSeparator();
            for (QAction *action : actions)
                if (!action->isSeparator())
                    texts << action->text();
            menu->close();
        });
        const QPoint pos = m_dlg->GetDlgItem(1010)->geometry().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, m_dlg->mapToGlobal(pos));
        QApplication::sendEvent(m_dlg.get(), &event);
        QVERIFY(separatorFirst);
        QCOMPARE(texts, QStringList({u"バージョン情報(&A)..."_s, u"前回の変換結果(&R)..."_s}));
    }

    void helpOpensTheManualInAWindowOfItsOwn_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("byKey");
        QTest::addColumn<int>("depth"); // folders of 40 characters between temp and program
        QTest::newRow("help button") << true << false << 0;
        QTest::newRow("manual missing") << false << true << 0;
        QTest::newRow("path far beyond 260 bytes") << true << true << 12;
    }
    void helpOpensTheManualInAWindowOfItsOwn()
    {
        QFETCH(bool, present);
        QFETCH(bool, byKey);
        QFETCH(int, depth);
        QTemporaryDir temp;
        QString programFolder = temp.path();
        for (int i = 0; i < depth; ++i)
            programFolder += u'/' + QString(39, QChar(u'a' + i));
        if (present) {
            QDir().mkpath(programFolder + u"/help"_s);
            QFile manual(programFolder + u"/help/index.html"_s);
            QVERIFY(manual.open(QIODevice::WriteOnly));
            manual.write("<html><body><h1>Norvale</h1></body></html>");
        }
        CConverterApp app;
        app.m_strHelpFilePath = CConverterApp::FindHelpFile(programFolder);
        QSignalSpy spy(m_dlg.get(), &CConverterDlg::commandRun);
        if (byKey)
            QTest::keyClick(m_dlg->m_lcSrcFiles, Qt::Key_F1);
        else
            m_dlg->CommandAction(57670)->trigger();
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 57670);
        QTextBrowser *help = helpWindow();
        if (!present) {
            QVERIFY(!help);
            return;
        }
        QVERIFY(help);
        QCOMPARE(help->parentWidget(), nullptr);
        QCOMPARE(help->source().toLocalFile(), programFolder + u"/help/index.html"_s);
        QVERIFY(help->toPlainText().contains(u"Norvale"_s));
    }

    // The help window is read beside the running main window: it scrolls, follows its links and
    // closes by the keyboard, and the main window still takes its keys meanwhile.
    void helpTakesInputBesideTheRunningWindow()
    {
        CConverterApp app;
        app.m_strHelpFilePath
            = CConverterApp::FindHelpFile(QFileInfo(QStringLiteral(NORVALE_BINARY)).path());
        QVERIFY(QFileInfo(app.m_strHelpFilePath).isFile());
        // As at start: the run shows the window.
        m_dlg->hide();
        bool bChecked = false;
        QTimer::singleShot(0, this, [&] {
            checkHelpBesideTheWindow();
            bChecked = true;
            m_dlg->OnCommand(2);
        });
        // A guard: a failed check must not leave the window running for ever.
        QTimer::singleShot(60000, m_dlg.get(), [this] { m_dlg->OnCommand(2); });
        m_dlg->DoModal();
        QVERIFY(bChecked);
    }

private:
    static QTextBrowser *helpWindow()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == u"help"_s && w->isVisible())
                return qobject_cast<QTextBrowser *>(w);
        return nullptr;
    }

    void checkHelpBesideTheWindow()
    {
        QVERIFY(m_dlg->isVisible());
        QTest::keyClick(m_dlg->windowHandle(), Qt::Key_F1);
        QTRY_VERIFY(helpWindow());
        QTextBrowser *help = helpWindow();
        QVERIFY(QTest::qWaitForWindowActive(help));
        QWindow *window = help->windowHandle();

        // Keys reach it the way the window system delivers them, past any modal window.
        QScrollBar *bar = help->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), 0);
        QTest::keyClick(window, Qt::Key_PageDown);
        QTRY_VERIFY(bar->value() > 0);
        QTest::keyClick(window, Qt::Key_Home);
        QTRY_COMPARE(bar->value(), 0);

        // The first link of the contents, reached by Tab and followed by Enter.
        QSignalSpy links(help, &QTextBrowser::anchorClicked);
        QTest::keyClick(window, Qt::Key_Tab);
        QTest::keyClick(window, Qt::Key_Return);
        QTRY_COMPARE(links.count(), 1);
        QCOMPARE(links.at(0).at(0).toUrl().fragment(), u"about"_s);

        // The main window, still open, takes its keys meanwhile.
        const int nMode = m_dlg->m_nMode;
        QTest::keyClick(m_dlg->windowHandle(), nMode == 0 ? Qt::Key_F8 : Qt::Key_F7);
        QTRY_COMPARE(m_dlg->m_nMode, 1 - nMode);

        QVERIFY(QTest::qWaitForWindowActive(help));
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!helpWindow());
        QVERIFY(m_dlg->isVisible());
    }

    QTemporaryDir m_appDir;
    std::unique_ptr<CConverterDlg> m_dlg;
    std::unique_ptr<FakeDesktop> m_pDesktop;
};

NORVALE_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
