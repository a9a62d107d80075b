#include "cmlassocommand.h"
#include "selectionedit.h"

#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPainter>
#include <QPainterPathStroker>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <optional>
#include <tuple>
#include <vector>

const QPointF kOffset(10, 10);

// The window's selection state as plain locals, driven the way the window drives it. Stretches
// are straight lines: the command does not care how the walk found them.
struct Tracer {
    QGraphicsScene scene { 0, 0, 220, 220 };
    QUndoStack undoStack;
    QGraphicsPathItem *traceItem = nullptr, *selectionItem = nullptr;
    QPoint anchorPoint = kNoTrace, traceStart = kNoTrace;
    QPainterPath selectionPath, tracePath;

    void start(QPoint p) { anchorPoint = traceStart = p; }
    void click(QPoint t, int closeDistance = 10)
    {
        click(t, lineStretch(anchorPoint, t), closeDistance);
    }
    void click(QPoint t, const QPainterPath &stretch, int closeDistance = 10)
    {
        traceItem = addLiveStretchItem(&scene, stretch);
        undoStack.push(new CMlassoCommand(&selectionItem, &traceItem, &scene, &anchorPoint, t,
            &traceStart, &selectionPath, &tracePath, closeDistance));
    }
    // What the window's Invert does, warning the newest step first.
    void invert(QSize picture)
    {
        if (!selectionItem)
            return;
        CMlassoCommand::keepProducedPaths(undoStack);
        const QPainterPath shown = invertSelection(
            picture, selectionPath, tracePath, anchorPoint, selectionItem->path());
        scene.removeItem(selectionItem);
        delete selectionItem;
        selectionItem = addSelectionItem(&scene, shown);
    }
    bool shows(QPointF p) const { return selectionItem->path().contains(p + kOffset); }

    static QPainterPath lineStretch(QPoint from, QPoint to)
    {
        QPainterPath stretch(from + kOffset);
        stretch.lineTo(to + kOffset);
        return stretch;
    }
};

// An undoable step that keeps the whole state and gives it back, like the window's Select None:
// the lasso steps under it must still undo exactly once it is undone.
class ForgetAllCommand : public QUndoCommand
{
public:
    explicit ForgetAllCommand(Tracer &tracer)
        : t(tracer)
        , anchor(tracer.anchorPoint)
        , start(tracer.traceStart)
        , selection(tracer.selectionPath)
        , trace(tracer.tracePath)
    {
        if (tracer.selectionItem) {
            item = tracer.selectionItem->path();
            closedCount = static_cast<SelectionItem *>(tracer.selectionItem)->closedCount();
        }
    }
    void redo() override
    {
        t.selectionPath = t.tracePath = QPainterPath();
        t.anchorPoint = t.traceStart = kNoTrace;
        delete t.selectionItem;
        t.selectionItem = nullptr;
    }
    void undo() override
    {
        t.selectionPath = selection;
        t.tracePath = trace;
        t.anchorPoint = anchor;
        t.traceStart = start;
        delete t.selectionItem;
        t.selectionItem = item ? addSelectionItem(&t.scene, *item, closedCount) : nullptr;
    }

private:
    Tracer &t;
    QPoint anchor, start;
    QPainterPath selection, trace;
    std::optional<QPainterPath> item;
    int closedCount = -1;
};

// The undo step written the plain way, with whole copies of the state before each stretch:
// what the window's steps must match, element for element, after every event.
struct SnapshotModel {
    struct State {
        QPoint anchor = kNoTrace, start = kNoTrace;
        QPainterPath selection, trace;
        std::optional<QPainterPath> shown;
    };
    State now;
    // A stretch step saves the state in front of it each time it is done; a forget-all step
    // saves the state it replaced once, when it is made.
    struct Step {
        bool whole;
        State saved;
        QPoint to;
        QPainterPath stretch;
    };
    std::vector<Step> undo, redo;

