#pragma once
// Where snapshots go, and what they are called.

#include "platform/settings.h"

#include <ctime>
#include <string>

inline constexpr const char* kViewerSettingsKey = "Software\\Ardentel Network Camera Viewer";
inline constexpr const char* kDefaultFolderValue = "Default Folder";
inline constexpr const char* kShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline constexpr const char* kMyPicturesValue = "My Pictures";

// The viewer's own key decides when it exists (even without the value); else the store's
// "My Pictures"; else `desktopPictures`. The folder found is created when missing (one level).
std::string ReadPictureFolder(const platform::SettingsStore& store,
                              const std::string& desktopPictures);

// Writes the chosen folder to the viewer's key; false when the store cannot be written.
bool WritePictureFolder(platform::SettingsStore& store, const std::string& folder);

// "<folder>/Lenso<YYYYmmdd-HHMMSS>.jpg"; an empty folder gives a name at the root.
std::string SnapshotFileName(const std::string& folder, const std::tm& localTime);
