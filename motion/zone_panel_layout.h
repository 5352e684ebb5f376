#pragma once
// The zone panel's child controls: made, coloured, placed and given their ranges in one step, so
// no panel holds a control that was not laid out, whether or not another panel was live when it
// appeared. A slider left at the toolkit's default range would clamp the camera's values and the
// next save would write the clamped ones back.

#include <QRect>

#include <array>

class CPictureCtrl;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;
class QWidget;

// Where the picture is painted, in the panel; zone coordinates start at its top-left corner.
inline constexpr QRect kZonePictureArea{170, 10, 640, 480};
// The message line as laid out, and the size of its bold text when the message fits at it.
inline constexpr QRect kZoneMessageLine{15, 15, 320, 40};
inline constexpr int kZoneMessagePixels = 28;

struct ZonePanelControls
{
    CPictureCtrl* background = nullptr;
    QWidget* placeholder = nullptr; // only its rectangle is used
    QLabel* message = nullptr;
    std::array<QCheckBox*, 4> enable{};
    std::array<QSlider*, 4> threshold{};   // 0 to 255
    std::array<QSlider*, 4> sensitivity{}; // 0 to 10
    std::array<QProgressBar*, 4> level{};  // 0 to 99
    QPushButton* save = nullptr;
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;
};

// Children of `panel`, owned by it; all hidden but the background picture.
ZonePanelControls MakeZonePanelControls(QWidget* panel);
