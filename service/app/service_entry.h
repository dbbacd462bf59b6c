#pragma once
#include "service_host.h"

// The one service this program hosts.
extern SERVICEENTRY s_ServiceEntry;

constexpr wchar_t kServiceDisplayName[] = L"NDX Velmarine Management Service";

// The whole program: fills the host descriptor and runs it. Returns the process's exit code.
int RunServiceProgram(int argc, wchar_t **argv);
