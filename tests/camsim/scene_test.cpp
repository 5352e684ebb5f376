#include "camsim/camera.h"
#include "camsim/scene.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(Scene, AimingTurnsTheWorldPastThePicture)
{
    const int w = 160, h = 120;
    camsim::Scene straight(w, h), turned(w, h);
    const std::vector<uint8_t> ahead(straight.Render(500, 1), straight.Render(500, 1) + w * h * 3);
    turned.SetAim(10, 6); // right and up
    const uint8_t* view = turned.Render(500, 1);
    // Below the counter, pixel (x, y) of the turned view is (x + 10, y - 6) of the straight one.
    for (int y = 40; y < h; ++y)
        for (int x = 0; x < w - 10; ++x)
            ASSERT_EQ(std::memcmp(view + (size_t(y) * w + x) * 3,
                                  ahead.data() + (size_t(y - 6) * w + x + 10) * 3, 3),
                      0)
                << x << "," << y;
    // The counter stays where it was.
    EXPECT_EQ(std::memcmp(view, ahead.data(), 12), 0);
}

TEST(Scene, PanTiltCommandsAddUpToWhereTheCameraLooks)
{
    camsim::Camera camera;
    ASSERT_TRUE(camera.Start());
    EXPECT_EQ(camera.Aim(), std::make_pair(0, 0));
    for (const char* position : {"30,-4,10", "-12,10,10", "bad"}) {
        std::string url = camera.BaseUrl() + "pt/ptctrl.cgi?position=" + position;
        // A plain GET through the simulator's own request path.
        std::string cmd = "curl -s -o /dev/null '" + url + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    EXPECT_EQ(camera.Aim(), std::make_pair(18, 6));
}
