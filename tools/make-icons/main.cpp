// make-icons: draws the program's icons, the preview chessboard and the Windows icon file.
//
//     make-icons <output folder>
//
// The PNGs and velmora.ico in resources/icons/ are this program's output; run it again after
// changing a drawing and commit the files it writes. Only QtGui painting is used (no fonts),
// so the output is the same on every machine with the same Qt.

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QConicalGradient>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSaveFile>
#include <QString>
#include <QTransform>

#include <cstdio>
#include <functional>
#include <vector>

namespace
{

// One calm palette for the whole set.
const QColor outline(0x37, 0x47, 0x4f);
const QColor blue(0x1e, 0x88, 0xe5);
const QColor lightBlue(0xbb, 0xde, 0xfb);
const QColor amber(0xf9, 0xa8, 0x25);
const QColor lightAmber(0xff, 0xd5, 0x4f);
const QColor red(0xe5, 0x39, 0x35);
const QColor green(0x43, 0xa0, 0x47);
const QColor grey(0xb0, 0xbe, 0xc5);

// Every toolbar icon is drawn on a 32 x 32 grid; the painter is scaled to the image size.
using Drawing = std::function<void(QPainter &)>;

QImage render(const Drawing &draw, int size, qreal gridSize)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / gridSize, size / gridSize);
    draw(painter);
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

QPen roundPen(const QColor &color, qreal width)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void drawOpen(QPainter &p)
{
    // Back of the folder with its tab.
    QPainterPath back;
    back.moveTo(3, 8);
    back.lineTo(3, 26);
    back.lineTo(27, 26);
    back.lineTo(27, 10);
    back.lineTo(14, 10);
    back.lineTo(12, 7);
    back.lineTo(4, 7);
    back.closeSubpath();
    p.setPen(roundPen(outline, 1.2));
    p.setBrush(amber);
    p.drawPath(back);

    // The front flap leans forward, which is what makes it read as "open".
    QPainterPath front;
    front.moveTo(3, 26);
    front.lineTo(8, 14);
    front.lineTo(30, 14);
    front.lineTo(26, 26);
    front.closeSubpath();
    p.setBrush(lightAmber);
    p.drawPath(front);
}

void drawSave(QPainter &p)
{
    p.setPen(roundPen(outline, 1.2));
    p.setBrush(blue);
    QPainterPath body;
    body.moveTo(5, 4);
    body.lineTo(24, 4);
    body.lineTo(28, 8);
    body.lineTo(28, 27);
    body.quadTo(28, 28, 27, 28);
    body.lineTo(5, 28);
    body.quadTo(4, 28, 4, 27);
    body.lineTo(4, 5);
    body.quadTo(4, 4, 5, 4);
    p.drawPath(body);

    // Shutter with its window, then the label.
    p.setBrush(grey);
    p.drawRect(QRectF(9, 4, 13, 8));
    p.setPen(Qt::NoPen);
    p.setBrush(outline);
    p.drawRect(QRectF(17, 5.5, 3, 5));
    p.setPen(roundPen(outline, 1.0));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(8, 16, 16, 12), 1.5, 1.5);
    p.setPen(roundPen(grey, 1.2));
    p.drawLine(QPointF(11, 20), QPointF(21, 20));
    p.drawLine(QPointF(11, 24), QPointF(21, 24));
}

void drawQuit(QPainter &p)
{
    // A dark rim under the red strokes keeps the cross visible on a red-ish toolbar theme.
    p.setPen(roundPen(red.darker(140), 7.5));
    p.drawLine(QPointF(8, 8), QPointF(24, 24));
    p.drawLine(QPointF(24, 8), QPointF(8, 24));
    p.setPen(roundPen(red, 5.5));
    p.drawLine(QPointF(8, 8), QPointF(24, 24));
    p.drawLine(QPointF(24, 8), QPointF(8, 24));
}

void drawMagnifier(QPainter &p, bool plus)
{
    p.setPen(roundPen(outline, 5));
    p.drawLine(QPointF(20, 20), QPointF(27.5, 27.5));
    p.setPen(roundPen(outline, 2));
    QRadialGradient glass(QPointF(10, 10), 12);
    glass.setColorAt(0, Qt::white);
    glass.setColorAt(1, lightBlue);
    p.setBrush(glass);
    p.drawEllipse(QPointF(13, 13), 9.5, 9.5);

    p.setPen(roundPen(blue, 2.6));
    p.drawLine(QPointF(8.5, 13), QPointF(17.5, 13));
    if (plus)
        p.drawLine(QPointF(13, 8.5), QPointF(13, 17.5));
}

