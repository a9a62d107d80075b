#include "helpdialog.h"

#include <QBoxLayout>
#include <QDesktopServices>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSpacerItem>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTranslator>
#include <QXmlStreamReader>

#include <cstdlib>

namespace
{

// Translates only what is asked for in the help window's context, so a text that changes
// proves both that it went through translation and under which context.
class HelpTranslator : public QTranslator
{
public:
    QString prefix = QStringLiteral("T1 ");
    mutable QStringList sourcesSeen;

    bool isEmpty() const override { return false; }

    QString translate(const char *context, const char *sourceText, const char *disambiguation,
        int n) const override
    {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        if (qstrcmp(context, "HelpDialog") != 0)
            return QString();
        const QString source = QString::fromUtf8(sourceText);
        sourcesSeen.append(source);
        if (source.contains(QLatin1String("<html>"))) {
            QString html = source;
            return html.replace(
                QLatin1String("Tools and the workflow"), prefix + QLatin1String("Werkzeuge"));
        }
        return prefix + source;
    }
};

// Stands in for the web browser, so a link click can be observed without launching one.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.append(url); }
};

QString sourcePath(const char *relative)
{
    return QStringLiteral(VELMORA_SOURCE_DIR "/") + QLatin1String(relative);
}

QStringList qrcFiles()
{
    QFile qrc(sourcePath("resources/velmora.qrc"));
    if (!qrc.open(QIODevice::ReadOnly))
        return {};
    QStringList files;
    QXmlStreamReader xml(&qrc);
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (xml.isStartElement() && xml.name() == QLatin1String("file"))
            files.append(xml.readElementText());
        else
            xml.readNext();
    }
    return files;
}

struct Heading {
    QString text;
    qreal pointSize;
};

// Blocks written in one bold run: the headings, with the size they are set in.
QList<Heading> boldBlocks(const QTextDocument *document)
{
    QList<Heading> result;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        const QTextFragment first = block.begin().fragment();
        if (block.begin().atEnd() || !first.isValid())
            continue;
        const QTextCharFormat format = first.charFormat();
        if (first.text() == block.text() && format.fontWeight() >= QFont::DemiBold)
            result.append({ block.text(), format.fontPointSize() });
    }
    return result;
}

QStringList imageNames(const QTextDocument *document)
{
    QStringList names;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat())
                names.append(format.toImageFormat().name());
        }
    }
    return names;
}

QImage imageFromResource(const QVariant &resource)
{
    if (resource.canConvert<QImage>() && resource.userType() != QMetaType::QByteArray)
        return resource.value<QImage>();
    return QImage::fromData(resource.toByteArray());
}

bool isChessGrey(int x, int y)
{
    return ((x / 8) + (y / 8)) % 2 == 0;
}

} // namespace

class TestHelp : public QObject
{
    Q_OBJECT

private slots:
    void dialogHasItsFormLayout();
    void documentHasHeadingsLinkAndSizes();
    void everyInlineImageAndResourceIconLoads();
    void linkClickOpensBrowserAndKeepsContent();
    void okHidesWithoutDeleting();
    void languageChangeRetranslatesAtOnce();
    void chessboardIsSeamlessPaletteTile();
    void windowsIconHoldsEverySize();
};

