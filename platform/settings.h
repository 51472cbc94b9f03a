// The per-user settings store and profile files.
//
// The store holds string and integer values by section and value name for one
// program of one company. Windows: the registry key
// HKEY_CURRENT_USER\Software\<company>\<program>\<section>, strings as REG_SZ and
// integers as REG_DWORD. Linux: the file $XDG_CONFIG_HOME/<company>/<program>.ini
// (default ~/.config/<company>/<program>.ini), one "[section]" per section, rewritten
// whole through a temporary file and a rename so a crash never leaves half a file.
// Section and value names compare without regard to case on both.
//
// Nothing here reports errors to the user: reads fall back to the caller's default
// and writes answer false.
#pragma once

#include <string>

namespace platform {

// Chooses the store. Until this is called (or after an invalid name: empty, or
// holding a path separator, or "." / ".."), reads give defaults and writes fail.
bool SetSettingsKey(const std::string& company, const std::string& program);

// The string value, or `defaultValue` when it is missing or not a string.
std::string ReadSettingString(const std::string& section, const std::string& name,
                              const std::string& defaultValue);
// Stores a string value; false on failure. Line breaks cannot be stored (false).
bool WriteSettingString(const std::string& section, const std::string& name,
                        const std::string& value);
// The integer value, or `defaultValue` when it is missing or not a number.
int ReadSettingInt(const std::string& section, const std::string& name, int defaultValue);
// Stores an integer value; false on failure.
bool WriteSettingInt(const std::string& section, const std::string& name, int value);
// Removes the whole store of the chosen program (every section); true when it is
// gone afterwards, also when there was none.
bool RemoveSettings();
// Where the chosen store lives, for messages: Linux the INI file's path, Windows the
// registry key ("HKEY_CURRENT_USER\\Software\\<company>\\<program>"); empty when none.
std::string SettingsLocation();

// Reads `key` of `section` from the profile (INI) file `path` in the manner of
// GetPrivateProfileStringA: the value, or `defaultValue` when the file, section or
// key is missing, copied into `buffer` of `size` bytes and cut to size - 1
// characters; always NUL-terminated when size > 0. Returns the number of
// characters copied, without the NUL. Values lose surrounding blanks and one pair
// of matching surrounding quotes; section and key compare without regard to case.
unsigned ReadProfileFileString(const std::string& path, const std::string& section,
                               const std::string& key, const std::string& defaultValue,
                               char* buffer, unsigned size);

}  // namespace platform
