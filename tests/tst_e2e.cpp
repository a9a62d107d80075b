// A user's whole road through the real program in a real X server: open a photo through the
// file dialog, outline the object with clicks, take back slips, survive a broken file and a
// resized window, preview, save PNG and JPEG, quit. Input goes only through xdotool; what the
// program shows is read back from screenshots, what it writes from its files.

#include <QtGui>
#include <QtTest>

namespace
{

const QString kShotFolder = QStringLiteral(VELMORA_BUILD_DIR "/tests/e2e-shots/");
const QColor kCustomBackground(0x3c, 0x9a, 0x5a);

struct Photo {
    QImage picture;
    QPainterPath outline;
};

// A shaded tin or ball in front of a wall and a wooden floor, with sensor noise. No colour in
// it is near grey or white, which is how it is told apart from the window around it.
Photo makePhoto(QSize size, bool tin)
{
    const double w = size.width(), h = size.height();
    Photo photo { QImage(size, QImage::Format_RGB32), {} };
    if (tin)
        photo.outline.addRoundedRect(0.28 * w, 0.2 * h, 0.44 * w, 0.6 * h, 0.07 * h, 0.07 * h);
    else
        photo.outline.addEllipse(QPointF(0.5 * w, 0.47 * h), 0.3 * h, 0.3 * h);
    QPainter painter(&photo.picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient room(0, 0, 0, h);
    room.setStops({ { 0, QColor(80, 98, 132) }, { 0.68, QColor(118, 134, 160) },
        { 0.681, QColor(112, 86, 60) }, { 1, QColor(160, 124, 84) } });
    painter.fillRect(photo.picture.rect(), room);
    painter.setPen(QPen(QColor(40, 25, 10, 40), std::max(1.0, h / 400)));
    for (double y = 0.72 * h; y < h; y += 0.05 * h) // floorboards
        painter.drawLine(QLineF(0, y, w, y));
    // The tin is a cylinder lit from the front, the ball is lit from the upper left.
    QGradient shade = tin ? QGradient(QLinearGradient(0, 0, 1, 0))
                          : QGradient(QRadialGradient(0.5, 0.5, 0.5, 0.36, 0.32));
    const QColor dark(124, 20, 30), light(228, 100, 80);
    shade.setStops(tin
            ? QGradientStops { { 0, dark }, { 0.45, light }, { 1, dark } }
            : QGradientStops { { 0, light }, { 0.55, QColor(190, 44, 42) }, { 1, dark } });
    shade.setCoordinateMode(QGradient::ObjectBoundingMode);
    painter.fillPath(photo.outline, shade);
    painter.end();
    quint32 state = 0x9e3779b9u; // the same noise in every run
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(photo.picture.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            auto grain = [&](int v) { return std::clamp(v + int(state >> 24) % 11 - 5, 0, 235); };
            line[x] = qRgb(grain(qRed(line[x])), grain(qGreen(line[x])), grain(qBlue(line[x])));
        }
    }
    return photo;
}

// Points evenly spaced along the outline, from the middle of its top, where it runs straight
// and sharp: a first click there snaps onto the outline itself. As fractions of `size`.
QList<QPointF> pointsAlong(const QPainterPath &outline, QSizeF size, int count)
{
    const QPointF topMiddle(outline.boundingRect().center().x(), outline.boundingRect().top());
    auto away = [&](double t) { return QLineF(outline.pointAtPercent(t), topMiddle).length(); };
    double start = 0;
    for (double t = 0; t < 1; t += 1.0 / 4096)
        start = away(t) < away(start) ? t : start;
    QList<QPointF> points;
    for (int i = 0; i < count; ++i)
        points.append(QTransform::fromScale(1 / size.width(), 1 / size.height())
                          .map(outline.pointAtPercent(std::fmod(start + double(i) / count, 1.0))));
    return points;
}

int chroma(QRgb c)
{
    return std::max({ qRed(c), qGreen(c), qBlue(c) }) - std::min({ qRed(c), qGreen(c), qBlue(c) });
}

int distance(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b))
        + std::abs(qBlue(a) - qBlue(b));
}

