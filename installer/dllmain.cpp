// qzrtlmca.dll: the custom actions of the product's Windows Installer package. Loading the library
// does nothing; Windows Installer calls the exports by name.
#include <windows.h>
#include <msi.h>

#include "installer_actions.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

extern "C" {
UINT __stdcall DepCheck(MSIHANDLE installation) { return tlmca::DepCheck(installation); }
UINT __stdcall PostInstall(MSIHANDLE installation) { return tlmca::PostInstall(installation); }
UINT __stdcall PostUninstall(MSIHANDLE installation) { return tlmca::PostUninstall(installation); }
UINT __stdcall PreInstall(MSIHANDLE installation) { return tlmca::PreInstall(installation); }
UINT __stdcall PreUninstall(MSIHANDLE installation) { return tlmca::PreUninstall(installation); }
}
