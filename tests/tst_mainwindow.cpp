// The window as it starts, its commands, zoom, settings, help and about, the colour button.

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

#include <memory>

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
            QStringList(
                { "Open", "Save As", "Smart Select", "Follow edges: shortest path", "Invert",
                    "Preview mode", "White", "Transparent", "Color", "Zoom In", "Zoom Out" }));
        QStringList menus;
        for (QAction *action : t.ui()->menuBar->actions())
            menus << action->text();
        QCOMPARE(menus, QStringList({ "File", "Edit", "View", "Help" }));

        QStringList edit; // the trace keys wait for the smart-select tool
        for (QAction *action : t.ui()->menuEdit->actions())
            if (!action->isSeparator())
                edit << action->text() + (action->isEnabled() ? "" : " (off)");
        QCOMPARE(edit,
            QStringList({ "Undo (off)", "Redo (off)", "Select None", "Take Back Last Point (off)",
                "End Outline (off)", "Close Outline (off)", "Follow edges: shortest path" }));
        QCOMPARE(t.ui()->menuEdit->actions().first()->shortcut(), QKeySequence(QKeySequence::Undo));
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

    void colorButtonShowsTheColorAndAsksAgain()
    {
        MainWindow window;
        MainWindowTester t(window);
        QAction *color = t.ui()->actionColor;
        // Picks the colour in the dialogs a click opens (invalid: cancels); counts them.
        const auto pick = [&](const QColor &chosen) {
            int asked = 0;
            MainWindowTester::whenModal([&] { color->trigger(); },
                [&](QDialog *d) {
                    ++asked;
                    qobject_cast<QColorDialog *>(d)->setCurrentColor(chosen);
                    chosen.isValid() ? d->accept() : d->reject();
                });
            return asked;
        };
        const auto face = [&](int x) { return color->icon().pixmap(32).toImage().pixel(x, 16); };
        QCOMPARE(pick(QColor(10, 200, 30)), 1);
        QCOMPARE(face(16), qRgb(10, 200, 30));
        // Already the mode, a click asks again; translucent red shows both chessboard shades.
        QCOMPARE(pick(QColor(255, 0, 0, 128)), 1);
        QCOMPARE(t.backgroundColor(), QColor(255, 0, 0, 128));
        QSet<QRgb> shades;
        for (int x = 2; x < 30; ++x)
            shades << face(x);
        QCOMPARE(shades.size(), 2);
        for (QRgb c : shades)
            QVERIFY(qRed(c) > 200 && qGreen(c) == qBlue(c) && qGreen(c) >= 90);
        QCOMPARE(pick(QColor()), 1); // cancelled: the colour stays
        QCOMPARE(t.backgroundColor(), QColor(255, 0, 0, 128));
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

    void zoomKeys()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const QGraphicsView *view = MainWindowTester(window).ui()->graphicsView;
        const QList<QPair<Qt::Key, qreal>> steps { { Qt::Key_Plus, 1.2 }, { Qt::Key_Equal, 1.44 },
            { Qt::Key_Minus, 1.2 }, { Qt::Key_1, 1.0 } };
        for (const auto &[key, scale] : steps) {
            QTest::keyClick(&window, key, Qt::ControlModifier);
            QVERIFY2(qFuzzyCompare(view->transform().m11(), scale),
                qPrintable(QKeySequence(key).toString()));
        }
    }

    void followEdgesIsRemembered()
    {
        const QString key = QStringLiteral("FollowEdges");
        MainWindowTester(*std::make_unique<MainWindow>()).settings().remove(key);
        // Each new window starts as the one before left it; unknown values mean direct.
        bool shortest = false;
        for (const char *value : { "shortest path", "sideways", "shortest path", "direct" }) {
            auto window = std::make_unique<MainWindow>();
            MainWindowTester t(*window);
            QCOMPARE(t.ui()->actionFollowEdges->isChecked(), shortest);
            if (qstrcmp(value, "sideways") == 0)
                t.settings().setValue(key, QStringLiteral("sideways"));
            else
                t.ui()->actionFollowEdges->trigger();
            QCOMPARE(t.settings().value(key).toString(), QLatin1String(value));
            shortest = qstrcmp(value, "shortest path") == 0;
        }
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
