#pragma once
// The iSCSI collector's own WMI access: COM for one collection, one namespace connection made
// and dropped within it, class enumeration and property values converted into fixed record
// fields. Used only on the "Data Collection" thread.

#include <windows.h>
#include <wbemidl.h>

#include <cstddef>

HRESULT CoWMIInitialize();
// Undoes CoWMIInitialize's COM initialisation when that succeeded. 0.
HRESULT CoWMIUninitialize();
HRESULT CoWMINameSpaceConnect(const wchar_t *nameSpace);
HRESULT CoWMINameSpaceRelease();
// The connection CoWMINameSpaceConnect made, or null.
IWbemServices *CoWMINameSpace();

HRESULT CoWMIOpenClassInstance(IWbemServices *connection, const wchar_t *className, IEnumWbemClassObject **enumerator);
// 0 with an object, -1 at the end, for a missing enumerator, on a failure of Next and when the
// collector is asked to stop while the provider is slow; a Reset failure on the first call.
HRESULT CoWMIGetNextClassInstance(IEnumWbemClassObject *enumerator, IWbemClassObject **object, bool firstCall);
// type (may be null) receives the property's CIM type.
HRESULT CoWMIGetClassInstanceProperty(IWbemClassObject *object, const wchar_t *name, VARIANT *value,
                                      CIMTYPE *type = nullptr);
ULONG CoWMIRelease(IUnknown *object);
HRESULT CoWmiVariantClear(VARIANT *value);

// Converts the value into a field of fieldSize bytes: 0 when converted, 1 when not; the VARIANT
// is cleared in every case. Nothing is written past the field: a wider number keeps its low
// bytes, a text (8-bit, NUL-terminated) that does not fit with its NUL is refused whole and
// leaves the field unchanged, an empty text writes nothing.
int CoWMIGetVariantValue(VARIANT *value, void *destination, size_t fieldSize);

// How long one wait of Next lasts before the collector's stop is looked at again.
constexpr LONG kCoWmiNextSliceMs = 1000;

// Tests hand the layer the locator it connects through (null: the system's WbemLocator).
void CoWMISetLocatorForTests(IWbemLocator *locator);
