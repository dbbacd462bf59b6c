#include "wmi_fakes.h"

namespace {

// The one interface a fake answers besides IUnknown.
template <class Interface> HRESULT QueryFake(Interface *self, REFIID riid, REFIID own, void **object)
{
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, own)) {
        *object = self;
        self->AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

} // namespace


FakeClassObject::~FakeClassObject()
{
    for (auto &[name, value] : m_Properties)
        VariantClear(&value);
}

void FakeClassObject::SetProperty(const std::wstring &name, const VARIANT &value)
{
    VARIANT copy;
    VariantInit(&copy);
    VariantCopy(&copy, const_cast<VARIANT *>(&value));
    auto [slot, inserted] = m_Properties.emplace(name, copy);
    if (!inserted) {
        VariantClear(&slot->second);
        slot->second = copy;
    }
}

void FakeClassObject::SetString(const std::wstring &name, const wchar_t *text)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocString(text);
    SetProperty(name, value);
    VariantClear(&value);
}

void FakeClassObject::SetInt(const std::wstring &name, VARTYPE type, long long number)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = type;
    switch (type) {
    case VT_I2:
        V_I2(&value) = static_cast<SHORT>(number);
        break;
    case VT_I4:
        V_I4(&value) = static_cast<LONG>(number);
        break;
    case VT_UI1:
        V_UI1(&value) = static_cast<BYTE>(number);
        break;
    case VT_UI2:
        V_UI2(&value) = static_cast<USHORT>(number);
        break;
    case VT_UI4:
        V_UI4(&value) = static_cast<ULONG>(number);
        break;
    case VT_BOOL:
        V_BOOL(&value) = number ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case VT_I8:
        V_I8(&value) = number;
        break;
    case VT_UI8:
        V_UI8(&value) = static_cast<ULONGLONG>(number);
        break;
    case VT_DATE:
        V_DATE(&value) = static_cast<double>(number);
        break;
    default:
        V_VT(&value) = VT_NULL;
        break;
    }
    SetProperty(name, value);
}

void FakeClassObject::SetBytes(const std::wstring &name, const std::vector<uint8_t> &bytes)
{
    VARIANT value;
    VariantInit(&value);
    SAFEARRAY *array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    {
        CSafeArrayData data(array);
        if (!bytes.empty())
            memcpy(data.Data(), bytes.data(), bytes.size());
    }
    V_VT(&value) = VT_ARRAY | VT_UI1;
    V_ARRAY(&value) = array;
    SetProperty(name, value);
    VariantClear(&value);
}

void FakeClassObject::SetObject(const std::wstring &name, IWbemClassObject *object)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_UNKNOWN;
    V_UNKNOWN(&value) = object;
    SetProperty(name, value);  // the copy takes a reference of its own
}

void FakeClassObject::SetObjectArray(const std::wstring &name, const std::vector<IWbemClassObject *> &objects)
{
    VARIANT value;
    VariantInit(&value);
    SAFEARRAY *array = SafeArrayCreateVector(VT_UNKNOWN, 0, static_cast<ULONG>(objects.size()));
    for (LONG i = 0; i < static_cast<LONG>(objects.size()); ++i)
        SafeArrayPutElement(array, &i, static_cast<IUnknown *>(objects[static_cast<size_t>(i)]));
    V_VT(&value) = VT_ARRAY | VT_UNKNOWN;
    V_ARRAY(&value) = array;
    SetProperty(name, value);
    VariantClear(&value);
}

namespace {

// The CIM type WMI reports beside a value of this VARIANT type.
CIMTYPE CimTypeOf(VARTYPE type)
{
    const CIMTYPE array = (type & VT_ARRAY) ? CIM_FLAG_ARRAY : 0;
    switch (type & ~VT_ARRAY) {
    case VT_UNKNOWN:
        return CIM_OBJECT | array;
    case VT_BSTR:
        return CIM_STRING | array;
    case VT_UI1:
        return CIM_UINT8 | array;
    case VT_I2:
        return CIM_SINT16 | array;
    case VT_UI2:
        return CIM_UINT16 | array;
    case VT_I4:
        return CIM_SINT32 | array;
    case VT_UI4:
        return CIM_UINT32 | array;
    case VT_I8:
        return CIM_SINT64 | array;
    case VT_UI8:
        return CIM_UINT64 | array;
    case VT_BOOL:
        return CIM_BOOLEAN | array;
    default:
        return CIM_EMPTY;
    }
}

} // namespace

