#include "helpdialog.h"

#include <QDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTranslator>

// Lower-cases the help window's texts only, so a changed text proves both that it went through
// translation and under which context.
struct LowerCaseTranslator : QTranslator {
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
    void guideLoadsOkHidesAndLanguageChangeRetranslates()
    {
        HelpDialog dialog;
        auto *browser = dialog.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
        QVERIFY(dialog.size() == QSize(400, 300) && browser->openExternalLinks());

        QStringList bold, links, images;
        for (auto block = browser->document()->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat fmt = it.fragment().charFormat();
                if (fmt.isAnchor() && !links.contains(fmt.anchorHref()))
                    links.append(fmt.anchorHref());
                if (fmt.isImageFormat())
                    images.append(fmt.toImageFormat().name());
                else if (fmt.fontWeight() > QFont::Medium && it.fragment().text() == block.text())
                    bold.append(block.text()); // a paragraph set in one bold run
            }
        }
        QCOMPARE(bold, QStringList({ "Tools and the workflow", "Other sources of information" }));
        // One image for each button the guide names.
        QVERIFY(links == QStringList { "https://velmora.example.org" } && images.size() == 8);

        // Every icon compiled into the program too, as the browser would load it.
        for (const QString &icon : QDir(QStringLiteral(":/icons")).entryList())
            images.append(QStringLiteral(":/icons/") + icon);
        for (const QString &name : std::as_const(images)) {
            const QVariant data = browser->loadResource(QTextDocument::ImageResource, QUrl(name));
            QVERIFY2(!QImage::fromData(data.toByteArray()).isNull(), qPrintable(name));
        }

        // Were OK to delete the dialog as well, the delivered deletion would crash here.
        dialog.show();
        QTest::mouseClick(dialog.findChild<QWidget *>(QStringLiteral("buttonOK")), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!dialog.isVisible() && !dialog.isModal());

        // The application posts LanguageChange to every window; delivering it must be enough.
        LowerCaseTranslator translator;
        QCoreApplication::installTranslator(&translator);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("help"));
        QVERIFY(browser->toPlainText().contains(QLatin1String("tools and the workflow")));
    }

    void chessboardIsAPaletteTileOfEightPixelSquares()
    {
        const QImage tile(QStringLiteral(":/icons/chessbackground.png"));
        QVERIFY(tile.format() == QImage::Format_Indexed8 && tile.size() == QSize(784, 592));
        int wrong = 0;
        for (int y = 0; y < 592; ++y)
            for (int x = 0; x < 784; ++x)
                wrong += tile.pixel(x, y) != 0xffbfbfbf + (x / 8 + y / 8) % 2 * 0x404040;
        QCOMPARE(wrong, 0);
    }
};

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
