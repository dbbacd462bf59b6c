#pragma once
// Fake WMI objects for tests: a class object whose properties are a table of VARIANTs, and an
// enumerator over such objects. Both count their references so that tests see leaks and
// double releases. Later areas use them to stand in for classes a system's WMI lacks.

#include "com_holders.h"

#include <wbemidl.h>

#include <map>
#include <string>
#include <vector>

class FakeClassObject : public IWbemClassObject {
public:
    // Starts with one reference, owned by the creator.
    FakeClassObject() = default;
    // The property's value; a copy goes out with every Get.
    void SetProperty(const std::wstring &name, const VARIANT &value);
    void SetString(const std::wstring &name, const wchar_t *text);
    void SetInt(const std::wstring &name, VARTYPE type, long long value);
    void SetBytes(const std::wstring &name, const std::vector<uint8_t> &bytes);
    // An embedded object (CIM_OBJECT), and an array of them (CIM_OBJECT | CIM_FLAG_ARRAY).
    void SetObject(const std::wstring &name, IWbemClassObject *object);
    void SetObjectArray(const std::wstring &name, const std::vector<IWbemClassObject *> &objects);
    ULONG References() const { return m_References; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT *value, CIMTYPE *type, LONG *flavor) override;

    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT *, CIMTYPE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT *, SAFEARRAY **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Next(LONG, BSTR *, VARIANT *, CIMTYPE *, LONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndEnumeration() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR, LONG, IWbemClassObject **, IWbemClassObject **) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject *, IWbemClassObject *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR *, IWbemClassObject **, IWbemClassObject **) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR *) override { return E_NOTIMPL; }

private:
    virtual ~FakeClassObject();

    ULONG m_References = 1;
    std::map<std::wstring, VARIANT> m_Properties;
};

class FakeEnumerator : public IEnumWbemClassObject {
public:
    // Hands out the objects in order (each Next adds a reference for the caller).
    explicit FakeEnumerator(std::vector<ComPtr<IWbemClassObject>> objects) : m_Objects(std::move(objects)) {}
    ULONG References() const { return m_References; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject **objects, ULONG *returned) override;
    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override { return E_NOTIMPL; }

    // Makes the next calls of Next time out this many times before answering (a slow provider).
    void SetTimeouts(int count) { m_Timeouts = count; }

private:
    virtual ~FakeEnumerator() = default;

    ULONG m_References = 1;
    std::vector<ComPtr<IWbemClassObject>> m_Objects;
    size_t m_Position = 0;
    int m_Timeouts = 0;
};

// A namespace whose classes are lists of fake objects. A class it does not hold is answered as
// Windows does (WBEM_E_INVALID_CLASS) or, with SetAbsentAsEmpty, as Wine does (an empty result).
class FakeServices : public IWbemServices {
public:
    virtual ~FakeServices() = default;
    void SetClass(const std::wstring &name, std::vector<ComPtr<IWbemClassObject>> objects);
    void SetAbsentAsEmpty(bool empty) { m_AbsentAsEmpty = empty; }
    ULONG References() const { return m_References; }
    int EnumerationsOf(const std::wstring &name) const;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_References; }
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR className, LONG flags, IWbemContext *context,
                                                 IEnumWbemClassObject **enumerator) override;
    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext *, IWbemServices **, IWbemCallResult **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR, LONG, IWbemContext *, IWbemClassObject **, IWbemCallResult **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject *, LONG, IWbemContext *, IWbemCallResult **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject *, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext *, IWbemCallResult **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext *, IEnumWbemClassObject **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject *, LONG, IWbemContext *, IWbemCallResult **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject *, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext *, IWbemCallResult **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR, const BSTR, LONG, IWbemContext *, IEnumWbemClassObject **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext *, IEnumWbemClassObject **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR, const BSTR, LONG, IWbemContext *, IWbemClassObject *, IWbemClassObject **, IWbemCallResult **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext *, IWbemClassObject *, IWbemObjectSink *) override { return E_NOTIMPL; }

private:
    ULONG m_References = 1;
    bool m_AbsentAsEmpty = false;
    std::map<std::wstring, std::vector<ComPtr<IWbemClassObject>>> m_Classes;
    std::map<std::wstring, int> m_Enumerations;
};

// A locator whose every connection is the one fake namespace (or fails with connectResult).
class FakeLocator : public IWbemLocator {
public:
    virtual ~FakeLocator() = default;
    explicit FakeLocator(FakeServices *services) : m_Services(ComPtr<FakeServices>::Share(services)) {}
    HRESULT connectResult = S_OK;
    std::wstring lastNamespace;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_References; }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR nameSpace, const BSTR, const BSTR, const BSTR, LONG, const BSTR,
                                            IWbemContext *, IWbemServices **services) override;

private:
    ULONG m_References = 1;
    ComPtr<FakeServices> m_Services;
};