    void click(QPoint t, const QPainterPath &stretch)
    {
        redo.clear();
        doStretch({ false, State(), t, stretch });
    }
    void doStretch(Step step)
    {
        step.saved = now;
        undo.push_back(step);
        confirmStretch(now.trace, now.selection, now.anchor, step.stretch, step.to, now.start, 10);
        now.shown = shownSelection(now.selection, now.trace);
    }
    void forgetAll()
    {
        redo.clear();
        undo.push_back({ true, now, QPoint(), QPainterPath() });
        now = State();
    }
    void undoOne()
    {
        if (undo.empty())
            return;
        const Step step = undo.back();
        undo.pop_back();
        redo.push_back(step);
        // A stretch step gives back neither the trace's start nor anything it did not save.
        const QPoint start = now.start;
        now = step.saved;
        if (!step.whole)
            now.start = start;
    }
    void redoOne()
    {
        if (redo.empty())
            return;
        const Step step = redo.back();
        redo.pop_back();
        if (step.whole) {
            undo.push_back(step);
            now = State();
        } else {
            doStretch(step);
        }
    }
    void invert(QSize picture)
    {
        if (now.shown)
            now.shown = invertSelection(picture, now.selection, now.trace, now.anchor, *now.shown);
    }
};

bool sameElements(const QPainterPath &a, const QPainterPath &b)
{
    if (a.fillRule() != b.fillRule() || a.elementCount() != b.elementCount())
        return false;
    for (int i = 0; i < a.elementCount(); ++i) {
        const QPainterPath::Element &x = a.elementAt(i), &y = b.elementAt(i);
        if (x.type != y.type || x.x != y.x || x.y != y.y)
            return false;
    }
    return true;
}

// The straight segments that elements [from, to) of path draw, each into one of those
// elements, skipping those of no length. A curve would count as its end points only.
QList<QLineF> segmentsOf(const QPainterPath &path, int from = 0, int to = -1)
{
    QList<QLineF> segments;
    for (int i = std::max(from, 1); i < (to < 0 ? path.elementCount() : to); ++i) {
        const QLineF line(path.elementAt(i - 1), path.elementAt(i));
        if (path.elementAt(i).type == QPainterPath::LineToElement && line.length() > 0)
            segments << line;
    }
    return segments;
}

// Whether the selection item draws its path as it should: the first closedCount elements
// filled by one child, the rest by line pieces that together draw every segment once.
QString drawingDiffers(const QGraphicsPathItem *item, int closedCount)
{
    const auto *selection = dynamic_cast<const SelectionItem *>(item);
    if (!selection || selection->closedCount() != closedCount)
        return QStringLiteral("closed part");
    int fills = 0;
    QList<QLineF> drawn;
    for (const QGraphicsItem *child : item->childItems()) {
        const auto *piece = static_cast<const QGraphicsPathItem *>(child);
        if (piece->brush().style() != Qt::NoBrush) {
            ++fills;
            if (segmentsOf(piece->path()) != segmentsOf(item->path(), 0, closedCount))
                return QStringLiteral("fill");
        } else {
            drawn << segmentsOf(piece->path());
        }
    }
    if (fills != (closedCount > 0 ? 1 : 0))
        return QStringLiteral("number of fills");
    if (drawn != segmentsOf(item->path(), closedCount))
        return QStringLiteral("trace lines");
    return {};
}

// Where the window's state first differs from the model's, or an empty string.
QString difference(const Tracer &t, const SnapshotModel &m)
{
    if (t.anchorPoint != m.now.anchor || t.traceStart != m.now.start)
        return QStringLiteral("anchor or start");
    if (!sameElements(t.selectionPath, m.now.selection))
        return QStringLiteral("selection path");
    if (!sameElements(t.tracePath, m.now.trace))
        return QStringLiteral("trace path");
    if (bool(t.selectionItem) != m.now.shown.has_value())
        return QStringLiteral("whether there is a selection item");
    if (t.selectionItem && !sameElements(t.selectionItem->path(), *m.now.shown))
        return QStringLiteral("selection item's path");
    if (t.selectionItem) {
        const int shown = m.now.shown->elementCount();
        const QString drawing = drawingDiffers(
            t.selectionItem, m.now.trace.isEmpty() ? shown : shown - m.now.trace.elementCount());
        if (!drawing.isEmpty())
            return QStringLiteral("drawing of the selection item: ") + drawing;
    }
    const QList<QGraphicsItem *> all = t.scene.items();
    if (std::count_if(all.begin(), all.end(), [](auto *item) { return !item->parentItem(); })
        != (t.selectionItem ? 1 : 0))
        return QStringLiteral("items left in the scene");
    return {};
}

