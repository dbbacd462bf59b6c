#pragma once
// The interface list as the collection thread's generation of the adapter model.

#include "nic_generation.h"

INicGeneration *NewIfListGeneration();
// The thread's COM with the LBFO WMI connection, for NicThreadComStart and NicThreadComEnd.
HRESULT IfListThreadComStart(HANDLE stopEvent);
void IfListThreadComEnd(HRESULT started);