void TestHelp::dialogHasItsFormLayout()
{
    QWidget parent;
    HelpDialog dialog(&parent);
    QCOMPARE(dialog.objectName(), QStringLiteral("HelpDialog"));
    QCOMPARE(dialog.size(), QSize(400, 300));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Help"));
    QVERIFY(!dialog.isModal());
    QVERIFY(!dialog.testAttribute(Qt::WA_DeleteOnClose));

    auto *top = qobject_cast<QHBoxLayout *>(dialog.layout());
    QVERIFY(top);
    QCOMPARE(top->objectName(), QStringLiteral("horizontalLayout"));
    QCOMPARE(top->count(), 1);
    auto *column = qobject_cast<QVBoxLayout *>(top->itemAt(0)->layout());
    QVERIFY(column);
    QCOMPARE(column->objectName(), QStringLiteral("verticalLayout"));
    QCOMPARE(column->count(), 2);

    auto *browser = qobject_cast<QTextBrowser *>(column->itemAt(0)->widget());
    QVERIFY(browser);
    QCOMPARE(browser->objectName(), QStringLiteral("textBrowser"));
    QCOMPARE(browser->parentWidget(), &dialog);
    QVERIFY(browser->openExternalLinks());

    auto *buttonRow = qobject_cast<QHBoxLayout *>(column->itemAt(1)->layout());
    QVERIFY(buttonRow);
    QCOMPARE(buttonRow->objectName(), QStringLiteral("horizontalLayout_2"));
    QCOMPARE(buttonRow->count(), 2);

    // Left, top and right stay at the default of a nested layout; only the bottom is fixed.
    QHBoxLayout defaultRow;
    column->addLayout(&defaultRow);
    const QMargins defaults = defaultRow.contentsMargins();
    column->removeItem(&defaultRow);
    defaultRow.setParent(nullptr);
    const QMargins margins = buttonRow->contentsMargins();
    QCOMPARE(margins.bottom(), 6);
    QCOMPARE(margins.left(), defaults.left());
    QCOMPARE(margins.top(), defaults.top());
    QCOMPARE(margins.right(), defaults.right());

    QSpacerItem *spacer = buttonRow->itemAt(0)->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), QSize(40, 20));
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);

    auto *ok = qobject_cast<QPushButton *>(buttonRow->itemAt(1)->widget());
    QVERIFY(ok);
    QCOMPARE(ok->objectName(), QStringLiteral("buttonOK"));
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QCOMPARE(ok->parentWidget(), &dialog);

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.size(), QSize(400, 300));
    // The spacer pushes the button to the right, below the text.
    QVERIFY(ok->geometry().left() > dialog.width() / 2);
    QVERIFY(ok->geometry().top() >= browser->geometry().bottom());
    QVERIFY(browser->width() > dialog.width() / 2);
}

void TestHelp::documentHasHeadingsLinkAndSizes()
{
    HelpDialog dialog;
    auto *browser = dialog.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(browser);
    const QTextDocument *document = browser->document();

    const QList<Heading> headings = boldBlocks(document);
    QStringList headingTexts;
    for (const Heading &heading : headings) {
        if (heading.pointSize == 10)
            headingTexts.append(heading.text);
    }
    QCOMPARE(headingTexts,
        QStringList({ QStringLiteral("Tools and the workflow"),
            QStringLiteral("Other sources of information") }));

    // The greeting comes first and names the product in bold.
    const QTextBlock greeting = document->begin();
    bool namesProductInBold = false;
    for (auto it = greeting.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (fragment.text() == QLatin1String("Velmora")
            && fragment.charFormat().fontWeight() >= QFont::DemiBold)
            namesProductInBold = true;
    }
    QVERIFY2(namesProductInBold, qPrintable(greeting.text()));

    // Body text is 8 pt in the editor's default family; headings are the only other size.
    QStringList anchors;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (format.isAnchor())
                anchors.append(format.anchorHref());
            if (format.isImageFormat())
                continue;
            QVERIFY2(
                format.fontFamilies().toStringList().contains(QStringLiteral("MS Shell Dlg 2")),
                qPrintable(fragment.text()));
            if (!headingTexts.contains(block.text()))
                QVERIFY2(format.fontPointSize() == 8, qPrintable(fragment.text()));
        }
    }

    anchors.removeDuplicates();
    QCOMPARE(anchors.size(), 1);
    const QUrl link(anchors.first());
    QVERIFY(link.isValid());
    QCOMPARE(link.scheme(), QStringLiteral("https"));
    QCOMPARE(link.host(), QStringLiteral("velmora.example.org"));

    // The link sits after the second heading, not in the workflow section.
    const QString plain = document->toPlainText();
    QVERIFY(plain.indexOf(QLatin1String("Other sources of information"))
        < plain.indexOf(QLatin1String("velmora.example.org")));
}

