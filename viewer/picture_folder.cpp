#include "viewer/picture_folder.h"

#include <filesystem>

std::string ReadPictureFolder(const platform::SettingsStore& store,
                              const std::string& desktopPictures)
{
    using platform::SettingsRoot;
    if (store.KeyExists(SettingsRoot::CurrentUser, kViewerSettingsKey))
        return store.GetString(SettingsRoot::CurrentUser, kViewerSettingsKey, kDefaultFolderValue)
            .value_or(std::string());
    std::string folder =
        store.GetString(SettingsRoot::CurrentUser, kShellFoldersKey, kMyPicturesValue)
            .value_or(std::string());
    if (folder.empty())
        folder = desktopPictures;
    if (!folder.empty()) {
        std::error_code ec;
        if (!std::filesystem::exists(folder, ec))
            std::filesystem::create_directory(folder, ec); // one level only; a failure is silent
    }
    return folder;
}

bool WritePictureFolder(platform::SettingsStore& store, const std::string& folder)
{
    return store.SetString(platform::SettingsRoot::CurrentUser, kViewerSettingsKey,
                           kDefaultFolderValue, folder);
}

std::string SnapshotFileName(const std::string& folder, const std::tm& localTime)
{
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &localTime);
    return folder + "/Lenso" + stamp + ".jpg";
}
