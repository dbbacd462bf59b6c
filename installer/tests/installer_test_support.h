#pragma once
// What the installer tests share: a private %ProgramFiles%, the installer log's lines, an MSI
// package for a real installation handle, and hooks that record instead of acting.
#include <windows.h>
#include <msi.h>

#include <string>
#include <vector>

namespace catest {

// Points %ProgramFiles% of this process at a fresh folder for the life of the object.
class ScopedProgramFiles {
public:
    explicit ScopedProgramFiles(const std::wstring &leaf = L"pf");
    ~ScopedProgramFiles();
    const std::wstring &Path() const { return m_Path; }

private:
    std::wstring m_Path;
    std::wstring m_Previous;
};

std::wstring TempFolder(const std::wstring &leaf);
void RemoveFolder(const std::wstring &path);
void WriteFileBytes(const std::wstring &path, const std::string &bytes);
std::string ReadFileBytes(const std::wstring &path);
bool FileExists(const std::wstring &path);
// The installer log's lines (UTF-16LE decoded), without their CR LF.
std::vector<std::wstring> LogLines();
// Only the message part of each line ("<category>, \t|<function>|, <message>").
std::vector<std::wstring> LogMessages();

// An installation handle on a small package made for the test (Property table only).
class TestPackage {
public:
    explicit TestPackage(const wchar_t *productVersion);
    ~TestPackage();
    MSIHANDLE Handle() const { return m_Handle; }
    std::wstring Property(const wchar_t *name) const;

private:
    std::wstring m_Path;
    MSIHANDLE m_Handle = 0;
};

struct Recorded {
    std::vector<std::wstring> commands;  // application + " | " + command line
    std::vector<DWORD> configLevels;
    std::wstring description;
    std::vector<SC_ACTION> failureActions;
    bool devicePresent = false;
};
Recorded &Recorder();
// Installs recording hooks and clears the record; the destructor brings back the real calls.
class ScopedRecordingHooks {
public:
    ScopedRecordingHooks();
    ~ScopedRecordingHooks();
};

std::string Narrow(const std::wstring &text);

}  // namespace catest
