// A user's whole road through the real program in a real X server: open a photo through the
// file dialog, outline the object with clicks, take back slips, survive a broken file and a
// resized window, preview, save PNG and JPEG, quit. Input goes only through xdotool; what the
// program shows is read back from screenshots, what it writes from its files.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QProcess>
#include <QRadialGradient>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

namespace
{

const QString kShotFolder = QStringLiteral(VELMORA_BUILD_DIR "/tests/e2e-shots");
const QColor kCustomBackground(0x3c, 0x9a, 0x5a);
const int kCustomAlpha = 200;

// ---------------------------------------------------------------------------------------------
// The photographs: an object with a known outline, shaded, on a wall and a wooden floor, with a
// soft shadow and sensor noise. Nothing in them is near white or near grey, which is how the
// picture is told apart from the window around it on screen.

enum class Subject { Tin, Ball };

struct Photo {
    QImage picture;
    QPainterPath outline; // picture coordinates
};

QPainterPath subjectOutline(Subject subject, double w, double h)
{
    QPainterPath outline;
    if (subject == Subject::Tin) {
        const double radius = 0.07 * h;
        outline.addRoundedRect(QRectF(0.28 * w, 0.2 * h, 0.44 * w, 0.6 * h), radius, radius);
    } else {
        outline.addEllipse(QPointF(0.5 * w, 0.47 * h), 0.3 * h, 0.3 * h);
    }
    return outline;
}

void paintRoom(QPainter &painter, double w, double h)
{
    const double horizon = 0.68 * h;
    QLinearGradient wall(0, 0, 0, horizon);
    wall.setColorAt(0, QColor(80, 98, 132));
    wall.setColorAt(1, QColor(118, 134, 160));
    painter.fillRect(QRectF(0, 0, w, horizon), wall);

    QLinearGradient floor(0, horizon, 0, h);
    floor.setColorAt(0, QColor(112, 86, 60));
    floor.setColorAt(1, QColor(160, 124, 84));
    painter.fillRect(QRectF(0, horizon, w, h - horizon), floor);

    // Floorboards, closer together towards the horizon.
    painter.setPen(QPen(QColor(40, 25, 10, 40), std::max(1.0, h / 400)));
    for (int i = 1; i < 9; ++i) {
        const double y = horizon + (h - horizon) * i * i / 81.0;
        painter.drawLine(QPointF(0, y), QPointF(w, y));
    }
}

void paintShadow(QPainter &painter, const QRectF &object, double w, double h)
{
    const QRectF ground(
        object.left() - 0.04 * w, object.bottom() - 0.07 * h, object.width() + 0.2 * w, 0.15 * h);
    QRadialGradient shadow(0.45, 0.5, 0.5);
    shadow.setCoordinateMode(QGradient::ObjectBoundingMode);
    shadow.setColorAt(0, QColor(0, 0, 0, 90));
    shadow.setColorAt(1, QColor(0, 0, 0, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shadow);
    painter.drawEllipse(ground);
}

void paintSubject(QPainter &painter, Subject subject, const QPainterPath &outline)
{
    const QRectF body = outline.boundingRect();
    painter.setPen(Qt::NoPen);
    if (subject == Subject::Tin) {
        // A cylinder lit from the front, with a paper label round its middle.
        QLinearGradient metal(0, 0.5, 1, 0.5);
        metal.setCoordinateMode(QGradient::ObjectBoundingMode);
        metal.setColorAt(0, QColor(128, 22, 32));
        metal.setColorAt(0.3, QColor(198, 50, 46));
        metal.setColorAt(0.45, QColor(226, 88, 74));
        metal.setColorAt(0.6, QColor(196, 48, 44));
        metal.setColorAt(1, QColor(124, 20, 30));
        painter.fillPath(outline, metal);

        QLinearGradient paper(0, 0.5, 1, 0.5);
        paper.setCoordinateMode(QGradient::ObjectBoundingMode);
        paper.setColorAt(0, QColor(150, 118, 74));
        paper.setColorAt(0.45, QColor(222, 188, 128));
        paper.setColorAt(1, QColor(146, 114, 72));
        const QRectF label(
            body.left(), body.top() + 0.42 * body.height(), body.width(), 0.26 * body.height());
        painter.fillPath(outline.intersected([&] {
            QPainterPath band;
            band.addRect(label);
            return band;
        }()),
            paper);
    } else {
        // A ball lit from the upper left.
        QRadialGradient paint(0.5, 0.5, 0.5, 0.36, 0.32);
        paint.setCoordinateMode(QGradient::ObjectBoundingMode);
        paint.setColorAt(0, QColor(232, 124, 98));
        paint.setColorAt(0.55, QColor(190, 44, 42));
        paint.setColorAt(1, QColor(124, 22, 32));
        painter.fillPath(outline, paint);
    }
    // Less light reaches the lower part.
    QLinearGradient fall(0, 0, 0, 1);
    fall.setCoordinateMode(QGradient::ObjectBoundingMode);
    fall.setColorAt(0.5, QColor(0, 0, 0, 0));
    fall.setColorAt(1, QColor(0, 0, 0, 36));
    painter.fillPath(outline, fall);
}

// Sensor noise, the same in every run; also keeps every colour off white.
void addNoise(QImage &picture)
{
    quint32 state = 0x9e3779b9u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return int(state % 11) - 5;
    };
    for (int y = 0; y < picture.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const int grain = next();
            auto channel = [&](int value) { return std::clamp(value + grain + next(), 0, 235); };
            line[x]
                = qRgb(channel(qRed(line[x])), channel(qGreen(line[x])), channel(qBlue(line[x])));
        }
    }
}

