#include "tools/pagorex-store/srgb_profile.h"

#include <array>
#include <cmath>
#include <cstring>
#include <string>

namespace {
using Vector = std::array<double, 3>;
using Matrix = std::array<Vector, 3>;  // rows

// The profile connection space's white (D50), as its fixed-point numbers give it.
constexpr Vector kD50 = {0xF6D6 / 65536.0, 1.0, 0xD32D / 65536.0};

Vector Times(const Matrix& m, const Vector& v)
{
    Vector out{};
    for (int r = 0; r < 3; ++r)
        out[r] = m[r][0] * v[0] + m[r][1] * v[1] + m[r][2] * v[2];
    return out;
}

Matrix Times(const Matrix& a, const Matrix& b)
{
    Matrix out{};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            out[r][c] = a[r][0] * b[0][c] + a[r][1] * b[1][c] + a[r][2] * b[2][c];
    return out;
}

// The inverse by cofactors: the matrices here are far from singular.
Matrix Inverse(const Matrix& m)
{
    Matrix out{};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            out[c][r] = m[(r + 1) % 3][(c + 1) % 3] * m[(r + 2) % 3][(c + 2) % 3] -
                        m[(r + 1) % 3][(c + 2) % 3] * m[(r + 2) % 3][(c + 1) % 3];
    const double det = m[0][0] * out[0][0] + m[0][1] * out[1][0] + m[0][2] * out[2][0];
    for (Vector& row : out)
        for (double& v : row)
            v /= det;
    return out;
}

// The XYZ of chromaticity x, y at a luminance of 1.
Vector FromXy(double x, double y)
{
    return {x / y, 1, (1 - x - y) / y};
}

// The columns: XYZ of full red, green and blue as the profile connection space sees them,
// the display's D65 white carried over to D50 by the Bradford cone response.
Matrix Colorants(const Vector& white)
{
    const Vector r = FromXy(0.64, 0.33), g = FromXy(0.30, 0.60), b = FromXy(0.15, 0.06);
    Matrix primaries = {{{r[0], g[0], b[0]}, {r[1], g[1], b[1]}, {r[2], g[2], b[2]}}};
    const Vector scale = Times(Inverse(primaries), white);
    for (Vector& row : primaries)
        for (int c = 0; c < 3; ++c)
            row[c] *= scale[c];
    const Matrix bradford = {{{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};
    const Vector from = Times(bradford, white), to = Times(bradford, kD50);
    Matrix gain{};
    for (int i = 0; i < 3; ++i)
        gain[i][i] = to[i] / from[i];
    return Times(Inverse(bradford), Times(gain, Times(bradford, primaries)));
}

// Big-endian fields appended to the profile.
struct Out {
    std::vector<uint8_t> bytes;
    void U32(uint32_t v) { U16(uint16_t(v >> 16)), U16(uint16_t(v)); }
    void U16(uint16_t v) { bytes.insert(bytes.end(), {uint8_t(v >> 8), uint8_t(v)}); }
    void Sig(const char (&s)[5]) { bytes.insert(bytes.end(), s, s + 4); }
    void Fixed(double v) { U32(uint32_t(int32_t(std::lround(v * 65536)))); }
    void Xyz(const Vector& v) { Sig("XYZ "), U32(0), Fixed(v[0]), Fixed(v[1]), Fixed(v[2]); }
    void Ascii(const std::string& s) { bytes.insert(bytes.end(), s.c_str(), s.c_str() + s.size() + 1); }
    void Align() { bytes.resize((bytes.size() + 3) & ~size_t(3)); }
};

// The sRGB tone curve, from a value's share of full scale to its light's.
double Linear(double v)
{
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// The header: its size and the tag table's offsets are filled in at the end.
void Header(Out& out, const UtcTime& t)
{
    out.U32(0), out.U32(0);  // size; no preferred colour management module
    out.U32(0x02100000);     // version 2.1
    out.Sig("mntr"), out.Sig("RGB "), out.Sig("XYZ ");
    for (int field : {t.year, t.month, t.day, t.hour, t.minute, t.second})
        out.U16(uint16_t(field));
    out.Sig("acsp");
    out.bytes.resize(64);  // no platform, flags, maker, model or medium attributes
    out.U32(0);            // perceptual
    for (double v : kD50)  // the illuminant of the connection space
        out.Fixed(v);
    out.bytes.resize(128);  // no creator; the rest is reserved
}
}  // namespace

UtcTime UtcOf(int64_t seconds)
{
    // Days since 1970 as a civil date, counted in eras of 400 years from 0000-03-01.
    int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0)
        rest += 86400, --days;
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097, dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shifted = (5 * dayOfYear + 2) / 153, month = shifted < 10 ? shifted + 3 : shifted - 9;
    return {int(yearOfEra + era * 400 + (month <= 2)), int(month), int(dayOfYear - (153 * shifted + 2) / 5 + 1),
            int(rest / 3600), int(rest / 60 % 60), int(rest % 60)};
}

std::vector<uint8_t> SrgbProfile(const UtcTime& created)
{
    const Vector white = FromXy(0.3127, 0.3290);
    const Matrix colorants = Colorants(white);
    Out out;
    Header(out, created);
    const char* const names[] = {"desc", "cprt", "wtpt", "rXYZ", "gXYZ", "bXYZ", "rTRC", "gTRC", "bTRC"};
    constexpr uint32_t kTags = 9;
    out.U32(kTags);
    out.bytes.resize(out.bytes.size() + 12 * kTags);
    std::array<std::pair<size_t, size_t>, kTags> spans;  // each tag's data
    auto tag = [&](int i, auto write) {
        const size_t at = out.bytes.size();
        write();
        spans[i] = {at, out.bytes.size() - at};
        out.Align();
    };
    const std::string name = "sRGB";
    tag(0, [&] {
        out.Sig("desc"), out.U32(0), out.U32(uint32_t(name.size() + 1)), out.Ascii(name);
        out.U32(0), out.U32(0);                                // no Unicode description
        out.bytes.resize(out.bytes.size() + 2 + 1 + 67);       // nor a Macintosh one
    });
    tag(1, [&] { out.Sig("text"), out.U32(0), out.Ascii("No copyright, use freely"); });
    tag(2, [&] { out.Xyz(white); });
    for (int c = 0; c < 3; ++c)
        tag(3 + c, [&] { out.Xyz({colorants[0][c], colorants[1][c], colorants[2][c]}); });
    constexpr int kPoints = 1024;
    tag(6, [&] {
        out.Sig("curv"), out.U32(0), out.U32(kPoints);
        for (int i = 0; i < kPoints; ++i)
            out.U16(uint16_t(std::lround(65535 * Linear(i / double(kPoints - 1)))));
    });
    spans[7] = spans[8] = spans[6];  // the three channels share one curve
    std::vector<uint8_t>& b = out.bytes;
    auto put = [&b](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = uint8_t(v >> (24 - 8 * i));
    };
    put(0, uint32_t(b.size()));
    for (uint32_t i = 0; i < kTags; ++i) {
        std::memcpy(&b[132 + 12 * i], names[i], 4);
        put(136 + 12 * i, uint32_t(spans[i].first)), put(140 + 12 * i, uint32_t(spans[i].second));
    }
    return b;
}
