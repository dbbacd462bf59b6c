#include "options.h"

namespace {

std::string Narrow(const std::wstring &text)
{
    std::string narrow;
    for (wchar_t c : text)
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return narrow;
}

} // namespace

bool ParseOptions(int argc, wchar_t **argv, SimOptions *options, std::string *error)
{
    for (int i = 1; i < argc; ++i) {
        std::wstring option = argv[i];
        if (i + 1 >= argc) {
            *error = "option " + Narrow(option) + " needs a value";
            return false;
        }
        std::wstring value = argv[++i];
        if (option == L"--name")
            options->name = value;
        else if (option == L"--record")
            options->recordPath = value;
        else if (option == L"--ready-event")
            options->readyEvent = value;
        else if (option == L"--stop-event")
            options->stopEvent = value;
        else if (option == L"--script")
            options->scriptPath = value;
        else if (option == L"--do")
            options->directives.push_back(Narrow(value));
        else {
            *error = "unknown option " + Narrow(option);
            return false;
        }
    }
    if (options->name.empty() || options->name.find_first_of(L"\\/") != std::wstring::npos) {
        *error = "the name must be a plain pipe name";
        return false;
    }
    return true;
}