int countNear(const QImage &screen, QPoint centre, int radius, bool (*wanted)(QRgb))
{
    int n = 0;
    for (int y = centre.y() - radius; y <= centre.y() + radius; ++y)
        for (int x = centre.x() - radius; x <= centre.x() + radius; ++x)
            n += screen.valid(x, y) && wanted(screen.pixel(x, y));
    return n;
}

// The picture's rectangle on screen: from a point inside it out to where two pixels in a row
// are grey or white (frame, view background, scroll bars).
QRect findPicture(const QImage &screen, QPoint inside)
{
    auto in = [&](QPoint p) { return screen.valid(p) && chroma(screen.pixel(p)) >= 10; };
    auto reach = [&](QPoint step) {
        QPoint p = inside;
        while (in(p + step) || in(p + 2 * step))
            p += step;
        return p;
    };
    const QPoint topLeft(reach({ -1, 0 }).x(), reach({ 0, -1 }).y());
    return in(inside) ? QRect(topLeft, QPoint(reach({ 1, 0 }).x(), reach({ 0, 1 }).y())) : QRect();
}

// Centres of the toolbar's buttons, left to right, before a picture is open: the wide runs of
// drawn columns in the last band of drawn rows above the view, which is then all white. The
// toolbar ends well before the window does, so its right end shows the background.
QList<QPoint> findToolButtons(const QImage &screen, const QRect &window)
{
    QPoint view = window.center();
    while (distance(screen.pixel(view - QPoint(0, 1)), qRgb(255, 255, 255)) < 12)
        view.ry()--;
    auto ink = [&](int x, int y) {
        return distance(screen.pixel(x, y), screen.pixel(window.right() - 4, y)) > 60;
    };
    int top = -1, bottom = -1;
    for (int y = window.top(), drawn = 0; y < view.y() - 2; ++y, drawn = 0) {
        for (int x = window.left(); x <= window.right(); ++x)
            drawn += ink(x, y);
        top = drawn < 3 ? top : bottom >= 0 && y - bottom <= 6 ? top : y; // gaps inside icons
        bottom = drawn < 3 ? bottom : y;
    }
    QList<QPoint> buttons;
    for (int x = window.left(), first = -1, gap = 0; x <= window.right() && top >= 0; ++x) {
        bool drawn = false;
        for (int y = top; y <= bottom; ++y)
            drawn = drawn || ink(x, y);
        gap = drawn ? 0 : gap + 1;
        first = drawn && first < 0 ? x : first;
        if (first >= 0 && (gap == 3 || x == window.right())) {
            if (x - gap - first >= 8) // the handle's dotted strip is narrower
                buttons.append(QPoint((first + x - gap) / 2, (top + bottom) / 2));
            first = -1;
        }
    }
    return buttons;
}

} // namespace

class TestE2e : public QObject
{
    Q_OBJECT

    QProcess server, program;
    QProcessEnvironment x11;
    QString window;

