#pragma once
// The clean-ups' work on planes (page_image.h): a threshold that follows the page, the
// skew of its lines, a turn by a small angle and the paper inside a border.

#include "imaging/page_image.h"

namespace imaging {

// Skews are measured and turned in degrees.
inline double Radians(double degrees)
{
    return degrees * 3.14159265358979323846 / 180;
}

// Black and white by a threshold computed for every pixel from the mean and deviation of
// the window around it (Sauvola's rule), so that uneven light and tinted paper keep the
// text and lose the background. bw receives 0 for black, 1 for white.
void Binarize(const Plane& grey, int window, Plane& bw);
// The side of the window for a resolution (pels per metre; 0 when not known), odd.
int ThresholdWindow(uint32_t pelsPerMeter);

// The angle of the page's lines of text, within 10 degrees either way: positive when they
// fall towards the right. found is false on a page without lines to measure.
struct Skew {
    bool found = false;
    double degrees = 0;
};
Skew FindSkew(const Plane& grey, int window);

// The picture turned about its centre so that lines falling by `degrees` come out level,
// in a plane of the same size. Colour and grey planes are interpolated between the four
// nearest pixels; index planes (smooth false) take the nearest one. What no pixel of the
// picture covers takes background (one value per channel).
void TurnPlane(const Plane& in, double degrees, const uint8_t* background, bool smooth, Plane& out);
// The colour of the picture's outermost pixels: the median of each channel.
void EdgeColour(const Plane& plane, uint8_t* colour);

// The paper inside a border that differs from it (a dark lid, a bed larger than the
// sheet): false when there is no such border.
struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
};
bool FindPaper(const Plane& grey, Box& paper);

}  // namespace imaging
