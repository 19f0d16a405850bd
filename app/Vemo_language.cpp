// Vemo_language: the windows' language (rules in the header).
#include "app/Vemo_language.h"

#include <atomic>

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTranslator>

#include "common/Vemo_texts.h"

namespace {

// English translators installed now: without one, every text stays as it
// is and no message needs to be matched against the templates.
std::atomic<int> g_englishInstalled{0};

// Stands for a number in a composed text; replaced by "%N" in its template.
// No real count or size of an image comes out as these digits.
constexpr long long kNumberMark = 987654320;

QString NumberMark(int n) { return QString::number(kNumberMark + n); }

// The composed texts with their names as "%1", "%2", ...; numbers first go
// in as marks that are replaced afterwards.
QStringList ComposedTemplates() {
    const std::string a = "%1";
    const std::string b = "%2";
    const auto numbers = [](const std::string& text, int count) {
        QString result = QString::fromStdString(text);
        for (int n = 1; n <= count; ++n) result.replace(NumberMark(n), "%" + QString::number(n));
        return result;
    };
    constexpr long long m1 = kNumberMark + 1;
    constexpr long long m2 = kNumberMark + 2;
    constexpr long long m3 = kNumberMark + 3;
    return {
        QString::fromStdString(texts::CannotDisplay(a)),
        QString::fromStdString(texts::HelpNotOpened(a)),
        QString::fromStdString(texts::NoSettingsFile(a)),
        QString::fromStdString(texts::SettingsNotSaved(a, b)),
        QString::fromStdString(texts::ImageFileMissing(a)),
        QString::fromStdString(texts::FileTypeNotSupported(a)),
        QString::fromStdString(texts::BaseImageMissing(a)),
        QString::fromStdString(texts::PluginMissing(a)),
        QString::fromStdString(texts::PluginNotLoadable(a, b)),
        QString::fromStdString(texts::PluginExportMissing(a, "%2")),
        QString::fromStdString(texts::ReasonPluginRefuses(a)),
        QString::fromStdString(texts::ImageNotDecodable(a, b)),
        QString::fromStdString(texts::CannotProcess(a)),
        QString::fromStdString(texts::CannotProcessBecause(a, b)),
        QString::fromStdString(texts::RatioNotFinite("%1", b)),
        QString::fromStdString(texts::RatioZero("%1", b)),
        QString::fromStdString(texts::StoredRatioUnusable(a, b, "%3")),
        QString::fromStdString(texts::CoordinateNotFinite("%1", b, "%3")),
        numbers(texts::A10ValueTooWide("%1", b, static_cast<std::size_t>(m3)), 3),
        QString::fromStdString(texts::ReasonNoResolution("%1", "%2")),
        QString::fromStdString(texts::ResolutionUnusable(a)),
        QString::fromStdString(texts::FolderBusy(a)),
        QString::fromStdString(texts::RunStopped(a)),
        QString::fromStdString(texts::OutputFolderMissing(a)),
        QString::fromStdString(texts::OutputFolderNotWritable(a, b)),
        QString::fromStdString(texts::Traced(a, b)),
        QString::fromStdString(texts::FileFailed(a, b)),
        QString::fromStdString(texts::BaseImageNotIndexed(a)),
        numbers(texts::ReasonBmpHeaderSize(m1), 1),
        numbers(texts::ReasonBmpBitCount(m1), 1),
        numbers(texts::ReasonBmpCompression(m1), 1),
        numbers(texts::ReasonImageTooLarge(m1, m2, m3), 3),
        numbers(texts::ReasonPluginFailed(static_cast<int>(m1)), 1),
    };
}

QStringList FixedTexts() {
    QStringList fixed;
    for (const char* text : {texts::kStatusLoading, texts::kStatusAnalysing, texts::kStatusSynthesising,
                             texts::kStatusAdjusting, texts::kStatusFinished, texts::kNoImageGiven,
                             texts::kNoOutputFolderGiven, texts::kChooseFolderTitle, texts::kXRatio, texts::kYRatio,
                             texts::kReasonUnknownError, texts::kReasonEmptyImage, texts::kReasonNotBmp,
                             texts::kReasonTruncated, texts::kReasonCorrupt, texts::kReasonNoMemory,
                             texts::kReasonPluginData, texts::kStopButton, texts::kStopAndClose, texts::kResolutionField,
                             texts::kAxisX, texts::kAxisY, texts::kA10FieldX, texts::kA10FieldY,
                             texts::kA10FieldPolyline, texts::kA10FieldPointCount}) {
        fixed << QString::fromUtf8(text);
    }
    for (int code : {1, 2, 3, 4, 6}) fixed << QString::fromStdString(texts::ReasonPluginFailed(code));
    return fixed;
}

// A composed text's template and the pattern that recognises the texts it
// makes: its fixed parts in place, anything for each "%N".
struct Template {
    QString source;
    QRegularExpression pattern;
    std::vector<int> numbers;  // the N of each capture, in order
};

const std::vector<Template>& Templates() {
    static const std::vector<Template> templates = [] {
        std::vector<Template> built;
        static const QRegularExpression placeholder(QStringLiteral("%(\\d)"));
        for (const QString& source : ComposedTemplates()) {
            Template entry{source, {}, {}};
            QString pattern = QStringLiteral("^");
            qsizetype at = 0;
            for (auto match = placeholder.globalMatch(source); match.hasNext();) {
                const QRegularExpressionMatch found = match.next();
                pattern += QRegularExpression::escape(source.mid(at, found.capturedStart() - at)) + "(.*)";
                entry.numbers.push_back(found.captured(1).toInt());
                at = found.capturedEnd();
            }
            pattern += QRegularExpression::escape(source.mid(at)) + "$";
            entry.pattern = QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption);
            built.push_back(std::move(entry));
        }
        return built;
    }();
    return templates;
}

