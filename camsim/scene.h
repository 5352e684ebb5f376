#pragma once
// The simulated camera's moving picture, shared by its streams: a gradient backdrop, a bar
// sweeping across it, a ball bouncing over it and the picture counter. Motion follows the time
// stamp, so the scene looks the same at every picture rate.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace camsim {

class Scene
{
public:
    Scene(int width, int height);

    // RGB rows top to bottom; stays valid until the next call.
    const uint8_t* Render(uint32_t timeMs, uint64_t counter);

    // Where the virtual camera looks, in picture pixels right of and above where it started; the
    // world turns past the picture, which wraps around (the counter stays put).
    void SetAim(int x, int y)
    {
        m_aimX = x;
        m_aimY = y;
    }

    int Width() const { return m_width; }
    int Height() const { return m_height; }

private:
    void SetPixel(int x, int y, uint8_t r, uint8_t g, uint8_t b);
    void FillRect(int x0, int y0, int w, int h, uint8_t r, uint8_t g, uint8_t b);
    void DrawCounter(uint64_t counter);

    int m_width, m_height;
    std::vector<uint8_t> m_backdrop;
    std::vector<uint8_t> m_rgb;
    std::vector<uint8_t> m_view; // the world as the aimed camera sees it
    int m_aimX = 0, m_aimY = 0;
};

// One plane of a planar picture: rows of `stride` bytes.
struct Plane
{
    uint8_t* data;
    ptrdiff_t stride;
};

// ITU-R BT.601 studio range, chroma averaged over each 2x2 block (the last row or column alone
// when the size is odd).
void RgbToYuv420(const uint8_t* rgb, int width, int height, Plane y, Plane u, Plane v);

} // namespace camsim
