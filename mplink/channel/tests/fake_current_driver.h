#pragma once
// An in-process current-generation channel driver for tests: it completes every operation at once
// and reports the byte counts it is told to, as a driver gone wrong might. The backend of
// fake_backend.cpp reaches the one that exists.

#include "zdt_ci.h"

#include <windows.h>

#include <cstdint>
#include <vector>

class FakeCurrentDriver {
public:
    // A driver installed anew: the next call probes again, whatever an earlier test found.
    FakeCurrentDriver()
    {
        s_Instance = this;
        ZdtCiForgetGenerationForTest();
    }
    ~FakeCurrentDriver() { s_Instance = nullptr; }
    FakeCurrentDriver(const FakeCurrentDriver &) = delete;
    FakeCurrentDriver &operator=(const FakeCurrentDriver &) = delete;

    // When not 0, every operation fails with it as it is issued.
    DWORD failWith = 0;
    // What a write reports as written; -1: all of it.
    long long writeReports = -1;
    // What the next read delivers, and what it reports as read; -1: the packet's size.
    std::vector<uint8_t> nextPacket;
    long long readReports = -1;

    std::vector<std::vector<uint8_t>> written;
    std::vector<DWORD> controls;
    int opens = 0;
    int closes = 0;

    static FakeCurrentDriver *s_Instance;
};
