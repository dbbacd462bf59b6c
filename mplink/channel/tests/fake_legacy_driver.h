#pragma once
// An in-process legacy channel driver for tests: it answers the open control with rings and buffers
// in this process's memory, and plays the driver's side of the rings on request. The backend of
// fake_backend.cpp reaches the one that exists.

#include "legacy_record.h"

#include <windows.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

class FakeLegacyDriver {
public:
    struct Config {
        uint32_t freeChannels = 1;
        std::string channelName = "ZdtCiCh7";
        uint32_t eventNumber = 7;
        bool createEvent = true;
        uint32_t slots = 8;
        uint32_t shift = 12;           // 4096-byte buffers
        uint32_t sendBuffers = 2;
        uint32_t receiveBuffers = 2;
        uint32_t sendEntryLength = 0;  // what a free send buffer offers; 0: the whole buffer
        uint32_t putFlags = 0x800000;  // the header's put flags of both rings: taken, not ready
    };

    static FakeLegacyDriver *s_Instance;

    explicit FakeLegacyDriver(const Config &config);
    ~FakeLegacyDriver();
    FakeLegacyDriver(const FakeLegacyDriver &) = delete;
    FakeLegacyDriver &operator=(const FakeLegacyDriver &) = delete;

    // Takes the packets sent since the last call and frees their buffers.
    std::vector<std::vector<uint8_t>> Pump();
    // One packet into the receive ring, and the receive event set; false when no buffer is free.
    bool Deliver(const std::vector<uint8_t> &packet);
    // An entry exactly as given (a literal slot word's low 22 bits), as a driver gone wrong would put it.
    void DeliverEntry(uint32_t entry);
    void SetResetting(bool resetting);
    // Free send buffers waiting in the send ring.
    uint32_t FreeSendBuffers() const;
    uint32_t Doorbell() const { return m_Doorbell; }
    // The word of a slot of the send ring, as the driver reads it.
    uint64_t SendSlot(uint32_t slot) const;
    // Words this side put that were not exactly the free slot's word, the entry and the put flags.
    int wrongPutWords = 0;

    // Calls of the backend.
    HANDLE Open(const char *path);
    BOOL Control(HANDLE device, DWORD code, void *input, DWORD inputSize, void *output, DWORD outputSize);
    void Close(HANDLE device);

    const Config &Settings() const { return m_Config; }
    std::vector<std::string> openedPaths;
    std::set<HANDLE> openHandles;
    LEGACY_CHANNEL_RECORD lastRequest{};
    int armControls = 0;

private:
    struct Memory {
        std::vector<uint64_t> ring;
        std::vector<uint8_t> buffers;
        uint8_t *R = nullptr;  // the slot array; the header lies before it
        // What each slot must hold once free: the driver knows every word it wrote or released.
        std::vector<uint64_t> freeWord;
        uint64_t checkedPut = 0; // the put index up to which this side's puts were checked
    };
    void Layout(Memory *memory, uint32_t buffers);
    void CheckPuts(Memory *memory);
    bool Put(Memory *memory, uint32_t entry);
    void ReclaimReceiveBuffers();

    Config m_Config;
    Memory m_Send;
    Memory m_Receive;
    alignas(8) uint32_t m_Doorbell = 0;
    std::vector<uint32_t> m_ReceivePool; // receive buffers the driver holds
    HANDLE m_ReceiveEvent = nullptr;
    bool m_ChannelOpen = false;
};
