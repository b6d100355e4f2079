#pragma once
// Capability negotiation with the open source: the general get, set and reset
// operations, the named conveniences, the pixel-type restriction and the scan area.
// Every call needs a source open (state 4 or above); below that the operation shows its
// message through the library's error box and fails without calling the source.

#include "twain/container.h"

// The transfer mechanism last set successfully through TWAIN_SetXferMech (TWSX_).
extern int xferMech;

// General operations. A returned container belongs to the caller (TWAIN_FreeContainer).
CapContainer* TWAIN_Get(int cap);
CapContainer* TWAIN_GetDefault(int cap);
CapContainer* TWAIN_GetCurrent(int cap);
int TWAIN_SetCap(int cap, CapContainer* c);  // lends c to the source for the call
int TWAIN_SetCapOneValue(int cap, int itemType, long value);
int TWAIN_SetCapFix32(int cap, double value);
int TWAIN_SetCapRatio(int cap, long numerator, long denominator);
int TWAIN_Reset(int cap);
// Copies the current value, read as itemType, to pVal (itemSizes[itemType] bytes).
int TWAIN_GetCurrentValue(int cap, int itemType, void* pVal);
int TWAIN_GetCapBool(int cap, int fallback);
double TWAIN_GetCapFix32(int cap, double fallback);
int TWAIN_GetCapUint16(int cap, int fallback);

// Getters: the capability's current value, or the fallback when it cannot be had.
int TWAIN_GetUnits();
int TWAIN_GetBitDepth();
int TWAIN_GetPixelType();
int TWAIN_GetXferMech();
int TWAIN_GetDuplexSupport();
int TWAIN_GetPlanarChunky();
int TWAIN_GetPixelFlavor();
int TWAIN_GetCompression();
double TWAIN_GetXResolution();
double TWAIN_GetYResolution();
double TWAIN_GetThreshold();
int TWAIN_GetAutoFeed();
int TWAIN_GetFeederEnabled();
int TWAIN_GetFeederLoaded();
int TWAIN_GetDuplexEnabled();
int TWAIN_GetTiles();
int TWAIN_GetUIControllable();
int TWAIN_SupportsFileXfer();
// Whether the source has a feeder; one that had to be enabled to find out is left disabled.
int TWAIN_HasFeeder();

// Setters: 1 on success, 0 on failure.
int TWAIN_SetXferCount(int count);
int TWAIN_SetUnits(int units);
int TWAIN_SetBitDepth(int bits);
int TWAIN_SetPixelType(int pixelType);
int TWAIN_SetXferMech(int mech);
int TWAIN_SetPaperSize(int paperSize);
int TWAIN_SetPlanarChunky(int planarChunky);
int TWAIN_SetPixelFlavor(int flavor);
int TWAIN_SetCompression(int compression);
int TWAIN_SetLightPath(int transmissive);
int TWAIN_SetAutoBright(int flag);
int TWAIN_SetIndicators(int flag);
int TWAIN_SetDuplexEnabled(int flag);
int TWAIN_SetFeederEnabled(int flag);
int TWAIN_SetTiles(int flag);
int TWAIN_SetAutoFeed(int flag);
int TWAIN_SetXResolution(double dpi);
int TWAIN_SetYResolution(double dpi);
int TWAIN_SetResolution(double dpi);
int TWAIN_SetBrightness(double value);
int TWAIN_SetContrast(double value);
int TWAIN_SetThreshold(double value);
int TWAIN_SetGamma(double value);
int TWAIN_SetShadow(double value);
int TWAIN_SetHighlight(double value);

// Restricts the source's pixel types to those of mask (bit n = TWPT_ value n; 0 = no
// restriction). Non-zero on success; 0 with a library error code recorded.
unsigned long TWAIN_NegotiatePixelTypes(unsigned long mask);

// Scan area (DAT_IMAGELAYOUT), in the current ICAP_UNITS. Setting needs state 4 exactly;
// the getters and the reset need a source open and quietly fail without one.
int TWAIN_SetImageLayout(double left, double top, double right, double bottom);
int TWAIN_GetImageLayout(double* left, double* top, double* right, double* bottom);
int TWAIN_GetDefaultImageLayout(double* left, double* top, double* right, double* bottom);
int TWAIN_ResetImageLayout();