Photo makePhoto(QSize size, Subject subject)
{
    const double w = size.width();
    const double h = size.height();
    Photo photo { QImage(size, QImage::Format_RGB32), subjectOutline(subject, w, h) };
    {
        QPainter painter(&photo.picture);
        painter.setRenderHint(QPainter::Antialiasing);
        paintRoom(painter, w, h);
        paintShadow(painter, photo.outline.boundingRect(), w, h);
        paintSubject(painter, subject, photo.outline);
    }
    addNoise(photo.picture);
    return photo;
}

// Coverage of a path, 0 to 255 per pixel.
QImage coverage(QSize size, const QPainterPath &inside, const QPainterPath &cutAway = {})
{
    QImage mask(size, QImage::Format_Grayscale8);
    mask.fill(0);
    QPainter painter(&mask);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(inside, Qt::white);
    painter.fillPath(cutAway, Qt::black);
    return mask;
}

// Points on the outline, evenly spaced along it, starting at its top in the middle.
QList<QPointF> pointsAlong(const QPainterPath &outline, int count)
{
    const QRectF box = outline.boundingRect();
    const QPointF topMiddle(box.center().x(), box.top());
    double start = 0;
    double nearest = 1e300;
    for (int i = 0; i < 2000; ++i) {
        const QPointF p = outline.pointAtPercent(i / 2000.0);
        const double d = QLineF(p, topMiddle).length();
        if (d < nearest) {
            nearest = d;
            start = i / 2000.0;
        }
    }
    QList<QPointF> points;
    for (int i = 0; i < count; ++i)
        points.append(outline.pointAtPercent(std::fmod(start + double(i) / count, 1.0)));
    return points;
}

// ---------------------------------------------------------------------------------------------
// Reading the screen.

int chroma(QRgb c)
{
    return std::max({ qRed(c), qGreen(c), qBlue(c) }) - std::min({ qRed(c), qGreen(c), qBlue(c) });
}

bool isPictureColour(QRgb c)
{
    return chroma(c) >= 10;
}

int colourDistance(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b))
        + std::abs(qBlue(a) - qBlue(b));
}

struct MeanColour {
    double red = 0, green = 0, blue = 0;
};

MeanColour meanColour(const QImage &screen, const QRect &area)
{
    MeanColour mean;
    const QRect clipped = area & screen.rect();
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x) {
            const QRgb c = screen.pixel(x, y);
            mean.red += qRed(c);
            mean.green += qGreen(c);
            mean.blue += qBlue(c);
        }
    }
    const double n = std::max<qsizetype>(1, qsizetype(clipped.width()) * clipped.height());
    mean.red /= n;
    mean.green /= n;
    mean.blue /= n;
    return mean;
}

// The picture's rectangle on screen, found by walking out from a point inside it until two
// pixels in a row are grey or white (frame, view background, scroll bars).
std::optional<QRect> findPicture(const QImage &screen, QPoint inside)
{
    if (!screen.valid(inside) || !isPictureColour(screen.pixel(inside)))
        return std::nullopt;
    auto reach = [&](QPoint step) {
        QPoint p = inside;
        for (;;) {
            const QPoint next = p + step;
            const QPoint after = next + step;
            const bool nextIn = screen.valid(next) && isPictureColour(screen.pixel(next));
            const bool afterIn = screen.valid(after) && isPictureColour(screen.pixel(after));
            if (!nextIn && !afterIn)
                return p;
            p = next;
        }
    };
    return QRect(QPoint(reach({ -1, 0 }).x(), reach({ 0, -1 }).y()),
        QPoint(reach({ 1, 0 }).x(), reach({ 0, 1 }).y()));
}

// Where the picture lies on screen and how it maps to picture coordinates.
struct ScreenFit {
    QRect rect;
    QSize picture;

    double scaleX() const { return rect.width() / double(picture.width()); }
    double scaleY() const { return rect.height() / double(picture.height()); }
    QPoint toScreen(QPointF p) const
    {
        return QPoint(
            qRound(rect.left() + p.x() * scaleX()), qRound(rect.top() + p.y() * scaleY()));
    }
    QRect toScreen(const QRectF &r) const
    {
        return QRect(toScreen(r.topLeft()), toScreen(r.bottomRight()));
    }
    bool consistent() const { return std::abs(scaleX() - scaleY()) <= 0.03 * scaleX(); }
};

