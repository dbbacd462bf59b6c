#include "iscsi_cowmi.h"

#include "com_holders.h"
#include "datacollector.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

IWbemServices *s_Connection = nullptr;
bool s_ComInitialised = false;
IWbemLocator *s_TestLocator = nullptr;

void CopyLowBytes(void *destination, size_t fieldSize, const void *value, size_t valueSize)
{
    std::memcpy(destination, value, valueSize < fieldSize ? valueSize : fieldSize);
}

} // namespace

void CoWMISetLocatorForTests(IWbemLocator *locator)
{
    s_TestLocator = locator;
}

HRESULT CoWMIInitialize()
{
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    s_ComInitialised = SUCCEEDED(result);
    if (FAILED(result))
        return result;
    return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_SECURE_REFS, nullptr);
}

HRESULT CoWMIUninitialize()
{
    if (s_ComInitialised)
        CoUninitialize();
    s_ComInitialised = false;
    return 0;
}

HRESULT CoWMINameSpaceConnect(const wchar_t *nameSpace)
{
    ComPtr<IWbemLocator> locator;
    if (s_TestLocator != nullptr) {
        locator = ComPtr<IWbemLocator>::Share(s_TestLocator);
    } else {
        HRESULT created = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                           reinterpret_cast<void **>(locator.Put()));
        if (FAILED(created))
            return created;
    }
    if (nameSpace == nullptr)
        return -1;
    CBstr path(nameSpace);
    if (path.Get() == nullptr)
        return -1;
    CoWMINameSpaceRelease();
    return locator->ConnectServer(path.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &s_Connection);
}

HRESULT CoWMINameSpaceRelease()
{
    if (s_Connection != nullptr)
        s_Connection->Release();
    s_Connection = nullptr;
    return 0;
}

IWbemServices *CoWMINameSpace()
{
    return s_Connection;
}

HRESULT CoWMIOpenClassInstance(IWbemServices *connection, const wchar_t *className, IEnumWbemClassObject **enumerator)
{
    *enumerator = nullptr;
    if (connection == nullptr)
        return -1;
    CBstr name(className);
    if (name.Get() == nullptr)
        return -1;
    return connection->CreateInstanceEnum(name.Get(), 0, nullptr, enumerator);
}

HRESULT CoWMIGetNextClassInstance(IEnumWbemClassObject *enumerator, IWbemClassObject **object, bool firstCall)
{
    *object = nullptr;
    if (enumerator == nullptr)
        return -1;
    if (firstCall) {
        HRESULT reset = enumerator->Reset();
        if (FAILED(reset))
            return reset;
    }
    // A slow provider is waited for in slices, so that a stop of the service never waits on it.
    for (;;) {
        ULONG returned = 0;
        IWbemClassObject *received = nullptr;
        HRESULT result = enumerator->Next(kCoWmiNextSliceMs, 1, &received, &returned);
        if (result == WBEM_S_TIMEDOUT && returned == 0) {
            if (DATACOLLECTOR::StopRequested())
                return -1;
            continue;
        }
        if (FAILED(result) || returned != 1 || received == nullptr) {
            if (returned == 1 && received != nullptr)
                received->Release();
            return -1;
        }
        *object = received;
        return 0;
    }
}

HRESULT CoWMIGetClassInstanceProperty(IWbemClassObject *object, const wchar_t *name, VARIANT *value, CIMTYPE *type)
{
    VariantInit(value);
    if (object == nullptr)
        return -1;
    CBstr property(name);
    if (property.Get() == nullptr)
        return -1;
    CVariant read;
    CIMTYPE cimType = CIM_EMPTY;
    HRESULT result = object->Get(property.Get(), 0, read.Get(), &cimType, nullptr);
    if (SUCCEEDED(result)) {
        result = VariantCopy(value, read.Get());
        if (type != nullptr)
            *type = cimType;
    }
    return result;
}

ULONG CoWMIRelease(IUnknown *object)
{
    return object != nullptr ? object->Release() : 0;
}

HRESULT CoWmiVariantClear(VARIANT *value)
{
    return VariantClear(value);
}

int CoWMIGetVariantValue(VARIANT *value, void *destination, size_t fieldSize)
{
    int converted = 1;
    switch (V_VT(value)) {
    case VT_I2:
    case VT_UI2:
        CopyLowBytes(destination, fieldSize, &V_UI2(value), 2);
        converted = 0;
        break;
    case VT_I4:
    case VT_UI4:
        CopyLowBytes(destination, fieldSize, &V_UI4(value), 4);
        converted = 0;
        break;
    case VT_I8:
    case VT_UI8:
        CopyLowBytes(destination, fieldSize, &V_UI8(value), 8);
        converted = 0;
        break;
    case VT_I1:
    case VT_UI1:
        CopyLowBytes(destination, fieldSize, &V_UI1(value), 1);
        converted = 0;
        break;
    case VT_BOOL: {
        uint8_t truth = static_cast<uint8_t>(V_BOOL(value) & 0xFF);
        CopyLowBytes(destination, fieldSize, &truth, 1);
        converted = 0;
        break;
    }
    case VT_BSTR: {
        BSTR text = V_BSTR(value);
        if (text == nullptr || text[0] == L'\0') {
            converted = 0;
            break;
        }
        int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
        if (length <= 0 || static_cast<size_t>(length) > fieldSize)
            break;  // refused whole: the field keeps what it had
        std::vector<char> narrow(static_cast<size_t>(length));
        if (WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), length, nullptr, nullptr) != length)
            break;
        std::memcpy(destination, narrow.data(), narrow.size());
        converted = 0;
        break;
    }
    case VT_LPSTR: {
        // Not handed out by WMI's providers; kept bounded like every other conversion.
        const char *text = reinterpret_cast<const char *>(V_BYREF(value));
        size_t length = text != nullptr ? strnlen(text, fieldSize) : 0;
        std::memset(destination, 0, fieldSize);
        if (length != 0)
            std::memcpy(destination, text, length);
        converted = 0;
        break;
    }
    case VT_LPWSTR: {
        const wchar_t *text = reinterpret_cast<const wchar_t *>(V_BYREF(value));
        size_t characters = fieldSize / sizeof(wchar_t);
        size_t length = text != nullptr ? wcsnlen(text, characters) : 0;
        std::memset(destination, 0, characters * sizeof(wchar_t));
        if (length != 0)
            std::memcpy(destination, text, length * sizeof(wchar_t));
        converted = 0;
        break;
    }
    case VT_UI1 | VT_ARRAY: {
        SAFEARRAY *array = V_ARRAY(value);
        LONG lower = 0, upper = -1;
        if (array == nullptr || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
            FAILED(SafeArrayGetUBound(array, 1, &upper))) {
            converted = 0;
            break;
        }
        size_t count = upper >= lower ? static_cast<size_t>(upper - lower) + 1 : 0;
        if (count > fieldSize)
            count = fieldSize;
        uint8_t *out = static_cast<uint8_t *>(destination);
        for (size_t i = 0; i < count; ++i) {
            LONG at = lower + static_cast<LONG>(i);
            uint8_t byte = 0;
            if (FAILED(SafeArrayGetElement(array, &at, &byte)))
                break;
            out[i] = byte;
        }
        converted = 0;
        break;
    }
    default:
        break;
    }
    VariantClear(value);
    return converted;
}
