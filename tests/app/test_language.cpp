// The windows' language: Japanese by default and byte for byte, English
// when the locale is English (window definitions, messages, status texts),
// Qt's own dialogs in Japanese. Offscreen.
#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/Vemo_language.h"
#include "common/Vemo_texts.h"
#include "gui_support.h"

namespace {

std::string SettingsText() {
    return "[SYSTEM]\nDEFDATA=\nDEFFLD=\nBASBMP=Vemo_base.bmp\n[CV2FLG]\nEXPTXT=1\n";
}

// Every caption, title and label text of `window`.
QStringList Captions(QWidget& window) {
    QStringList captions;
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) captions << button->text();
    for (QLabel* label : window.findChildren<QLabel*>()) captions << label->text();
    for (QGroupBox* group : window.findChildren<QGroupBox*>()) captions << group->title();
    captions.removeAll(QString());
    return captions;
}

bool IsAscii(const QString& text) {
    for (QChar c : text) {
        if (c.unicode() > 0x7E) return false;
    }
    return true;
}

}  // namespace

class LanguageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { MapWindowFont(); }

    // English only where the locale asks for it; everything else keeps the
    // program's Japanese.
    void localeChoosesTheLanguage_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("english");
        QTest::newRow("en_US") << "en_US" << true;
        QTest::newRow("en_GB") << "en_GB" << true;
        QTest::newRow("ja_JP") << "ja_JP" << false;
        QTest::newRow("C") << "C" << false;
        QTest::newRow("de_DE") << "de_DE" << false;
    }
    void localeChoosesTheLanguage() {
        QFETCH(QString, locale);
        QFETCH(bool, english);
        const TVemo_language language{QLocale(locale)};
        QCOMPARE(language.IsEnglish(), english);
        TempFolder folder;
        Program program(MakeSystemFolder(folder, SettingsText()));
        program.mainF.show();
        QTest::mouseClick(Find<QPushButton>(program.mainF, "Button3"), Qt::LeftButton);
        QCOMPARE(program.messages.size(), std::size_t(1));
        if (english) {
            QCOMPARE(Find<QCheckBox>(program.mainF, "CheckBox3")->text(), QString("Text"));
            QCOMPARE(program.messages[0], std::string("Please specify the image file."));
            for (const QString& caption : Captions(program.mainF)) QVERIFY2(IsAscii(caption), qPrintable(caption));
            for (const QString& caption : Captions(program.viewer)) QVERIFY2(IsAscii(caption), qPrintable(caption));
        } else {
            QCOMPARE(Find<QCheckBox>(program.mainF, "CheckBox3")->text(), QString("テキスト形式"));
            QCOMPARE(Find<QCheckBox>(program.viewer, "CheckBox2")->text(), QString("線画"));
            QCOMPARE(program.messages[0], std::string(texts::kNoImageGiven));
        }
    }

    // A text missing from the translation would show up in Japanese in an
    // English window.
    void everyTextHasItsEnglish() {
        const TVemo_language language{QLocale("en_US")};
        for (const QString& text : TranslatableTexts()) {
            const QString english = QCoreApplication::translate(kTextsContext, text.toUtf8().constData());
            QVERIFY2(english != text && IsAscii(QString(english).remove(QChar(0xD7))), qPrintable(text));
            // The names go where the Japanese has them: none lost or added.
            for (const char* mark : {"%1", "%2", "%3"}) QCOMPARE(english.contains(mark), text.contains(mark));
        }
    }

    // Composed messages are matched by their fixed parts, names kept as
    // they are, a reason inside a message translated as well.
    void composedMessagesAreTranslatedAroundTheirNames_data() {
        QTest::addColumn<QString>("japanese");
        QTest::addColumn<QString>("english");
        QTest::newRow("path") << QString::fromStdString(texts::CannotDisplay("/a/図面.bmp"))
                              << "/a/図面.bmp cannot be displayed.";
        QTest::newRow("reason inside") << QString::fromStdString(texts::ImageNotDecodable("/a/b.bmp", texts::ReasonBmpBitCount(24)))
                                       << "The image file \"/a/b.bmp\" cannot be read. (BMP files with 24 bits per pixel are not supported)";
        QTest::newRow("name with a mark") << QString::fromStdString(texts::FileFailed("/tmp/%2.txt", "No space left on device"))
                                          << "The file \"/tmp/%2.txt\" cannot be processed. (No space left on device)";
        QTest::newRow("three numbers") << QString::fromStdString(texts::ReasonImageTooLarge(70000, 5, 1000))
                                       << "the image is too large: 70000 × 5 pixels, the limit is 1000 pixels";
        QTest::newRow("the window's field inside")
            << QString::fromStdString(texts::CannotProcessBecause("/a/b.gif", texts::ReasonNoResolution("mm", texts::kResolutionField)))
            << "/a/b.gif cannot be processed. (the image stores no resolution, so it cannot be written in mm. "
               "Please give the resolution in the field \"Resolution\")";
        QTest::newRow("a file's reason with a field and a number")
            << QString::fromStdString(texts::FileFailed("/a/b.a10", texts::A10ValueTooWide(texts::kA10FieldX, "1234567.000", 10)))
            << "The file \"/a/b.a10\" cannot be processed. (X coordinate 1234567.000 does not fit its column of the A10 file "
               "(10 characters))";
        QTest::newRow("status") << QString(texts::kStatusAdjusting) << "4. Adjusting lines";
        QTest::newRow("unknown text") << "そのまま" << "そのまま";
    }
    void composedMessagesAreTranslatedAroundTheirNames() {
        QFETCH(QString, japanese);
        QFETCH(QString, english);
        {
            const TVemo_language language{QLocale("en_US")};
            QCOMPARE(TranslateMessage(japanese.toStdString()), english);
        }
        const TVemo_language language{QLocale("ja_JP")};
        QCOMPARE(TranslateMessage(japanese.toStdString()), japanese);
    }

    // Qt's own buttons and dialogs follow the Japanese windows.
    void qtsOwnTextsFollowTheJapanese() {
        const TVemo_language language{QLocale("ja_JP")};
        QVERIFY(QCoreApplication::translate("QPlatformTheme", "Cancel") != QString("Cancel"));
    }
};

QTEST_MAIN(LanguageTest)
#include "test_language.moc"