HRESULT FakeClassObject::QueryInterface(REFIID riid, void **object)
{
    return QueryFake(static_cast<IWbemClassObject *>(this), riid, IID_IWbemClassObject, object);
}

ULONG FakeClassObject::AddRef()
{
    return ++m_References;
}

ULONG FakeClassObject::Release()
{
    ULONG left = --m_References;
    if (left == 0)
        delete this;
    return left;
}

HRESULT FakeClassObject::Get(LPCWSTR name, LONG, VARIANT *value, CIMTYPE *type, LONG *flavor)
{
    if (name == nullptr || value == nullptr)
        return WBEM_E_INVALID_PARAMETER;
    auto found = m_Properties.find(name);
    if (found == m_Properties.end())
        return WBEM_E_NOT_FOUND;
    VariantInit(value);
    HRESULT result = VariantCopy(value, &found->second);
    if (type != nullptr)
        *type = CimTypeOf(V_VT(&found->second));
    if (flavor != nullptr)
        *flavor = 0;
    return result;
}

HRESULT FakeEnumerator::QueryInterface(REFIID riid, void **object)
{
    return QueryFake(static_cast<IEnumWbemClassObject *>(this), riid, IID_IEnumWbemClassObject, object);
}

ULONG FakeEnumerator::AddRef()
{
    return ++m_References;
}

ULONG FakeEnumerator::Release()
{
    ULONG left = --m_References;
    if (left == 0)
        delete this;
    return left;
}

HRESULT FakeEnumerator::Reset()
{
    m_Position = 0;
    return S_OK;
}

HRESULT FakeEnumerator::Next(LONG timeout, ULONG count, IWbemClassObject **objects, ULONG *returned)
{
    *returned = 0;
    if (count != 1 || objects == nullptr)
        return WBEM_E_INVALID_PARAMETER;
    if (m_Timeouts > 0 && timeout != static_cast<LONG>(WBEM_INFINITE)) {
        --m_Timeouts;
        return WBEM_S_TIMEDOUT;
    }
    if (m_Position >= m_Objects.size())
        return WBEM_S_FALSE;
    objects[0] = ComPtr<IWbemClassObject>(m_Objects[m_Position++]).Detach();
    *returned = 1;
    return WBEM_S_NO_ERROR;
}

void FakeServices::SetClass(const std::wstring &name, std::vector<ComPtr<IWbemClassObject>> objects)
{
    m_Classes[name] = std::move(objects);
}

int FakeServices::EnumerationsOf(const std::wstring &name) const
{
    auto found = m_Enumerations.find(name);
    return found == m_Enumerations.end() ? 0 : found->second;
}

HRESULT FakeServices::QueryInterface(REFIID riid, void **object)
{
    return QueryFake(static_cast<IWbemServices *>(this), riid, IID_IWbemServices, object);
}

ULONG FakeServices::Release()
{
    ULONG left = --m_References;
    if (left == 0)
        delete this;
    return left;
}

HRESULT FakeServices::CreateInstanceEnum(const BSTR className, LONG, IWbemContext *, IEnumWbemClassObject **enumerator)
{
    if (className == nullptr || enumerator == nullptr)
        return WBEM_E_INVALID_PARAMETER;
    *enumerator = nullptr;
    ++m_Enumerations[className];
    auto found = m_Classes.find(className);
    if (found == m_Classes.end() && !m_AbsentAsEmpty)
        return WBEM_E_INVALID_CLASS;
    *enumerator = new FakeEnumerator(found == m_Classes.end() ? std::vector<ComPtr<IWbemClassObject>>() : found->second);
    return S_OK;
}

HRESULT FakeLocator::QueryInterface(REFIID riid, void **object)
{
    return QueryFake(static_cast<IWbemLocator *>(this), riid, IID_IWbemLocator, object);
}

ULONG FakeLocator::Release()
{
    ULONG left = --m_References;
    if (left == 0)
        delete this;
    return left;
}

HRESULT FakeLocator::ConnectServer(const BSTR nameSpace, const BSTR, const BSTR, const BSTR, LONG, const BSTR,
                                   IWbemContext *, IWbemServices **services)
{
    *services = nullptr;
    lastNamespace = nameSpace != nullptr ? nameSpace : L"";
    if (FAILED(connectResult))
        return connectResult;
    m_Services->AddRef();
    *services = m_Services.Get();
    return S_OK;
}
