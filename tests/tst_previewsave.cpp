// Preview, invert and save through the window, with the real dialogs.

#include "mainwindowtester.h"

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

// A window with the disc picture open and, with closed set, a 60 x 60 square at (50, 30)
// outlined and closed.
struct Opened {
    MainWindow window;
    MainWindowTester t { window };
    explicit Opened(const QString &picture, bool closed = true)
    {
        t.open(picture);
        if (closed)
            selectSquare();
    }
    void selectSquare()
    {
        for (QPoint p :
            { QPoint(50, 30), QPoint(110, 30), QPoint(110, 90), QPoint(50, 90), QPoint(50, 30) })
            press(p);
    }
    void press(QPoint p) { t.smartSelect(MainWindowTester::probeAt(p), true); }
    QString status() const { return t.ui()->statusBar->currentMessage(); }
    // Where the Save dialog starts; cancelled.
    QString saveStart()
    {
        QString start;
        MainWindowTester::whenModal([&] { t.ui()->actionSave->trigger(); },
            [&](QDialog *d) {
                start = qobject_cast<QFileDialog *>(d)->directory().canonicalPath();
                d->reject();
            });
        return start;
    }
};

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
        picturePath = dir.filePath(QStringLiteral("disc.png"));
        QVERIFY(discPicture().save(picturePath));
    }

    void init() { QSettings().clear(); }

    void previewShowsTheObjectOverTheBackground()
    {
        MainWindow bare;
        Ui::MainWindow *ui = MainWindowTester(bare).ui();
        ui->actionProcess->trigger(); // no picture: unchecks itself
        QVERIFY(!ui->actionProcess->isChecked() && ui->actionSmartSelect->isChecked());
        Opened o(picturePath, false);
        ui = o.t.ui();
        ui->actionSmartSelect->setChecked(false);
        ui->actionProcess->trigger(); // no selection: the same, and Smart Select comes back
        ui->actionInvert->trigger();
        o.t.save(dir.filePath(QStringLiteral("never.png")));
        QCOMPARE(o.status(), QStringLiteral("Nothing to save."));
        QVERIFY(!ui->actionProcess->isChecked() && ui->actionSmartSelect->isChecked());
        QVERIFY(!o.t.previewItem() && !o.t.selectionItem());

        o.selectSquare();
        ui->actionTransparent->trigger();
        ui->actionSmartSelect->setChecked(false);
        ui->actionProcess->trigger();
        QVERIFY(ui->actionProcess->isChecked() && o.t.previewItem());
        QVERIFY(o.t.previewItem()->zValue() == 25.0 && o.t.previewItem()->pos() == QPointF(10, 10));
        const QImage shown = o.t.previewItem()->pixmap().toImage();
        QVERIFY(shown.size() == QSize(160, 120) && QColor(shown.pixel(80, 60)) == kObject);
        // The chessboard shows through the outside, which keeps alpha 1 of the picture.
        QVERIFY(
            qAbs(qRed(shown.pixel(4, 4)) - 191) <= 1 && qAbs(qBlue(shown.pixel(4, 4)) - 191) <= 1);
        QVERIFY(qAbs(qRed(shown.pixel(12, 4)) - 255) <= 1);
        const auto enabled = [ui] {
            QList<bool> on;
            for (QAction *a : { ui->actionSmartSelect, ui->actionInvert, ui->actionSelectNone,
                     ui->actionColor, ui->actionWhite, ui->actionTransparent, ui->actionSave })
                on << a->isEnabled();
            return on;
        };
        QCOMPARE(enabled(), QList<bool>({ false, false, false, false, false, false, true }));
        QVERIFY(!o.t.selectionItem()->isVisible() && !ui->actionSmartSelect->isChecked());

        ui->actionProcess->trigger();
        QVERIFY(!o.t.previewItem() && !enabled().contains(false));
        QVERIFY(o.t.selectionItem()->isVisible() && ui->actionSmartSelect->isChecked());
        for (QGraphicsItem *item : o.t.scene().items())
            QVERIFY(item->zValue() < 25.0);
    }

    void invertSwapsInsideAndOutside()
    {
        Opened o(picturePath);
        const auto inside = [&o](QPointF p) { return o.t.selectionItem()->path().contains(p); };
        QVERIFY(inside({ 90, 70 }));
        o.t.ui()->actionInvert->trigger();
        QVERIFY(!inside({ 90, 70 }) && inside({ 20, 20 }));
        QVERIFY(!inside({ 5, 5 })); // the frame is not picture
        QVERIFY(
            o.t.selectionItem()->zValue() == 12.0 && o.t.selectionPath().contains(QPointF(20, 20)));
        QCOMPARE(o.t.undoStack().count(), 4);
        o.t.ui()->actionInvert->trigger();
        QVERIFY(inside({ 90, 70 }) && !inside({ 20, 20 }));

        // During a trace, the trace is closed into the selection first.
        for (QPoint p : { QPoint(10, 10), QPoint(30, 10), QPoint(30, 25) })
            o.press(p);
        o.t.smartSelect(MainWindowTester::probeAt({ 20, 20 }), false);
        QVERIFY(o.t.traceItem());
        o.t.ui()->actionInvert->trigger();
        QVERIFY(o.t.anchorPoint() == QPoint(-100, -100) && o.t.tracePath().isEmpty());
        QVERIFY(!o.t.traceItem());
    }

    // Invert changes the outline without a step of its own; undoing the step before it must
    // still give back the outline as that step found it.
    void undoAfterInvertGivesBackTheTraceUnderWay()
    {
        Opened o(picturePath, false);
        o.press({ 50, 30 });
        o.press({ 110, 30 });
        const QPainterPath trace = o.t.tracePath(), shown = o.t.selectionItem()->path();
        const QPoint anchor = o.t.anchorPoint();
        o.press({ 110, 90 });
        o.t.ui()->actionInvert->trigger();
        o.t.undoStack().undo();
        QVERIFY(o.t.anchorPoint() == anchor && o.t.tracePath() == trace);
        QVERIFY(o.t.selectionPath().isEmpty() && o.t.selectionItem()->path() == shown);
    }

    void saveWritesTheComposedResult()
    {
        Opened o(picturePath);
        QCOMPARE(o.saveStart(), QFileInfo(dir.path()).canonicalFilePath()); // falls back to CurrDir
        QCOMPARE(o.status(), QStringLiteral("No file selected"));
        QVERIFY(!o.t.settings().contains(QStringLiteral("CurrSaveDir")));

        QTemporaryDir out;
        o.t.ui()->actionTransparent->trigger();
        const QString png = out.filePath(QStringLiteral("cut.png"));
        QCOMPARE(o.t.save(png), QStringList());
        const QImage saved(png);
        QVERIFY(saved.hasAlphaChannel() && saved.pixel(80, 60) == kObject.rgb());
        QVERIFY(qAlpha(saved.pixel(20, 60)) == 1 && qAlpha(saved.pixel(1, 60)) == 0);
        QCOMPARE(o.t.settings().value(QStringLiteral("CurrSaveDir")).toString(),
            QFileInfo(out.path()).canonicalFilePath());
        // Saving changes nothing of the document.
        QVERIFY(o.t.undoStack().count() == 4 && o.t.selectionItem());
    }

    void jpegWarnsAfterWritingWhenTransparencyIsLost_data()
    {
        QTest::addColumn<QColor>("background");
        QTest::addColumn<bool>("warned");
        QTest::newRow("white") << QColor(Qt::white) << false;
        QTest::newRow("alpha 254") << QColor(0, 128, 0, 254) << true;
    }

    void jpegWarnsAfterWritingWhenTransparencyIsLost()
    {
        QFETCH(QColor, background);
        QFETCH(bool, warned);
        Opened o(picturePath);
        o.t.backgroundColor() = background;
        QTemporaryDir out;
        const QString path = out.filePath(QStringLiteral("cut.jpg"));
        QStringList boxes;
        MainWindowTester::whenModal([&] { o.t.ui()->actionSave->trigger(); },
            [&](QDialog *d) {
                if (!qobject_cast<QFileDialog *>(d))
                    boxes << d->windowTitle() + (QFile::exists(path) ? " after writing" : "");
                MainWindowTester::chooseFile(d, path);
            });
        QCOMPARE(
            boxes, warned ? QStringList("Transparency was lost after writing") : QStringList());
        // Outside the object the background's colour, opaque.
        const QImage saved(path);
        QCOMPARE(saved.format(), QImage::Format_RGB32);
        QVERIFY(qAbs(saved.pixelColor(20, 60).green() - background.green()) <= 3);
    }

    void failedWriteKeepsWhatWasThere()
    {
        Opened o(picturePath);
        // The status names the cause, not the file the user just chose.
        const auto failedFor = [&o](const QString &path) {
            const QString prefix = QStringLiteral("Failed to save image: ");
            return o.status().startsWith(prefix) && o.status().size() > prefix.size() + 3
                && !o.status().contains(path);
        };

        // An unknown suffix writes nothing; the folder of a missing file is stored empty
        // and then used as it is, not replaced by the folder of the picture.
        QTemporaryDir out;
        const QString unknown = out.filePath(QStringLiteral("cut.unknownformat"));
        o.t.save(unknown);
        QVERIFY2(failedFor(unknown) && QDir(out.path()).isEmpty(), qPrintable(o.status()));
        QVERIFY(o.t.settings().contains(QStringLiteral("CurrSaveDir")));
        QCOMPARE(o.t.settings().value(QStringLiteral("CurrSaveDir")).toString(), QString());
        QCOMPARE(o.saveStart(), QDir::current().canonicalPath());

        // A folder that takes no new files keeps the file it has.
        const QString existing = out.filePath(QStringLiteral("kept.png"));
        QFile file(existing);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("previous") == 8);
        file.close();
        QVERIFY2(seal(out.path(), true), "could not make a folder read-only");
        o.t.save(existing);
        seal(out.path(), false);
        QVERIFY2(failedFor(existing), qPrintable(o.status()));
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == "previous");
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList({ "kept.png" }));

        // The next save that works takes the failure off the status bar.
        o.t.save(existing);
        QVERIFY(QImage(existing).size() == QSize(160, 120) && o.status().isEmpty());
    }
};

QTEST_MAIN(TestPreviewSave)
#include "tst_previewsave.moc"
