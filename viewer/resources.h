#pragma once
// The viewer's drawn resources: button bitmaps, the zoom cursor and the panel background picture.
// They are drawn at build time (resgen/) and embedded in the library.
//
// Bitmaps and images are separate kinds with their own ids: 260 is both the "zoom on" bitmap and
// the panel's background picture.

#include <QCursor>
#include <QImage>
#include <QPoint>
#include <QString>

// Button bitmaps, 108 x 37: three 36 x 37 frames side by side (normal, hover, pressed).
inline constexpr int kBmpFolder = 253;
inline constexpr int kBmpFlip = 254;
inline constexpr int kBmpMirror = 256;
inline constexpr int kBmpRotate = 257;
inline constexpr int kBmpSnapshot = 258;
inline constexpr int kBmpZoom = 259;
inline constexpr int kBmpZoomOn = 260;
inline constexpr int kBmpRotateOn = 267;
inline constexpr int kBmpMirrorOn = 268;
inline constexpr int kBmpFlipOn = 269;
inline constexpr int kButtonBitmapIds[] = {kBmpFolder,  kBmpFlip,     kBmpMirror,   kBmpRotate,
                                           kBmpSnapshot, kBmpZoom,    kBmpZoomOn,   kBmpRotateOn,
                                           kBmpMirrorOn, kBmpFlipOn};
inline constexpr int kButtonFrameWidth = 36;
inline constexpr int kButtonFrameHeight = 37;

// Picture behind the panel strip (control 214), 136 x 154 JPEG.
inline constexpr int kImgPanelBackground = 260;
inline constexpr int kPanelBackgroundWidth = 136;
inline constexpr int kPanelBackgroundHeight = 154;

// The motion-zone panel's picture (control 209), 160 x 195 JPEG on white.
inline constexpr int kImgZoneBackground = 208;
inline constexpr int kZoneBackgroundWidth = 160;
inline constexpr int kZoneBackgroundHeight = 195;

// Zoom cursor: one picture for each cursor size, the hot spot at the centre of the lens.
inline constexpr int kCurZoom = 224;
struct CursorImage
{
    int size;
    QPoint hotSpot;
};
inline constexpr CursorImage kZoomCursorImages[] = {{32, {9, 8}}, {16, {7, 7}}};

// The panel's background brush.
inline constexpr unsigned kPanelBlueRgb = 0xff4d4ccb; // RGB(77, 76, 203)

// Names inside the embedded resources (also the generator's output file names).
QString ViewerBitmapName(int id); // "bitmap_<id>.bmp"
QString ViewerImageName(int id);  // "image_<id>.jpg"
QString ViewerCursorName(int id, int size); // "cursor_<id>_<size>.png"

// Null image or default cursor when the id is unknown.
QImage ViewerBitmap(int id);
QImage ViewerImage(int id);
// The cursor's picture nearest to `size` pixels (the larger on a tie).
QCursor ViewerCursor(int id, int size);
// At the size the desktop draws its cursors: the X cursor theme's size when the session sets
// one, else 32.
QCursor ViewerCursor(int id);
