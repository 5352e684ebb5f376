// A C++ program of someone else's, using the installed image holder classes.
#include "codec/image_file.h"
#include "codec/image_holder.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 9;
    CImageHolder made;
    uint8_t* dib = made.Create(8, 4, 24);
    if (!dib)
        return 1;
    made.GetBits()[0] = 200;
    if (!made.SaveToFile(argv[1], FormatBmp))
        return 2;
    CImageIOFile file;
    CImageHolder read;
    if (!file.Open(argv[1], "rb") || !read.Decode(file, FormatBmp))
        return 3;
    if (read.GetWidth() != 8 || read.GetHeight() != 4 || read.GetBits()[0] != 200)
        return 4;
    std::puts("ok");
    return 0;
}
