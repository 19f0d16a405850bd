// Vemo_sys: the settings holder TVemo_sysF.
//
// Knows where the settings file "Vemo.sys" lies (the system folder
// "Vemosys" beside the executable), reads it once per program run and
// writes the written-back keys at close. Reads and writes go through the
// profile-file layer (Vemo_profile), which keeps every line it does not
// change byte for byte.
//
// An installed system folder's "Vemo.sys" is not written: each user then
// reads and writes a copy of their own (Vemo_usersettings), made from the
// installed file at the first CheckSettingsFile.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "common/Vemo_common.h"

class ProfileDocument;

// Sixteen texts in this fixed order; other units pick values by position.
struct SettingsRecord {
    std::string systemFolder;      // 1
    std::string settingsFileName;  // 2: "Vemo.sys"
    std::string defData;           // 3: [SYSTEM] DEFDATA, last image path
    std::string defFld;            // 4: [SYSTEM] DEFFLD, last output folder
    std::string basBmp;            // 5: [SYSTEM] BASBMP, base image file name
    std::string pixStep;           // 6: [SYSTEM] PIXSTEP, carried, unused
    std::string tifSpi;            // 7: [SPINAME] TIFSPI, TIFF plug-in file name
    std::string pngSpi;            // 8: [SPINAME] PNGSPI
    std::string gifSpi;            // 9: [SPINAME] GIFSPI
    std::string xAxis;             // 10: [CV1FLG] XAXIS, "1" = flip X
    std::string yAxis;             // 11: [CV1FLG] YAXIS
    std::string expTxt;            // 12: [CV2FLG] EXPTXT, "1" = write text file
    std::string expDxf;            // 13: [CV2FLG] EXPDXF
    std::string expA10;            // 14: [CV2FLG] EXPA10
    std::string xRatio;            // 15: [CV3FLG] XRATIO, empty means 1.0
    std::string yRatio;            // 16: [CV3FLG] YRATIO
};

// The window's options beyond the sixteen keys (SVG output, the join
// step, ...), in a section of their own: key -> value text. A file without
// the section reads as no option set; the sixteen keys never move for it.
inline constexpr const char* kOptionsSection = "OPTIONS";
using OptionValues = std::map<std::string, std::string>;

class TVemo_sysF {
public:
    static constexpr const char* kSettingsFileName = "Vemo.sys";
    static constexpr const char* kSystemFolderName = "Vemosys";

    // System folder beside the running executable.
    explicit TVemo_sysF(MessageSink messages);
    // System folder given explicitly (tests, the command line's option).
    TVemo_sysF(std::string systemFolder, MessageSink messages);
    ~TVemo_sysF();
    TVemo_sysF(const TVemo_sysF&) = delete;
    TVemo_sysF& operator=(const TVemo_sysF&) = delete;

    // 0 when the settings file exists; 1, after telling the user, when not.
    int CheckSettingsFile();
    // The values read at the first call; the file is read at most once.
    SettingsRecord GetSettings();
    void LoadSettings();
    // Writes the written-back keys (never [SPINAME]). 0 on success; 1 after
    // telling the user when the file could not be saved.
    int SaveSettings(const SettingsRecord& record);
    // The same, with `options` written into [OPTIONS] in the same save;
    // the other keys are written exactly as SaveSettings writes them.
    int SaveSettings(const SettingsRecord& record, const OptionValues& options);
    // The value of [OPTIONS] `key` as read with the other keys (empty when
    // missing); the file is read at most once, as for GetSettings.
    std::string GetOption(const std::string& key);

    std::string ReadKey(const std::string& section, const std::string& key);
    // 0 on success; 1 after telling the user when the file could not be saved.
    int WriteKey(const std::string& section, const std::string& key, const std::string& value);

    const std::string& SystemFolder() const { return m_record.systemFolder; }
    // The file read and written: the system folder's "Vemo.sys", or the
    // user's own copy when that one is installed.
    std::string SettingsPath() const;
    // The system folder's "Vemo.sys".
    std::string InstalledSettingsPath() const;
    bool UsesUserSettings() const { return !m_userSettingsPath.empty(); }

private:
    // Reads the file, applies `change` and saves it in one atomic write.
    int Update(const std::function<void(ProfileDocument&)>& change);

    void ChooseSettingsFile();

    SettingsRecord m_record;
    std::unique_ptr<ProfileDocument> m_readOptions;  // the file as LoadSettings read it
    std::string m_userSettingsPath;  // empty: the system folder's file is used
    bool m_loaded = false;
    MessageSink m_messages;
};

// The folder of the running executable, without a trailing "/".
std::string ExecutableFolder();