// Centres of the toolbar's buttons, left to right, from a screenshot of the window before a
// picture is open: the view is then one white area, and the toolbar is the last band of drawn
// rows above it.
QList<QPoint> findToolButtons(const QImage &screen, const QRect &window, QString *why)
{
    const QPoint centre = window.center();
    int viewTop = centre.y();
    while (viewTop > window.top()
        && colourDistance(screen.pixel(centre.x(), viewTop - 1), qRgb(255, 255, 255)) < 12)
        --viewTop;

    auto rowBackground = [&](int y) {
        QHash<QRgb, int> counts;
        for (int x = window.left(); x <= window.right(); ++x)
            ++counts[screen.pixel(x, y)];
        return std::max_element(counts.begin(), counts.end()).key();
    };
    auto isInk = [&](int x, int y, QRgb background) {
        return colourDistance(screen.pixel(x, y), background) > 60;
    };
    QList<int> inkRows;
    for (int y = window.top(); y < viewTop - 2; ++y) {
        const QRgb background = rowBackground(y);
        int ink = 0;
        for (int x = window.left(); x <= window.right(); ++x)
            ink += isInk(x, y, background);
        if (ink >= 3)
            inkRows.append(y);
    }
    if (inkRows.isEmpty()) {
        *why = QStringLiteral("no toolbar above the view (view top at %1)").arg(viewTop);
        return {};
    }
    // The last run of drawn rows, gaps of a few rows (inside icons) bridged.
    int bandBottom = inkRows.last();
    int bandTop = bandBottom;
    for (qsizetype i = inkRows.size() - 2; i >= 0 && bandTop - inkRows[i] <= 6; --i)
        bandTop = inkRows[i];

    QList<bool> inkColumn(window.width(), false);
    for (int y = bandTop; y <= bandBottom; ++y) {
        const QRgb background = rowBackground(y);
        for (int x = window.left(); x <= window.right(); ++x)
            inkColumn[x - window.left()] = inkColumn[x - window.left()] || isInk(x, y, background);
    }
    QList<QPoint> buttons;
    QStringList seen;
    for (int x = 0; x < inkColumn.size();) {
        if (!inkColumn[x]) {
            ++x;
            continue;
        }
        int end = x;
        int gap = 0;
        while (end + 1 < inkColumn.size() && gap < 3) {
            ++end;
            gap = inkColumn[end] ? 0 : gap + 1;
        }
        const int last = end - gap;
        seen << QStringLiteral("%1-%2").arg(x + window.left()).arg(last + window.left());
        if (last - x + 1 >= 8) // the handle's dotted strip is narrower
            buttons.append(QPoint(window.left() + (x + last) / 2, (bandTop + bandBottom) / 2));
        x = end + 1;
    }
    *why = QStringLiteral("toolbar rows %1-%2, drawn columns %3")
               .arg(bandTop)
               .arg(bandBottom)
               .arg(seen.join(u' '));
    return buttons;
}

// ---------------------------------------------------------------------------------------------
// The X server, the program and the user's hands.

QString shotPath(const QString &name)
{
    return kShotFolder + QLatin1Char('/') + name + QStringLiteral(".png");
}

class Desktop
{
public:
    QString error;
    QProcessEnvironment environment;

    ~Desktop()
    {
        stop(program);
        stop(server);
    }

