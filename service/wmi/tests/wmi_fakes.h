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