void drawPreview(QPainter &p)
{
    QPainterPath triangle;
    triangle.moveTo(9, 5);
    triangle.lineTo(27, 16);
    triangle.lineTo(9, 27);
    triangle.closeSubpath();
    QLinearGradient fill(0, 5, 0, 27);
    fill.setColorAt(0, green.lighter(125));
    fill.setColorAt(1, green);
    p.setPen(roundPen(green.darker(140), 2.5));
    p.setBrush(fill);
    p.drawPath(triangle);
}

void drawSmartSelect(QPainter &p)
{
    // A lasso loop hugging an imaginary object, with the control points the user clicked.
    QPainterPath loop;
    loop.moveTo(8, 20);
    loop.cubicTo(2, 14, 6, 4, 16, 4);
    loop.cubicTo(26, 4, 30, 12, 26, 18);
    loop.cubicTo(23, 22, 16, 22, 13, 21);
    p.setPen(roundPen(blue, 2.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(loop);

    // The rope runs down to the pen nib at the pointer.
    QPainterPath rope;
    rope.moveTo(13, 21);
    rope.cubicTo(9, 22, 8, 25, 9, 27);
    p.drawPath(rope);

    QPainterPath nib;
    nib.moveTo(9, 27);
    nib.lineTo(5, 29);
    nib.lineTo(7, 25);
    nib.closeSubpath();
    p.setPen(roundPen(outline, 1.4));
    p.setBrush(outline);
    p.drawPath(nib);

    p.setPen(roundPen(outline, 1.0));
    p.setBrush(amber);
    for (const QPointF &node : { QPointF(8, 20), QPointF(16, 4), QPointF(26, 18) })
        p.drawEllipse(node, 2.3, 2.3);
}

const QRectF swatchRect(4.5, 4.5, 23, 23);

void drawSwatchFrame(QPainter &p)
{
    p.setPen(roundPen(outline, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(swatchRect, 3, 3);
}

QPainterPath swatchPath()
{
    QPainterPath path;
    path.addRoundedRect(swatchRect, 3, 3);
    return path;
}

void drawWhite(QPainter &p)
{
    p.fillPath(swatchPath(), Qt::white);
    drawSwatchFrame(p);
}

void drawTransparent(QPainter &p)
{
    // The same grey and white as the preview's chessboard.
    p.fillPath(swatchPath(), Qt::white);
    p.save();
    p.setClipPath(swatchPath());
    const qreal cell = swatchRect.width() / 4;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            if ((row + column) % 2 == 0)
                p.fillRect(QRectF(swatchRect.left() + column * cell, swatchRect.top() + row * cell,
                               cell, cell),
                    QColor(191, 191, 191));
        }
    }
    p.restore();
    drawSwatchFrame(p);
}

void drawColor(QPainter &p)
{
    QConicalGradient hues(swatchRect.center(), 90);
    for (int i = 0; i <= 6; ++i)
        hues.setColorAt(i / 6.0, QColor::fromHsv((i * 60) % 360, 230, 245));
    p.fillPath(swatchPath(), hues);

    // Washes the hues out towards the centre, as a colour wheel does.
    QRadialGradient wash(swatchRect.center(), swatchRect.width() / 2);
    wash.setColorAt(0, QColor(255, 255, 255, 230));
    wash.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillPath(swatchPath(), wash);
    drawSwatchFrame(p);
}

void drawInvert(QPainter &p)
{
    p.fillPath(swatchPath(), Qt::white);
    p.save();
    p.setClipPath(swatchPath());
    p.fillRect(
        QRectF(swatchRect.left(), swatchRect.top(), swatchRect.width() / 2, swatchRect.height()),
        outline);
    p.restore();

    // Two half discs, each in the other half's colour, say "swap".
    const QRectF disc(swatchRect.center() - QPointF(6, 6), QSizeF(12, 12));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPie(disc, 90 * 16, 180 * 16);
    p.setBrush(outline);
    p.drawPie(disc, 270 * 16, 180 * 16);
    drawSwatchFrame(p);
}

// The application icon, on a 64 x 64 grid: a crayfish seen from above on a water tile.
void drawCrayfish(QPainter &p)
{
    QLinearGradient water(0, 0, 0, 64);
    water.setColorAt(0, QColor(0x4f, 0xc3, 0xf7));
    water.setColorAt(1, QColor(0x02, 0x77, 0xbd));
    p.setPen(Qt::NoPen);
    p.setBrush(water);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 13, 13);

    const QColor shell(0xf4, 0x51, 0x1e);
    const QColor shellDark(0xbf, 0x36, 0x0c);

    // Antennae first, so the body covers their roots.
    p.setPen(roundPen(shellDark, 1.3));
    p.setBrush(Qt::NoBrush);
    for (int side : { -1, 1 }) {
        QPainterPath antenna;
        antenna.moveTo(32 + side * 2, 17);
        antenna.cubicTo(32 + side * 6, 8, 32 + side * 18, 10, 32 + side * 26, 5);
        p.drawPath(antenna);
    }

    // Walking legs.
    p.setPen(roundPen(shellDark, 1.8));
    for (int side : { -1, 1 }) {
        for (int i = 0; i < 3; ++i) {
            const qreal y = 27 + i * 4;
            p.drawLine(QPointF(32 + side * 5, y), QPointF(32 + side * 11, y + 3));
        }
    }

    // Arms and claws.
    p.setPen(roundPen(shellDark, 3.2));
    for (int side : { -1, 1 }) {
        QPainterPath arm;
        arm.moveTo(32 + side * 4, 22);
        arm.quadTo(32 + side * 13, 24, 32 + side * 15, 17);
        p.drawPath(arm);
    }
    p.setPen(roundPen(shellDark, 1.2));
    p.setBrush(shell);
    for (int side : { -1, 1 }) {
        // Two pincers: a broad outer finger and a slimmer inner one with a gap between.
        p.save();
        p.translate(32 + side * 15, 16);
        p.rotate(side * 20);
        p.scale(side, 1);
        QPainterPath outer;
        outer.moveTo(0, 2);
        outer.cubicTo(5, 0, 6, -7, 3, -12);
        outer.cubicTo(2, -7, 0, -5, -1, -3);
        outer.closeSubpath();
        QPainterPath inner;
        inner.moveTo(-1, 1);
        inner.cubicTo(-4, -1, -4, -7, -1, -10);
        inner.cubicTo(-1, -6, 0, -4, 0, -2);
        inner.closeSubpath();
        p.drawPath(outer);
        p.drawPath(inner);
        p.restore();
    }

    // Tail fan, then the tail segments from the back forward, then the carapace.
    p.setPen(roundPen(shellDark, 1.2));
    p.setBrush(shell);
    for (int i = -2; i <= 2; ++i) {
        p.save();
        p.translate(32, 50);
        p.rotate(i * 22);
        p.drawEllipse(QRectF(-2.2, 0, 4.4, 9));
        p.restore();
    }
    for (int i = 4; i >= 0; --i) {
        const qreal width = 11 - i * 1.0;
        p.drawEllipse(QPointF(32, 35 + i * 3.2), width / 2, 2.6);
    }
    QRadialGradient carapace(QPointF(30, 22), 12);
    carapace.setColorAt(0, shell.lighter(125));
    carapace.setColorAt(1, shell);
    p.setBrush(carapace);
    p.drawEllipse(QPointF(32, 25), 6.5, 10);

    // Eyes.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x21, 0x21, 0x21));
    p.drawEllipse(QPointF(29.5, 16.5), 1.4, 1.4);
    p.drawEllipse(QPointF(34.5, 16.5), 1.4, 1.4);
}

// The tile the preview lays under a cut-out object: 8 x 8 squares, grey at the top left.
// Both sides are multiples of 16 so that copies laid edge to edge continue the pattern.
QImage chessboard()
{
    const int width = 784;
    const int height = 592;
    QImage tile(width, height, QImage::Format_Indexed8);
    tile.setColorTable({ qRgb(191, 191, 191), qRgb(255, 255, 255) });
    for (int y = 0; y < height; ++y) {
        uchar *line = tile.scanLine(y);
        for (int x = 0; x < width; ++x)
            line[x] = uchar(((x / 8) + (y / 8)) % 2);
    }
    return tile;
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A 32-bit DIB as stored inside an .ico: header with doubled height, bottom-up BGRA rows,
// then the 1-bit AND mask (set where the icon is transparent), rows padded to 32 bits.
QByteArray dibBytes(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const int width = argb.width();
    const int height = argb.height();
    const int maskStride = ((width + 31) / 32) * 4;

    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint32(40) << qint32(width) << qint32(2 * height) << quint16(1) << quint16(32)
        << quint32(0) << quint32(width * height * 4 + maskStride * height) << qint32(0) << qint32(0)
        << quint32(0) << quint32(0);
    for (int y = height - 1; y >= 0; --y) {
        const auto *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < width; ++x)
            out << quint32(line[x]);
    }
    for (int y = height - 1; y >= 0; --y) {
        const auto *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        std::vector<quint8> row(maskStride, 0);
        for (int x = 0; x < width; ++x) {
            if (qAlpha(line[x]) == 0)
                row[x / 8] |= quint8(0x80 >> (x % 8));
        }
        for (quint8 byte : row)
            out << byte;
    }
    return bytes;
}

// Qt's ico writer stores a single image; Windows wants several sizes in one file, so the
// container is written here. The 256 size is PNG-compressed, as Windows expects.
QByteArray icoBytes(const std::vector<QImage> &images)
{
    std::vector<QByteArray> entries;
    for (const QImage &image : images)
        entries.push_back(image.width() >= 256 ? pngBytes(image) : dibBytes(image));

    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(images.size());
    quint32 offset = 6 + 16 * quint32(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        const int size = images[i].width();
        out << quint8(size >= 256 ? 0 : size) << quint8(size >= 256 ? 0 : size) << quint8(0)
            << quint8(0) << quint16(1) << quint16(32) << quint32(entries[i].size()) << offset;
        offset += quint32(entries[i].size());
    }
    for (const QByteArray &entry : entries)
        out.writeRawData(entry.constData(), int(entry.size()));
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    // QSaveFile: a failed run never leaves a truncated icon behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        std::fprintf(stderr, "make-icons: cannot write %s: %s\n", qPrintable(path),
            qPrintable(file.errorString()));
        return false;
    }
    return true;
}