    bool startServer()
    {
        for (const char *tool : { "Xvfb", "xdotool", "import" }) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
                error = QStringLiteral("%1 is not installed; the real-window tests need the Debian "
                                       "packages xvfb, xauth, xdotool, imagemagick and x11-utils")
                            .arg(QString::fromLatin1(tool));
                return false;
            }
        }
        // Xvfb picks a free display number itself and writes it to the descriptor given.
        server.start(QStringLiteral("Xvfb"),
            { "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset" });
        QElapsedTimer clock;
        clock.start();
        QByteArray number;
        while (!number.contains('\n') && clock.elapsed() < 15000
            && server.state() != QProcess::NotRunning) {
            server.waitForReadyRead(200);
            number += server.readAllStandardOutput();
        }
        if (!number.contains('\n')) {
            error = QStringLiteral("Xvfb did not start: %1")
                        .arg(QString::fromLocal8Bit(server.readAllStandardError()));
            return false;
        }
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert(
            QStringLiteral("DISPLAY"), QLatin1Char(':') + QString::fromLatin1(number.trimmed()));
        return true;
    }

    bool startProgram(
        const QString &configFolder, const QString &workFolder, const QString &runtimeFolder)
    {
        stopProgram();
        QProcessEnvironment env = environment;
        // The plain Qt dialogs and style, whatever desktop the tests are started from.
        for (const char *name :
            { "QT_QPA_PLATFORMTHEME", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "QT_STYLE_OVERRIDE",
                "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_FONT_DPI", "WAYLAND_DISPLAY" })
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_ENABLE_HIGHDPI_SCALING"), QStringLiteral("0"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configFolder);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeFolder);
        env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(workFolder);
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(QStringLiteral(VELMORA_PROGRAM), {});
        if (!program.waitForStarted(10000)) {
            error = QStringLiteral("could not start %1").arg(QStringLiteral(VELMORA_PROGRAM));
            return false;
        }
        if (!waitFor([&] { return !(window = findWindow(QStringLiteral("^Velmora"))).isEmpty(); },
                20000)) {
            error = QStringLiteral("the program's window did not appear") + programOutput();
            return false;
        }
        return true;
    }

    QString programOutput()
    {
        return QStringLiteral("\nprogram output:\n") + QString::fromLocal8Bit(program.readAll());
    }

    // Runs a tool against the X server; its standard output.
    QByteArray tool(const QString &name, const QStringList &arguments, int timeoutMs = 15000)
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(name, arguments);
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            qWarning() << name << arguments << "did not finish";
        }
        return process.readAllStandardOutput();
    }

    void xdotool(const QStringList &arguments) { tool(QStringLiteral("xdotool"), arguments); }

    QString findWindow(const QString &title)
    {
        const QByteArray found
            = tool(QStringLiteral("xdotool"), { "search", "--onlyvisible", "--name", title });
        const QList<QByteArray> ids = found.trimmed().split('\n');
        return ids.first().trimmed().isEmpty() ? QString()
                                               : QString::fromLatin1(ids.first().trimmed());
    }

    QString windowTitle()
    {
        return QString::fromUtf8(
            tool(QStringLiteral("xdotool"), { "getwindowname", window }).trimmed());
    }

    QRect windowRect()
    {
        const QString shell = QString::fromLatin1(
            tool(QStringLiteral("xdotool"), { "getwindowgeometry", "--shell", window }));
        auto field = [&](const char *name) {
            const QRegularExpression line(QStringLiteral("^%1=(\\d+)$").arg(QLatin1String(name)),
                QRegularExpression::MultilineOption);
            return line.match(shell).captured(1).toInt();
        };
        return QRect(field("X"), field("Y"), field("WIDTH"), field("HEIGHT"));
    }

    QImage grab()
    {
        const QByteArray ppm
            = tool(QStringLiteral("import"), { "-silent", "-window", "root", "ppm:-" });
        return QImage::fromData(ppm, "PPM").convertToFormat(QImage::Format_RGB32);
    }

    // The window's keyboard focus comes from a click; the status bar is a harmless place.
    QPoint statusBarPoint()
    {
        const QRect r = windowRect();
        return QPoint(r.left() + r.width() / 3, r.bottom() - 7);
    }
    void focusWindow() { click(statusBarPoint()); }
    void park() { moveTo(statusBarPoint()); }
    void moveTo(QPoint p)
    {
        xdotool({ "mousemove", QString::number(p.x()), QString::number(p.y()) });
    }
    void click(QPoint p, int button = 1)
    {
        xdotool({ "mousemove", QString::number(p.x()), QString::number(p.y()), "click",
            QString::number(button) });
    }
    void key(const QString &keys) { xdotool({ "key", keys }); }
    void type(const QString &text) { xdotool({ "type", "--delay", "8", "--", text }); }
    void shortcut(const QString &keys)
    {
        focusWindow();
        key(keys);
    }

    static bool waitFor(const std::function<bool()> &condition, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            if (condition())
                return true;
            if (clock.elapsed() > timeoutMs)
                return false;
            QThread::msleep(100);
        }
    }

    bool waitForDialog(const QString &title, int timeoutMs = 15000)
    {
        const QString pattern
            = QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$');
        if (waitFor([&] { return !findWindow(pattern).isEmpty(); }, timeoutMs))
            return true;
        error = QStringLiteral("no window \"%1\" appeared").arg(title);
        return false;
    }

    bool waitForDialogGone(const QString &title, int timeoutMs = 60000)
    {
        const QString pattern
            = QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$');
        if (waitFor([&] { return findWindow(pattern).isEmpty(); }, timeoutMs))
            return true;
        error = QStringLiteral("the window \"%1\" did not close").arg(title);
        return false;
    }

    // Types a full path into a file dialog's "File name" field and accepts it.
    bool chooseFile(
        const QString &shortcutKeys, const QString &caption, const QString &path, int timeoutMs)
    {
        shortcut(shortcutKeys);
        if (!waitForDialog(caption))
            return false;
        type(path);
        key(QStringLiteral("Return"));
        return waitForDialogGone(caption, timeoutMs);
    }

    // Waits until the picture shows in the view, unmoved over two screenshots, and differs
    // from `previous`; the pointer is kept off the view so its marker does not get in the way.
    std::optional<ScreenFit> waitForPicture(QSize picture, const QRect &previous, int timeoutMs)
    {
        std::optional<ScreenFit> fit;
        QRect last;
        const bool found = waitFor(
            [&] {
                park();
                const QImage screen = grab();
                const std::optional<QRect> rect = findPicture(screen, windowRect().center());
                const bool settled = rect && *rect == last && *rect != previous;
                last = rect.value_or(QRect());
                if (settled)
                    fit = ScreenFit { *rect, picture };
                return settled;
            },
            timeoutMs);
        if (!found) {
            error = QStringLiteral("the picture did not show (last found at %1,%2 %3x%4)")
                        .arg(last.x())
                        .arg(last.y())
                        .arg(last.width())
                        .arg(last.height());
            return std::nullopt;
        }
        if (!fit->consistent()) {
            error = QStringLiteral("the picture shows at %1x%2, not in its proportions %3x%4")
                        .arg(fit->rect.width())
                        .arg(fit->rect.height())
                        .arg(picture.width())
                        .arg(picture.height());
            return std::nullopt;
        }
        return fit;
    }

    // The program answers the pointer again (the edge analysis is over) once its marker
    // follows the pointer onto the picture.
    bool waitForMarker(QPoint onPicture, const QImage &without, int timeoutMs)
    {
        moveTo(onPicture);
        const QRect around(onPicture - QPoint(8, 8), QSize(17, 17));
        if (waitFor(
                [&] {
                    const QImage screen = grab();
                    int changed = 0;
                    for (int y = around.top(); y <= around.bottom(); ++y)
                        for (int x = around.left(); x <= around.right(); ++x)
                            changed += colourDistance(screen.pixel(x, y), without.pixel(x, y)) > 90;
                    return changed >= 8;
                },
                timeoutMs))
            return true;
        error = QStringLiteral("no pointer marker appeared at %1,%2")
                    .arg(onPicture.x())
                    .arg(onPicture.y());
        return false;
    }

    bool quit(int *exitCode)
    {
        shortcut(QStringLiteral("ctrl+q"));
        if (!program.waitForFinished(20000)) {
            error = QStringLiteral("the program did not quit on Ctrl+Q");
            return false;
        }
        *exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
        return true;
    }

    void stopProgram() { stop(program); }

    QString window;
    QProcess program;

