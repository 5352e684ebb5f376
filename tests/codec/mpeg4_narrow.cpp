#include "tests/codec/mpeg4_narrow.h"

#include <cstdio>

namespace mpeg4test {

namespace {

class Reader {
public:
    Reader(const uint8_t* d, size_t n) : d_(d), n_(n) {}
    uint32_t get(int bits)
    {
        uint32_t v = 0;
        for (int i = 0; i < bits; ++i, ++pos_) {
            size_t byte = pos_ >> 3;
            int b = byte < n_ ? (d_[byte] >> (7 - (pos_ & 7))) & 1 : 0;
            v = (v << 1) | static_cast<uint32_t>(b);
        }
        return v;
    }
    bool over() const { return pos_ > n_ * 8; }

private:
    const uint8_t* d_;
    size_t n_;
    size_t pos_ = 0;
};

class Writer {
public:
    void put(uint32_t v, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            cur_ = static_cast<uint8_t>((cur_ << 1) | ((v >> i) & 1));
            if (++n_ == 8) {
                out.push_back(cur_);
                n_ = 0;
                cur_ = 0;
            }
        }
    }
    // next_start_code(): a zero bit, then ones to the byte boundary.
    void stuff()
    {
        put(0, 1);
        while (n_)
            put(1, 1);
    }
    std::vector<uint8_t> out;

private:
    uint8_t cur_ = 0;
    int n_ = 0;
};

struct Unit {
    size_t begin, end;
    int code;
};

std::vector<Unit> units(const std::vector<uint8_t>& b)
{
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 < b.size(); ++i)
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1)
            starts.push_back(i);
    std::vector<Unit> u;
    for (size_t k = 0; k < starts.size(); ++k)
        u.push_back({starts[k], k + 1 < starts.size() ? starts[k + 1] : b.size(), b[starts[k] + 3]});
    return u;
}

bool rewrite_layer(const uint8_t* p, size_t n, NarrowStream& ns, std::vector<uint8_t>& out, std::string& why)
{
    Reader r(p, n);
    r.get(1);
    r.get(8);
    int verid = 1;
    if (r.get(1)) {
        verid = static_cast<int>(r.get(4));
        r.get(3);
    }
    int aspect = static_cast<int>(r.get(4));
    if (aspect == 15) {
        r.get(8);
        r.get(8);
        aspect = 1;
    }
    if (r.get(1)) { // vol_control_parameters
        r.get(2);
        r.get(1);
        if (r.get(1)) {
            why = "vbv parameters";
            return false;
        }
    }
    if (r.get(2) != 0) {
        why = "non-rectangular shape";
        return false;
    }
    r.get(1);
    int resolution = static_cast<int>(r.get(16));
    r.get(1);
    if (r.get(1)) { // fixed_vop_rate
        int bits = 1;
        while ((1 << bits) < resolution)
            ++bits;
        r.get(bits);
    }
    r.get(1);
    int width = static_cast<int>(r.get(13));
    r.get(1);
    int height = static_cast<int>(r.get(13));
    r.get(1);
    if (r.get(1)) {
        why = "interlaced";
        return false;
    }
    r.get(1);
    if (r.get(verid == 1 ? 1 : 2)) {
        why = "sprites";
        return false;
    }
    if (r.get(1)) {
        why = "not 8 bit";
        return false;
    }
    int quant_type = static_cast<int>(r.get(1));
    if (quant_type && (r.get(1) || r.get(1))) {
        why = "loaded matrices";
        return false;
    }
    if (verid != 1 && r.get(1)) {
        why = "quarter sample";
        return false;
    }
    if (!r.get(1)) {
        why = "complexity estimation";
        return false;
    }
    bool resync_disabled = r.get(1);
    if (!resync_disabled || r.get(1)) {
        why = "resync markers or data partitioning";
        return false;
    }
    if (r.over()) {
        why = "short layer header";
        return false;
    }
    Writer w;
    w.put(0x00000120, 32);
    w.put(0, 1);      // random_accessible_vol
    w.put(1, 8);      // simple object type
    w.put(0, 1);      // no object layer identifier
    w.put(aspect, 4);
    w.put(0, 1);      // no control parameters
    w.put(0, 2);      // rectangular
    w.put(1, 1);
    w.put(resolution, 16);
    w.put(1, 1);
    w.put(0, 1);      // fixed_vop_rate
    w.put(1, 1);
    w.put(width, 13);
    w.put(1, 1);
    w.put(height, 13);
    w.put(1, 1);
    w.put(0, 1);      // interlaced
    w.put(1, 1);      // obmc_disable
    w.put(0, 1);      // sprite_enable
    w.put(0, 1);      // not_8_bit
    w.put(quant_type, 1);
    if (quant_type)
        w.put(0, 2);  // default matrices
    w.put(1, 1);      // complexity_estimation_disable
    w.put(1, 1);      // resync_marker_disable
    w.put(0, 1);      // data_partitioned
    w.put(0, 1);      // scalability
    w.stuff();
    out.insert(out.end(), w.out.begin(), w.out.end());
    ns.width = width;
    ns.height = height;
    ns.quant_type = quant_type;
    return true;
}

} // namespace

bool to_narrow(const std::vector<uint8_t>& in, NarrowStream& out, std::string& why, bool keep_layer)
{
    out = NarrowStream{};
    bool seen_vop = false, seen_layer = false;
    for (const Unit& u : units(in)) {
        const uint8_t* p = in.data() + u.begin;
        size_t n = u.end - u.begin;
        if (u.code == 0xB6) {
            if (!seen_layer) {
                why = "picture before layer header";
                return false;
            }
            if (seen_vop)
                out.calls.push_back(out.bytes.size());
            seen_vop = true;
            out.bytes.insert(out.bytes.end(), p, p + n);
            continue;
        }
        if (seen_vop || u.code == 0xB3)
            continue; // repeated headers and group-of-VOP headers
        if (u.code >= 0x20 && u.code <= 0x2F) {
            if (keep_layer)
                out.bytes.insert(out.bytes.end(), p, p + n);
            else if (!rewrite_layer(p + 4, n - 4, out, out.bytes, why))
                return false;
            seen_layer = true;
        } else if (u.code == 0xB0 || u.code == 0xB5 || u.code <= 0x1F || u.code == 0xB2) {
            out.bytes.insert(out.bytes.end(), p, p + n);
        } else {
            why = "unexpected start code";
            return false;
        }
    }
    if (!seen_vop) {
        why = "no picture";
        return false;
    }
    out.calls.insert(out.calls.begin(), 0);
    return true;
}

std::vector<size_t> split_calls(const std::vector<uint8_t>& b)
{
    std::vector<size_t> calls;
    bool first = true;
    for (size_t i = 0; i + 3 < b.size(); ++i) {
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xB6) {
            calls.push_back(first ? 0 : i);
            first = false;
        }
    }
    return calls;
}

bool read_file(const std::string& path, std::vector<uint8_t>& out)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    out.clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return true;
}

} // namespace mpeg4test
