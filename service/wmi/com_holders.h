#pragma once
// Small owners for COM pointers and the OLE Automation types, so that no release path is written
// by hand.

#include <windows.h>
#include <oleauto.h>

#include <utility>

// One reference to a COM object.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller already owns.
    explicit ComPtr(T *pointer) : m_Pointer(pointer) {}
    ComPtr(const ComPtr &other) : m_Pointer(other.m_Pointer)
    {
        if (m_Pointer != nullptr)
            m_Pointer->AddRef();
    }
    ComPtr(ComPtr &&other) noexcept : m_Pointer(std::exchange(other.m_Pointer, nullptr)) {}
    ComPtr &operator=(ComPtr other) noexcept
    {
        std::swap(m_Pointer, other.m_Pointer);
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Adds a reference of its own to a pointer the caller keeps.
    static ComPtr Share(T *pointer)
    {
        if (pointer != nullptr)
            pointer->AddRef();
        return ComPtr(pointer);
    }

    T *Get() const { return m_Pointer; }
    T *operator->() const { return m_Pointer; }
    explicit operator bool() const { return m_Pointer != nullptr; }
    // For an out parameter: drops the current reference and hands out the slot.
    T **Put()
    {
        Reset();
        return &m_Pointer;
    }
    void Reset()
    {
        if (T *pointer = std::exchange(m_Pointer, nullptr))
            pointer->Release();
    }
    T *Detach() { return std::exchange(m_Pointer, nullptr); }

private:
    T *m_Pointer = nullptr;
};

class CBstr {
public:
    CBstr() = default;
    explicit CBstr(const wchar_t *text) : m_Text(text != nullptr ? SysAllocString(text) : nullptr) {}
    CBstr(const CBstr &) = delete;
    CBstr &operator=(const CBstr &) = delete;
    ~CBstr() { SysFreeString(m_Text); }
    BSTR Get() const { return m_Text; }
    BSTR *Put()
    {
        SysFreeString(std::exchange(m_Text, nullptr));
        return &m_Text;
    }

private:
    BSTR m_Text = nullptr;
};

class CVariant {
public:
    CVariant() { VariantInit(&m_Value); }
    CVariant(const CVariant &) = delete;
    CVariant &operator=(const CVariant &) = delete;
    ~CVariant() { VariantClear(&m_Value); }
    VARIANT *Get() { return &m_Value; }
    const VARIANT &operator*() const { return m_Value; }
    void Clear() { VariantClear(&m_Value); }

private:
    VARIANT m_Value;
};

// Access to a SAFEARRAY's elements for as long as the object lives.
class CSafeArrayData {
public:
    explicit CSafeArrayData(SAFEARRAY *array) : m_Array(array)
    {
        if (m_Array == nullptr || FAILED(SafeArrayAccessData(m_Array, &m_Data)))
            m_Data = nullptr;
    }
    CSafeArrayData(const CSafeArrayData &) = delete;
    CSafeArrayData &operator=(const CSafeArrayData &) = delete;
    ~CSafeArrayData()
    {
        if (m_Data != nullptr)
            SafeArrayUnaccessData(m_Array);
    }
    void *Data() const { return m_Data; }

private:
    SAFEARRAY *m_Array;
    void *m_Data = nullptr;
};
