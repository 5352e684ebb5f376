// From stream frames to pictures for both controls' profiles: the configuration in front of the
// first frame only, and frames or pictures too large for the buffers refused untouched.

#include "codec/mpeg4/decoder.h"
#include "codec/mpeg4/picture_path.h"

#include "tests/codec/mpeg4_craft.h"
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
    // The configuration was spent on the refused frame: the next goes alone, and without the
    // layer header's time increment width the decoder cannot read it.
    EXPECT_EQ(path.Decode(s.frames[0].data(), s.frames[0].size()),
              CMpeg4PicturePath::Outcome::DecodeFailed);
    EXPECT_EQ(path.LastInputLength(), s.frames[0].size());
    // A picture it can read without headers is doubled from the creation size, larger than
    // the buffer: refused too.
    mpeg4test::BitWriter w;
    mpeg4test::put_vop(w, 0, 4, 1);
    for (int mb = 0; mb < 40 * 30; ++mb)
        mpeg4test::put_flat_intra_mb(w);
    w.stuff();
    EXPECT_EQ(path.Decode(w.bytes.data(), w.bytes.size()), CMpeg4PicturePath::Outcome::Skipped);

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

TEST(PicturePath, PicturesAreThoseOfTheDecoderAndTheConversionCalledApart)
{
    // The decoder's planes have borders, so their strides are not the picture's width.
    const Stream s = Split("s160_q1_mv4_g250.m4v");
    for (const Mpeg4PictureProfile& profile : {kViewerPictureProfile, kZonePictureProfile}) {
        CMpeg4PicturePath path(profile);
        ASSERT_TRUE(path.Open(s.config.data(), s.config.size()));
        DECODER* d = decoder_create_profile(profile.decoderProfile);
        init_YUV2RGB_tab();
        Bytes out(6 * 1024 * 768), rgb(160 * 120 * 3), input;
        for (size_t k = 0; k < 4; ++k) {
            ASSERT_EQ(path.Decode(s.frames[k].data(), s.frames[k].size()), CMpeg4PicturePath::Outcome::Picture);
            input = k ? s.frames[k] : s.config;
            if (!k)
                input.insert(input.end(), s.frames[0].begin(), s.frames[0].end());
            int used = 0;
            ASSERT_EQ(decoder_decode_sized(d, out.data(), input.data(), input.size(), &used), 0);
            d->postfilter_on = 0;
            ConvertYUVtoRGB(out.data(), rgb.data(), 160, 120);
            EXPECT_TRUE(std::equal(rgb.begin(), rgb.end(), path.Rgb())) << k;
        }
        delete_YUV2RGB_tab();
        decoder_destroy(d);
    }
}
