// Vemo_usersettings: each user's own copy of the settings file.
//
// An installed system folder belongs to the system, not to whoever runs the
// program: its "Vemo.sys" cannot be written (or is marked read-only for
// everyone, so that not even root rewrites it), and one shared file would
// mix the settings of every user of the machine. The program then keeps
// the settings in "$XDG_CONFIG_HOME/vemo/Vemo.sys" (by default
// "~/.config/vemo/Vemo.sys"), made from the installed file on first use.
// The base image, the plug-ins and the help stay in the system folder.
//
// A user's copy that exists but cannot be read, is no regular file or holds
// bytes no settings file holds (NUL) is reported and left alone: it may be
// the only record of the user's settings, so it is never silently replaced.
#pragma once

#include <string>

// "$XDG_CONFIG_HOME/vemo" when that is an absolute path, otherwise
// "$HOME/.config/vemo" (the home folder from the user database when HOME
// is unset); empty when neither can be found.
std::string UserSettingsFolder();

// True when the settings file at `installedPath` is to be left as it is
// and a per-user copy used instead: it exists and this process may not
// write it, or it carries no write permission for anybody.
bool IsInstalledSettingsFile(const std::string& installedPath);

// Makes `userPath` (and its folders, mode 0700) as a copy of
// `installedPath` when it does not exist yet; two processes starting at
// once make one whole copy between them. Checks an existing copy. Returns
// an empty text on success, otherwise the reason the copy cannot be used.
std::string PrepareUserSettings(const std::string& installedPath, const std::string& userPath);
