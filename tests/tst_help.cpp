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
        // One image for each button the guide names, and every icon compiled into the program,
        // each as the browser would load it.
        HelpDialog dialog;
        auto *browser = dialog.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
        QStringList images;
        for (auto block = browser->document()->begin(); block.isValid(); block = block.next())
            for (auto it = block.begin(); !it.atEnd(); ++it)
                if (it.fragment().charFormat().isImageFormat())
                    images << it.fragment().charFormat().toImageFormat().name();
        QCOMPARE(images.size(), 8);
        for (const QString &icon : QDir(QStringLiteral(":/icons")).entryList())
            images << QStringLiteral(":/icons/") + icon;
        for (const QString &name : std::as_const(images)) {
            const QVariant data = browser->loadResource(QTextDocument::ImageResource, QUrl(name));
            QVERIFY2(!QImage::fromData(data.toByteArray()).isNull(), qPrintable(name));
        }

        // Were OK to delete the dialog as well, the delivered deletion would crash here.
        dialog.show();
        QTest::mouseClick(dialog.findChild<QWidget *>(QStringLiteral("buttonOK")), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!dialog.isVisible());

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
        for (int i = 0; i < 784 * 592; ++i)
            wrong += tile.pixel(i % 784, i / 784)
                != 0xffbfbfbf + (i % 784 / 8 + i / 784 / 8) % 2 * 0x404040;
        QCOMPARE(wrong, 0);
    }
};

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