void TestHelp::everyInlineImageAndResourceIconLoads()
{
    HelpDialog dialog;
    auto *browser = dialog.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(browser);

    const QStringList images = imageNames(browser->document());
    const QStringList expected = {
        QStringLiteral(":/icons/openHS.png"),
        QStringLiteral(":/icons/LineColorHS.png"),
        QStringLiteral(":/icons/FormRunHS.png"),
        QStringLiteral(":/icons/white_square.png"),
        QStringLiteral(":/icons/transp_square.png"),
        QStringLiteral(":/icons/color_square.png"),
        QStringLiteral(":/icons/invert_icon.png"),
        QStringLiteral(":/icons/saveHS.png"),
    };
    // The paragraphs follow the workflow: open, select, preview and backgrounds, save.
    QCOMPARE(images, expected);

    for (const QString &name : images) {
        const QImage shown
            = imageFromResource(browser->loadResource(QTextDocument::ImageResource, QUrl(name)));
        QVERIFY2(!shown.isNull(), qPrintable(name));
    }

    const QStringList files = qrcFiles();
    QVERIFY(files.size() >= 13);
    for (const QString &file : files) {
        const QString path = QStringLiteral(":/") + file;
        const QImage icon(path);
        QVERIFY2(!icon.isNull(), qPrintable(path));
        if (file.contains(QLatin1String("chessbackground")))
            continue;
        // Real icons, not flat placeholders: square, with a see-through margin and solid ink.
        QCOMPARE(icon.width(), icon.height());
        QVERIFY2(icon.width() >= 24, qPrintable(path));
        QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
        bool opaque = false;
        for (int y = 0; y < icon.height() && !opaque; ++y) {
            for (int x = 0; x < icon.width() && !opaque; ++x)
                opaque = qAlpha(icon.pixel(x, y)) == 255;
        }
        QVERIFY2(opaque, qPrintable(path));
    }
    // The window icon is also installed as the 256 x 256 application icon.
    QCOMPARE(QImage(QStringLiteral(":/icons/crawfish.png")).size(), QSize(256, 256));
}

void TestHelp::linkClickOpensBrowserAndKeepsContent()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");

    HelpDialog dialog;
    dialog.resize(700, 900);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *browser = dialog.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(browser);
    const QString before = browser->toHtml();

    int anchorStart = -1;
    QString href;
    for (QTextBlock block = browser->document()->begin(); block.isValid() && anchorStart < 0;
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isAnchor()) {
                anchorStart = it.fragment().position();
                href = it.fragment().charFormat().anchorHref();
                break;
            }
        }
    }
    QVERIFY(anchorStart >= 0);

    QTextCursor cursor(browser->document());
    cursor.setPosition(anchorStart + 2);
    browser->setTextCursor(cursor);
    browser->ensureCursorVisible();
    const QRect left = browser->cursorRect(cursor);
    cursor.setPosition(anchorStart + 3);
    const QRect right = browser->cursorRect(cursor);
    const QPoint onLink((left.center().x() + right.center().x()) / 2, left.center().y());
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, Qt::NoModifier, onLink);

    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));

    QCOMPARE(catcher.opened, QList<QUrl>({ QUrl(href) }));
    QVERIFY(browser->source().isEmpty());
    QCOMPARE(browser->toHtml(), before);
}

void TestHelp::okHidesWithoutDeleting()
{
    QWidget parent;
    QPointer<HelpDialog> dialog = new HelpDialog(&parent);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    auto *ok = dialog->findChild<QPushButton *>(QStringLiteral("buttonOK"));
    QVERIFY(ok);

    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(dialog);
    QCOMPARE(dialog->parentWidget(), &parent);

    // It can be shown again with its content intact.
    dialog->show();
    QVERIFY(dialog->isVisible());
    auto *browser = dialog->findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(browser->toPlainText().contains(QLatin1String("Tools and the workflow")));
}

void TestHelp::languageChangeRetranslatesAtOnce()
{
    HelpDialog dialog;
    dialog.show();
    auto *ok = dialog.findChild<QPushButton *>(QStringLiteral("buttonOK"));
    auto *browser = dialog.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(ok && browser);

    HelpTranslator translator;
    // The application posts LanguageChange to every window; delivering it must be enough.
    QVERIFY(QCoreApplication::installTranslator(&translator));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("T1 Help"));
    QCOMPARE(ok->text(), QStringLiteral("T1 OK"));
    QVERIFY(browser->toPlainText().contains(QLatin1String("T1 Werkzeuge")));
    QVERIFY(!browser->toPlainText().contains(QLatin1String("Tools and the workflow")));

    // The text came through translation as the rich-text editor writes it.
    QString html;
    for (const QString &source : std::as_const(translator.sourcesSeen)) {
        if (source.contains(QLatin1String("<html>")))
            html = source;
    }
    QVERIFY(html.startsWith(QLatin1String("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" "
                                          "\"http://www.w3.org/TR/REC-html40/strict.dtd\">")));
    QVERIFY(html.contains(QLatin1String("<meta name=\"qrichtext\" content=\"1\" />")));
    QVERIFY(html.contains(QLatin1String("font-family:'MS Shell Dlg 2'; font-size:8.25pt;")));

    // An event sent to the dialog alone is enough.
    translator.prefix = QStringLiteral("T2 ");
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(&dialog, &change);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("T2 Help"));
    QCOMPARE(ok->text(), QStringLiteral("T2 OK"));
    QVERIFY(browser->toPlainText().contains(QLatin1String("T2 Werkzeuge")));

    QVERIFY(QCoreApplication::removeTranslator(&translator));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Help"));
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QVERIFY(browser->toPlainText().contains(QLatin1String("Tools and the workflow")));
}

