#include "app/CAboutDlg.h"
#include "app/CConverterApp.h"
#include "app/CConverterDlg.h"
#include "conversion/CAuthorDlg.h"
#include "conversion/COverwriteDlg.h"
#include "conversion/CProgressDlg.h"
#include "conversion/CRunReportDlg.h"
#include "panes/CNewFolderDlg.h"
#include "res/Strings.h"
#include "tests/FakeDesktop.h"
#include "tests/WindowFixture.h"

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
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
        // The shared test bus has no drawing program: a run ends at the message that it cannot
        // be started, answered here.
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

    // The designed size is the smallest; a larger or maximised window gives each pane half the
    // extra width with the toolbar column between them, the lists the extra height and the name
    // column what its list gains, while the lines under the lists stay under them.
    void windowGrowsFromItsDesignedSize_data()
    {
        QTest::addColumn<QSize>("growth"); // empty: maximised
        QTest::newRow("designed") << QSize(0, 0);
        QTest::newRow("wider and taller, odd") << QSize(301, 120);
        QTest::newRow("maximised") << QSize();
    }
    void windowGrowsFromItsDesignedSize()
    {
        QFETCH(QSize, growth);
        const QSize designed = m_dlg->MapDialogRect(QRect(0, 0, 385, 345)).size();
        QCOMPARE(m_dlg->size(), designed);
        QCOMPARE(m_dlg->minimumSize(), designed);
        QVERIFY(m_dlg->windowFlags() & Qt::WindowMaximizeButtonHint);
        const auto rect = [this](int nId) {
            return m_dlg->GetDlgItem(nId)->geometry();
        };
        const QRect src = rect(IDC_SRC_LIST), dst = rect(IDC_DST_LIST), status = rect(IDC_STATUS);
        const QRect browse = rect(IDC_BROWSE_DST);
        const auto columns = [this] {
            const QHeaderView *header = m_dlg->m_lcDstFiles->header();
            return QList<int> {header->sectionSize(0), header->sectionSize(1),
                               header->sectionSize(2)};
        };
        const int nTime = m_dlg->m_lcDstFiles->ColumnSpace() - 180;
        QCOMPARE(columns(), QList<int>({120, 60, nTime}));
        if (growth.isValid()) {
            m_dlg->resize(designed + growth);
        } else {
            m_dlg->showMaximized();
            QTRY_VERIFY(m_dlg->size() != designed);
            growth = m_dlg->size() - designed;
        }
        // Shared to the pixel: an odd pixel goes to one side.
        const int dxLeft = rect(IDC_SRC_LIST).width() - src.width();
        QVERIFY(qAbs(2 * dxLeft - growth.width()) <= 1);
        QCOMPARE(rect(IDC_SRC_LIST), src.adjusted(0, 0, dxLeft, growth.height()));
        QCOMPARE(rect(IDC_DST_LIST), dst.adjusted(dxLeft, 0, growth.width(), growth.height()));
        QCOMPARE(rect(IDC_BROWSE_DST), browse.translated(growth.width(), 0));
        QCOMPARE(rect(IDC_STATUS),
                 status.adjusted(0, growth.height(), growth.width(), growth.height()));
        const QRect convert = m_dlg->m_tbConvert->geometry();
        QVERIFY(rect(IDC_SRC_LIST).right() < convert.left());
        QVERIFY(convert.right() < rect(IDC_DST_LIST).left());
        QCOMPARE(columns(), QList<int>({120 + growth.width() - dxLeft, 60, nTime}));
    }

    // The one place the numbers are written out: each id's name stands for the number the program
    // has always used, and the window it belongs to carries it as objectName: the window itself,
    // or exactly one of its controls.
    void idsKeepTheirNumbers_data()
    {
        QTest::addColumn<int>("window"); // 0: an id that no window carries
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("number");
        const auto add = [](int nWindow, const auto &aIds) {
            for (const auto &[nId, nNumber] : aIds)
                QTest::addRow("%d in %d", nNumber, nWindow) << nWindow << nId << nNumber;
        };
        constexpr int IDOK = TemplateDialog::IDOK, IDCANCEL = TemplateDialog::IDCANCEL;
        // clang-format off
        const std::pair<int, int> aMain[] = {
            {IDD_CONVERTER, 102}, {IDC_SRC_ICON, 1000}, {IDC_DST_ICON, 1001}, {IDC_SRC_EXT, 1002},
            {IDC_SRC_FOLDER, 1003}, {IDC_DST_EXT, 1004}, {IDC_SRC_LIST, 1005},
            {IDC_BROWSE_SRC, 1006}, {IDC_DST_FOLDER, 1007}, {IDC_DST_LIST, 1008},
            {IDC_BROWSE_DST, 1009}, {IDC_STATUS, 1010}, {IDC_LAUNCH_BAR_FRAME, 1011},
            {IDC_AUTHOR_BAR_FRAME, 1012}, {IDC_SAME_FOLDER_BAR_FRAME, 1013},
            {IDC_CONVERT_BAR_FRAME, 1014}, {IDC_MODE_BAR_FRAME, 1015}, {IDC_CAD_VERSION, 1022},
            {IDC_SRC_COUNT, 1042}, {IDC_DST_COUNT, 1043}, {IDC_SRC_SELECTED, 1044},
            {IDC_DST_SELECTED, 1045}, {IDC_SRC_FORMAT, 1046}, {IDC_DST_FORMAT, 1047},
            {IDC_AUTHOR_LINE, 1048}, {ID_SAME_FOLDER, 1018}, {ID_CONVERT, 1019},
            {ID_AUTO_MODE, 1020}, {ID_MANUAL_MODE, 1021}, {ID_LAUNCH_PROGRAM, 1023},
            {ID_CREATE_FOLDER, 1024}, {ID_AUTHOR_NAME, 32774}, {ID_HELP, 57670}, {IDOK, 1}};
        add(IDD_CONVERTER, aMain);
        const std::pair<int, int> aNamed[] = {
            {ID_DELETE_SRC_FILES, 1026}, {ID_SELECT_ALL_SRC, 1027}, {ID_REFRESH_SRC, 1028},
            {ID_DELETE_DST_FILES, 1029}, {ID_SELECT_ALL_DST, 1030}, {ID_REFRESH_DST, 1031},
            {IDR_SRC_LIST_MENU, 137}, {IDR_DST_LIST_MENU, 138}, {IDM_ABOUTBOX, 16},
            {IDR_MAINFRAME, 128}, {IDR_TB_SAME_FOLDER, 129}, {IDR_TB_CONVERT, 130},
            {IDR_TB_MODE, 131}, {IDR_TB_LAUNCH, 132}, {IDR_TB_AUTHOR, 133}, {IDI_NO_FORMAT, 134},
            {IDB_SORT_ARROWS, 135}, {IDB_LOGO, 142}, {IDS_ABOUTBOX, 101}, {IDS_CAPTION, 102},
            {IDS_VERSION, 103}, {IDS_NOTICE, 104}, {IDS_NO_SESSION_BUS, 300},
            {IDS_CREATE_FOLDER_FAILED, 302}, {IDS_AUTO_MODE_STATUS, 303},
            {IDS_MANUAL_MODE_STATUS, 304}, {IDS_SERVER_UNAVAILABLE, 305},
            {IDS_AUTO_CONVERT_QUESTION, 306}, {IDS_FILE_COUNT, 307}, {IDS_SELECTED_COUNT, 308}};
        add(0, aNamed);
        const std::pair<int, int> aAbout[] = {
            {IDD_ABOUTBOX, 100}, {IDC_ABOUT_VERSION, 1011}, {IDC_ABOUT_NOTICE, 1012},
            {IDC_ABOUT_WEBLINK, 1041}, {IDOK, 1}};
        add(IDD_ABOUTBOX, aAbout);
        const std::pair<int, int> aNewFolder[] = {
            {IDD_NEW_FOLDER, 136}, {IDC_FOLDER_NAME, 1025}, {IDOK, 1}, {IDCANCEL, 2}};
        add(IDD_NEW_FOLDER, aNewFolder);
        const std::pair<int, int> aOverwrite[] = {
            {IDD_OVERWRITE, 139}, {IDC_OVERWRITE_ALL, 1032}, {IDC_OVERWRITE_NO, 1033},
            {IDC_OVERWRITE_FILE, 1035}, {IDC_OVERWRITE_ICON, 1040}, {IDOK, 1}, {IDCANCEL, 2}};
        add(IDD_OVERWRITE, aOverwrite);
        const std::pair<int, int> aProgress[] = {
            {IDD_PROGRESS, 140}, {IDC_PROGRESS_DST_NAME, 1029}, {IDC_PROGRESS_BAR, 1034},
            {IDC_PROGRESS_DST_FOLDER, 1036}, {IDC_PROGRESS_SRC_FOLDER, 1037},
            {IDC_PROGRESS_SRC_NAME, 1038}, {IDCANCEL, 2}};
        add(IDD_PROGRESS, aProgress);
        const std::pair<int, int> aAuthor[] = {
            {IDD_AUTHOR, 144}, {IDC_AFFILIATION_LABEL, 1011}, {IDC_AUTHOR, 1049},
            {IDC_USER_NAME, 1050}, {IDC_AFFILIATION, 1051}, {IDOK, 1}, {IDCANCEL, 2}};
        add(IDD_AUTHOR, aAuthor);
        const std::pair<int, int> aRunReport[] = {
            {IDD_RUN_REPORT, 150}, {IDC_REPORT_COUNTS, 1060}, {IDC_REPORT_FILES, 1061},
            {IDCANCEL, 2}};
        add(IDD_RUN_REPORT, aRunReport);
        // clang-format on
    }
    void idsKeepTheirNumbers()
    {
        QFETCH(int, window);
        QFETCH(int, id);
        QFETCH(int, number);
        QCOMPARE(id, number);
        std::unique_ptr<QDialog> other;
        switch (window) {
        case 0:
            return;
        case IDD_ABOUTBOX:
            other = std::make_unique<CAboutDlg>();
            break;
        case IDD_NEW_FOLDER:
            other = std::make_unique<CNewFolderDlg>();
            break;
        case IDD_OVERWRITE:
            other = std::make_unique<COverwriteDlg>();
            break;
        case IDD_PROGRESS:
            other = std::make_unique<CProgressDlg>();
            break;
        case IDD_AUTHOR:
            other = std::make_unique<CAuthorDlg>();
            break;
        case IDD_RUN_REPORT:
            other = std::make_unique<CRunReportDlg>(QString());
            break;
        }
        const QDialog *dlg = other ? other.get() : m_dlg.get();
        const QString name = QString::number(number);
        QVERIFY(dlg->objectName() == name || dlg->findChildren<QWidget *>(name).size() == 1);
    }

    // Each field is reached by the letter of its label with Alt, and read out by the label's words.
    void mnemonicsAndAccessibleNames()
    {
        for (const int id : {IDC_SRC_EXT, IDC_SRC_FOLDER, IDC_DST_EXT, IDC_DST_FOLDER}) {
            QWidget *field = m_dlg->GetDlgItem(id);
            const QList<QLabel *> labels = m_dlg->findChildren<QLabel *>();
            const auto label = std::find_if(labels.begin(), labels.end(),
                                            [field](QLabel *l) { return l->buddy() == field; });
            QVERIFY(label != labels.end());
            const QString text = (*label)->text();
            QCOMPARE(field->accessibleName(), QString(text).remove(u'&').chopped(1));
            m_dlg->m_lcSrcFiles->setFocus();
            QTest::keyClick(m_dlg.get(), text.at(text.indexOf(u'&') + 1).toLatin1(),
                            Qt::AltModifier);
            QTRY_VERIFY(field->hasFocus());
        }
    }

    // Every tool button shows in full, none pushed into an overflow menu, with an icon and a name
    // that is read out; the name is its tip, but for the close button, which has none.
    void toolButtons()
    {
        for (const int id :
             {ID_SAME_FOLDER, ID_CONVERT, ID_AUTO_MODE, ID_MANUAL_MODE, ID_LAUNCH_PROGRAM,
              ID_CREATE_FOLDER, ID_AUTHOR_NAME, ID_HELP, int(CConverterDlg::IDOK)}) {
            QWidget *button = m_dlg->GetDlgItem(id);
            QVERIFY(button && button->isVisible());
            QVERIFY(button->parentWidget()->rect().contains(button->geometry()));
            QVERIFY(!button->accessibleName().isEmpty());
            QCOMPARE(button->toolTip(),
                     id == CConverterDlg::IDOK ? QString() : button->accessibleName());
            QVERIFY(!m_dlg->CommandAction(id)->icon().isNull());
        }
    }

    void buttonsStartAsTheOwnersSetThem()
    {
        // Manual mode from the defaults: only its button pressed; no target extension state yet.
        QCOMPARE(m_dlg->CommandAction(ID_MANUAL_MODE)->isChecked(), true);
        QCOMPARE(m_dlg->CommandAction(ID_AUTO_MODE)->isChecked(), false);
        QCOMPARE(m_dlg->CommandAction(ID_SAME_FOLDER)->isChecked(), false);
        QCOMPARE(m_dlg->GetDlgItemText(IDC_STATUS), LoadString(IDS_MANUAL_MODE_STATUS));
        // A click on a mode button does not toggle it by itself: only the handler decides.
        m_dlg->CommandAction(ID_MANUAL_MODE)->trigger();
        QCOMPARE(m_dlg->CommandAction(ID_MANUAL_MODE)->isChecked(), true);
        m_dlg->CommandAction(ID_SAME_FOLDER)->trigger(); // the handler turns the option on
        QCOMPARE(m_dlg->CommandAction(ID_SAME_FOLDER)->isChecked(), true);
        m_dlg->CommandAction(ID_SAME_FOLDER)->trigger();
        QCOMPARE(m_dlg->CommandAction(ID_SAME_FOLDER)->isChecked(), false);
    }

    void functionKeysPostTheirCommands_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("focus");
        QTest::newRow("F5 in the source list") << int(Qt::Key_F5) << ID_CONVERT << IDC_SRC_LIST;
        QTest::newRow("F7 in the folder combo")
            << int(Qt::Key_F7) << ID_AUTO_MODE << IDC_SRC_FOLDER;
        QTest::newRow("F8 in the extension combo")
            << int(Qt::Key_F8) << ID_MANUAL_MODE << IDC_DST_EXT;
    }
    void functionKeysPostTheirCommands()
    {
        QFETCH(int, key);
        QFETCH(int, command);
        QFETCH(int, focus);
        m_dlg->m_nMode = command == ID_MANUAL_MODE ? 0 : 1;
        // Disabled buttons must not stop the keys.
        for (int id : {ID_CONVERT, ID_AUTO_MODE, ID_MANUAL_MODE})
            m_dlg->EnableToolButton(id, false);
        QSignalSpy spy(m_dlg.get(), &CConverterDlg::commandRun);
        QWidget *target = m_dlg->GetDlgItem(focus);
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
        // Posted, not called: the handler runs from the event loop.
        QCOMPARE(spy.count(), 0);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), command);
        if (command == ID_CONVERT) { // the run was attempted
            QCOMPARE(m_pDesktop->Texts(), QStringList {LoadString(IDS_SERVER_UNAVAILABLE)});
        } else {
            const int mode = command == ID_AUTO_MODE ? 0 : 1;
            QCOMPARE(m_dlg->m_nMode, mode);
            QCOMPARE(m_dlg->CommandAction(ID_AUTO_MODE)->isChecked(), mode == 0);
            QCOMPARE(m_dlg->CommandAction(ID_MANUAL_MODE)->isChecked(), mode == 1);
            QCOMPARE(m_dlg->GetDlgItemText(IDC_STATUS),
                     LoadString(mode == 0 ? IDS_AUTO_MODE_STATUS : IDS_MANUAL_MODE_STATUS));
        }
    }

    void enterWithNothingPendingDoesNothing_data()
    {
        QTest::addColumn<int>("focus");
        QTest::newRow("folder combo") << IDC_SRC_FOLDER;
        QTest::newRow("browse button") << IDC_BROWSE_SRC;
        QTest::newRow("target list") << IDC_DST_LIST;
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

    void leavingTheComboDropsTheTypedFolder()
    {
        m_dlg->m_src.aHistory = {u"/data/current"_s, u"/data/older"_s};
        m_dlg->m_src.RefillFolderCombo(false);
        m_dlg->m_cbSrcFolder->setFocus();
        QTRY_VERIFY(m_dlg->m_cbSrcFolder->hasFocus());
        QTest::keyClicks(m_dlg->m_cbSrcFolder->lineEdit(), u"xyz"_s);
        QCOMPARE(m_dlg->m_nEditFolderId, unsigned(IDC_SRC_FOLDER));
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
    // ... and the next start shows the window as it was left: its size, and the columns as the
    // user set them, the name taking what the list has beyond its designed width.
    void everyWayOfClosingWritesTheSettings()
    {
        QFETCH(int, way);
        m_dlg->OnAutoMode();
        const QSize designed = m_dlg->size();
        m_dlg->resize(designed + QSize(100, 30));
        m_dlg->m_lcDstFiles->header()->resizeSection(1, 90);
        const QList<int> anWidths
            = m_dlg->m_lcDstFiles->ColumnWidthsAt(m_dlg->m_lcDstFiles->ColumnSpace());
        QSignalSpy finished(m_dlg.get(), &QDialog::finished);
        switch (way) {
        case 0:
            m_dlg->CommandAction(CConverterDlg::IDOK)->trigger();
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

        m_dlg = WindowFixture::open(m_appDir.path(), ini, true);
        QCOMPARE(m_dlg->size(), designed + QSize(100, 30));
        QCOMPARE(m_dlg->m_lcDstFiles->ColumnWidthsAt(m_dlg->m_lcDstFiles->ColumnSpace()), anWidths);
        QCOMPARE(anWidths.mid(1), QList<int>({90, m_dlg->m_nTemplateColumnSpace - 180}));
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
        const QPoint pos = m_dlg->GetDlgItem(IDC_STATUS)->geometry().center();
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
            m_dlg->CommandAction(ID_HELP)->trigger();
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), ID_HELP);
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
            m_dlg->OnCommand(CConverterDlg::IDCANCEL);
        });
        // A guard: a failed check must not leave the window running for ever.
        QTimer::singleShot(60000, m_dlg.get(),
                           [this] { m_dlg->OnCommand(CConverterDlg::IDCANCEL); });
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
