#include "wmi.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

std::unique_ptr<CWMIConnection> s_WMIRootWmi;
std::unique_ptr<CWMIConnection> s_WMICimV2;

namespace {

std::mutex s_LocatorLock;
ComPtr<IWbemLocator> s_WbemLocator;

constexpr LONG kQueryFlags = WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY;
constexpr LONG kInstanceFlags = kQueryFlags | WBEM_FLAG_SHALLOW;

// A string property (or, with convert, any value turned into one) as a BSTR variant.
bool ReadText(IWbemClassObject *object, const wchar_t *name, bool convert, CVariant *value)
{
    if (FAILED(GetWMIProperty(object, name, value->Get())))
        return false;
    if (V_VT(value->Get()) == VT_BSTR)
        return true;
    return convert && SUCCEEDED(VariantChangeType(value->Get(), value->Get(), 0, VT_BSTR));
}

} // namespace

// --- enumerator ------------------------------------------------------------------------------------

IWbemClassObject *CWMIEnumerator::Next(HANDLE stopEvent)
{
    if (!m_Enumerator)
        return nullptr;
    m_Current.Reset();
    for (;;) {
        ULONG returned = 0;
        IWbemClassObject *object = nullptr;
        const LONG timeout = stopEvent != nullptr ? kNextSliceMs : static_cast<LONG>(WBEM_INFINITE);
        HRESULT result = m_Enumerator->Next(timeout, 1, &object, &returned);
        ComPtr<IWbemClassObject> received(returned == 1 ? object : nullptr);
        if (result == WBEM_S_TIMEDOUT && returned == 0) {
            if (stopEvent != nullptr && WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0)
                return nullptr;
            continue;
        }
        if (FAILED(result) || !received)
            return nullptr;
        m_Current = std::move(received);
        return m_Current.Get();
    }
}

void CWMIEnumerator::Release()
{
    m_Current.Reset();
    m_Enumerator.Reset();
}

// --- connection ------------------------------------------------------------------------------------

CWMIConnection::CWMIConnection(IWbemLocator *locator) : m_Locator(ComPtr<IWbemLocator>::Share(locator)) {}

bool CWMIConnection::Connect(const wchar_t *namespacePath)
{
    m_Services.Reset();
    if (!m_Locator || namespacePath == nullptr)
        return false;
    CBstr path(namespacePath);
    if (path.Get() == nullptr)
        return false;
    if (FAILED(m_Locator->ConnectServer(path.Get(), nullptr, nullptr, nullptr, WBEM_FLAG_CONNECT_USE_MAX_WAIT, nullptr,
                                        nullptr, m_Services.Put())))
        return false;
    if (FAILED(SetWMIProxyBlanket(m_Services.Get()))) {
        m_Services.Reset();
        return false;
    }
    return true;
}

CWMIEnumerator CWMIConnection::ExecQuery(const wchar_t *wql)
{
    if (!m_Services || wql == nullptr)
        return CWMIEnumerator();
    CBstr language(L"WQL");
    CBstr query(wql);
    ComPtr<IEnumWbemClassObject> enumerator;
    if (language.Get() == nullptr || query.Get() == nullptr ||
        FAILED(m_Services->ExecQuery(language.Get(), query.Get(), kQueryFlags, nullptr, enumerator.Put())) ||
        FAILED(SetWMIProxyBlanket(enumerator.Get())))
        return CWMIEnumerator();
    return CWMIEnumerator(enumerator.Detach());
}

CWMIEnumerator CWMIConnection::CreateInstanceEnum(const wchar_t *className)
{
    if (!m_Services || className == nullptr)
        return CWMIEnumerator();
    CBstr name(className);
    ComPtr<IEnumWbemClassObject> enumerator;
    if (name.Get() == nullptr ||
        FAILED(m_Services->CreateInstanceEnum(name.Get(), kInstanceFlags, nullptr, enumerator.Put())) ||
        FAILED(SetWMIProxyBlanket(enumerator.Get())))
        return CWMIEnumerator();
    return CWMIEnumerator(enumerator.Detach());
}

IWbemLocator *GetWbemLocator()
{
    std::lock_guard<std::mutex> hold(s_LocatorLock);
    if (!s_WbemLocator)
        CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                         reinterpret_cast<void **>(s_WbemLocator.Put()));
    return s_WbemLocator.Get();
}

void ReleaseWbemLocator()
{
    std::lock_guard<std::mutex> hold(s_LocatorLock);
    s_WbemLocator.Reset();
}

CWMIConnection *InitWMIConnection(std::unique_ptr<CWMIConnection> *storage, const wchar_t *namespacePath)
{
    storage->reset(new (std::nothrow) CWMIConnection(GetWbemLocator()));
    if (*storage)
        (*storage)->Connect(namespacePath);
    return storage->get();
}

