// Preview, invert and save through the window, with the real dialogs.

#include "mainwindowtester.h"
#include "picturefile.h"

#include <QDir>
#include <QGraphicsPathItem>
#include <QGraphicsPixmapItem>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace
{

const QColor kObject(200, 30, 40);
const QColor kGround(20, 120, 220);

// A red disc on a blue ground, 160 x 120.
QImage discPicture()
{
    QImage picture(160, 120, QImage::Format_RGB32);
    picture.fill(kGround);
    QPainter painter(&picture);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kObject);
    painter.drawEllipse(QPoint(80, 60), 40, 40);
    return picture;
}

// Outlines a 60 x 60 square at (50, 30) and closes it.
void selectSquare(MainWindowTester &t)
{
    for (QPoint p :
        { QPoint(50, 30), QPoint(110, 30), QPoint(110, 90), QPoint(50, 90), QPoint(50, 30) })
        t.smartSelect(MainWindowTester::probeAt(p), true);
}

// Makes a folder refuse new entries (even to root) or take them again.
bool seal(const QString &folder, bool sealed)
{
#ifdef Q_OS_UNIX
    if (getuid() == 0)
        return QProcess::execute(QStringLiteral("chattr"), { sealed ? "+i" : "-i", folder }) == 0;
#endif
    return QFile::setPermissions(folder,
        QFile::ReadOwner | QFile::ExeOwner | (sealed ? QFile::Permissions() : QFile::WriteOwner));
}

} // namespace

