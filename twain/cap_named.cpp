// One small operation per commonly used capability, and the feeder probe.
#include "twain/capability.h"

int xferMech = TWSX_NATIVE;

namespace {

int Flag(int value)
{
    return value != 0 ? 1 : 0;
}

int SetUint16(int cap, int value)
{
    return TWAIN_SetCapOneValue(cap, TWTY_UINT16, value & 0xFFFF);
}

int SetBool(int cap, int flag)
{
    return TWAIN_SetCapOneValue(cap, TWTY_BOOL, Flag(flag));
}

}  // namespace

int TWAIN_GetUnits() { return TWAIN_GetCapUint16(ICAP_UNITS, 0); }
int TWAIN_GetBitDepth() { return TWAIN_GetCapUint16(ICAP_BITDEPTH, 0); }
int TWAIN_GetPixelType() { return TWAIN_GetCapUint16(ICAP_PIXELTYPE, 0); }
int TWAIN_GetXferMech() { return TWAIN_GetCapUint16(ICAP_XFERMECH, 0); }
int TWAIN_GetDuplexSupport() { return TWAIN_GetCapUint16(CAP_DUPLEX, 0); }
int TWAIN_GetPlanarChunky() { return TWAIN_GetCapUint16(ICAP_PLANARCHUNKY, -1); }
int TWAIN_GetPixelFlavor() { return TWAIN_GetCapUint16(ICAP_PIXELFLAVOR, -1); }
int TWAIN_GetCompression() { return TWAIN_GetCapUint16(ICAP_COMPRESSION, 0); }
double TWAIN_GetXResolution() { return TWAIN_GetCapFix32(ICAP_XRESOLUTION, 0.0); }
double TWAIN_GetYResolution() { return TWAIN_GetCapFix32(ICAP_YRESOLUTION, 0.0); }
double TWAIN_GetThreshold() { return TWAIN_GetCapFix32(ICAP_THRESHOLD, 128.0); }
int TWAIN_GetAutoFeed() { return TWAIN_GetCapBool(CAP_AUTOFEED, 0); }
int TWAIN_GetFeederEnabled() { return TWAIN_GetCapBool(CAP_FEEDERENABLED, 0); }
int TWAIN_GetFeederLoaded() { return TWAIN_GetCapBool(CAP_FEEDERLOADED, 0); }
int TWAIN_GetDuplexEnabled() { return TWAIN_GetCapBool(CAP_DUPLEXENABLED, 0); }
int TWAIN_GetTiles() { return TWAIN_GetCapBool(ICAP_TILES, 0); }

int TWAIN_GetUIControllable()
{
    TW_UINT16 value = 0;
    return TWAIN_GetCurrentValue(CAP_UICONTROLLABLE, TWTY_BOOL, &value) ? value : -1;
}

int TWAIN_SupportsFileXfer()
{
    CapContainer* c = TWAIN_Get(ICAP_XFERMECH);
    if (!c)
        return 0;
    const int has = TWAIN_ContainerHasValue(c, TWSX_FILE);
    TWAIN_FreeContainer(c);
    return has;
}

int TWAIN_HasFeeder()
{
    if (TWAIN_GetFeederEnabled() == 1)
        return 1;
    const int found = TWAIN_SetFeederEnabled(1);
    TWAIN_SetFeederEnabled(0);
    return found;
}

int TWAIN_SetXferCount(int count) { return TWAIN_SetCapOneValue(CAP_XFERCOUNT, TWTY_INT16, count); }
int TWAIN_SetUnits(int units) { return SetUint16(ICAP_UNITS, units); }
int TWAIN_SetBitDepth(int bits) { return SetUint16(ICAP_BITDEPTH, bits); }
int TWAIN_SetPixelType(int pixelType) { return SetUint16(ICAP_PIXELTYPE, pixelType); }
int TWAIN_SetPaperSize(int paperSize) { return SetUint16(ICAP_SUPPORTEDSIZES, paperSize); }
int TWAIN_SetPlanarChunky(int planarChunky) { return SetUint16(ICAP_PLANARCHUNKY, planarChunky); }
int TWAIN_SetPixelFlavor(int flavor) { return SetUint16(ICAP_PIXELFLAVOR, flavor); }
int TWAIN_SetCompression(int compression) { return SetUint16(ICAP_COMPRESSION, compression); }
int TWAIN_SetLightPath(int transmissive) { return SetUint16(ICAP_LIGHTPATH, transmissive ? TWLP_TRANSMISSIVE : TWLP_REFLECTIVE); }
int TWAIN_SetAutoBright(int flag) { return SetBool(ICAP_AUTOBRIGHT, flag); }
int TWAIN_SetIndicators(int flag) { return SetBool(CAP_INDICATORS, flag); }
int TWAIN_SetDuplexEnabled(int flag) { return SetBool(CAP_DUPLEXENABLED, flag); }

int TWAIN_SetXferMech(int mech)
{
    const int ok = SetUint16(ICAP_XFERMECH, mech);
    if (ok)
        xferMech = mech;
    return ok;
}

int TWAIN_SetFeederEnabled(int flag)
{
    if (TWAIN_GetFeederEnabled() == Flag(flag))
        return 1;
    return SetBool(CAP_FEEDERENABLED, flag);
}

int TWAIN_SetTiles(int flag)
{
    if (TWAIN_GetTiles() == Flag(flag))
        return 1;
    return SetBool(ICAP_TILES, flag);
}

int TWAIN_SetAutoFeed(int flag)
{
    TWAIN_SetFeederEnabled(1);
    return SetBool(CAP_AUTOFEED, flag);
}

int TWAIN_SetXResolution(double dpi) { return TWAIN_SetCapFix32(ICAP_XRESOLUTION, dpi); }
int TWAIN_SetYResolution(double dpi) { return TWAIN_SetCapFix32(ICAP_YRESOLUTION, dpi); }

int TWAIN_SetResolution(double dpi)
{
    return TWAIN_SetXResolution(dpi) && TWAIN_SetYResolution(dpi) ? 1 : 0;
}

int TWAIN_SetBrightness(double value) { return TWAIN_SetCapFix32(ICAP_BRIGHTNESS, value); }
int TWAIN_SetContrast(double value) { return TWAIN_SetCapFix32(ICAP_CONTRAST, value); }
int TWAIN_SetThreshold(double value) { return TWAIN_SetCapFix32(ICAP_THRESHOLD, value); }
int TWAIN_SetGamma(double value) { return TWAIN_SetCapFix32(ICAP_GAMMA, value); }
int TWAIN_SetShadow(double value) { return TWAIN_SetCapFix32(ICAP_SHADOW, value); }
int TWAIN_SetHighlight(double value) { return TWAIN_SetCapFix32(ICAP_HIGHLIGHT, value); }
