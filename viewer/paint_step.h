#pragma once
// What both painters share: their view settings, written by the UI thread and read by the painter
// thread without a lock (each a single word), and the paint step itself: transform, snapshot
// hand-over, zoom source, draw at (146, 3).

#include "viewer/av_readouts.h"
#include "viewer/draw_surface.h"
#include "viewer/snapshot.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class CImageHolder;

enum TransformMode : int {
    kTransformNone = CDrawSurface::kAsIs,
    kTransformFlip = CDrawSurface::kFlip,
    kTransformMirror = CDrawSurface::kMirror,
    kTransformRotate = CDrawSurface::kRotate,
};

inline constexpr int kVideoLeft = 146;
inline constexpr int kVideoTop = 3;
// Zoom percentages are taken within this range: 0 paints nothing, 400 four times the display.
inline constexpr int kMaxZoomPercent = 400;

class CPaintStep
{
public:
    explicit CPaintStep(CDrawSurface* surface = nullptr);
    ~CPaintStep();

    void SetSurface(CDrawSurface* surface) { m_surface = surface; }

    // Prepare: both size pairs become the stream's size. The display pair never exceeds the
    // largest picture, whatever a stream declares, so that nothing sized from it can overflow.
    void SetSizes(int width, int height);
    void SetDisplaySize(int width, int height);
    void SetZoomRect(int x, int y, int width, int height);
    void SetZoomActive(bool on) { m_zoomActive = on; }
    void SetZoomPercent(int percent);
    void SetTransform(int mode) { m_transform = mode; }
    void RequestSnapshot() { m_snapshots.Request(); }

    int PictureWidth() const { return m_pictureWidth; }
    int PictureHeight() const { return m_pictureHeight; }
    int DisplayWidth() const { return m_displayWidth; }
    int DisplayHeight() const { return m_displayHeight; }
    int Transform() const { return m_transform; }
    int ZoomPercent() const { return m_zoomPercent; }
    bool ZoomActive() const { return m_zoomActive; }
    SurfaceRect ZoomRect() const;
    bool SnapshotRequested() const { return m_snapshots.Pending(); }

    // The UI thread ends the request with the holder served for it (empty when it failed), or
    // nullptr when none was served; a picture the painter is still making is then dropped.
    std::unique_ptr<CImageHolder> TakeSnapshot();

    // Painter thread: paints a 24-bit bottom-up picture of width x height with rows of `stride`
    // bytes. The snapshot is made at the painter's picture size, resampled when the picture has
    // another size; a picture size beyond the largest picture gives an empty snapshot.
    void Paint(const uint8_t* bits, int width, int height, int stride);

    // The snapshot's picture: a packed 24-bit DIB of targetWidth x targetHeight from the picture.
    // The picture on screen, for the readouts: the painter notes each one it paints.
    CPaintRecord& Painted() { return m_painted; }

    static std::vector<uint8_t> SnapshotDib(const uint8_t* bits, int width, int height, int stride,
                                            int targetWidth, int targetHeight);

private:
    CDrawSurface* m_surface;
    std::atomic<int> m_zoomPercent{100};
    std::atomic<int> m_displayWidth{0}, m_displayHeight{0};
    std::atomic<int> m_pictureWidth{0}, m_pictureHeight{0};
    std::atomic<bool> m_zoomActive{false};
    std::atomic<int> m_zoomX{0}, m_zoomY{0}, m_zoomWidth{0}, m_zoomHeight{0};
    std::atomic<int> m_transform{kTransformNone};
    CSnapshotHandOver m_snapshots;
    CPaintRecord m_painted;
};
