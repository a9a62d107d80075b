#include "helpdialog.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTranslator>

// Lower-cases what is asked for in the help window's context only, so a changed text proves
// both that it went through translation and under which context.
class LowerCaseTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *text, const char *, int) const override
    {
        return qstrcmp(context, "HelpDialog") == 0 ? QString::fromUtf8(text).toLower() : QString();
    }
};

class TestHelp : public QObject
{
    Q_OBJECT

private slots:
    void guideHasHeadingsLinkAndLoadableImages();
    void okHidesAndLanguageChangeRetranslates();
    void chessboardIsAPaletteTileOfEightPixelSquares();
};

void TestHelp::guideHasHeadingsLinkAndLoadableImages()
{
    HelpDialog dialog;
    QCOMPARE(dialog.size(), QSize(400, 300));
    QVERIFY(!dialog.isModal());
    auto *browser = dialog.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(browser && browser->openExternalLinks());

    QStringList headings, links, images;
    for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isAnchor() && !links.contains(format.anchorHref()))
                links.append(format.anchorHref());
            if (format.isImageFormat())
                images.append(format.toImageFormat().name());
            else if (format.fontWeight() >= QFont::DemiBold && it.fragment().text() == block.text())
                headings.append(block.text()); // a paragraph set in one bold run
        }
    }
    QCOMPARE(headings, QStringList({ "Tools and the workflow", "Other sources of information" }));
    QCOMPARE(links, QStringList { "https://velmora.example.org" });
    QCOMPARE(images.size(), 8); // one for each button the guide names

    // Every icon compiled into the program too, as the browser would load it.
    for (const QString &icon : QDir(QStringLiteral(":/icons")).entryList())
        images.append(QStringLiteral(":/icons/") + icon);
    for (const QString &name : std::as_const(images)) {
        const QVariant data = browser->loadResource(QTextDocument::ImageResource, QUrl(name));
        QVERIFY2(!QImage::fromData(data.toByteArray()).isNull(), qPrintable(name));
    }
}

void TestHelp::okHidesAndLanguageChangeRetranslates()
{
    QWidget parent;
    QPointer<HelpDialog> dialog = new HelpDialog(&parent);
    dialog->show();
    auto *ok = dialog->findChild<QPushButton *>(QStringLiteral("buttonOK"));
    auto *browser = dialog->findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(ok && browser);
    QTest::mouseClick(ok, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(dialog && !dialog->isVisible());

    // The application posts LanguageChange to every window; delivering it must be enough.
    LowerCaseTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("help"));
    QVERIFY(browser->toPlainText().contains(QLatin1String("tools and the workflow")));
}

void TestHelp::chessboardIsAPaletteTileOfEightPixelSquares()
{
    QFile file(QStringLiteral(":/icons/chessbackground.png"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    // PNG header: width 784 and height 592 big-endian, bit depth 8, colour type 3 (palette).
    QCOMPARE(bytes.mid(12, 14), QByteArray("IHDR\0\0\x03\x10\0\0\x02\x50\x08\x03", 14));

    const QImage tile = QImage::fromData(bytes);
    QCOMPARE(tile.size(), QSize(784, 592));
    for (int y = 0; y < tile.height(); ++y) {
        for (int x = 0; x < tile.width(); ++x) {
            const QRgb expected = (x / 8 + y / 8) % 2 ? qRgb(255, 255, 255) : qRgb(191, 191, 191);
            if (tile.pixel(x, y) != expected)
                QFAIL(qPrintable(QStringLiteral("wrong colour at (%1, %2)").arg(x).arg(y)));
        }
    }
}

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
