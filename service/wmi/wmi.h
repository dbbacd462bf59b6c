#pragma once
// WMI namespace connections, query results and typed property readers.
//
// The service holds two long-lived connections, s_WMIRootWmi (root\wmi) and s_WMICimV2
// (root\cimv2), made when it starts and released when it stops; they and the enumerators they
// return are used from threads of the multithreaded apartment (InitCom). A connection that
// failed stays usable: its queries return empty enumerators.
//
// CWMIConnection is also the seam for classes that a system's WMI lacks: a derived connection
// answers ExecQuery or CreateInstanceEnum for such classes with objects of its own.

#include "com_holders.h"

#include <wbemidl.h>

#include <cstdint>
#include <memory>
#include <string>

constexpr wchar_t kWmiRootWmiPath[] = L"\\\\.\\root\\wmi";
constexpr wchar_t kWmiCimV2Path[] = L"\\\\.\\root\\cimv2";

// The rows of a query, one object at a time. Owns the enumerator and the current object.
class CWMIEnumerator {
public:
    CWMIEnumerator() = default;
    // Takes over the caller's reference (null gives an empty result).
    explicit CWMIEnumerator(IEnumWbemClassObject *enumerator) : m_Enumerator(enumerator) {}
    CWMIEnumerator(CWMIEnumerator &&) noexcept = default;
    CWMIEnumerator &operator=(CWMIEnumerator &&) noexcept = default;
    CWMIEnumerator(const CWMIEnumerator &) = delete;
    CWMIEnumerator &operator=(const CWMIEnumerator &) = delete;
    ~CWMIEnumerator() = default;

    // Releases the current object and returns the next one (owned by the enumerator), or null at
    // the end of the result, on failure, and when stopEvent is set while the provider is slow.
    IWbemClassObject *Next(HANDLE stopEvent = nullptr);
    // The object the last Next returned; valid until the next Next, Release or the end.
    IWbemClassObject *GetCurrent() const { return m_Current.Get(); }
    void Release();
    bool HasEnumerator() const { return static_cast<bool>(m_Enumerator); }

    // How long one wait of Next lasts before the stop event is looked at again.
    static constexpr LONG kNextSliceMs = 1000;

private:
    ComPtr<IEnumWbemClassObject> m_Enumerator;
    ComPtr<IWbemClassObject> m_Current;
};

class CWMIConnection {
public:
    // Takes a reference of its own on the locator (which may be null).
    explicit CWMIConnection(IWbemLocator *locator);
    virtual ~CWMIConnection() = default;
    CWMIConnection(const CWMIConnection &) = delete;
    CWMIConnection &operator=(const CWMIConnection &) = delete;

    bool Connect(const wchar_t *namespacePath);
    bool IsConnected() const { return static_cast<bool>(m_Services); }

    virtual CWMIEnumerator ExecQuery(const wchar_t *wql);
    // Instances of exactly this class (not of classes derived from it).
    virtual CWMIEnumerator CreateInstanceEnum(const wchar_t *className);

private:
    ComPtr<IWbemLocator> m_Locator;
    ComPtr<IWbemServices> m_Services;
};

// The process's locator, made on first use (a failed creation is tried again next time). The
// caller does not own the returned pointer.
IWbemLocator *GetWbemLocator();
// Drops the process's reference; connections keep theirs.
void ReleaseWbemLocator();
// Makes a connection in *storage and connects it; the connection exists even when that failed.
// Null only when no memory was left.
CWMIConnection *InitWMIConnection(std::unique_ptr<CWMIConnection> *storage, const wchar_t *namespacePath);

HRESULT SetWMIProxyBlanket(IUnknown *proxy);

extern std::unique_ptr<CWMIConnection> s_WMIRootWmi;
extern std::unique_ptr<CWMIConnection> s_WMICimV2;

// Property readers. object may be null; every reader reports success as true.
HRESULT GetWMIProperty(IWbemClassObject *object, const wchar_t *name, VARIANT *value);
// Text in the system's ANSI code page. With convert, any value that has a text form is taken.
bool GetWMIString(IWbemClassObject *object, const wchar_t *name, std::string *value, bool convert);
bool GetWMIWideString(IWbemClassObject *object, const wchar_t *name, std::wstring *value, bool convert);
bool GetWMIInt32(IWbemClassObject *object, const wchar_t *name, int32_t *value);
// VT_UI2, or the low 16 bits of VT_I4 (as which WMI hands out its uint16 properties).
bool GetWMIUInt16(IWbemClassObject *object, const wchar_t *name, uint16_t *value);
bool GetWMIUInt32(IWbemClassObject *object, const wchar_t *name, uint32_t *value);
// The bytes of a uint8 array from offset on. *length is the buffer's size in and the number of
// bytes from offset to the array's end out; false (nothing copied) when they do not fit, and
// false with *length 0 when offset lies past the end.
bool GetWMIByteArray(IWbemClassObject *object, const wchar_t *name, uint8_t *buffer, uint32_t *length, uint32_t offset);

// A malloc'd NUL-terminated UTF-8 copy (free it with free), or null for null or a failed
// conversion.
char *WideToUtf8(const wchar_t *text);
// Where pattern first occurs in text, or null (also for a null argument).
const char *FindSubString(const char *text, const char *pattern);
