#pragma once
#include "service_host.h"

// The one service this program hosts.
extern SERVICEENTRY s_ServiceEntry;

constexpr wchar_t kServiceDisplayName[] = L"NDX Velmarine Management Service";
