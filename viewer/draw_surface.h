#pragma once
// The drawing surface that painters draw into in place of a window's device context. The painter
// thread scales the source rectangle of a 24-bit bottom-up picture to the destination size and
// leaves the result here; the panel shows it on the UI thread. Nothing here touches Qt, so a
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

class CDrawSurface
{
public:
    // Painter thread. `bits` holds `height` rows of `stride` bytes, the last row the picture's top;
    // `source` is in picture pixels counted from the top-left and is clipped to the picture.
    // Returns false when there is nothing to draw.
    bool Draw(const uint8_t* bits, int width, int height, int stride, SurfaceRect source,
              SurfaceRect destination);

    // Called after each Draw from the painter's thread; the panel uses it to schedule a repaint.
    void SetNotifier(std::function<void()> notifier);

    // UI thread: runs `use` on the latest frame (32-bit pixels 0xffRRGGBB, top row first) under the
    // surface's lock. False when nothing has been drawn since Clear.
    bool WithFrame(const std::function<void(const uint32_t* pixels, SurfaceRect where)>& use) const;
    void Clear();
    uint64_t FramesDrawn() const;

private:
    mutable std::mutex m_lock;
    std::vector<uint32_t> m_pixels; // guarded by m_lock
    SurfaceRect m_where;            // guarded by m_lock
    uint64_t m_frames = 0;          // guarded by m_lock
    std::vector<int> m_columns;     // painter thread only: source column per destination column
    std::vector<uint32_t> m_scaled; // painter thread only: built outside the lock
    std::function<void()> m_notifier;
};