// A stretch from the anchor to t as the walk might give it: a corner on the way, or a single
// point when the press lands on the anchor.
QPainterPath bentStretch(QPoint from, QPoint to)
{
    QPainterPath stretch(from + kOffset);
    stretch.lineTo(QPoint(to.x(), from.y()) + kOffset);
    stretch.lineTo(to + kOffset);
    return stretch;
}

// Plays a script on the window's steps and on the model, comparing after every event.
// Events: "s X Y" first click of a trace, "c X Y" confirmed stretch to (X, Y), "r" right
// click, "u" undo, "d" redo, "i" invert, "n" forget all (an undoable step of another kind).
QString playAgainstModel(const QStringList &script)
{
    Tracer t;
    SnapshotModel m;
    const QSize picture(200, 200);
    for (int i = 0; i < script.size(); ++i) {
        const QStringList word = script[i].split(QLatin1Char(' '));
        const QPoint p = word.size() == 3 ? QPoint(word[1].toInt(), word[2].toInt()) : QPoint();
        const QChar kind = word[0].at(0);
        if (kind == QLatin1Char('s')) {
            t.start(p);
            m.now.anchor = m.now.start = p;
        } else if (kind == QLatin1Char('c')) {
            const QPainterPath stretch = bentStretch(t.anchorPoint, p);
            t.click(p, stretch);
            m.click(p, stretch);
        } else if (kind == QLatin1Char('r')) {
            t.anchorPoint = m.now.anchor = kNoTrace;
        } else if (kind == QLatin1Char('u')) {
            t.undoStack.undo();
            m.undoOne();
        } else if (kind == QLatin1Char('d')) {
            t.undoStack.redo();
            m.redoOne();
        } else if (kind == QLatin1Char('i')) {
            t.invert(picture);
            m.invert(picture);
        } else if (kind == QLatin1Char('n')) {
            t.undoStack.push(new ForgetAllCommand(t));
            m.forgetAll();
        }
        const QString wrong = difference(t, m);
        if (!wrong.isEmpty())
            return QStringLiteral("%1 differs after event %2 (%3)")
                .arg(wrong)
                .arg(i)
                .arg(script[i]);
    }
    return {};
}

// The scene's pixels over source, drawn scale times larger, on transparency.
QImage rendered(QGraphicsScene &scene, const QRectF &source, qreal scale = 1)
{
    QImage image((source.size() * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    scene.render(&painter, QRectF(image.rect()), source);
    return image;
}

bool filledAt(const QImage &image, QPointF scenePoint)
{
    const QColor c = image.pixelColor((scenePoint + kOffset).toPoint());
    return c.alpha() > 0 && c.blue() > 3 * c.red();
}

bool yellowAt(const QImage &image, QPointF scenePoint)
{
    return image.pixelColor((scenePoint + kOffset).toPoint()) == QColor(255, 255, 0);
}

// The pixels that are the closing disc's green or red, as a rectangle in the image.
QRect discPixels(const QImage &image)
{
    QRect disc;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) > 200 && qBlue(p) < 60 && (qGreen(p) > 200 || qRed(p) > 200))
                disc |= QRect(x, y, 1, 1);
        }
    }
    return disc;
}

