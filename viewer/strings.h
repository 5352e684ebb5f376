#pragma once
// The viewer's user-visible texts (French), looked up by their resource ids.

#include <QString>

inline constexpr int kStrCredentialsRefused = 1006; // message line after a failed login
inline constexpr int kStrConnectFailed = 1007;      // camera did not answer
inline constexpr int kStrCameraBusy = 1008;
inline constexpr int kStrTipZoom = 1009;
inline constexpr int kStrTipSnapshot = 1010;
inline constexpr int kStrTipFolder = 1011;
inline constexpr int kStrTipFlip = 1012;
inline constexpr int kStrTipMirror = 1013;
inline constexpr int kStrTipRotate = 1014;
inline constexpr int kStrSnapshotNotSaved = 1020; // lower line: the snapshot file was not written

// Empty for an id the table does not hold.
QString LoadViewerString(int id);