QString Translated(const QString& source) {
    return QCoreApplication::translate(kTextsContext, source.toUtf8().constData());
}

// `translated` with each "%N" replaced by parts[N - 1], in one pass, so
// that a name holding "%2" stays as it is.
QString Fill(const QString& translated, const std::vector<QString>& parts) {
    QString result;
    for (qsizetype i = 0; i < translated.size(); ++i) {
        if (translated[i] == '%' && i + 1 < translated.size() && translated[i + 1].isDigit()) {
            const auto n = static_cast<std::size_t>(translated[i + 1].digitValue());
            if (n >= 1 && n <= parts.size()) {
                result += parts[n - 1];
                ++i;
                continue;
            }
        }
        result += translated[i];
    }
    return result;
}

// The names put into a composed text may be texts themselves (a reason
// inside a message), so they are translated too, to this depth.
constexpr int kNestedTexts = 2;

QString Translate(const QString& text, int depth) {
    const QString whole = Translated(text);
    if (whole != text || depth == 0) return whole;
    for (const Template& entry : Templates()) {
        const QRegularExpressionMatch match = entry.pattern.match(text);
        if (!match.hasMatch()) continue;
        const QString translated = Translated(entry.source);
        if (translated == entry.source) return text;  // no translation installed
        std::vector<QString> parts(entry.numbers.size());
        for (std::size_t i = 0; i < entry.numbers.size(); ++i) {
            const auto n = static_cast<std::size_t>(entry.numbers[i]);
            if (n >= 1 && n <= parts.size()) parts[n - 1] = Translate(match.captured(static_cast<int>(i) + 1), depth - 1);
        }
        return Fill(translated, parts);
    }
    return text;
}

}  // namespace

TVemo_language::TVemo_language(const QLocale& locale) {
    m_english = locale.language() == QLocale::English;
    const auto install = [this](const QString& name, const QString& folder) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(name, folder) && QCoreApplication::installTranslator(translator.get())) {
            m_translators.push_back(std::move(translator));
        }
    };
    if (m_english) {
        install(QStringLiteral("vemo_en"), QStringLiteral(":/i18n"));
        ++g_englishInstalled;
    } else {
        // Qt's dialogs and buttons in the windows' own language.
        install(QStringLiteral("qt_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    }
}

TVemo_language::~TVemo_language() {
    if (m_english) --g_englishInstalled;
    for (const auto& translator : m_translators) QCoreApplication::removeTranslator(translator.get());
}

QString TranslateMessage(std::string_view japanese) {
    if (g_englishInstalled.load() == 0) {
        return QString::fromUtf8(japanese.data(), static_cast<qsizetype>(japanese.size()));
    }
    return Translate(QString::fromUtf8(japanese.data(), static_cast<qsizetype>(japanese.size())), kNestedTexts);
}

QStringList TranslatableTexts() { return FixedTexts() + ComposedTemplates(); }