class TestLassoCommand : public QObject
{
    Q_OBJECT

private slots:
    void clicksUndoAndRightClick()
    {
        Tracer t;
        t.start({ 20, 20 });
        t.click({ 100, 20 });
        QVERIFY(t.selectionItem->pen() == QPen(Qt::yellow, 2) && t.selectionItem->zValue() == 12);

        t.click({ 21, 22 }); // Manhattan 3 from the start, closing distance 10
        QVERIFY(t.tracePath.isEmpty() && t.selectionItem->path() == t.selectionPath);
        QVERIFY(t.anchorPoint == kNoTrace && t.selectionPath.currentPosition() == QPointF(30, 30));

        // Undoing the close brings back the first click's state: one stretch, one item.
        t.undoStack.undo();
        QPainterPath first(QPointF(30, 30));
        first.lineTo(110, 30);
        QVERIFY(t.anchorPoint == QPoint(100, 20) && t.selectionPath.isEmpty());
        QVERIFY(t.tracePath == first && t.selectionItem->path() == first);
        QCOMPARE(t.scene.items().size(), 1 + t.selectionItem->childItems().size());
        // No item existed before the first stretch; the trace is under way from click 1 again.
        t.undoStack.undo();
        QVERIFY(!t.selectionItem && t.scene.items().isEmpty() && t.tracePath.isEmpty());
        QCOMPARE(t.anchorPoint, QPoint(20, 20));

        // A right click keeps the confirmed stretches; the next trace joins them with a line
        // from the old end (100, 100) to its first point (80, 120), into one outline filled as a
        // whole: (40, 100) lies outside the first two stretches' fill.
        t.click({ 100, 20 });
        t.click({ 100, 100 });
        t.anchorPoint = kNoTrace;
        t.start({ 80, 120 });
        t.click({ 20, 120 });
        QVERIFY(t.shows({ 40, 100 }) && t.shows({ 80, 40 }) && !t.shows({ 40, 140 }));
    }

    void closeDistanceIsStrict()
    {
        // Offset of the click from the start, closing distance, whether it closes. Manhattan 20
        // is not closer than 20, though it is as the crow flies. A press outside the scene aims
        // at pixel (0, 0) with a null probe rectangle, so distance 0.
        const std::tuple<QPoint, int, bool> cases[] = { { { -4, 16 }, 20, false },
            { { 3, -16 }, 20, true }, { { 9, 0 }, 10, true }, { { 0, 0 }, 0, false } };
        for (const auto &[offset, closeDistance, closes] : cases) {
            Tracer t;
            t.start({ 0, 0 });
            t.click({ 50, -40 }, closeDistance);
            t.click(offset, closeDistance);
            QCOMPARE(t.anchorPoint, closes ? kNoTrace : offset);
            QCOMPARE(t.selectionPath.isEmpty(), !closes);
        }
    }

    void overlapUndoAndInvert()
    {
        Tracer t;
        t.start({ 20, 20 });
        for (const QPoint c : QList<QPoint> { { 100, 20 }, { 100, 100 }, { 20, 100 }, { 21, 22 } })
            t.click(c);
        // A selection may reach past the picture.
        t.selectionPath.addRect(160.5, 160.5, 80, 20);
        t.start({ 60, 60 });
        for (const QPoint c : QList<QPoint> { { 140, 60 }, { 140, 140 }, { 60, 140 }, { 61, 62 } })
            t.click(c);
        QVERIFY(t.shows({ 40, 40 }) && !t.shows({ 80, 80 }) && t.shows({ 120, 120 }));

        // Undo reopens the second square but leaves the new trace's start alone.
        t.start({ 150, 150 });
        t.undoStack.undo();
        QVERIFY(t.anchorPoint == QPoint(60, 140) && t.traceStart == QPoint(150, 150));
        const QPainterPath before = t.selectionItem->path();

        // Inverting closes the open trace first; inverting twice clips off what lay past the
        // picture. The grid never meets an edge.
        for (const bool inverted : { true, false }) {
            t.selectionItem->setPath(invertSelection(QSize(200, 200), t.selectionPath, t.tracePath,
                t.anchorPoint, t.selectionItem->path()));
            QVERIFY(t.anchorPoint == kNoTrace && t.tracePath.isEmpty());
            int wrong = 0;
            for (int i = 0; i < 31 * 31; ++i) {
                const QPointF p(i % 31 * 7 - 7.5, i / 31 * 7 - 7.5);
                const bool inside = QRectF(0, 0, 200, 200).contains(p)
                    && before.contains(p + kOffset) != inverted;
                wrong += t.shows(p) != inside || t.selectionPath.contains(p + kOffset) != inside;
            }
            QCOMPARE(wrong, 0);
        }
    }

