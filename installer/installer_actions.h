#pragma once
// The custom actions of the product's Windows Installer package and the steps they share.
// Each action takes the installation handle and returns a Win32 code; none of them fails the
// installation except DepCheck, which reports an absent management-processor driver with 10.

#include <windows.h>
#include <msi.h>

#include <string>

namespace tlmca {

// ---- install ----
UINT DepCheck(MSIHANDLE installation);
UINT PreInstall(MSIHANDLE installation);
UINT PostInstall(MSIHANDLE installation);

bool IsDevicePresent(const wchar_t *deviceName);
std::wstring GetInstalledServiceVersion();
std::wstring GetMsiProductVersion(MSIHANDLE installation);
void WriteLogConfiguration();
int IsServiceInstalled(const wchar_t *serviceName);
int InstallService(const wchar_t *serviceName, const wchar_t *relativeExecutable, const wchar_t *displayName,
                   const wchar_t *description);
void RewriteManifestFile(const std::wstring &manifestPath);
void InstallMessageDllIfNeeded(const wchar_t *libraryName);
void DefineEventSourceIfNeeded(const wchar_t *sourceName, const wchar_t *libraryName);
void RemoveGuiOnServerCore();

// ---- uninstall ----
UINT PreUninstall(MSIHANDLE installation);
UINT PostUninstall(MSIHANDLE installation);

int StopAndDeleteService(const wchar_t *serviceName);
int DeleteKeyTreeWithRetry(HKEY root, const wchar_t *subkey);
// Deletes subkey's tree, then each parent up to (and including) `top` that is left without
// subkeys and values.
void DeleteTreeAndEmptyParents(HKEY root, const std::wstring &subkey, const std::wstring &top);

// The file version of a file as "%d.%d.%d.%d", or "NA".
std::wstring FileVersionText(const std::wstring &path);

}  // namespace tlmca