private:
    static void stop(QProcess &process)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished();
        }
    }

    QProcess server;
};

// ---------------------------------------------------------------------------------------------
// Checking what was saved.

struct Regions {
    QImage truth; // coverage of the true outline
    QImage wellInside; // 255 where a pixel lies more than the margin inside the outline
    QImage wellOutside;
};

Regions regionsOf(const Photo &photo, double margin)
{
    QPainterPathStroker stroker;
    stroker.setWidth(2 * margin);
    const QPainterPath band = stroker.createStroke(photo.outline);
    QPainterPath everything;
    everything.addRect(QRectF(photo.picture.rect()));
    return { coverage(photo.picture.size(), photo.outline),
        coverage(photo.picture.size(), photo.outline, band),
        coverage(photo.picture.size(), everything - photo.outline, band) };
}

bool onOuterFrame(int x, int y, QSize size)
{
    return x < 2 || y < 2 || x >= size.width() - 2 || y >= size.height() - 2;
}

QString at(int x, int y)
{
    return QStringLiteral("(%1, %2)").arg(x).arg(y);
}

// The first thing wrong with a cut-out PNG: alpha 255 well inside the object with its colours
// untouched, 1 well outside, 0 on the outer two-pixel frame. Also measures how well the
// selected area (alpha of at least 128) covers the object.
QString checkCutout(const QImage &file, const QImage &source, const Regions &regions, double *iou)
{
    const QImage png = file.convertToFormat(QImage::Format_ARGB32);
    const QSize size = source.size();
    if (png.size() != size)
        return QStringLiteral("the PNG is %1x%2").arg(png.width()).arg(png.height());
    qint64 both = 0;
    qint64 either = 0;
    QString problem;
    for (int y = 0; y < size.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(png.constScanLine(y));
        const auto *original = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        const uchar *truth = regions.truth.constScanLine(y);
        const uchar *inside = regions.wellInside.constScanLine(y);
        const uchar *outside = regions.wellOutside.constScanLine(y);
        for (int x = 0; x < size.width(); ++x) {
            const int alpha = qAlpha(line[x]);
            if (problem.isEmpty()) {
                if (onOuterFrame(x, y, size) && alpha != 0)
                    problem = QStringLiteral("alpha %1 on the outer frame at %2")
                                  .arg(alpha)
                                  .arg(at(x, y));
                else if (!onOuterFrame(x, y, size) && inside[x] == 255 && alpha != 255)
                    problem = QStringLiteral("alpha %1 inside the object at %2")
                                  .arg(alpha)
                                  .arg(at(x, y));
                else if (inside[x] == 255 && (line[x] & 0xffffff) != (original[x] & 0xffffff))
                    problem
                        = QStringLiteral("colour changed inside the object at %1").arg(at(x, y));
                else if (!onOuterFrame(x, y, size) && outside[x] == 255 && alpha != 1)
                    problem = QStringLiteral("alpha %1 outside the object at %2")
                                  .arg(alpha)
                                  .arg(at(x, y));
            }
            const bool selected = alpha >= 128;
            const bool object = truth[x] >= 128;
            both += selected && object;
            either += selected || object;
        }
    }
    *iou = either ? double(both) / double(either) : 0;
    return problem;
}