    // The selection item works out its bounds without stroking its outline: they must still
    // hold everything its pen paints, sharp corners included, or repaints leave traces.
    void selectionItemBoundsHoldItsOutline()
    {
        QGraphicsScene scene;
        QPainterPath spikes(QPointF(20, 20));
        for (int i = 1; i < 12; ++i)
            spikes.lineTo(20 + 3 * i, i % 2 ? 90 : 20);
        spikes.lineTo(25.5, 21);
        QGraphicsPathItem *item = addSelectionItem(&scene, spikes);
        QPainterPathStroker stroker(item->pen());
        const QRectF painted = stroker.createStroke(spikes).controlPointRect();
        QVERIFY(item->boundingRect().contains(painted));
        QVERIFY(item->boundingRect().width() < painted.width() + 10);
        QVERIFY(item->pen() == selectionPen() && item->brush() == selectionBrush());
    }

    // Only closed outlines are filled: the trace under way and the live stretch are lines, or
    // a zigzag would show as a fan of blue wedges.
    void closedOutlinesAloneAreFilled()
    {
        Tracer t;
        const QRectF all(0, 0, 220, 220);
        t.start({ 20, 20 });
        t.click({ 100, 20 });
        t.click({ 100, 100 });
        QImage image = rendered(t.scene, all);
        QVERIFY(yellowAt(image, { 60, 20 }) && yellowAt(image, { 100, 60 }));
        QVERIFY(!filledAt(image, { 80, 40 }));

        t.click({ 20, 100 });
        t.click({ 21, 22 });
        // A second trace joins on after a right click: the square stays filled, the new
        // stretches' wedge stays empty.
        t.anchorPoint = kNoTrace;
        t.start({ 130, 130 });
        t.click({ 190, 130 });
        t.click({ 190, 190 });
        image = rendered(t.scene, all);
        QVERIFY(filledAt(image, { 60, 60 }) && filledAt(image, { 30, 90 }));
        QVERIFY(!filledAt(image, { 175, 145 }) && yellowAt(image, { 160, 130 }));
        QVERIFY(!filledAt(image, { 120, 60 }));

        // The same paths added whole, as undo and Select None's undo add them.
        auto *again = static_cast<SelectionItem *>(t.selectionItem);
        const QPainterPath shown = again->path();
        const int closedCount = again->closedCount();
        delete t.selectionItem;
        t.selectionItem = addSelectionItem(&t.scene, shown, closedCount);
        QCOMPARE(rendered(t.scene, all), image);

        QGraphicsScene live(all);
        QGraphicsPathItem *stretch
            = addLiveStretchItem(&live, bentStretch({ 20, 20 }, { 100, 100 }));
        image = rendered(live, all);
        QVERIFY(yellowAt(image, { 60, 20 }) && !filledAt(image, { 80, 40 }));
        QVERIFY(stretch->zValue() == kSelectionZ && stretch->brush().style() == Qt::NoBrush);
    }