    // Polls at a pace the X server keeps up with: a burst of tool connections can make it
    // refuse the program's own.
    static bool waitFor(const std::function<bool()> &condition, int timeoutMs)
    {
        return QTest::qWaitFor([&] { return QThread::msleep(100), condition(); }, timeoutMs);
    }
    QByteArray xdo(const QStringList &arguments, const QString &tool = QStringLiteral("xdotool"))
    {
        QProcess process;
        process.setProcessEnvironment(x11);
        process.start(tool, arguments);
        process.waitForFinished(15000); // a hung tool answers nothing, which fails the step
        return process.readAllStandardOutput().trimmed();
    }
    QImage grab() { return QImage::fromData(xdo({ "-window", "root", "ppm:-" }, "import")); }
    QRect windowRect() // from WINDOW=, X=, Y=, WIDTH=, HEIGHT=, SCREEN= lines
    {
        QList<int> v;
        for (const QByteArray &line : xdo({ "getwindowgeometry", "--shell", window }).split('\n'))
            v.append(line.mid(line.indexOf('=') + 1).toInt());
        return v.size() >= 5 ? QRect(v[1], v[2], v[3], v[4]) : QRect();
    }
    bool shows(const QString &title, bool shown = true, int timeoutMs = 15000)
    {
        const QStringList search { "search", "--onlyvisible", "--name",
            QLatin1Char('^') + QRegularExpression::escape(title) + u'$' };
        return waitFor([&] { return xdo(search).isEmpty() != shown; }, timeoutMs);
    }
    void pointer(QPoint p, const QStringList &then = {})
    {
        xdo(QStringList { "mousemove", QString::number(p.x()), QString::number(p.y()) } + then);
    }
    void click(QPoint p) { pointer(p, { "click", "1" }); }
    // Keyboard focus comes from a click; the status bar is a harmless place for one.
    QPoint statusBar() { return windowRect().bottomLeft() + QPoint(200, -7); }
    void command(const QString &keys) { pointer(statusBar(), { "click", "1", "key", keys }); }
    bool chooseFile(const QString &keys, const QString &caption, const QString &path)
    {
        command(keys);
        if (!shows(caption))
            return false;
        xdo({ "type", path });
        xdo({ "key", "Return" }); // on its own, lest the file name completer eat it
        return shows(caption, false, 60000);
    }
    // The picture once it stays put over two screenshots, somewhere else than `previous`.
    QRect pictureRect(const QRect &previous)
    {
        QRect last, now;
        pointer(statusBar()); // the pointer's marker would cut the picture short
        auto settled = [&] {
            last = std::exchange(now, findPicture(grab(), windowRect().center()));
            return now.isValid() && now == last && now != previous;
        };
        return waitFor(settled, 20000) ? now : QRect();
    }

private slots:
    void initTestCase()
    {
        for (const char *tool : { "Xvfb", "xdotool", "import" })
            QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(),
                qPrintable(QStringLiteral("%1 is missing; install the Debian packages xvfb, "
                                          "xdotool and imagemagick")
                               .arg(tool)));
        // Xvfb picks a free display itself and writes its number to the descriptor given.
        server.start(
            "Xvfb", { "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp" });
        auto numberWritten = [&] { return server.waitForReadyRead(100) && server.canReadLine(); };
        QVERIFY2(waitFor(numberWritten, 15000), "Xvfb did not start");
        x11 = QProcessEnvironment::systemEnvironment();
        x11.insert("DISPLAY", QLatin1Char(':') + QString::fromLatin1(server.readLine().trimmed()));
        QVERIFY(QDir(kShotFolder).removeRecursively() && QDir().mkpath(kShotFolder));
    }

    void cleanupTestCase()
    {
        server.terminate();
        server.waitForFinished();
    }

    void road_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("tin");
        // The README's screenshots come from the tin, whose status bar shows no error.
        QTest::newRow("tin, 900 x 600") << QSize(900, 600) << true;
        QTest::newRow("ball, 24 megapixels, broken file midway") << QSize(6000, 4000) << false;
    }

    void road()
    {
        QFETCH(QSize, size);
        QFETCH(bool, tin);
        QElapsedTimer clock;
        clock.start();
        QTemporaryDir dir;
        for (const char *folder : { "broken", "colour", "config" })
            QVERIFY(QDir(dir.path()).mkpath(folder));
        const Photo photo = makePhoto(size, tin);
        const QString photoPath = dir.filePath("photo.jpg"), pngPath = dir.filePath("cutout.png");
        const QString brokenPath = dir.filePath("broken/list.png"),
                      jpgPath = dir.filePath("colour/cut.jpg");
        QVERIFY(photo.picture.save(photoPath, "JPEG", 90));
        QFile broken(brokenPath);
        QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && broken.write("Eggs"));

        const QString name = tin ? QStringLiteral("tin") : QStringLiteral("ball24mp");
        QImage screen;
        auto shot = [&](const QString &stage, bool readme = false) {
            const QString path = kShotFolder + (readme ? "" : name + "-") + stage + ".png";
            screen = grab();
            QVERIFY(readme ? screen.copy(windowRect()).save(path) : screen.save(path));
            qInfo().noquote() << "screenshot:" << path;
        };
        auto stopAndExplain = qScopeGuard([&] {
            if (QTest::currentTestFailed())
                shot("failed");
            program.kill();
            program.waitForFinished();
        });

        QProcessEnvironment env = x11; // the plain Qt style and dialogs, whatever the desktop
        for (const char *unwanted :
            { "QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "XDG_CURRENT_DESKTOP" })
            env.remove(unwanted);
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", dir.path()); // private to its owner, as it must be
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(dir.path());
        program.setProcessChannelMode(QProcess::ForwardedChannels); // into the test's log
        program.start(VELMORA_PROGRAM, {});
        // Open, Save, Smart Select, Invert, Preview, White, Transparent, Colour, Zoom in and out
        QList<QPoint> buttons;
        auto toolbarDrawn = [&] {
            window = xdo({ "search", "--onlyvisible", "--name", "^Velmora" });
            return !window.isEmpty()
                && (buttons = findToolButtons(grab(), windowRect())).size() == 10;
        };
        QVERIFY2(waitFor(toolbarDrawn, 20000),
            (QByteArray::number(buttons.size()) + " toolbar buttons").constData());

        // Ready once the pointer's marker shows over the picture: the edge analysis is over.
        QVERIFY2(chooseFile("ctrl+o", "Open Image", photoPath), "no Open Image dialog");
        const QPoint centre = windowRect().center();
        auto black = [](QRgb c) { return std::max({ qRed(c), qGreen(c), qBlue(c) }) < 40; };
        int wiggle = 0;
        auto markerShows = [&] { // a ring, not a black screen
            pointer(centre + QPoint(++wiggle % 2, 0)); // a move made too early goes unseen
            const int ring = countNear(grab(), centre, 8, black);
            return ring >= 8 && ring < 100;
        };
        QVERIFY2(waitFor(markerShows, 90000), "not ready for tracing");
        QRect fit = pictureRect(QRect());
        QVERIFY2(fit.isValid(), "the picture does not show");
        auto toScreen = [&](QPointF p) { // from fractions of the picture's size
            return fit.topLeft()
                + QPoint(qRound(p.x() * fit.width()), qRound(p.y() * fit.height()));
        };
        const QList<QPointF> outline = pointsAlong(photo.outline, size, 24);
        for (qsizetype i = 0; i < outline.size(); ++i) {
            if (i == 3) { // a click that misses the object, taken back
                click(toScreen({ 0.08, 0.1 }));
                shot("slip");
                command("ctrl+z");
            } else if (i == 8 || i == 16) {
                xdo({ "windowsize", window, i == 8 ? "840" : "600", i == 8 ? "580" : "400" });
                QVERIFY2((fit = pictureRect(fit)).isValid(), "the picture does not fit the window");
            } else if (i == 12 && !tin) { // a slip, then a file that is no picture
                click(toScreen({ 0.92, 0.93 }));
                QVERIFY2(chooseFile("ctrl+o", "Open Image", brokenPath), "no Open Image dialog");
                QVERIFY2(!program.waitForFinished(100), "the program ended on a broken file");
                QCOMPARE(xdo({ "getwindowname", window }), "Velmora - photo.jpg");
                shot("broken-file");
                command("ctrl+z");
            }
            click(toScreen(outline[i]));
        }

        // Back where the first click was, the closing marker shows; a click there closes.
        pointer(toScreen(outline[0]));
        auto green = [](QRgb c) { return distance(c, qRgb(0, 255, 0)) < 30; };
        auto closable = [&] { return countNear(grab(), toScreen(outline[0]), 10, green) >= 6; };
        QVERIFY2(waitFor(closable, 5000), "no closing marker where the outline started");
        shot("closing-marker");
        if (tin)
            shot("readme-trace", true);
        click(toScreen(outline[0]));

        // Transparent background: the preview shows the object over the chessboard.
        click(buttons[6]);
        click(buttons[4]);
        pointer(statusBar()); // a tooltip over the picture would spoil the screenshots
        auto chessboard = [](QRgb c) { return chroma(c) <= 8 && qGray(c) >= 180; };
        auto previewed = [&] {
            return countNear(grab(), toScreen({ 0.1, 0.15 }), 15, chessboard) == 31 * 31;
        };
        QVERIFY2(waitFor(previewed, 60000), "no chessboard around the object");
        shot("preview");
        if (tin)
            shot("readme-preview", true);
        click(buttons[4]);
        pointer(statusBar());

        QVERIFY2(chooseFile("ctrl+s", "Save Image", pngPath), "no Save Image dialog");
        // A custom colour, a little translucent, and a JPEG, which cannot keep the translucency.
        click(buttons[7]);
        QVERIFY2(shows("Please select the background color"), "no colour dialog");
        xdo({ "key", "alt+h", "ctrl+a", "type", kCustomBackground.name() });
        xdo({ "key", "alt+l", "ctrl+a", "type", "200" });
        shot("colour-dialog");
        xdo({ "key", "Return" });
        QVERIFY2(chooseFile("ctrl+s", "Save Image", jpgPath), "no Save Image dialog");
        QVERIFY2(shows("Transparency was lost", true, 60000), "no warning for the JPEG");
        QVERIFY2(QFile::exists(jpgPath), "the JPEG should be written before the warning shows");
        shot("transparency-warning");
        xdo({ "key", "Return" });
        command("ctrl+q");
        QVERIFY2(program.waitForFinished(20000), "the program did not quit on Ctrl+Q");
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        qInfo().noquote() << name << "road walked in" << clock.elapsed() << "ms";

        QSettings settings(
            dir.filePath("config/Parvel software/Velmora 1.0.conf"), QSettings::IniFormat);
        QCOMPARE(settings.value("CurrDir").toString(),
            QFileInfo(tin ? photoPath : brokenPath).canonicalPath());
        QCOMPARE(settings.value("CurrSaveDir").toString(), QFileInfo(jpgPath).canonicalPath());

        // The outline is followed to within a few screen pixels: `zone` is 255 well inside the
        // object, 0 well outside and grey on the band along the outline between the two.
        QImage truth(size, QImage::Format_Grayscale8);
        truth.fill(0);
        QPainter(&truth).fillPath(photo.outline, Qt::white);
        QImage zone = truth.copy();
        QPainter(&zone).strokePath(
            photo.outline, QPen(Qt::gray, 8 + 5.0 * size.width() / fit.width()));
        const QImage png = QImage(pngPath).convertToFormat(QImage::Format_ARGB32);
        const QImage jpg = QImage(jpgPath).convertToFormat(QImage::Format_RGB32);
        QVERIFY(png.size() == size && jpg.size() == size);
        qint64 both = 0, either = 0, outside = 0, notColoured = 0;
        QString problem;
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                bool out = x < 2 || y < 2 || x >= size.width() - 2 || y >= size.height() - 2;
                const int z = zone.constScanLine(y)[x], alpha = qAlpha(png.pixel(x, y));
                const int expected = out ? 0 : z == 255 ? 255 : z == 0 ? 1 : alpha;
                if (alpha != expected && problem.isEmpty())
                    problem
                        = QString::asprintf("alpha %d, not %d, at %d, %d", alpha, expected, x, y);
                both += alpha >= 128 && truth.constScanLine(y)[x];
                either += alpha >= 128 || truth.constScanLine(y)[x];
                outside += out = out || z == 0;
                notColoured += out && distance(jpg.pixel(x, y), kCustomBackground.rgb()) > 15;
            }
        }
        const double iou = double(both) / double(std::max<qint64>(either, 1));
        qInfo().noquote() << name << "intersection over union of the saved selection:" << iou;
        QVERIFY2(problem.isEmpty(), qPrintable("in the PNG: " + problem));
        QVERIFY2(iou >= 0.95, qPrintable(QString::number(iou)));
        QVERIFY2(notColoured <= outside / 200, "the JPEG is not the custom colour outside");
    }
};

QTEST_GUILESS_MAIN(TestE2e)
#include "tst_e2e.moc"
