// Vemo_sys: the settings holder. Reads "Vemo.sys" in the system folder once
// per program run and writes the written-back keys in one atomic save.
#include "common/Vemo_sys.h"

#include <array>
#include <climits>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

#include "base/Vemo_path.h"
#include "common/Vemo_profile.h"
#include "common/Vemo_texts.h"
#include "common/Vemo_usersettings.h"

namespace {

struct KeyPlace {
    const char* section;
    const char* key;
    std::string SettingsRecord::*field;
};

// The fourteen keys in the order they are read.
const std::array<KeyPlace, 14> kAllKeys = {{
    {"SYSTEM", "DEFDATA", &SettingsRecord::defData},
    {"SYSTEM", "DEFFLD", &SettingsRecord::defFld},
    {"SYSTEM", "BASBMP", &SettingsRecord::basBmp},
    {"SYSTEM", "PIXSTEP", &SettingsRecord::pixStep},
    {"SPINAME", "TIFSPI", &SettingsRecord::tifSpi},
    {"SPINAME", "PNGSPI", &SettingsRecord::pngSpi},
    {"SPINAME", "GIFSPI", &SettingsRecord::gifSpi},
    {"CV1FLG", "XAXIS", &SettingsRecord::xAxis},
    {"CV1FLG", "YAXIS", &SettingsRecord::yAxis},
    {"CV2FLG", "EXPTXT", &SettingsRecord::expTxt},
    {"CV2FLG", "EXPDXF", &SettingsRecord::expDxf},
    {"CV2FLG", "EXPA10", &SettingsRecord::expA10},
    {"CV3FLG", "XRATIO", &SettingsRecord::xRatio},
    {"CV3FLG", "YRATIO", &SettingsRecord::yRatio},
}};

// Every key but [SPINAME]: the plug-in names stay as the user put them.
bool IsWrittenBack(const KeyPlace& place) { return std::string_view(place.section) != "SPINAME"; }

}  // namespace

std::string ExecutableFolder() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return ".";
    return DirectoryOf(std::string_view(buffer, static_cast<std::size_t>(length)));
}

TVemo_sysF::TVemo_sysF(MessageSink messages) : TVemo_sysF(std::string(), std::move(messages)) {
    m_record.systemFolder = JoinPath(ExecutableFolder(), kSystemFolderName);
    ChooseSettingsFile();
}

TVemo_sysF::TVemo_sysF(std::string systemFolder, MessageSink messages) : m_messages(std::move(messages)) {
    while (systemFolder.size() > 1 && systemFolder.back() == '/') systemFolder.pop_back();
    m_record.systemFolder = std::move(systemFolder);
    m_record.settingsFileName = kSettingsFileName;
    ChooseSettingsFile();
}

TVemo_sysF::~TVemo_sysF() = default;

void TVemo_sysF::ChooseSettingsFile() {
    m_userSettingsPath.clear();
    if (!IsInstalledSettingsFile(InstalledSettingsPath())) return;
    const std::string folder = UserSettingsFolder();
    // Without a home folder there is nowhere else: the installed file is
    // used and a save of it reported as failed.
    if (!folder.empty()) m_userSettingsPath = JoinPath(folder, kSettingsFileName);
}

std::string TVemo_sysF::InstalledSettingsPath() const {
    return m_record.systemFolder + "/" + m_record.settingsFileName;
}

std::string TVemo_sysF::SettingsPath() const {
    return UsesUserSettings() ? m_userSettingsPath : InstalledSettingsPath();
}

int TVemo_sysF::CheckSettingsFile() {
    struct stat info {};
    if (stat(InstalledSettingsPath().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        if (m_messages) m_messages(texts::NoSettingsFile(m_record.settingsFileName));
        return 1;
    }
    if (!UsesUserSettings()) return 0;
    const std::string reason = PrepareUserSettings(InstalledSettingsPath(), m_userSettingsPath);
    if (reason.empty()) return 0;
    if (m_messages) m_messages(texts::UserSettingsUnusable(m_userSettingsPath, reason));
    return 1;
}

SettingsRecord TVemo_sysF::GetSettings() {
    if (!m_loaded) LoadSettings();
    return m_record;
}

void TVemo_sysF::LoadSettings() {
    m_loaded = true;
    auto document = std::make_unique<ProfileDocument>(ProfileDocument::LoadForReading(SettingsPath()));
    for (const KeyPlace& place : kAllKeys) m_record.*place.field = document->Get(place.section, place.key);
    m_readOptions = std::move(document);
}

int TVemo_sysF::SaveSettings(const SettingsRecord& record) { return SaveSettings(record, {}); }

int TVemo_sysF::SaveSettings(const SettingsRecord& record, const OptionValues& options) {
    return Update([&record, &options](ProfileDocument& document) {
        for (const KeyPlace& place : kAllKeys) {
            if (IsWrittenBack(place)) document.Set(place.section, place.key, record.*place.field);
        }
        for (const auto& [key, value] : options) document.Set(kOptionsSection, key, value);
    });
}

std::string TVemo_sysF::GetOption(const std::string& key) {
    if (!m_loaded) LoadSettings();
    return m_readOptions ? m_readOptions->Get(kOptionsSection, key) : std::string();
}

std::string TVemo_sysF::ReadKey(const std::string& section, const std::string& key) {
    return ProfileDocument::LoadForReading(SettingsPath()).Get(section, key);
}

int TVemo_sysF::WriteKey(const std::string& section, const std::string& key, const std::string& value) {
    return Update([&](ProfileDocument& document) { document.Set(section, key, value); });
}

int TVemo_sysF::Update(const std::function<void(ProfileDocument&)>& change) {
    ProfileDocument document;
    std::string error;
    if (ProfileDocument::Load(SettingsPath(), document, error)) {
        change(document);
        if (document.Save(SettingsPath(), error)) return 0;
    }
    if (m_messages) m_messages(texts::SettingsNotSaved(SettingsPath(), error));
    return 1;
}