class TestPreviewSave : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString picturePath;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings().clear();
        picturePath = dir.filePath(QStringLiteral("disc.png"));
        QVERIFY(discPicture().save(picturePath));
    }

    void init() { QSettings().clear(); }

    void previewShowsTheObjectOverTheBackground()
    {
        MainWindow window;
        MainWindowTester t(window);
        t.ui()->actionProcess->trigger(); // no picture: unchecks itself
        QVERIFY(!t.ui()->actionProcess->isChecked() && t.ui()->actionSmartSelect->isChecked());
        t.open(picturePath);
        t.ui()->actionSmartSelect->setChecked(false);
        t.ui()->actionProcess->trigger(); // no selection: the same, and Smart Select comes back
        t.ui()->actionInvert->trigger();
        t.save(dir.filePath(QStringLiteral("never.png")));
        QCOMPARE(t.ui()->statusBar->currentMessage(), QStringLiteral("Nothing to save."));
        QVERIFY(!t.ui()->actionProcess->isChecked() && t.ui()->actionSmartSelect->isChecked());
        QVERIFY(!t.previewItem() && !t.selectionItem());

        selectSquare(t);
        t.ui()->actionTransparent->trigger();
        t.ui()->actionSmartSelect->setChecked(false);

        t.ui()->actionProcess->trigger();
        QVERIFY(t.ui()->actionProcess->isChecked());
        QVERIFY(t.previewItem());
        QCOMPARE(t.previewItem()->zValue(), 25.0);
        QCOMPARE(t.previewItem()->pos(), QPointF(10, 10));
        const QImage shown = t.previewItem()->pixmap().toImage();
        QCOMPARE(shown.size(), QSize(160, 120));
        QCOMPARE(QColor(shown.pixel(80, 60)), kObject);
        // The chessboard shows through the outside, which keeps alpha 1 of the picture.
        QVERIFY(qAbs(qRed(shown.pixel(4, 4)) - 191) <= 1);
        QVERIFY(qAbs(qBlue(shown.pixel(4, 4)) - 191) <= 1);
        QVERIFY(qAbs(qRed(shown.pixel(12, 4)) - 255) <= 1);
        const auto locked = [&t] {
            QList<bool> enabled;
            for (QAction *a : { t.ui()->actionSmartSelect, t.ui()->actionInvert,
                     t.ui()->actionSelectNone, t.ui()->actionColor, t.ui()->actionWhite,
                     t.ui()->actionTransparent, t.ui()->actionSave })
                enabled << a->isEnabled();
            return enabled;
        };
        QCOMPARE(locked(), QList<bool>({ false, false, false, false, false, false, true }));
        QVERIFY(!t.selectionItem()->isVisible() && !t.ui()->actionSmartSelect->isChecked());

        t.ui()->actionProcess->trigger();
        QVERIFY(!t.previewItem());
        QCOMPARE(locked(), QList<bool>({ true, true, true, true, true, true, true }));
        QVERIFY(t.selectionItem()->isVisible() && t.ui()->actionSmartSelect->isChecked());
        for (QGraphicsItem *item : t.scene().items())
            QVERIFY(item->zValue() < 25.0);
    }

    void invertSwapsInsideAndOutside()
    {
        MainWindow window;
        MainWindowTester t(window);
        t.open(picturePath);
        selectSquare(t);
        const QPainterPath before = t.selectionItem()->path();
        QVERIFY(before.contains(QPointF(90, 70)));

        t.ui()->actionInvert->trigger();
        QVERIFY(!t.selectionItem()->path().contains(QPointF(90, 70)));
        QVERIFY(t.selectionItem()->path().contains(QPointF(20, 20)));
        QVERIFY(!t.selectionItem()->path().contains(QPointF(5, 5))); // the frame is not picture
        QCOMPARE(t.selectionItem()->zValue(), 12.0);
        QVERIFY(t.selectionPath().contains(QPointF(20, 20)));
        QCOMPARE(t.undoStack().count(), 4);

        t.ui()->actionInvert->trigger();
        QVERIFY(t.selectionItem()->path().contains(QPointF(90, 70)));
        QVERIFY(!t.selectionItem()->path().contains(QPointF(20, 20)));

        // During a trace, the trace is closed into the selection first.
        t.smartSelect(MainWindowTester::probeAt({ 10, 10 }), true);
        t.smartSelect(MainWindowTester::probeAt({ 30, 10 }), true);
        t.smartSelect(MainWindowTester::probeAt({ 30, 25 }), true);
        t.smartSelect(MainWindowTester::probeAt({ 20, 20 }), false);
        QVERIFY(t.traceItem());
        t.ui()->actionInvert->trigger();
        QCOMPARE(t.anchorPoint(), QPoint(-100, -100));
        QVERIFY(t.tracePath().isEmpty());
        QVERIFY(!t.traceItem());
    }

    // Invert changes the outline without a step of its own; undoing the step before it must
    // still give back the outline as that step found it.
    void undoAfterInvertGivesBackTheTraceUnderWay()
    {
        MainWindow window;
        MainWindowTester t(window);
        t.open(picturePath);
        for (QPoint p : { QPoint(50, 30), QPoint(110, 30) })
            t.smartSelect(MainWindowTester::probeAt(p), true);
        const QPainterPath trace = t.tracePath(), shown = t.selectionItem()->path();
        const QPoint anchor = t.anchorPoint();
        t.smartSelect(MainWindowTester::probeAt({ 110, 90 }), true);
        t.ui()->actionInvert->trigger();
        t.undoStack().undo();
        QCOMPARE(t.anchorPoint(), anchor);
        QCOMPARE(t.tracePath(), trace);
        QVERIFY(t.selectionPath().isEmpty());
        QCOMPARE(t.selectionItem()->path(), shown);
    }

    void saveWritesTheComposedResult()
    {
        MainWindow window;
        MainWindowTester t(window);
        t.open(picturePath);
        selectSquare(t);

        QString start;
        MainWindowTester::whenModal([&] { t.ui()->actionSave->trigger(); },
            [&](QDialog *d) {
                start = qobject_cast<QFileDialog *>(d)->directory().canonicalPath();
                d->reject();
            });
        QCOMPARE(start, QFileInfo(dir.path()).canonicalFilePath()); // falls back to CurrDir
        QCOMPARE(t.ui()->statusBar->currentMessage(), QStringLiteral("No file selected"));
        QVERIFY(!t.settings().contains(QStringLiteral("CurrSaveDir")));

        QTemporaryDir out;
        t.ui()->actionTransparent->trigger();
        const QString png = out.filePath(QStringLiteral("cut.png"));
        QCOMPARE(t.save(png), QStringList());
        const QImage saved(png);
        QVERIFY(saved.hasAlphaChannel());
        QCOMPARE(qAlpha(saved.pixel(80, 60)), 255);
        QCOMPARE(QColor(saved.pixel(80, 60)).rgb(), kObject.rgb());
        QCOMPARE(qAlpha(saved.pixel(20, 60)), 1);
        QCOMPARE(qAlpha(saved.pixel(1, 60)), 0);
        QCOMPARE(t.settings().value(QStringLiteral("CurrSaveDir")).toString(),
            QFileInfo(out.path()).canonicalFilePath());

        // Saving changes nothing of the document.
        QCOMPARE(t.undoStack().count(), 4);
        QVERIFY(t.selectionItem());
    }

    void jpegWarnsWhenTransparencyIsLost_data()
    {
        QTest::addColumn<QColor>("background");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("warned");
        QTest::newRow("white jpg") << QColor(Qt::white) << "a.jpg" << false;
        QTest::newRow("transparent JPEG") << QColor(Qt::transparent) << "b.JPEG" << true;
        QTest::newRow("alpha 254 jpg") << QColor(0, 128, 0, 254) << "d.jpg" << true;
    }

    void jpegWarnsWhenTransparencyIsLost()
    {
        QFETCH(QColor, background);
        QFETCH(QString, name);
        QFETCH(bool, warned);
        MainWindow window;
        MainWindowTester t(window);
        t.open(picturePath);
        selectSquare(t);
        t.backgroundColor() = background;

        QTemporaryDir out;
        bool writtenBeforeWarning = false;
        QStringList boxes;
        const QString path = out.filePath(name);
        MainWindowTester::whenModal([&] { t.ui()->actionSave->trigger(); },
            [&](QDialog *d) {
                if (!qobject_cast<QFileDialog *>(d)) {
                    boxes << d->windowTitle();
                    writtenBeforeWarning = QFile::exists(path);
                }
                MainWindowTester::chooseFile(d, path);
            });
        QCOMPARE(boxes.contains(QStringLiteral("Transparency was lost")), warned);
        if (warned)
            QVERIFY(writtenBeforeWarning);
        if (name.endsWith(QLatin1String("jpg"), Qt::CaseInsensitive)) {
            const QImage saved(path);
            QCOMPARE(saved.format(), QImage::Format_RGB32);
            // Outside the object the background's colour, opaque.
            const QColor corner = saved.pixelColor(20, 60);
            QVERIFY(qAbs(corner.green() - background.green()) <= 3);
        }
    }

    void failedWriteKeepsWhatWasThere()
    {
        MainWindow window;
        MainWindowTester t(window);
        t.open(picturePath);
        selectSquare(t);
        // The status names the cause, not the file the user just chose.
        const auto failedFor = [&t](const QString &path) {
            const QString shown = t.ui()->statusBar->currentMessage();
            const QString prefix = QStringLiteral("Failed to save image: ");
            return shown.startsWith(prefix) && shown.size() > prefix.size() + 3
                && !shown.contains(path);
        };

        // An unknown suffix writes nothing; the folder of a missing file is stored empty
        // and then used as it is, not replaced by the folder of the picture.
        QTemporaryDir out;
        const QString unknown = out.filePath(QStringLiteral("cut.unknownformat"));
        t.save(unknown);
        QVERIFY2(failedFor(unknown), qPrintable(t.ui()->statusBar->currentMessage()));
        QVERIFY(QDir(out.path()).isEmpty());
        QVERIFY(t.settings().contains(QStringLiteral("CurrSaveDir")));
        QCOMPARE(t.settings().value(QStringLiteral("CurrSaveDir")).toString(), QString());
        QString start;
        MainWindowTester::whenModal([&] { t.ui()->actionSave->trigger(); },
            [&](QDialog *d) {
                start = qobject_cast<QFileDialog *>(d)->directory().canonicalPath();
                d->reject();
            });
        QCOMPARE(start, QDir::current().canonicalPath());

        // A folder that takes no new files keeps the file it has.
        const QString existing = out.filePath(QStringLiteral("kept.png"));
        QFile file(existing);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("previous contents");
        file.close();
        QVERIFY2(seal(out.path(), true), "could not make a folder read-only");
        t.save(existing);
        seal(out.path(), false);
        QVERIFY2(failedFor(existing), qPrintable(t.ui()->statusBar->currentMessage()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("previous contents"));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList({ "kept.png" }));

        // The next save that works takes the failure off the status bar.
        t.save(existing);
        QVERIFY(QImage(existing).size() == QSize(160, 120));
        QCOMPARE(t.ui()->statusBar->currentMessage(), QString());
    }

    void pictureTooTallForJpegIsRefusedBeforeTheWork()
    {
        // 1 x 70000 pixels: more rows than a JPEG can hold, and cheap to analyse.
        QTemporaryDir out;
        const QString tall = out.filePath(QStringLiteral("tall.png"));
        QImage picture(1, 70000, QImage::Format_RGB32);
        picture.fill(kGround);
        QVERIFY(picture.save(tall));
        MainWindow window;
        MainWindowTester t(window);
        t.open(tall);
        QCOMPARE(t.image().height(), 70000);
        t.smartSelect(MainWindowTester::probeAt({ 0, 10 }), true);
        t.smartSelect(MainWindowTester::probeAt({ 0, 69000 }), true);
        QVERIFY(t.selectionItem());

        const QString jpeg = out.filePath(QStringLiteral("tall.jpg"));
        t.save(jpeg);
        QString reason;
        QVERIFY(!checkPictureFits(t.image().size(), jpeg, &reason));
        QCOMPARE(
            t.ui()->statusBar->currentMessage(), QStringLiteral("Failed to save image: ") + reason);
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList({ "tall.png" }));
    }
};

QTEST_MAIN(TestPreviewSave)
#include "tst_previewsave.moc"
