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

// A shaded object with this outline, lit from the upper left, in front of a wall and a floor,
// with sensor noise. No colour in it is near grey or white, which tells it from the window.
QImage makePhoto(QSize size, const QPainterPath &outline)
{
    QImage photo(size, QImage::Format_RGB32);
    QPainter painter(&photo);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient room(0, 0, 0, size.height());
    room.setStops({ { 0, 0x506284 }, { 0.68, 0x7686a0 }, { 0.681, 0x70563c }, { 1, 0xa07c54 } });
    painter.fillRect(photo.rect(), room);
    QRadialGradient shade(0.5, 0.5, 0.5, 0.36, 0.32);
    shade.setCoordinateMode(QGradient::ObjectBoundingMode);
    shade.setStops({ { 0, 0xe46450 }, { 0.55, 0xbe2c2a }, { 1, 0x7c141e } });
    painter.fillPath(outline, shade);
    painter.end();
    // The same grain in every run and on every channel, which all stay within 15 to 233.
    QRandomGenerator random(7);
    auto *pixel = reinterpret_cast<QRgb *>(photo.bits());
    for (qsizetype i = 0; i < qsizetype(size.width()) * size.height(); ++i)
        pixel[i] += quint32(int(random.bounded(11)) - 5) * 0x010101u;
    return photo;
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

// Wanted pixels at most r across and down from centre; the screen's RGB32 has no padding.
int countNear(const QImage &screen, QPoint centre, int r, bool (*wanted)(QRgb))
{
    const QImage patch = screen.copy(QRect(centre, centre) + QMargins(r, r, r, r));
    const auto *pixels = reinterpret_cast<const QRgb *>(patch.constBits());
    return int(std::count_if(pixels, pixels + patch.width() * patch.height(), wanted));
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
QList<QPoint> findButtons(const QImage &screen, const QRect &window)
{
    QPoint view = window.center();
    while (distance(screen.pixel(view - QPoint(0, 1)), qRgb(255, 255, 255)) < 12)
        view.ry()--;
    const int right = window.right() - 4;
    auto ink
        = [&](int x, int y) { return distance(screen.pixel(x, y), screen.pixel(right, y)) > 60; };
    int top = 0, bottom = -8; // a band goes on over gaps inside icons, up to six rows
    for (int y = window.top(), drawn = 0; y < view.y() - 2; ++y, drawn = 0) {
        for (int x = window.left(); x <= window.right(); ++x)
            drawn += ink(x, y);
        top = drawn >= 3 && y - bottom > 6 ? y : top;
        bottom = drawn >= 3 ? y : bottom;
    }
    QString columns(window.left(), u'.'); // '#' where the band holds ink
    for (int x = window.left(), y = top; x <= window.right(); ++x, y = top) {
        while (y <= bottom && !ink(x, y))
            ++y;
        columns += y <= bottom ? u'#' : u'.';
    }
    // Icons hold gaps of up to two columns; the handle's dotted strip is narrower.
    QList<QPoint> buttons;
    for (const auto &icon : QRegularExpression("#+(\\.{1,2}#+)*").globalMatch(columns))
        if (icon.capturedLength() >= 8)
            buttons.append(
                QPoint((icon.capturedStart() + icon.capturedEnd()) / 2, (top + bottom) / 2));
    return buttons;
}

// Where `picture` shows at 100 %: the screen position of its top-left pixel, where patches
// from its middle and from two of its quarters show unchanged (one patch alone may recur in a
// flat stretch). Null when it is not on screen.
QPoint findAtActualSize(const QImage &screen, const QImage &picture)
{
    const QImage shown = screen.convertToFormat(QImage::Format_RGB32);
    const QImage wanted = picture.convertToFormat(QImage::Format_RGB32);
    const QSize size = wanted.size();
    const QPoint patches[]
        = { wanted.rect().center() - QPoint(8, 8), QPoint(size.width() / 4, size.height() / 4),
              QPoint(3 * size.width() / 4 - 16, 3 * size.height() / 4 - 16) };
    const auto matches = [&](QPoint at, QPoint from) {
        if (!shown.rect().contains(QRect(at, QSize(16, 16))))
            return false;
        for (int dy = 0; dy < 16; ++dy) {
            const auto *a = reinterpret_cast<const QRgb *>(shown.constScanLine(at.y() + dy));
            const auto *b = reinterpret_cast<const QRgb *>(wanted.constScanLine(from.y() + dy));
            if (!std::equal(a + at.x(), a + at.x() + 16, b + from.x()))
                return false;
        }
        return true;
    };
    for (int y = 0; y + 16 <= shown.height(); ++y) {
        for (int x = 0; x + 16 <= shown.width(); ++x) {
            const QPoint origin = QPoint(x, y) - patches[0];
            if (std::all_of(std::begin(patches), std::end(patches),
                    [&](QPoint from) { return matches(origin + from, from); }))
                return origin;
        }
    }
    return {};
}

// A real photo with an object from another real photo pasted in through `mask` (soft-edged),
// both from Debian's ukui-wallpapers, which the test command installs.
QImage pastedPhoto(const QSize &size, const QImage &mask)
{
    const auto scaled = [&](const char *name) {
        return QImage(QStringLiteral("/usr/share/backgrounds/") + name)
            .scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation)
            .copy(QRect(QPoint(), size))
            .convertToFormat(QImage::Format_RGB32);
    };
    QImage photo = scaled("the-mouse.jpg");
    const QImage object = scaled("string.jpg");
    if (photo.size() != size || object.size() != size)
        return {};
    for (int y = 0; y < size.height(); ++y) {
        auto *out = reinterpret_cast<QRgb *>(photo.scanLine(y));
        const auto *in = reinterpret_cast<const QRgb *>(object.constScanLine(y));
        const uchar *a = mask.constScanLine(y);
        for (int x = 0; x < size.width(); ++x) {
            const auto mix = [&](int u, int v) { return (u * (255 - a[x]) + v * a[x]) / 255; };
            out[x] = qRgb(mix(qRed(out[x]), qRed(in[x])), mix(qGreen(out[x]), qGreen(in[x])),
                mix(qBlue(out[x]), qBlue(in[x])));
        }
    }
    return photo;
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
    // Polling between steps runs the event loop, which may already have seen the program end;
    // waitForFinished would then answer false.
    bool ended(int timeoutMs)
    {
        return program.state() == QProcess::NotRunning || program.waitForFinished(timeoutMs);
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
        const QStringList search { "search", "--onlyvisible", "--name", '^' + title + '$' };
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
        const bool opened = shows(caption);
        xdo({ "type", path });
        xdo({ "key", "Return" }); // on its own, lest the file name completer eat it
        return opened && shows(caption, false, 60000);
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

    void screenshot(const QString &stage, bool windowOnly = false)
    {
        const QString path = kShotFolder + QTest::currentTestFunction() + '-'
            + QTest::currentDataTag() + '-' + stage + ".png";
        QVERIFY(grab().copy(windowOnly ? windowRect() : QRect()).save(path));
        qInfo().noquote() << "screenshot:" << path;
    }
    void stopProgram()
    {
        if (QTest::currentTestFailed())
            screenshot("failed");
        program.kill(), program.waitForFinished();
    }
    // Starts the program with its settings in `folder` and returns the toolbar's buttons: Open,
    // Save, Smart Select, Follow edges, Invert, Preview, White, Transparent, Colour, Zoom in, out.
    QList<QPoint> startProgram(const QString &folder)
    {
        x11.insert("XDG_CONFIG_HOME", folder);
        x11.insert("XDG_RUNTIME_DIR", folder); // private to its owner, as it must be
        program.setProcessEnvironment(x11);
        program.setWorkingDirectory(folder);
        program.setProcessChannelMode(QProcess::ForwardedChannels); // into the test's log
        program.start(VELMORA_PROGRAM, {});
        QList<QPoint> buttons;
        auto toolbarDrawn = [&] {
            window = xdo({ "search", "--onlyvisible", "--name", "^Velmora" });
            return !window.isEmpty() && (buttons = findButtons(grab(), windowRect())).size() == 11;
        };
        return waitFor(toolbarDrawn, 20000) ? buttons : QList<QPoint>();
    }
    // Ready once the pointer's marker shows over the picture: the edge analysis is over.
    bool tracingWorks()
    {
        auto markerShows = [&, centre = windowRect().center(), wiggle = 0]() mutable {
            pointer(centre + QPoint(++wiggle % 2, 0)); // a move made too early goes unseen
            const int ring = countNear(grab(), centre, 8, [](QRgb c) { return qGray(c) < 40; });
            return ring >= 8 && ring < 100; // a ring, not a black screen
        };
        return waitFor(markerShows, 90000);
    }
    // Opens `path` and shows it at 100 %; returns where its top-left pixel is on screen.
    QPoint openAtActualSize(const QString &path)
    {
        if (!chooseFile("ctrl+o", "Open Image", path) || !tracingWorks())
            return {};
        command("ctrl+1");
        const QImage picture(path);
        QPoint origin;
        pointer(statusBar()); // the pointer's marker would hide pixels of the patch
        waitFor([&] { return !(origin = findAtActualSize(grab(), picture)).isNull(); }, 20000);
        return origin;
    }

private slots:
    void initTestCase()
    {
        for (const QString tool : { "Xvfb", "xdotool", "import" })
            QVERIFY2(QStandardPaths::findExecutable(tool) != "", qPrintable(tool + " is missing"));
        // Xvfb picks a free display itself and writes its number to the descriptor given.
        server.start("Xvfb", { "-displayfd", "1", "-screen", "0", "1024x768x24" });
        // The event processing of an earlier poll may already have read the line into the
        // buffer, and waitForReadyRead only waits for data that is still to come.
        auto numberWritten = [&] {
            return server.canReadLine() || (server.waitForReadyRead(100) && server.canReadLine());
        };
        QVERIFY2(waitFor(numberWritten, 15000), "Xvfb did not start");
        x11 = QProcessEnvironment::systemEnvironment();
        x11.insert("DISPLAY", QLatin1Char(':') + QString::fromLatin1(server.readLine().trimmed()));
        // The plain Qt style and dialogs, whatever the desktop.
        for (const char *v : { "QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "XDG_CURRENT_DESKTOP" })
            x11.remove(v);
        x11.insert("QT_QPA_PLATFORM", "xcb");
        QVERIFY(QDir(kShotFolder).removeRecursively() && QDir().mkpath(kShotFolder));
    }

    void cleanupTestCase() { server.terminate(), server.waitForFinished(); }

    void road_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("tin");
        // The 24-megapixel ball meets a broken file midway.
        QTest::newRow("tin") << QSize(900, 600) << true;
        QTest::newRow("ball24mp") << QSize(6000, 4000) << false;
    }

    void road()
    {
        QFETCH(QSize, size);
        QFETCH(bool, tin);
        const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("sub")); // opened and saved in two folders each
        const QString photo = dir.filePath("photo.jpg"), jpgFile = dir.filePath("cut.jpg");
        const QString broken = dir.filePath("sub/a.png"), pngFile = dir.filePath("sub/cut.png");
        QPainterPath outline; // in fractions of the picture's size; a ball is round all over
        outline.addRoundedRect(
            0.3, 0.2, 0.4, 0.6, tin ? 22 : 100, tin ? 22 : 100, Qt::RelativeSize);
        const QPainterPath real = QTransform::fromScale(size.width(), size.height()).map(outline);
        QVERIFY(makePhoto(size, real).save(photo, "JPEG", 90));
        // This very source file is no picture.
        QVERIFY(QFile::copy(QStringLiteral(VELMORA_SOURCE_DIR "/tests/tst_e2e.cpp"), broken));

        auto shot = [&](const QString &stage) { screenshot(stage); };
        auto stopAndExplain = qScopeGuard([&] { stopProgram(); });
        const QList<QPoint> buttons = startProgram(dir.path());
        QVERIFY(!buttons.isEmpty());
        QVERIFY(chooseFile("ctrl+o", "Open Image", photo));
        QVERIFY(tracingWorks());
        QRect fit = pictureRect(QRect());
        QVERIFY2(fit.isValid(), "the picture does not show");
        auto toScreen = [&](QPointF p) { // from fractions of the picture's size
            return fit.topLeft() + QPointF(p.x() * fit.width(), p.y() * fit.height()).toPoint();
        };
        // 24 clicks spaced evenly along the outline, clockwise from its left side.
        auto along = [&](int i) { return toScreen(outline.pointAtPercent(i / 24.0)); };
        for (int i = 0; i < 24; ++i) {
            if (i == 3) { // a click that misses the object, taken back
                click(toScreen({ 0.08, 0.1 }));
                command("ctrl+z");
            } else if (i == 8 || i == 16) {
                xdo({ "windowsize", window, i == 8 ? "840" : "600", i == 8 ? "580" : "400" });
                QVERIFY2((fit = pictureRect(fit)).isValid(), "the picture does not fit the window");
            } else if (i == 12 && !tin) { // a slip, then a file that is no picture
                click(toScreen({ 0.92, 0.93 }));
                QVERIFY(chooseFile("ctrl+o", "Open Image", broken));
                QVERIFY2(!ended(100), "the program ended on a broken file");
                shot("broken-file");
                command("ctrl+z");
            }
            click(along(i));
        }

        // Back where the first click was, the closing marker shows; a click there closes.
        pointer(along(0));
        auto green = [](QRgb c) { return distance(c, qRgb(0, 255, 0)) < 30; };
        auto closable = [&] { return countNear(grab(), along(0), 10, green) >= 6; };
        QVERIFY2(waitFor(closable, 5000), "no closing marker where the outline started");
        shot("trace");
        click(along(0));

        // Transparent background: the preview shows the object over the chessboard.
        click(buttons[7]);
        click(buttons[5]);
        pointer(statusBar()); // a tooltip over the picture would spoil the screenshots
        auto chessboard = [](QRgb c) { return chroma(c) <= 8 && qGray(c) >= 180; };
        const QPoint corner = toScreen({ 0.1, 0.15 });
        auto previewed = [&] { return countNear(grab(), corner, 15, chessboard) == 31 * 31; };
        QVERIFY2(waitFor(previewed, 60000), "no chessboard around the object");
        shot("preview");
        click(buttons[5]);

        QVERIFY(chooseFile("ctrl+s", "Save Image", pngFile));
        // A custom colour, a little translucent, and a JPEG, which cannot keep the translucency.
        click(buttons[8]);
        QVERIFY(shows("Please select the background color"));
        xdo({ "key", "alt+h", "ctrl+a", "type", kCustomBackground.name() });
        xdo({ "key", "alt+l", "ctrl+a", "type", "200" });
        xdo({ "key", "Return" });
        QVERIFY(chooseFile("ctrl+s", "Save Image", jpgFile));
        QVERIFY(shows("Transparency was lost", true, 60000));
        shot("transparency-warning");
        xdo({ "key", "Return" });
        command("ctrl+q");
        QVERIFY2(ended(20000), "the program did not quit on Ctrl+Q");
        QVERIFY(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0);
        qInfo() << "road took" << QDateTime::currentMSecsSinceEpoch() - t0 << "ms";

        QSettings ini(dir.filePath("Parvel software/Velmora 1.0.conf"), QSettings::IniFormat);
        QCOMPARE(ini.value("CurrDir").toString(), QFileInfo(tin ? photo : broken).canonicalPath());
        QCOMPARE(ini.value("CurrSaveDir").toString(), QFileInfo(jpgFile).canonicalPath());

        // The outline is followed to within a few screen pixels: `zone` is 255 well inside the
        // object, 0 well outside and grey on the band along the outline between the two.
        QImage truth(size, QImage::Format_Grayscale8);
        truth.fill(0);
        QPainter(&truth).fillPath(real, Qt::white);
        QImage zone = truth.copy();
        QPainter(&zone).strokePath(real, QPen(Qt::gray, 8 + 5.0 * size.width() / fit.width()));
        const QImage png = QImage(pngFile).convertToFormat(QImage::Format_ARGB32);
        const QImage jpg = QImage(jpgFile).convertToFormat(QImage::Format_RGB32);
        QVERIFY(png.size() == size && jpg.size() == size);
        qint64 both = 0, either = 0, outside = 0, notColoured = 0;
        for (qsizetype i = 0; i < qsizetype(size.width()) * size.height(); ++i) {
            const int x = i % size.width(), y = i / size.width(), alpha = qAlpha(png.pixel(x, y));
            const int z = zone.constScanLine(y)[x], inside = truth.constScanLine(y)[x];
            bool out = x < 2 || y < 2 || x >= size.width() - 2 || y >= size.height() - 2;
            const int expected = out ? 0 : z == 255 ? 255 : z == 0 ? 1 : alpha;
            if (alpha != expected)
                QFAIL(qPrintable(
                    QString::asprintf("alpha %d not %d at %d,%d", alpha, expected, x, y)));
            both += alpha >= 128 && inside;
            either += alpha >= 128 || inside;
            outside += out = out || z == 0;
            notColoured += out && distance(jpg.pixel(x, y), kCustomBackground.rgb()) > 15;
        }
        const double iou = double(both) / double(std::max<qint64>(either, 1));
        qInfo() << "intersection over union of the saved selection:" << iou;
        QVERIFY(iou >= 0.95);
        QVERIFY2(notColoured <= outside / 200, "the JPEG is not the custom colour outside");
    }

    void realPhotoInBothModes_data()
    {
        QTest::addColumn<bool>("shortestPath");
        QTest::newRow("direct") << false;
        QTest::newRow("shortest path") << true;
    }

    // An object of known shape pasted into a real photo, clicked round at 100 % in either way of
    // following edges with the same 28 clicks, closed with Enter and saved: the cut-out matches
    // the shape.
    void realPhotoInBothModes()
    {
        QFETCH(bool, shortestPath);
        QTemporaryDir dir;
        const QSize size(760, 500);
        QPainterPath outline; // convex and concave stretches
        outline.moveTo(200, 110);
        outline.cubicTo(330, 60, 470, 80, 540, 130);
        outline.cubicTo(620, 190, 600, 300, 560, 360);
        outline.cubicTo(500, 430, 330, 440, 250, 390);
        outline.cubicTo(300, 320, 160, 300, 170, 230);
        outline.cubicTo(175, 170, 180, 130, 200, 110);
        QImage mask(size, QImage::Format_Grayscale8);
        mask.fill(0);
        QPainter painter(&mask);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(outline, Qt::white);
        painter.end();
        const QImage photo = pastedPhoto(size, mask);
        QVERIFY2(!photo.isNull(), "no photos in /usr/share/backgrounds: install ukui-wallpapers");
        const QString photoFile = dir.filePath("pasted.png"), cutFile = dir.filePath("cut.png");
        QVERIFY(photo.save(photoFile));

        auto stop = qScopeGuard([&] { stopProgram(); });
        const QList<QPoint> buttons = startProgram(dir.path());
        QVERIFY(!buttons.isEmpty());
        if (shortestPath)
            click(buttons[3]);
        xdo({ "windowsize", window, "1000", "720" });
        const QPoint origin = openAtActualSize(photoFile);
        QVERIFY2(!origin.isNull(), "the picture does not show at 100 %");
        // At zoom 1 a press aims one pixel up and left of the pixel under the pointer.
        for (int i = 0; i < 28; ++i)
            click(origin + outline.pointAtPercent(i / 28.0).toPoint() + QPoint(1, 1));
        command("Return");
        screenshot("traced");
        click(buttons[7]); // transparent, so the cut-out keeps its alpha
        QVERIFY(chooseFile("ctrl+s", "Save Image", cutFile));
        command("ctrl+q");
        QVERIFY2(ended(20000), "the program did not quit on Ctrl+Q");

        const QImage cut = QImage(cutFile).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(cut.size(), size);
        qint64 both = 0, either = 0;
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                const bool inside = mask.constScanLine(y)[x] >= 128;
                const bool kept = qAlpha(cut.pixel(x, y)) >= 128;
                both += inside && kept;
                either += inside || kept;
            }
        }
        const double iou = double(both) / double(std::max<qint64>(either, 1));
        qInfo() << QTest::currentDataTag() << "intersection over union:" << iou;
        QVERIFY(iou >= 0.97);
    }

    // The README's pictures: the user guide's mug at 100 %, outlined by the shortest path with
    // the points of samples/mug-outline.txt, its handle's hole cut, previewed over transparency.
    void mugForTheReadme()
    {
        QTemporaryDir dir;
        const QString mug = QStringLiteral(VELMORA_SOURCE_DIR "/samples/mug.jpg");
        QFile file(QStringLiteral(VELMORA_SOURCE_DIR "/samples/mug-outline.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        QList<QList<QPoint>> traces { {} }; // each ends with the outline file's `close`
        for (const QString &line : QString::fromUtf8(file.readAll()).split('\n')) {
            const QStringList words = line.section('#', 0, 0).simplified().split(' ');
            if (words.first() == "click")
                traces.last() << QPoint(words.value(1).toInt(), words.value(2).toInt());
            else if (words.first() == "close")
                traces << QList<QPoint>();
        }
        QVERIFY(traces.size() >= 3 && traces[0].size() >= 6);

        auto stop = qScopeGuard([&] { stopProgram(); });
        const QList<QPoint> buttons = startProgram(dir.path());
        QVERIFY(!buttons.isEmpty());
        click(buttons[3]);
        xdo({ "windowsize", window, "760", "620" });
        const QPoint origin = openAtActualSize(mug);
        QVERIFY2(!origin.isNull(), "the mug does not show at 100 %");
        for (int t = 0; t < 2; ++t) {
            for (const QPoint &p : traces[t]) {
                // The shot shows the live stretch running on from the body's last click.
                if (t == 0 && &p == &traces[0].last()) {
                    pointer(origin + (p + traces[0].first()) / 2);
                    screenshot("trace", true);
                }
                click(origin + p);
            }
            command("Return");
        }
        click(buttons[7]);
        click(buttons[5]);
        pointer(statusBar());
        auto chessboard = [](QRgb c) { return chroma(c) <= 8 && qGray(c) >= 180; };
        // Chessboard on the wall, above the body, beside the handle and in its hole; the mug
        // itself in the body and the handle.
        const QPoint board[] = { { 40, 40 }, { 230, 60 }, { 400, 185 }, { 341, 185 } };
        const QPoint mugAt[] = { { 230, 190 }, { 230, 270 }, { 365, 185 } };
        auto previewed = [&] {
            const QImage screen = grab();
            return std::all_of(std::begin(board), std::end(board),
                [&](QPoint p) { return countNear(screen, origin + p, 3, chessboard) == 7 * 7; });
        };
        QVERIFY2(waitFor(previewed, 30000), "no chessboard around the mug or in its handle");
        for (const QPoint &p : mugAt)
            QVERIFY2(chroma(grab().pixel(origin + p)) > 60, "the mug is not shown");
        screenshot("preview", true);
        command("ctrl+q");
        QVERIFY2(ended(20000), "the program did not quit on Ctrl+Q");
    }
};

QTEST_GUILESS_MAIN(TestE2e)
#include "tst_e2e.moc"