void TestHelp::chessboardIsSeamlessPaletteTile()
{
    QFile file(QStringLiteral(":/icons/chessbackground.png"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.size() > 33);
    QVERIFY(bytes.startsWith("\x89PNG\r\n\x1a\n"));
    QCOMPARE(bytes.mid(12, 4), QByteArray("IHDR"));
    const auto byteAt = [&bytes](int i) { return quint32(quint8(bytes.at(i))); };
    const auto bigEndian = [&](int i) {
        return (byteAt(i) << 24) | (byteAt(i + 1) << 16) | (byteAt(i + 2) << 8) | byteAt(i + 3);
    };
    QCOMPARE(bigEndian(16), 784u);
    QCOMPARE(bigEndian(20), 592u);
    QCOMPARE(byteAt(24), 8u); // bit depth
    QCOMPARE(byteAt(25), 3u); // colour type: palette

    const QImage tile = QImage::fromData(bytes);
    QCOMPARE(tile.size(), QSize(784, 592));
    QCOMPARE(tile.format(), QImage::Format_Indexed8);
    QCOMPARE(tile.pixel(0, 0), qRgb(191, 191, 191));
    QCOMPARE(tile.pixel(8, 0), qRgb(255, 255, 255));
    QCOMPARE(tile.pixel(8, 8), qRgb(191, 191, 191));
    QCOMPARE(tile.pixel(7, 7), qRgb(191, 191, 191));
    QCOMPARE(tile.pixel(0, 8), qRgb(255, 255, 255));

    // Laid out two by two the way the preview tiles it, the pattern runs on without a seam.
    QImage laid(2 * tile.width(), 2 * tile.height(), QImage::Format_ARGB32);
    laid.fill(Qt::transparent);
    {
        QPainter painter(&laid);
        for (int i = 0; i < 2; ++i) {
            for (int j = 0; j < 2; ++j)
                painter.drawImage(i * tile.width(), j * tile.height(), tile);
        }
    }
    for (int y = 0; y < laid.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(laid.constScanLine(y));
        for (int x = 0; x < laid.width(); ++x) {
            const QRgb expected = isChessGrey(x, y) ? qRgb(191, 191, 191) : qRgb(255, 255, 255);
            if (line[x] != expected)
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) is %3, expected %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(line[x], 8, 16)
                                     .arg(expected, 8, 16)));
        }
    }
}

void TestHelp::windowsIconHoldsEverySize()
{
    QImageReader reader(sourcePath("resources/icons/velmora.ico"), "ico");
    QCOMPARE(reader.imageCount(), 4);
    const QImage application(QStringLiteral(":/icons/crawfish.png"));
    QVERIFY(!application.isNull());

    QList<int> sizes;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage entry = reader.read().convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(!entry.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(entry.width(), entry.height());
        sizes.append(entry.width());

        // Same picture as the window icon, the right way up, with its transparency intact.
        const QImage reference
            = application.scaled(entry.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                  .convertToFormat(QImage::Format_ARGB32);
        qint64 difference = 0;
        for (int y = 0; y < entry.height(); ++y) {
            for (int x = 0; x < entry.width(); ++x) {
                const QRgb a = entry.pixel(x, y);
                const QRgb b = reference.pixel(x, y);
                difference += std::abs(qAlpha(a) - qAlpha(b)) + std::abs(qRed(a) - qRed(b))
                    + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
            }
        }
        const double perChannel = double(difference) / (4.0 * entry.width() * entry.height());
        QVERIFY2(perChannel < 12.0,
            qPrintable(QStringLiteral("size %1 differs by %2 per channel")
                           .arg(entry.width())
                           .arg(perChannel)));
    }
    std::sort(sizes.begin(), sizes.end());
    QCOMPARE(sizes, QList<int>({ 16, 32, 48, 256 }));
}

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