// The first thing wrong with a JPEG saved over a background colour: the colour everywhere
// well outside the object, the picture well inside, within what JPEG keeps.
QString checkOnColour(
    const QImage &file, const QImage &source, const Regions &regions, QColor background)
{
    const QImage jpg = file.convertToFormat(QImage::Format_RGB32);
    const QSize size = source.size();
    if (jpg.size() != size)
        return QStringLiteral("the JPEG is %1x%2").arg(jpg.width()).arg(jpg.height());
    qint64 outsideCount = 0;
    qint64 outsideOff = 0;
    qint64 insideCount = 0;
    qint64 insideOff = 0;
    for (int y = 0; y < size.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(jpg.constScanLine(y));
        const auto *original = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        const uchar *inside = regions.wellInside.constScanLine(y);
        const uchar *outside = regions.wellOutside.constScanLine(y);
        for (int x = 0; x < size.width(); ++x) {
            if (outside[x] == 255 || onOuterFrame(x, y, size)) {
                ++outsideCount;
                outsideOff += colourDistance(line[x], background.rgb()) > 15;
            } else if (inside[x] == 255) {
                ++insideCount;
                insideOff += colourDistance(line[x], original[x]) > 30;
            }
        }
    }
    if (outsideOff > outsideCount / 200)
        return QStringLiteral("%1 of %2 pixels outside the object are not the background colour")
            .arg(outsideOff)
            .arg(outsideCount);
    if (insideOff > insideCount / 100)
        return QStringLiteral("%1 of %2 pixels inside the object changed")
            .arg(insideOff)
            .arg(insideCount);
    return {};
}

} // namespace

class TestE2e : public QObject
{
    Q_OBJECT

    Desktop desktop;

private slots:
    void initTestCase()
    {
        QVERIFY2(desktop.startServer(), qPrintable(desktop.error));
        QVERIFY(QDir().mkpath(kShotFolder));
        QDir shots(kShotFolder);
        for (const QString &old : shots.entryList({ QStringLiteral("*.png") }, QDir::Files))
            shots.remove(old);
        qInfo().noquote() << "screenshots go to" << kShotFolder;
    }

    void cleanup() { desktop.stopProgram(); }

