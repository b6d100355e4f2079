#pragma once
// The colour profile an archival PDF names as the colour its pages are meant in: sRGB as
// a version 2 display profile, worked out here from the sRGB primaries, its D65 white and
// its tone curve (a PDF reader that manages colour needs it to show DeviceRGB and
// DeviceGray pages as intended). Version 2, because every reader of such files takes it.
// No windows.h.

#include <cstdint>
#include <vector>

// A moment in Coordinated Universal Time.
struct UtcTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
// seconds since 1970-01-01 00:00:00 UTC (negative before) as a calendar date and time.
UtcTime UtcOf(int64_t seconds);

// The profile's bytes, created at created.
std::vector<uint8_t> SrgbProfile(const UtcTime& created);
