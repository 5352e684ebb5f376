#pragma once
// The drawing surface that painters draw into in place of a window's device context. The painter
// thread copies the source rectangle of a 24-bit bottom-up picture here, top row first; the panel
// stretches it to the destination rectangle on the UI thread. Nothing here touches Qt, so a
// painter never does.

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

struct SurfaceRect
{
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const SurfaceRect&) const = default;
};

// The latest picture: blue-green-red pixels, top row first, rows `stride` bytes apart (a
// multiple of 4), to be shown stretched over `where`.
struct SurfaceFrame
{
    const uint8_t* pixels;
    int width, height, stride;
    SurfaceRect where;
};

class CDrawSurface
{
public:
    // How the picture is turned before its source rectangle is taken.
    enum Turn : int { kAsIs = 0, kFlip = 1, kMirror = 2, kRotate = 3 };

    // Painter thread. `bits` holds `height` rows of `stride` bytes, the last row the picture's top;
    // `source` is in pixels of the turned picture counted from the top-left and is clipped to it.
    // Returns false when there is nothing to draw.
    bool Draw(const uint8_t* bits, int width, int height, int stride, SurfaceRect source,
              SurfaceRect destination, int turn = kAsIs);

    // `count` pixels of three bytes from `src` to `dst` in reverse order.
    static void ReversePixels(uint8_t* dst, const uint8_t* src, int count);

    // Called after each Draw from the painter's thread; the panel uses it to schedule a repaint.
    void SetNotifier(std::function<void()> notifier);

    // UI thread: runs `use` on the latest frame under the surface's lock. False when nothing has
    // been drawn since Clear.
    bool WithFrame(const std::function<void(const SurfaceFrame&)>& use) const;
    void Clear();
    uint64_t FramesDrawn() const;

private:
    mutable std::mutex m_lock;
    std::vector<uint8_t> m_pixels; // guarded by m_lock
    int m_width = 0, m_height = 0, m_stride = 0; // guarded by m_lock
    SurfaceRect m_where;            // guarded by m_lock
    uint64_t m_frames = 0;          // guarded by m_lock
    std::vector<uint8_t> m_next;    // painter thread only: filled outside the lock
    std::function<void()> m_notifier;
};
