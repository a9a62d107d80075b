#pragma once

// Gives the window tests the window's private state and a way through its modal dialogs.

#include "mainwindow.h"
#include "outlinereplay.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QTimer>
#include <QPointer>
#include <QLineEdit>
#include <QMessageBox>
#include <QAbstractButton>

#include <functional>

class MainWindowTester
{
public:
    explicit MainWindowTester(MainWindow &window) : w(window) { }

    Ui::MainWindow *ui() const { return w.ui; }
    QGraphicsScene &scene() const { return w.scene; }
    QSettings &settings() const { return w.settings; }
    QString &fileName() const { return w.fileName; }
    QGraphicsPixmapItem *imageItem() const { return w.imageItem; }
    QGraphicsPathItem *traceItem() const { return w.traceItem; }
    QGraphicsPathItem *selectionItem() const { return w.selectionItem; }
    QGraphicsPixmapItem *backgroundItem() const { return w.backgroundItem; }
    QGraphicsEllipseItem *closeMarkerItem() const { return w.closeMarkerItem; }
    QGraphicsPixmapItem *previewItem() const { return w.previewItem; }
    QPoint &anchorPoint() const { return w.anchorPoint; }
    QPoint &traceStart() const { return w.traceStart; }
    QPainterPath &selectionPath() const { return w.selectionPath; }
    QPainterPath &tracePath() const { return w.tracePath; }
    QUndoStack &undoStack() const { return w.undoStack; }
    QColor &backgroundColor() const { return w.backgroundColor; }
    QImage &image() const { return w.image; }
    QList<quint16> &edgeMap() const { return w.edgeMap; }

    void smartSelect(QRect r, bool p, bool right = false) { w.ProcessSmartSelect2(r, p, right); }

    bool analysing() const { return w.edgeWorker != nullptr; }

    // Lets the event loop run until the edge analysis under way, if any, has delivered.
    void waitForEdges()
    {
        while (analysing())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    // openPicture as the command line, a drop or Open Recent run it, edges included.
    void openPicture(const QString &path)
    {
        w.openPicture(path);
        waitForEdges();
    }

    // A probe rectangle as the view makes it, size scene units wide, aiming at picture pixel p.
    static QRect probeAt(const QPoint &p, int size = 10) { return probeAround(p, size); }

    // Runs act, handing every modal dialog it opens to answer, once each (nullptr: reject).
    static void whenModal(const std::function<void()> &act,
                          const std::function<void(QDialog *)> &answer)
    {
        QTimer poll;
        QList<QPointer<QDialog>> seen;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible() || seen.contains(dialog))
                return;
            seen << dialog;
            // Answered from the event loop, so a box the answer opens is polled for too.
            QTimer::singleShot(0, dialog, [=] { answer ? answer(dialog) : dialog->reject(); });
        });
        poll.start(10);
        act();
    }

    static void chooseFile(QDialog *dialog, const QString &path)
    {
        auto *box = qobject_cast<QMessageBox *>(dialog);
        if (QAbstractButton *yes = box ? box->button(QMessageBox::Yes) : nullptr)
            return yes->click();
        // A file name is typed into the name field, as a user would.
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(path);
        dialog->accept();
    }

    // Open or Save through the real dialog, choosing path (empty: cancel), accepting any
    // message box that follows; returns the titles of those boxes.
    // Open returns with the edges still to come; this waits for them too.
    QStringList open(const QString &path)
    {
        const QStringList boxes = choose(ui()->actionOpen, path);
        waitForEdges();
        return boxes;
    }
    QStringList save(const QString &path) { return choose(ui()->actionSave, path); }

    QStringList choose(QAction *action, const QString &path)
    {
        QStringList boxes;
        whenModal([action] { action->trigger(); }, [&](QDialog *d) {
            if (!qobject_cast<QFileDialog *>(d))
                boxes << d->windowTitle();
            path.isEmpty() ? d->reject() : chooseFile(d, path);
        });
        return boxes;
    }

private:
    MainWindow &w;
};
