#pragma once

// Gives the window tests the window's private state and a way through its modal dialogs.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QTimer>
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

    void smartSelect(const QRect &rect, bool pressed, bool right = false)
    {
        w.ProcessSmartSelect2(rect, pressed, right);
    }

    // A probe rectangle as the view makes it at zoom 1, centred on picture pixel p.
    static QRect probeAt(const QPoint &p, int size = 10)
    {
        return QRect(p.x() + 10 - size / 2, p.y() + 10 - size / 2, size, size);
    }

    // Runs act, answering the first modal dialog it opens with answer (nullptr: reject).
    static void whenModal(const std::function<void()> &act,
                          const std::function<void(QDialog *)> &answer)
    {
        auto *poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            poll->stop();
            poll->deleteLater();
            if (answer)
                answer(dialog);
            else
                dialog->reject();
        });
        poll->start(10);
        act();
    }

    static void chooseFile(QDialog *dialog, const QString &path)
    {
        auto *files = qobject_cast<QFileDialog *>(dialog);
        files->selectFile(path);
        dialog->accept();
    }

    // Open through the real dialog, choosing path (empty: cancel).
    void open(const QString &path)
    {
        whenModal([this] { ui()->actionOpen->trigger(); },
                  [path](QDialog *d) { path.isEmpty() ? d->reject() : chooseFile(d, path); });
    }

    void save(const QString &path)
    {
        whenModal([this] { ui()->actionSave->trigger(); },
                  [path](QDialog *d) { path.isEmpty() ? d->reject() : chooseFile(d, path); });
    }

private:
    MainWindow &w;
};
