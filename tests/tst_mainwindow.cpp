// The window as it starts, its commands, zoom, settings, help and about.

#include "helpdialog.h"
#include "mainwindowtester.h"
#include "zelgraphicsview.h"

#include <QColorDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setApplicationName(QStringLiteral("Velmora 1.0"));
        QCoreApplication::setOrganizationName(QStringLiteral("Parvel software"));
    }

    void freshStart()
    {
        MainWindow window;
        MainWindowTester t(window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora"));
        QCOMPARE(window.size(), QSize(600, 400));

        QStringList tips;
        for (QAction *action : t.ui()->mainToolBar->actions())
            tips << (action->isSeparator() ? QStringLiteral("|") : action->toolTip());
        QCOMPARE(tips,
            QStringList({ "Open", "Save As", "Smart Select", "Invert", "Preview mode", "White",
                "Transparent", "Color", "Zoom In", "Zoom Out" }));
        QStringList menus;
        for (QAction *action : t.ui()->menuBar->actions())
            menus << action->text();
        QCOMPARE(menus, QStringList({ "File", "Edit", "Help" }));

        const QList<QAction *> edit = t.ui()->menuEdit->actions();
        QCOMPARE(edit.size(), 2);
        QCOMPARE(edit.first()->text(), QStringLiteral("Undo"));
        QVERIFY(!edit.first()->isEnabled());
        QCOMPARE(edit.first()->shortcut(), QKeySequence(QKeySequence::Undo));
        QCOMPARE(edit.last(), t.ui()->actionSelectNone);
        QCOMPARE(edit.last()->text(), QStringLiteral("Select None"));
        QVERIFY(t.ui()->actionWhite->isChecked());
        QVERIFY(!t.ui()->actionSmartSelect->isChecked() && !t.ui()->actionProcess->isChecked());
        QVERIFY(!t.ui()->progressBar->isVisible());
        QVERIFY(!t.ui()->graphicsView->scene());
    }

    void shortcutsReachTheirCommands()
    {
        MainWindow window;
        MainWindowTester t(window);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        MainWindowTester::whenModal(
            [&] { QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier); }, nullptr);
        QCOMPARE(t.ui()->statusBar->currentMessage(), QStringLiteral("No file selected"));
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(t.ui()->statusBar->currentMessage(), QStringLiteral("Nothing to save."));

        QSignalSpy quit(&window, &MainWindow::mwquit);
        QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(quit.count(), 1);

        // Ctrl+Z with nothing to undo does nothing, and does not reach the trace state.
        QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(t.anchorPoint(), QPoint(0, 0));
    }

    void backgroundModes()
    {
        MainWindow window;
        MainWindowTester t(window);
        t.ui()->actionTransparent->trigger();
        t.ui()->actionTransparent->trigger(); // already checked: stays, runs nothing
        QVERIFY(t.ui()->actionTransparent->isChecked() && !t.ui()->actionWhite->isChecked());
        QCOMPARE(t.backgroundColor().rgba(), QColor(Qt::transparent).rgba());

        QString title;
        QColor initial;
        MainWindowTester::whenModal([&] { t.ui()->actionColor->trigger(); },
            [&](QDialog *d) {
                auto *colors = qobject_cast<QColorDialog *>(d);
                title = colors->windowTitle();
                initial = colors->currentColor();
                QVERIFY(colors->testOption(QColorDialog::ShowAlphaChannel));
                colors->setCurrentColor(QColor(10, 20, 30, 40));
                d->accept();
            });
        QCOMPARE(title, QStringLiteral("Please select the background color"));
        QCOMPARE(initial, QColor(Qt::white));
        QCOMPARE(t.backgroundColor(), QColor(10, 20, 30, 40));

        // Cancelling keeps the colour of the mode checked before; Color stays checked.
        t.ui()->actionWhite->trigger();
        MainWindowTester::whenModal([&] { t.ui()->actionColor->trigger(); }, nullptr);
        QVERIFY(t.ui()->actionColor->isChecked());
        QCOMPARE(t.backgroundColor(), QColor(Qt::white));
    }

    void zoomStepsMultiply()
    {
        MainWindow window;
        MainWindowTester t(window);
        for (int i = 0; i < 5; ++i)
            t.ui()->actionZoomPlus->trigger();
        const QTransform zoom = t.ui()->graphicsView->transform();
        QVERIFY(qFuzzyCompare(zoom.m11(), 2.48832) && qFuzzyCompare(zoom.m22(), 2.48832));
        for (int i = 0; i < 5; ++i)
            t.ui()->actionZoomMinus->trigger();
        QVERIFY(qFuzzyCompare(t.ui()->graphicsView->transform().m11(), 1.0));
    }

    void settingsOutliveTheWindow()
    {
        {
            MainWindow first;
            MainWindowTester(first).settings().setValue(
                QStringLiteral("CurrDir"), QStringLiteral("/some/folder"));
        }
        MainWindow second;
        QSettings &settings = MainWindowTester(second).settings();
        QCOMPARE(
            settings.value(QStringLiteral("CurrDir")).toString(), QStringLiteral("/some/folder"));
        QVERIFY(settings.fileName().endsWith(QStringLiteral("Parvel software/Velmora 1.0.conf")));
    }

    void quitAndCloseEndTheLoopWithZero()
    {
        {
            MainWindow window;
            connect(&window, &MainWindow::mwquit, qApp, &QApplication::quit);
            window.show();
            QTimer::singleShot(0, MainWindowTester(window).ui()->actionQuit, &QAction::trigger);
            QCOMPARE(QApplication::exec(), 0);
        }
        MainWindow window;
        window.show();
        QTimer::singleShot(0, &window, &QWidget::close);
        QCOMPARE(QApplication::exec(), 0);
    }

    void helpWindowsAndAbout()
    {
        MainWindow window;
        MainWindowTester t(window);
        window.show();
        for (int i = 0; i < 3; ++i)
            t.ui()->actionIndex->trigger();
        const QList<HelpDialog *> helps = window.findChildren<HelpDialog *>();
        QCOMPARE(helps.size(), 3);
        for (HelpDialog *help : helps)
            QVERIFY(help->isVisible() && !help->isModal() && help->size() == QSize(400, 300));
        QVERIFY(!QApplication::activeModalWidget());
        QTest::mouseClick(
            helps.first()->findChild<QPushButton *>(QStringLiteral("buttonOK")), Qt::LeftButton);
        QVERIFY(!helps.first()->isVisible());
        QCOMPARE(window.findChildren<HelpDialog *>().size(), 3);

        QString title;
        MainWindowTester::whenModal([&] { t.ui()->actionAbout->trigger(); },
            [&](QDialog *d) {
                title = d->windowTitle();
                d->accept();
            });
        QCOMPARE(title, QStringLiteral("Velmora 1.1"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
