#pragma once
// Settings store in the shape of a registry: keys are backslash paths under a root, values are
// text or 32-bit numbers. Everything lives in one human-readable file, by default
// $XDG_CONFIG_HOME/camctl/settings.reg (else ~/.config/...). Key and value names compare
// without regard to ASCII case, as registry names do. $CAMCTL_SETTINGS, when set, names the file.
//
// Every change rewrites the file through a temporary file and a rename, under a lock file, so a
// reader or a crash never sees half a file and two processes never lose each other's writes.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

enum class SettingsRoot { CurrentUser, ClassesRoot };

using SettingValue = std::variant<std::string, uint32_t>;

struct SettingsKey
{
    std::string path; // "HKEY_CURRENT_USER\Software\..." as written in the file
    std::vector<std::pair<std::string, SettingValue>> values; // "" is the key's default value
};

// The file's text form, kept apart from the I/O so it can be checked on its own.
std::vector<SettingsKey> ParseSettings(std::string_view text);
std::string FormatSettings(const std::vector<SettingsKey>& keys);

class SettingsStore
{
public:
    explicit SettingsStore(std::filesystem::path file);
    static std::filesystem::path DefaultPath();

    const std::filesystem::path& Path() const { return m_file; }

    std::optional<std::string> GetString(SettingsRoot root, std::string_view key,
                                         std::string_view name) const;
    std::optional<uint32_t> GetDword(SettingsRoot root, std::string_view key,
                                     std::string_view name) const;
    bool SetString(SettingsRoot root, std::string_view key, std::string_view name,
                   std::string_view value);
    bool SetDword(SettingsRoot root, std::string_view key, std::string_view name, uint32_t value);
    bool DeleteValue(SettingsRoot root, std::string_view key, std::string_view name);
    // Deleting reports false when there was nothing to delete.
    // Removes the key with all keys below it.
    bool DeleteKey(SettingsRoot root, std::string_view key);
    bool KeyExists(SettingsRoot root, std::string_view key) const;

private:
    std::optional<SettingValue> Get(SettingsRoot root, std::string_view key,
                                    std::string_view name) const;
    template <class Edit>
    bool Change(Edit edit);

    std::filesystem::path m_file;
};

} // namespace platform
