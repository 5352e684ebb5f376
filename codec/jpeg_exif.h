#pragma once
// Exif section of a JPEG file: only what the holder uses, the picture's resolution.

#include <cstddef>
#include <cstdint>

class CImageFile;

struct ExifResolution
{
    double x = 0;         // XResolution of the main picture, per unit
    double y = 0;         // YResolution
    double unitScale = 0; // resolution x unitScale = dots per inch; 0 when no known unit
    int orientation = 0;  // 1..8 when given
    unsigned entriesRead = 0; // directory entries the last walk read, set even when it failed

    bool Complete() const { return x > 0 && y > 0 && unitScale > 0; }
};

// Walks the JPEG's markers from the file's current position up to the first Exif APP1 section
// (or the start of scan) and reads its resolution. Returns nullptr on success, even when there is
// no Exif section; otherwise the reason, and `out` must not be used. The file position is left
// wherever the walk stopped.
const char* ScanJpegExif(CImageFile& file, ExifResolution& out);

// The TIFF structure inside an Exif APP1 section, after its "Exif\0\0" prefix.
const char* ParseExifTiff(const uint8_t* tiff, size_t size, ExifResolution& out);
