#pragma once
// Capability containers: a locked global-memory block laid out as one of the four TWAIN
// containers, wrapped in a small record. Values cross this interface as doubles whatever
// the item type. A container a source handed over is never trusted: every operation
// stays inside the block (GlobalSize) and answers its failure value for a container
// whose header, item type or item count does not fit it (twain/container_bytes.h).

#include <windows.h>

#include <cstdint>

#include "twain/container_bytes.h"
#include "twain/twain_defs.h"

inline constexpr std::uint32_t CONTAINER_SIGNATURE = 0xFADE3210;

struct CapContainer {
    std::uint32_t signature;  // CONTAINER_SIGNATURE while live
    std::uint32_t type;       // TWON_ code
    HGLOBAL handle;           // owned by the record
    void* address;            // the handle's memory, locked for the record's life
};

// TW_FIX32 conversions.
double Fix32ToDouble(TW_FIX32 fix);
TW_FIX32 DoubleToFix32(double x);
long RoundToLong(double x);  // halves away from zero; saturates at the long range
TW_UINT32 Fix32FromRatio(long numerator, long denominator);

// Bytes allocated for a container of n items; 0 for an unknown container type.
std::uint32_t ContainerBytes(int containerType, int itemType, int n);

// Builders: a new container, or null. Item types outside TWTY_INT8 .. TWTY_STR255 are
// refused without allocating, as are ranges of non-numeric items and negative counts.
CapContainer* TWAIN_BuildOneValue(int itemType, double value);
CapContainer* TWAIN_BuildRange(int itemType, double min, double max, double step);
CapContainer* TWAIN_BuildArray(int itemType, int n);
CapContainer* TWAIN_BuildEnumeration(int itemType, int n);
// Takes ownership of handle in success and failure.
CapContainer* TWAIN_WrapContainer(int containerType, HGLOBAL handle);
CapContainer* TWAIN_CopyContainer(CapContainer* c);
void TWAIN_FreeContainer(CapContainer* c);

// Readers (failure values: -1, -1.0 or null).
int TWAIN_ContainerType(CapContainer* c);
int TWAIN_ContainerItemType(CapContainer* c);
int TWAIN_ContainerItemCount(CapContainer* c);
double TWAIN_ContainerItem(CapContainer* c, int n);
long TWAIN_ContainerItemAsInt(CapContainer* c, int n);
void* TWAIN_ContainerItemPointer(CapContainer* c, int n);
int TWAIN_ContainerFindValue(CapContainer* c, double x);
int TWAIN_ContainerHasValue(CapContainer* c, double x);
double TWAIN_ContainerCurrent(CapContainer* c);
double TWAIN_ContainerDefault(CapContainer* c);
int TWAIN_EnumCurrentIndex(CapContainer* c);
int TWAIN_EnumDefaultIndex(CapContainer* c);
double TWAIN_RangeMin(CapContainer* c);
double TWAIN_RangeMax(CapContainer* c);
double TWAIN_RangeStep(CapContainer* c);

// Editors: 1 on success, 0 on failure.
int TWAIN_SetCurrentIndex(CapContainer* c, int n);
int TWAIN_SetDefaultIndex(CapContainer* c, int n);
int TWAIN_SetCurrentValue(CapContainer* c, double x);
int TWAIN_SetDefaultValue(CapContainer* c, double x);
int TWAIN_SetContainerItem(CapContainer* c, int n, double x);
int TWAIN_SetContainerString(CapContainer* c, int n, const char* text);
int TWAIN_SetContainerFrame(CapContainer* c, int n, double left, double top, double right, double bottom);
int TWAIN_DeleteContainerItem(CapContainer* c, int n);
int TWAIN_InsertContainerItem(CapContainer* c, int n, double x);

bool TWAIN_ItemTypesCompatible(int have, int want);

// The container's block, or a block of size 0 for a null or unsigned record.
cbytes::Block TWAIN_ContainerBlock(const CapContainer* c);