HRESULT SetWMIProxyBlanket(IUnknown *proxy)
{
    if (proxy == nullptr)
        return E_POINTER;
    return CoSetProxyBlanket(proxy, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
}

// --- property readers ----------------------------------------------------------------------------------

HRESULT GetWMIProperty(IWbemClassObject *object, const wchar_t *name, VARIANT *value)
{
    if (object == nullptr)
        return E_FAIL;
    return object->Get(name, 0, value, nullptr, nullptr);
}

bool GetWMIString(IWbemClassObject *object, const wchar_t *name, std::string *value, bool convert)
{
    CVariant variant;
    if (!ReadText(object, name, convert, &variant))
        return false;
    const BSTR text = V_BSTR(variant.Get());
    const int chars = static_cast<int>(SysStringLen(text));
    try {
        if (chars == 0) {
            value->clear();
            return true;
        }
        int bytes = WideCharToMultiByte(CP_ACP, 0, text, chars, nullptr, 0, nullptr, nullptr);
        if (bytes <= 0)
            return false;
        std::string narrow(static_cast<size_t>(bytes), '\0');
        if (WideCharToMultiByte(CP_ACP, 0, text, chars, narrow.data(), bytes, nullptr, nullptr) != bytes)
            return false;
        *value = std::move(narrow);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

bool GetWMIWideString(IWbemClassObject *object, const wchar_t *name, std::wstring *value, bool convert)
{
    CVariant variant;
    if (!ReadText(object, name, convert, &variant))
        return false;
    const BSTR text = V_BSTR(variant.Get());
    try {
        value->assign(text != nullptr ? text : L"", SysStringLen(text));
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

bool GetWMIInt32(IWbemClassObject *object, const wchar_t *name, int32_t *value)
{
    CVariant variant;
    if (FAILED(GetWMIProperty(object, name, variant.Get())) || V_VT(variant.Get()) != VT_I4)
        return false;
    *value = V_I4(variant.Get());
    return true;
}

bool GetWMIUInt16(IWbemClassObject *object, const wchar_t *name, uint16_t *value)
{
    CVariant variant;
    if (FAILED(GetWMIProperty(object, name, variant.Get())))
        return false;
    switch (V_VT(variant.Get())) {
    case VT_UI2:
        *value = V_UI2(variant.Get());
        return true;
    case VT_I4:
        *value = static_cast<uint16_t>(V_I4(variant.Get()) & 0xFFFF);
        return true;
    default:
        return false;
    }
}

bool GetWMIUInt32(IWbemClassObject *object, const wchar_t *name, uint32_t *value)
{
    CVariant variant;
    if (FAILED(GetWMIProperty(object, name, variant.Get())))
        return false;
    switch (V_VT(variant.Get())) {
    case VT_UI4:
        *value = V_UI4(variant.Get());
        return true;
    case VT_I4:
        *value = static_cast<uint32_t>(V_I4(variant.Get()));
        return true;
    default:
        return false;
    }
}

bool GetWMIByteArray(IWbemClassObject *object, const wchar_t *name, uint8_t *buffer, uint32_t *length, uint32_t offset)
{
    CVariant variant;
    if (FAILED(GetWMIProperty(object, name, variant.Get())) || V_VT(variant.Get()) != (VT_ARRAY | VT_UI1))
        return false;
    SAFEARRAY *array = V_ARRAY(variant.Get());
    LONG lower = 0, upper = -1;
    if (array == nullptr || SafeArrayGetDim(array) < 1 || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, &upper)))
        return false;
    CSafeArrayData data(array);
    if (data.Data() == nullptr)
        return false;

    const uint64_t count = upper >= lower ? static_cast<uint64_t>(static_cast<int64_t>(upper) - lower + 1) : 0;
    if (count < offset) {
        *length = 0;
        return false;
    }
    const uint64_t available = count - offset;
    const bool fits = available <= *length && (buffer != nullptr || available == 0);
    *length = static_cast<uint32_t>(available);
    if (!fits)
        return false;
    if (available != 0)
        memcpy(buffer, static_cast<const uint8_t *>(data.Data()) + offset, static_cast<size_t>(available));
    return true;
}

// --- text helpers ----------------------------------------------------------------------------------------

char *WideToUtf8(const wchar_t *text)
{
    if (text == nullptr)
        return nullptr;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return nullptr;
    char *result = static_cast<char *>(malloc(static_cast<size_t>(bytes)));
    if (result == nullptr)
        return nullptr;
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, result, bytes, nullptr, nullptr) != bytes) {
        free(result);
        return nullptr;
    }
    return result;
}

const char *FindSubString(const char *text, const char *pattern)
{
    if (text == nullptr || pattern == nullptr)
        return nullptr;
    return strstr(text, pattern);
}
