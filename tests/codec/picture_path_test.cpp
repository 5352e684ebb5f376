// From stream frames to pictures for both controls' profiles: the configuration in front of the
// first frame only, and frames or pictures too large for the buffers refused untouched.

#include "codec/mpeg4/decoder.h"
#include "codec/mpeg4/picture_path.h"

#include "tests/support/m4v_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

using Stream = testsupport::M4vStream;

Stream Split(const std::string& name)
{
    return testsupport::SplitM4vFile(std::string(MPEG4_DATA_DIR) + "/" + name);
}

} // namespace

TEST(PicturePath, ConfigurationGoesInFrontOfTheFirstFrameOnlyInBothProfiles)
{
    const Stream s = Split("s320_q0_mv4_g25.m4v");
    ASSERT_FALSE(s.config.empty());
    ASSERT_GE(s.frames.size(), 5u);
    for (const Mpeg4PictureProfile& profile : {kViewerPictureProfile, kZonePictureProfile}) {
        CMpeg4PicturePath path(profile);
        EXPECT_EQ(path.Decode(s.frames[0].data(), s.frames[0].size()),
                  CMpeg4PicturePath::Outcome::Skipped); // not open yet
        ASSERT_TRUE(path.Open(s.config.data(), s.config.size()));
        for (size_t k = 0; k < 5; ++k) {
            ASSERT_EQ(path.Decode(s.frames[k].data(), s.frames[k].size()),
                      CMpeg4PicturePath::Outcome::Picture)
                << k;
            EXPECT_EQ(path.LastInputLength(),
                      s.frames[k].size() + (k == 0 ? s.config.size() : 0));
        }
        EXPECT_EQ(path.FirstInputLength(), s.config.size() + s.frames[0].size());
        EXPECT_EQ(path.Width(), 320);
        EXPECT_EQ(path.Height(), 240);

        // A new open starts again with the configuration.
        ASSERT_TRUE(path.Open(s.config.data(), s.config.size()));
        EXPECT_EQ(path.Decode(s.frames[0].data(), s.frames[0].size()),
                  CMpeg4PicturePath::Outcome::Picture);
        EXPECT_EQ(path.LastInputLength(), s.config.size() + s.frames[0].size());
    }
}

TEST(PicturePath, OversizedFramesAreRefusedAndThePrefixIsNotRepeated)
{
    const Stream s = Split("s320_q0_mv4_g25.m4v");
    ASSERT_GE(s.frames.size(), 2u);
    CMpeg4PicturePath path(kZonePictureProfile);
    ASSERT_TRUE(path.Open(s.config.data(), s.config.size()));
    // Together with the configuration one byte more than the input buffer holds.
    Bytes big(kZonePictureProfile.inputSize - s.config.size() + 1, 0);
    EXPECT_EQ(path.Decode(big.data(), big.size()), CMpeg4PicturePath::Outcome::Skipped);
    // The configuration was spent on the refused frame: the next goes alone. Without headers
    // the decoder doubles its creation size, a picture larger than the buffer: refused too.
    EXPECT_EQ(path.Decode(s.frames[0].data(), s.frames[0].size()),
              CMpeg4PicturePath::Outcome::Skipped);
    EXPECT_EQ(path.LastInputLength(), s.frames[0].size());

    // Exactly the buffer's size is taken.
    CMpeg4PicturePath fits(kZonePictureProfile);
    ASSERT_TRUE(fits.Open(s.config.data(), s.config.size()));
    Bytes first = s.frames[0];
    first.resize(kZonePictureProfile.inputSize - s.config.size(), 0);
    EXPECT_EQ(fits.Decode(first.data(), first.size()), CMpeg4PicturePath::Outcome::Picture);
    EXPECT_EQ(fits.LastInputLength(), kZonePictureProfile.inputSize);
}

TEST(PicturePath, ClosedPathDecodesNothingAndSharedTablesOutliveIt)
{
    const Stream s = Split("s160_q0_g25.m4v");
    ASSERT_GE(s.frames.size(), 2u);
    CMpeg4PicturePath a(kZonePictureProfile), b(kZonePictureProfile);
    ASSERT_TRUE(a.Open(s.config.data(), s.config.size()));
    ASSERT_TRUE(b.Open(s.config.data(), s.config.size()));
    ASSERT_EQ(a.Decode(s.frames[0].data(), s.frames[0].size()), CMpeg4PicturePath::Outcome::Picture);
    a.Close();
    EXPECT_FALSE(a.IsOpen());
    EXPECT_EQ(a.Decode(s.frames[1].data(), s.frames[1].size()), CMpeg4PicturePath::Outcome::Skipped);
    // One path closing leaves the other's conversion working, with the same pixels.
    ASSERT_EQ(b.Decode(s.frames[0].data(), s.frames[0].size()), CMpeg4PicturePath::Outcome::Picture);
    const size_t bytes = size_t(b.Width()) * b.Height() * 3;
    EXPECT_TRUE(std::equal(b.Rgb(), b.Rgb() + bytes, a.Rgb()));
}