    void closingDiscIsEasyToSee_data()
    {
        QTest::addColumn<qreal>("zoom");
        QTest::addColumn<QRectF>("probe");
        QTest::newRow("zoom 20, one pixel") << 20.0 << QRectF(70, 50, 1, 1);
        QTest::newRow("zoom 6, one pixel") << 6.0 << QRectF(70, 50, 1, 1);
        QTest::newRow("zoom 1, clipped at the left edge") << 1.0 << QRectF(0, 40, 3, 6);
        QTest::newRow("zoom 0.5, clipped in a corner") << 0.5 << QRectF(0, 0, 14, 2);
        QTest::newRow("zoom 1, whole probe") << 1.0 << QRectF(40, 40, 30, 30);
    }

    // The disc is round, at least kMinPixels across on screen, never smaller than the probe,
    // and inside the bounds the scene repaints it by.
    void closingDiscIsEasyToSee()
    {
        QFETCH(qreal, zoom);
        QFETCH(QRectF, probe);
        QGraphicsScene scene(0, 0, 220, 220);
        QGraphicsView view(&scene);
        view.setTransform(QTransform::fromScale(zoom, zoom));
        QGraphicsEllipseItem *marker = addCloseMarkerItem(&scene, probe);
        QCOMPARE(marker->rect(), probe);
        QCOMPARE(marker->pen().color(), QColor(255, 0, 0));
        QVERIFY(marker->pen().isCosmetic() && marker->brush().color() == QColor(Qt::green));

        const QRectF around = marker->sceneBoundingRect().adjusted(-20, -20, 20, 20);
        const QImage image = rendered(scene, around, zoom);
        const QRect disc = discPixels(image);
        const qreal expected
            = std::max(CloseMarkerItem::kMinPixels, std::max(probe.width(), probe.height()) * zoom);
        QVERIFY2(std::abs(disc.width() - expected) <= 2 && std::abs(disc.height() - expected) <= 2,
            qPrintable(QStringLiteral("%1 x %2 pixels, expected %3")
                           .arg(disc.width())
                           .arg(disc.height())
                           .arg(expected)));
        QVERIFY(std::abs(QPointF(disc.center()).x() / zoom + around.left() - probe.center().x())
            < 2 / zoom + 0.5);
        const QRectF discInScene(
            around.topLeft() + QPointF(disc.topLeft()) / zoom, QSizeF(disc.size()) / zoom);
        QVERIFY(marker->sceneBoundingRect().contains(discInScene));
    }

    // A press that lengthens the trace draws its stretch alone: the item, its fill and its
    // older pieces stay, the pieces merge so that their number stays small, and the elements
    // drawn anew per press stay bounded however long the trace grows.
    void pressesDrawOnlyTheirStretch()
    {
        Tracer t;
        t.start({ 20, 20 });
        for (const QPoint c : QList<QPoint> { { 60, 20 }, { 60, 60 }, { 21, 22 } })
            t.click(c);
        t.start({ 10, 100 });
        t.click({ 12, 150 });
        auto *item = static_cast<SelectionItem *>(t.selectionItem);
        const QGraphicsItem *fill = item->childItems().first();
        const int presses = 600;
        qint64 drawn = item->elementsDrawnAnew();
        qint64 most = 0;
        int mostPieces = 0;
        for (int i = 0; i < presses; ++i) {
            const QPoint to(12 + (i % 150), i % 2 ? 150 : 190);
            t.click(to, bentStretch(t.anchorPoint, to));
            QCOMPARE(t.selectionItem, item);
            QCOMPARE(item->childItems().first(), fill);
            most = std::max(most, item->elementsDrawnAnew() - drawn);
            drawn = item->elementsDrawnAnew();
            mostPieces = std::max(mostPieces, int(item->tracePieceSizes().size()));
        }
        // A stretch has 3 elements; the largest merge (256 stretches) comes once here.
        QVERIFY2(most <= 256 * 3 + 1, qPrintable(QString::number(most)));
        QVERIFY2(drawn < presses * 3 * 4, qPrintable(QString::number(drawn)));
        QVERIFY2(mostPieces <= 3 * (SelectionItem::kMergeCount - 1) + 1,
            qPrintable(QString::number(mostPieces)));
        QCOMPARE(drawingDiffers(item, item->closedCount()), QString());
        QCOMPARE(item->path(), shownSelection(t.selectionPath, t.tracePath));

        // A close folds everything into one fill.
        t.click({ 10, 101 });
        item = static_cast<SelectionItem *>(t.selectionItem);
        QVERIFY(item->tracePieceSizes().isEmpty() && item->childItems().size() == 1);
    }

