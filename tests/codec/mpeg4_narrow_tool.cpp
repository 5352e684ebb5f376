// mpeg4_narrow IN OUT: re-serialises an elementary stream into the narrow layout.
#include "tests/codec/mpeg4_narrow.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IN.m4v OUT.m4v\n", argv[0]);
        return 2;
    }
    std::vector<uint8_t> in;
    if (!mpeg4test::read_file(argv[1], in)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    mpeg4test::NarrowStream ns;
    std::string why;
    if (!mpeg4test::to_narrow(in, ns, why)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], why.c_str());
        return 1;
    }
    FILE* f = std::fopen(argv[2], "wb");
    if (!f || std::fwrite(ns.bytes.data(), 1, ns.bytes.size(), f) != ns.bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    std::fclose(f);
    std::printf("%s: %dx%d quant_type %d, %zu pictures, %zu bytes\n", argv[2], ns.width, ns.height,
                ns.quant_type, ns.calls.size(), ns.bytes.size());
    return 0;
}