struct ToolbarIcon {
    const char *fileName;
    Drawing draw;
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-icons <output folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.exists() && !QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "make-icons: cannot create folder %s\n", argv[1]);
        return 1;
    }

    const int toolbarSize = 32;
    const std::vector<ToolbarIcon> toolbar = {
        { "openHS.png", drawOpen },
        { "saveHS.png", drawSave },
        { "DeleteHS.png", drawQuit },
        { "ZoomInMs.png", [](QPainter &p) { drawMagnifier(p, true); } },
        { "ZoomOutMs.png", [](QPainter &p) { drawMagnifier(p, false); } },
        { "FormRunHS.png", drawPreview },
        { "LineColorHS.png", drawSmartSelect },
        { "white_square.png", drawWhite },
        { "transp_square.png", drawTransparent },
        { "color_square.png", drawColor },
        { "invert_icon.png", drawInvert },
    };

    bool ok = true;
    for (const ToolbarIcon &icon : toolbar) {
        const QImage image = render(icon.draw, toolbarSize, 32);
        ok = writeFile(folder.filePath(QString::fromLatin1(icon.fileName)), pngBytes(image)) && ok;
    }

    // The window icon doubles as the 256 x 256 application icon of the desktop entry.
    ok = writeFile(folder.filePath(QStringLiteral("crawfish.png")),
             pngBytes(render(drawCrayfish, 256, 64)))
        && ok;

    std::vector<QImage> sizes;
    for (int size : { 16, 32, 48, 256 })
        sizes.push_back(render(drawCrayfish, size, 64));
    ok = writeFile(folder.filePath(QStringLiteral("velmora.ico")), icoBytes(sizes)) && ok;

    ok = writeFile(folder.filePath(QStringLiteral("chessbackground.png")), pngBytes(chessboard()))
        && ok;

    return ok ? 0 : 1;
}
