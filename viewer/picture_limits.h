#pragma once
// The largest picture the viewer paints: the largest size cameras send, 704 x 480, for which the
// MPEG-4 painter's buffers are made. Decoded pictures and declared stream sizes beyond it are
// refused before anything is allocated for them, whatever the stream parsers let through.

#include <cstdint>

inline constexpr int kLargestPictureWidth = 704;
inline constexpr int kLargestPictureHeight = 480;

constexpr bool FitsLargestPicture(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && width <= kLargestPictureWidth &&
           height <= kLargestPictureHeight;
}
