// Programs and libraries of the build loaded as the event log loads them (as data files), and
// their messages rendered as it renders them, for the tests of the message table and manifest.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

struct ModuleFree {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFree>;

// build/<flavour>/bin/<test>.exe -> build/<flavour>/<relative>
inline std::wstring BesideBin(const wchar_t *relative)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, length);
    p.resize(p.find_last_of(L'\\'));
    p.resize(p.find_last_of(L'\\') + 1);
    return p + relative;
}

inline UniqueModule LoadAsData(const std::wstring &path)
{
    return UniqueModule(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
}

// The text of id with the strings inserted, or an empty text and *error set.
inline std::wstring Render(HMODULE module, DWORD id, std::vector<const wchar_t *> strings = {}, DWORD *error = nullptr)
{
    wchar_t buffer[2048] = {};
    DWORD flags = FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY;
    if (strings.empty())
        flags |= FORMAT_MESSAGE_IGNORE_INSERTS;
    // With FORMAT_MESSAGE_ARGUMENT_ARRAY the arguments are an array of pointer-sized values.
    std::vector<DWORD_PTR> args;
    for (const wchar_t *s : strings)
        args.push_back(reinterpret_cast<DWORD_PTR>(s));
    DWORD length = FormatMessageW(flags, module, id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), buffer,
                                  ARRAYSIZE(buffer), args.empty() ? nullptr : reinterpret_cast<va_list *>(args.data()));
    if (error != nullptr)
        *error = length ? 0 : GetLastError();
    return std::wstring(buffer, length);
}
