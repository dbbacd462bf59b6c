#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <filesystem>
#include <fstream>
#include <wtypes.h>
#include <gtest/gtest.h>

#include "installer_log.h"
#include "installer_paths.h"
#include "installer_test_support.h"

namespace catest {

std::wstring TempFolder(const std::wstring &leaf)
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring path = std::wstring(base) + L"tlmca-" + std::to_wstring(GetCurrentProcessId()) + L"-" + leaf;
    RemoveFolder(path);
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

void RemoveFolder(const std::wstring &path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveFolder(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

ScopedProgramFiles::ScopedProgramFiles(const std::wstring &leaf) : m_Path(TempFolder(leaf))
{
    wchar_t previous[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"ProgramFiles", previous, MAX_PATH);
    m_Previous = previous;
    SetEnvironmentVariableW(L"ProgramFiles", m_Path.c_str());
}

ScopedProgramFiles::~ScopedProgramFiles()
{
    SetEnvironmentVariableW(L"ProgramFiles", m_Previous.c_str());
    RemoveFolder(m_Path);
}

void WriteFileBytes(const std::wstring &path, const std::string &bytes)
{
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileBytes(const std::wstring &path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> LogLines()
{
    const std::string bytes = ReadFileBytes(InstallerLogFolder() + L"installer.log");
    std::wstring text(bytes.size() / 2, L'\0');
    memcpy(text.data(), bytes.data(), text.size() * 2);
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::vector<std::wstring> LogMessages()
{
    std::vector<std::wstring> messages;
    for (const std::wstring &line : LogLines()) {
        const size_t bar = line.find(L"|, ");
        messages.push_back(bar == std::wstring::npos ? line : line.substr(bar + 3));
    }
    return messages;
}

std::string Narrow(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

TestPackage::TestPackage(const wchar_t *productVersion)
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    m_Path = std::wstring(base) + L"tlmca-" + std::to_wstring(GetCurrentProcessId()) + L".msi";
    DeleteFileW(m_Path.c_str());
    MSIHANDLE database = 0;
    EXPECT_EQ(0u, MsiOpenDatabaseW(m_Path.c_str(), MSIDBOPEN_CREATE, &database));
    MSIHANDLE summary = 0;
    if (MsiGetSummaryInformationW(database, nullptr, 20, &summary) == 0) {
        MsiSummaryInfoSetPropertyW(summary, 7 /*PID_TEMPLATE*/, VT_LPSTR, 0, nullptr, L"x64;1033");
        MsiSummaryInfoSetPropertyW(summary, 9 /*PID_REVNUMBER*/, VT_LPSTR, 0, nullptr,
                                   L"{0B5D6D0B-3C3A-4B5E-9D39-2A0F2F0C7A11}");
        MsiSummaryInfoSetPropertyW(summary, 14 /*PID_PAGECOUNT*/, VT_I4, 200, nullptr, nullptr);
        MsiSummaryInfoSetPropertyW(summary, 15 /*PID_WORDCOUNT*/, VT_I4, 2, nullptr, nullptr);
        MsiSummaryInfoPersist(summary);
        MsiCloseHandle(summary);
    }
    auto exec = [&](const std::wstring &sql) {
        MSIHANDLE view = 0;
        EXPECT_EQ(0u, MsiDatabaseOpenViewW(database, sql.c_str(), &view)) << Narrow(sql);
        EXPECT_EQ(0u, MsiViewExecute(view, 0)) << Narrow(sql);
        MsiViewClose(view);
        MsiCloseHandle(view);
    };
    exec(L"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` CHAR(0) NOT NULL PRIMARY KEY `Property`)");
    exec(L"INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductCode', '{6E2C7B7A-1F4B-4B8E-9B0A-3C1D2E3F4A5B}')");
    if (productVersion != nullptr)
        exec(std::wstring(L"INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductVersion', '") +
             productVersion + L"')");
    EXPECT_EQ(0u, MsiDatabaseCommit(database));
    MsiCloseHandle(database);
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    EXPECT_EQ(0u, MsiOpenPackageW(m_Path.c_str(), &m_Handle));
}

TestPackage::~TestPackage()
{
    if (m_Handle != 0)
        MsiCloseHandle(m_Handle);
    DeleteFileW(m_Path.c_str());
}

std::wstring TestPackage::Property(const wchar_t *name) const
{
    wchar_t value[256] = L"";
    DWORD size = 256;
    if (MsiGetPropertyW(m_Handle, name, value, &size) != 0)
        return L"<error>";
    return value;
}

namespace {

Recorded s_Recorded;

bool RecordDevice(const wchar_t *)
{
    return s_Recorded.devicePresent;
}

int RecordCommand(const std::wstring &application, const std::wstring &commandLine)
{
    s_Recorded.commands.push_back(application + L" | " + commandLine);
    return 0;
}

BOOL RecordConfig(SC_HANDLE, DWORD level, void *info)
{
    s_Recorded.configLevels.push_back(level);
    if (level == SERVICE_CONFIG_DESCRIPTION) {
        s_Recorded.description = static_cast<SERVICE_DESCRIPTIONW *>(info)->lpDescription;
    } else if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
        const auto *actions = static_cast<SERVICE_FAILURE_ACTIONSW *>(info);
        s_Recorded.failureActions.assign(actions->lpsaActions, actions->lpsaActions + actions->cActions);
    }
    return TRUE;
}

}  // namespace

Recorded &Recorder()
{
    return s_Recorded;
}

ScopedRecordingHooks::ScopedRecordingHooks()
{
    s_Recorded = Recorded{};
    tlmca::SetInstallerHooksForTest({&RecordDevice, &RecordCommand, &RecordConfig});
}

ScopedRecordingHooks::~ScopedRecordingHooks()
{
    tlmca::SetInstallerHooksForTest({});
}

}  // namespace catest