    void undoMatchesWholeSnapshots_data()
    {
        QTest::addColumn<QString>("script");
        const QString square = "s 20 20;c 100 20;c 100 100;c 20 100;";
        QTest::newRow("close then undo, twice") << square + "c 21 22;u;c 22 21;u;u;c 20 90;c 20 22";
        QTest::newRow("undo all the way back and on") << square + "c 21 22;u;u;u;u;u;u";
        QTest::newRow("undo across invert")
            << square + "c 21 22;s 60 60;c 90 60;c 90 90;i;u;u;c 70 70;c 61 62;u;u";
        QTest::newRow("undo across two inverts and a new stretch")
            << square + "i;s 50 50;c 80 50;i;c 80 80;u;u;u;c 120 120;u;u";
        QTest::newRow("invert with no trace under way")
            << square + "c 21 22;i;s 30 40;i;c 50 40;u;u;u";
        QTest::newRow("right click then a new trace")
            << "s 20 20;c 100 20;c 100 100;r;s 80 120;c 20 120;c 20 160;u;r;s 150 20;c 150 "
               "90;u;u;u";
        QTest::newRow("press on the anchor, then close")
            << "s 20 20;c 20 20;c 60 20;c 60 20;c 60 60;c 21 21;u;u;u;u;u";
        QTest::newRow("close with a single-point stretch") << "s 20 20;c 20 20;c 20 20;u;u";
        QTest::newRow("forget all between steps")
            << square + "n;s 40 40;c 90 40;c 41 41;u;u;u;c 21 22;n;u;u;u;u";
        QTest::newRow("invert, forget all, undo both") << square + "i;c 10 10;n;i;u;u;u;u";
        QTest::newRow("redo after undo, with an invert between")
            << square + "c 21 22;u;d;u;u;i;d;u;u;d;d;d;u;n;u;d;u;u";

        // Long random scripts: every event kind in every order.
        QRandomGenerator rng(812);
        for (int round = 0; round < 8; ++round) {
            QStringList events;
            bool tracing = false;
            QPoint start;
            for (int i = 0; i < 150; ++i) {
                const int roll = rng.bounded(100);
                const QPoint p(rng.bounded(5, 195), rng.bounded(5, 195));
                if (!tracing && roll < 60) {
                    events << QStringLiteral("s %1 %2").arg(p.x()).arg(p.y());
                    tracing = true;
                    start = p;
                } else if (tracing && roll < 50) {
                    events << QStringLiteral("c %1 %2").arg(p.x()).arg(p.y());
                } else if (tracing && roll < 58) {
                    // Near the start: closes.
                    events << QStringLiteral("c %1 %2").arg(start.x() + 2).arg(start.y() + 1);
                    tracing = false;
                } else if (roll < 72) {
                    events << "u";
                    tracing = true; // an undo may reopen a trace; a stray start is harmless
                } else if (roll < 75) {
                    events << "d";
                } else if (roll < 83) {
                    events << "r";
                    tracing = false;
                } else if (roll < 93) {
                    events << "i";
                } else {
                    events << "n";
                    tracing = false;
                }
            }
            QTest::newRow(qPrintable(QStringLiteral("random %1").arg(round))) << events.join(';');
        }
    }

    // Each undo must give back exactly what a step that saved whole copies would: anchor,
    // both paths element for element and the selection item.
    void undoMatchesWholeSnapshots()
    {
        QFETCH(QString, script);
        QCOMPARE(playAgainstModel(script.split(QLatin1Char(';'))), QString());
    }
};

QTEST_MAIN(TestLassoCommand)
#include "tst_lassocommand.moc"
