#pragma once
// The motion-zone control's user-visible texts (French), by their resource ids.

#include <QString>

inline constexpr int kStrZoneConnectFailed = 1001; // also: another panel shows live video
inline constexpr int kStrZoneBusy = 1003;
inline constexpr int kStrZoneProtected = 1004;

// Empty for an id the table does not hold.
QString LoadZoneString(int id);
