// events_probe.exe: what the end-to-end event test asks of Windows itself.
//   events_probe.exe acp OUTFILE                      the ANSI code page (GetACP), in decimal
//   events_probe.exe render OUTFILE DLL ID STRING...  the message ID of the library DLL with the
//                                                     strings inserted, as the event log renders it
// OUTFILE receives the answer in UTF-8, so that no console conversion stands in between.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

bool WriteUtf8(const wchar_t *path, const std::wstring &text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr, nullptr);
    FILE *f = _wfopen(path, L"wb");
    if (f == nullptr)
        return false;
    bool written = fwrite(utf8.data(), 1, utf8.size(), f) == utf8.size();
    return fclose(f) == 0 && written;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc == 3 && wcscmp(argv[1], L"acp") == 0)
        return WriteUtf8(argv[2], std::to_wstring(GetACP())) ? 0 : 1;
    if (argc >= 5 && wcscmp(argv[1], L"render") == 0) {
        HMODULE library = LoadLibraryExW(argv[3], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (library == nullptr) {
            fprintf(stderr, "events_probe: cannot load the library (%lu)\n", GetLastError());
            return 1;
        }
        DWORD id = wcstoul(argv[4], nullptr, 0);
        std::vector<DWORD_PTR> inserts;
        for (int i = 5; i < argc; ++i)
            inserts.push_back(reinterpret_cast<DWORD_PTR>(argv[i]));
        wchar_t *message = nullptr;
        DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                                          FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                      library, id, 0, reinterpret_cast<wchar_t *>(&message), 0,
                                      reinterpret_cast<va_list *>(inserts.data()));
        bool ok = length != 0 && WriteUtf8(argv[2], std::wstring(message, length));
        if (length == 0)
            fprintf(stderr, "events_probe: no message 0x%08lX (%lu)\n", id, GetLastError());
        LocalFree(message);
        FreeLibrary(library);
        return ok ? 0 : 1;
    }
    fprintf(stderr, "usage: events_probe acp OUTFILE | render OUTFILE DLL ID STRING...\n");
    return 2;
}
