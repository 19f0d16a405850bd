// Vemo_language: the language the windows speak.
//
// Japanese is the program's own language: the window definitions and
// common/Vemo_texts.h hold the Japanese texts, byte for byte, and they are
// what a user sees unless the locale asks for English. Then the English
// translation (resources/translations/vemo_en.ts, built into the program as
// a .qm) is installed before the first window is made, so the window
// definitions come up in English, and every message is translated where it
// reaches the window (TranslateMessage). Qt's own dialogs follow the same
// language through Qt's translations (Debian's qt6-translations-l10n).
//
// The texts below the windows are plain C++ and compose their messages from
// a fixed text and a name ("<path>は表示できません。"); such a message is
// translated by matching it against the same function called with "%1",
// "%2" as its names, so a text changed in Vemo_texts.h can never be matched
// by a stale copy here.
//
// Reads: the translations built into the program and Qt's .qm files from
// Qt's translations folder. Writes nothing.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QLocale>
#include <QString>
#include <QStringList>

class QTranslator;

// The translation context of the texts of Vemo_texts.h in the .ts file.
inline constexpr const char* kTextsContext = "texts";

// The translators installed for one language; removed again when the
// object goes (tests switch languages within one process).
class TVemo_language {
public:
    // Installs the translations for `locale`: English when its language is
    // English, else none (Japanese), plus Qt's own for that language.
    explicit TVemo_language(const QLocale& locale);
    ~TVemo_language();
    TVemo_language(const TVemo_language&) = delete;
    TVemo_language& operator=(const TVemo_language&) = delete;

    bool IsEnglish() const { return m_english; }

private:
    std::vector<std::unique_ptr<QTranslator>> m_translators;
    bool m_english = false;
};

// `japanese` (UTF-8, a text of Vemo_texts.h or one composed by its
// functions) in the language installed; unchanged when there is none.
QString TranslateMessage(std::string_view japanese);

// Every text of Vemo_texts.h the windows can show, as the .ts file holds
// it: fixed texts as they are, composed ones with "%1", "%2", ... for what
// the functions put in. Tests check that each one has its translation.
QStringList TranslatableTexts();