    void road_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("subject");
        QTest::addColumn<QString>("name");
        QTest::newRow("tin, 900 x 600")
            << QSize(900, 600) << int(Subject::Tin) << QStringLiteral("tin");
        QTest::newRow("ball, 24 megapixels")
            << QSize(6000, 4000) << int(Subject::Ball) << QStringLiteral("ball24mp");
    }

    void road()
    {
        QFETCH(QSize, size);
        QFETCH(int, subject);
        QFETCH(QString, name);
        QElapsedTimer clock;
        clock.start();

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const char *folder :
            { "pictures", "broken", "saves/colour", "work", "config", "runtime" })
            QVERIFY(QDir(dir.path()).mkpath(QString::fromLatin1(folder)));
        QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const Photo photo = makePhoto(size, Subject(subject));
        const QString photoPath = dir.filePath(QStringLiteral("pictures/photo.jpg"));
        QVERIFY(photo.picture.save(photoPath, "JPEG", 90));
        const QString brokenPath = dir.filePath(QStringLiteral("broken/not-a-picture.png"));
        {
            QFile broken(brokenPath);
            QVERIFY(broken.open(QIODevice::WriteOnly));
            broken.write("This is a shopping list, not a picture.\n");
        }
        const QString pngPath = dir.filePath(QStringLiteral("saves/cutout.png"));
        const QString jpgPath = dir.filePath(QStringLiteral("saves/colour/cutout.jpg"));
        qInfo().noquote() << name << "photo made in" << clock.elapsed() << "ms";

        int shotNumber = 0;
        auto shot = [&](const QString &stage, const QImage &screen) {
            const QString path = shotPath(QStringLiteral("%1-%2-%3")
                                              .arg(name)
                                              .arg(++shotNumber, 2, 10, QLatin1Char('0'))
                                              .arg(stage));
            screen.save(path);
            qInfo().noquote() << "screenshot:" << path;
        };
        auto readmeShot = [&](const QString &file, const QImage &screen) {
            if (name != QLatin1String("tin"))
                return;
            const QString path = shotPath(file);
            screen.copy(desktop.windowRect()).save(path);
            qInfo().noquote() << "screenshot:" << path;
        };
        Desktop &d = desktop;
        auto failureShot = qScopeGuard([&] {
            if (QTest::currentTestFailed())
                shot(QStringLiteral("failed"), d.grab());
        });

        QVERIFY2(d.startProgram(dir.filePath(QStringLiteral("config")),
                     dir.filePath(QStringLiteral("work")), dir.filePath(QStringLiteral("runtime"))),
            qPrintable(d.error));
        QImage screen;
        QVERIFY2(Desktop::waitFor(
                     [&] {
                         const QImage previous = screen;
                         screen = d.grab();
                         return screen == previous;
                     },
                     20000),
            "the window did not settle");
        shot(QStringLiteral("started"), screen);
        QString why;
        const QList<QPoint> buttons = findToolButtons(screen, d.windowRect(), &why);
        QVERIFY2(buttons.size() == 10,
            qPrintable(QStringLiteral("expected 10 toolbar buttons, found %1; %2")
                           .arg(buttons.size())
                           .arg(why)));
        const QPoint previewButton = buttons[4];
        const QPoint transparentButton = buttons[6];
        const QPoint colourButton = buttons[7];

        // Open the photo and wait until the edge analysis is over.
        QElapsedTimer opening;
        opening.start();
        QVERIFY2(
            d.chooseFile(QStringLiteral("ctrl+o"), QStringLiteral("Open Image"), photoPath, 15000),
            qPrintable(d.error));
        std::optional<ScreenFit> fit = d.waitForPicture(size, QRect(), 90000);
        QVERIFY2(fit, qPrintable(d.error));
        const QImage opened = d.grab();
        const ScreenFit openedFit = *fit;
        const QPoint onWall = fit->toScreen(QPointF(0.12 * size.width(), 0.15 * size.height()));
        QVERIFY2(d.waitForMarker(onWall, opened, 90000), qPrintable(d.error));
        qInfo().noquote() << name << "opened and analysed in" << opening.elapsed() << "ms";
        shot(QStringLiteral("opened"), d.grab());
        QCOMPARE(d.windowTitle(), QStringLiteral("Velmora - photo.jpg"));

        const QList<QPointF> outline = pointsAlong(photo.outline, 24);
        const QPointF slipOnWall(0.08 * size.width(), 0.1 * size.height());
        const QPointF slipOnFloor(0.92 * size.width(), 0.93 * size.height());
        for (qsizetype i = 0; i < outline.size(); ++i) {
            d.click(fit->toScreen(outline[i]));
            if (i == 3) {
                // A click that misses the object, taken back.
                d.click(fit->toScreen(slipOnWall));
                shot(QStringLiteral("slip"), d.grab());
                d.shortcut(QStringLiteral("ctrl+z"));
            } else if (i == 7) {
                d.xdotool({ "windowsize", d.window, "840", "580" });
                fit = d.waitForPicture(size, fit->rect, 20000);
                QVERIFY2(fit, qPrintable(d.error));
                shot(QStringLiteral("larger"), d.grab());
            } else if (i == 11) {
                // A slip, then a file that is no picture: the trace and its history survive.
                d.click(fit->toScreen(slipOnFloor));
                QVERIFY2(d.chooseFile(QStringLiteral("ctrl+o"), QStringLiteral("Open Image"),
                             brokenPath, 15000),
                    qPrintable(d.error));
                QVERIFY2(d.program.state() == QProcess::Running, qPrintable(d.programOutput()));
                const std::optional<ScreenFit> still = d.waitForPicture(size, QRect(), 10000);
                QVERIFY2(still, qPrintable(d.error));
                QCOMPARE(still->rect, fit->rect);
                QCOMPARE(d.windowTitle(), QStringLiteral("Velmora - photo.jpg"));
                shot(QStringLiteral("after-broken-file"), d.grab());
                d.shortcut(QStringLiteral("ctrl+z"));
            } else if (i == 16) {
                d.xdotool({ "windowsize", d.window, "600", "400" });
                fit = d.waitForPicture(size, fit->rect, 20000);
                QVERIFY2(fit, qPrintable(d.error));
                shot(QStringLiteral("back-to-600x400"), d.grab());
            }
        }

        // Back at the start the closing marker shows; a click there closes the outline.
        const QPoint start = fit->toScreen(outline.first());
        auto closingMarkerShows = [&] {
            screen = d.grab();
            int green = 0;
            for (int y = start.y() - 10; y <= start.y() + 10; ++y)
                for (int x = start.x() - 10; x <= start.x() + 10; ++x)
                    green += colourDistance(screen.pixel(x, y), qRgb(0, 255, 0)) < 30;
            return green >= 6;
        };
        d.moveTo(start);
        bool closable = Desktop::waitFor(closingMarkerShows, 5000);
        if (!closable) {
            // Off by a pixel and back, as a user would try.
            d.moveTo(start + QPoint(1, 0));
            d.moveTo(start);
            closable = Desktop::waitFor(closingMarkerShows, 5000);
        }
        QVERIFY2(closable, "no closing marker at the start of the outline");
        shot(QStringLiteral("closing-marker"), screen);
        readmeShot(QStringLiteral("readme-trace"), screen);
        d.click(start);
        d.park();

        // The object now wears the translucent blue of the selection.
        const QRectF middle = photo.outline.boundingRect();
        const QRectF centrePatch(
            middle.center() - QPointF(0.05 * middle.width(), 0.03 * middle.height()),
            QSizeF(0.1 * middle.width(), 0.06 * middle.height()));
        const MeanColour bare = meanColour(opened, openedFit.toScreen(centrePatch));
        QVERIFY2(Desktop::waitFor(
                     [&] {
                         screen = d.grab();
                         const MeanColour now = meanColour(screen, fit->toScreen(centrePatch));
                         return now.blue > bare.blue + 40 && now.red < bare.red - 30;
                     },
                     10000),
            "the selection is not shown over the object");
        shot(QStringLiteral("closed"), screen);

        // Transparent background: the preview shows the object over the chessboard.
        const QRectF wallPatch(
            0.04 * size.width(), 0.05 * size.height(), 0.14 * size.width(), 0.2 * size.height());
        d.click(transparentButton);
        d.click(previewButton);
        d.park(); // a tooltip over the picture would spoil the screenshots
        auto wallIsChessboard = [&](const QImage &s) {
            const QRect area = fit->toScreen(wallPatch);
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    if (chroma(s.pixel(x, y)) > 8 || qGray(s.pixel(x, y)) < 180)
                        return false;
            return true;
        };
        QVERIFY2(Desktop::waitFor(
                     [&] {
                         screen = d.grab();
                         return wallIsChessboard(screen);
                     },
                     60000),
            "the preview does not show the chessboard around the object");
        shot(QStringLiteral("preview"), screen);
        readmeShot(QStringLiteral("readme-preview"), screen);
        const MeanColour previewed = meanColour(screen, fit->toScreen(centrePatch));
        QVERIFY2(std::abs(previewed.red - bare.red) < 16
                && std::abs(previewed.green - bare.green) < 16
                && std::abs(previewed.blue - bare.blue) < 16,
            "the preview does not show the object as it is");
        d.click(previewButton);
        d.park();
        QVERIFY2(Desktop::waitFor(
                     [&] {
                         screen = d.grab();
                         return meanColour(screen, fit->toScreen(wallPatch)).blue
                             > meanColour(screen, fit->toScreen(wallPatch)).red + 20;
                     },
                     20000),
            "the picture did not come back after the preview");
        shot(QStringLiteral("preview-off"), screen);

        QVERIFY2(
            d.chooseFile(QStringLiteral("ctrl+s"), QStringLiteral("Save Image"), pngPath, 60000),
            qPrintable(d.error));
        QVERIFY2(Desktop::waitFor([&] { return QFileInfo::exists(pngPath); }, 60000),
            "no PNG was written");

        // A custom colour, a little translucent, and a JPEG, which cannot keep the translucency.
        d.click(colourButton);
        QVERIFY2(d.waitForDialog(QStringLiteral("Please select the background color")),
            qPrintable(d.error));
        d.key(QStringLiteral("alt+h"));
        d.key(QStringLiteral("ctrl+a"));
        d.type(kCustomBackground.name());
        d.key(QStringLiteral("alt+l"));
        d.key(QStringLiteral("ctrl+a"));
        d.type(QString::number(kCustomAlpha));
        shot(QStringLiteral("colour-dialog"), d.grab());
        d.key(QStringLiteral("Return"));
        QVERIFY2(d.waitForDialogGone(QStringLiteral("Please select the background color")),
            qPrintable(d.error));

        d.shortcut(QStringLiteral("ctrl+s"));
        QVERIFY2(d.waitForDialog(QStringLiteral("Save Image")), qPrintable(d.error));
        d.type(jpgPath);
        d.key(QStringLiteral("Return"));
        QVERIFY2(
            d.waitForDialog(QStringLiteral("Transparency was lost"), 60000), qPrintable(d.error));
        QVERIFY2(QFileInfo::exists(jpgPath), "the JPEG should be written before the warning shows");
        shot(QStringLiteral("transparency-warning"), d.grab());
        d.key(QStringLiteral("Return"));
        QVERIFY2(d.waitForDialogGone(QStringLiteral("Transparency was lost")), qPrintable(d.error));

        int exitCode = -1;
        QVERIFY2(d.quit(&exitCode), qPrintable(d.error));
        QCOMPARE(exitCode, 0);
        qInfo().noquote() << name << "road walked in" << clock.elapsed() << "ms";

        // What the program remembers.
        QSettings settings(dir.filePath(QStringLiteral("config/Parvel software/Velmora 1.0.conf")),
            QSettings::IniFormat);
        QCOMPARE(settings.value(QStringLiteral("CurrDir")).toString(),
            QFileInfo(brokenPath).canonicalPath());
        QCOMPARE(settings.value(QStringLiteral("CurrSaveDir")).toString(),
            QFileInfo(jpgPath).canonicalPath());

        // What it wrote. The outline is followed to within a few screen pixels.
        const QImage source = QImage(photoPath).convertToFormat(QImage::Format_ARGB32);
        const Regions regions = regionsOf(photo, 4 + 2.5 / fit->scaleX());
        double iou = 0;
        const QString cutoutProblem = checkCutout(QImage(pngPath), source, regions, &iou);
        qInfo().noquote() << name << "intersection over union of the saved selection:" << iou;
        QVERIFY2(cutoutProblem.isEmpty(), qPrintable(cutoutProblem));
        QVERIFY2(iou >= 0.95, qPrintable(QStringLiteral("intersection over union %1").arg(iou)));
        const QString colouredProblem
            = checkOnColour(QImage(jpgPath), source, regions, kCustomBackground);
        QVERIFY2(colouredProblem.isEmpty(), qPrintable(colouredProblem));
    }
};

QTEST_GUILESS_MAIN(TestE2e)
#include "tst_e2e.moc"
