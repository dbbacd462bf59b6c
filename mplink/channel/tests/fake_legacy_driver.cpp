#include "fake_legacy_driver.h"

#include <gtest/gtest.h>

#include "zdt_ci.h"

#include <atomic>
#include <cstddef>
#include <cstring>

namespace {

HANDLE const kControlDevice = reinterpret_cast<HANDLE>(0x1001);
HANDLE const kChannelDevice = reinterpret_cast<HANDLE>(0x2001);

// The driver's side of the shared rings in the driver's own numbers, never in the constants and
// helpers of the code under test, so that a wrong bit or offset there cannot agree with itself.
// R is the slot array; the 0x180-byte header lies before it.
constexpr size_t kHeaderBytes = 0x180;
constexpr ptrdiff_t kMaskAt = -0x178, kPutFlagsAt = -0x170, kResetAt = -0x168, kGetIndexAt = -0x100,
                    kPutIndexAt = -0x80;
constexpr uint64_t kReadyBit = 0x400000, kOccupiedBit = 0x800000, kEntryBits = 0x3FFFFF;

uint32_t *Word32(uint8_t *R, ptrdiff_t at) { return reinterpret_cast<uint32_t *>(R + at); }
uint64_t *Word64(uint8_t *R, ptrdiff_t at) { return reinterpret_cast<uint64_t *>(R + at); }
uint64_t *Slot(uint8_t *R, uint64_t index) { return Word64(R, 8 * static_cast<ptrdiff_t>(index & *Word32(R, kMaskAt))); }
uint64_t Load(uint64_t *word) { return std::atomic_ref<uint64_t>(*word).load(); }
bool Cas(uint64_t *word, uint64_t expected, uint64_t desired)
{
    return std::atomic_ref<uint64_t>(*word).compare_exchange_strong(expected, desired);
}
// Buffer number in bits 10-21, length in 8-byte units in bits 0-9.
uint32_t DriverEntry(uint32_t buffer, uint32_t bytes) { return (buffer << 10) | ((bytes + 7) / 8); }
uint32_t DriverEntryBuffer(uint64_t slot) { return static_cast<uint32_t>(slot >> 10) & 0xFFF; }
uint32_t DriverEntryBytes(uint64_t slot) { return static_cast<uint32_t>(slot & 0x3FF) * 8; }
// Released: the low 24 bits clear and the generation counts up.
uint64_t ReleasedWord(uint64_t slot) { return (slot | 0xFFFFFF) + 1; }

} // namespace

// The driver puts its entries ready and occupied, by the ring's rules: a taken slot at the put
// index moves the index on, an occupied slot after it means full.
bool FakeLegacyDriver::Put(Memory *memory, uint32_t entry)
{
    CheckPuts(memory);
    uint8_t *R = memory->R;
    uint64_t *putIndex = Word64(R, kPutIndexAt);
    for (;;) {
        uint64_t c = Load(putIndex);
        uint64_t *slot = Slot(R, c);
        uint64_t value = Load(slot);
        if (value & kOccupiedBit) {
            Cas(putIndex, c, c + 1);
            continue;
        }
        if (Load(Slot(R, c + 1)) & kOccupiedBit)
            return false;
        uint64_t word = value | (entry & kEntryBits) | kReadyBit | kOccupiedBit;
        if (!Cas(slot, value, word))
            continue;
        // The other side takes the entry and releases its slot.
        memory->freeWord[c & (m_Config.slots - 1)] = ReleasedWord(word);
        Cas(putIndex, c, c + 1);
        memory->checkedPut = Load(putIndex);
        return true;
    }
}

// Every entry the other side put since the last look must be the free slot's word ORed with the
// entry and the put flags of the header, bit for bit: a word with a bit more or less is not one
// the driver would read as that side's entry.
void FakeLegacyDriver::CheckPuts(Memory *memory)
{
    uint8_t *R = memory->R;
    for (uint64_t put = Load(Word64(R, kPutIndexAt)); memory->checkedPut < put; ++memory->checkedPut) {
        uint64_t word = Load(Slot(R, memory->checkedPut));
        uint64_t expected =
            memory->freeWord[memory->checkedPut & (m_Config.slots - 1)] | (word & kEntryBits) | m_Config.putFlags;
        if (word != expected) {
            ++wrongPutWords;
            ADD_FAILURE() << "ring " << (memory == &m_Send ? "send" : "receive") << ", put index "
                          << memory->checkedPut << ": word 0x" << std::hex << word << ", expected 0x" << expected;
        }
    }
}

uint64_t FakeLegacyDriver::SendSlot(uint32_t slot) const
{
    return Load(Slot(m_Send.R, slot));
}

FakeLegacyDriver *FakeLegacyDriver::s_Instance = nullptr;

FakeLegacyDriver::FakeLegacyDriver(const Config &config) : m_Config(config)
{
    s_Instance = this;
    // A driver installed anew: the next call probes again, whatever an earlier test found.
    ZdtCiForgetGenerationForTest();
}

FakeLegacyDriver::~FakeLegacyDriver()
{
    if (m_ReceiveEvent != nullptr)
        CloseHandle(m_ReceiveEvent);
    s_Instance = nullptr;
}

void FakeLegacyDriver::Layout(Memory *memory, uint32_t buffers)
{
    memory->ring.assign((kHeaderBytes + 8 * m_Config.slots) / 8, 0);
    memory->buffers.assign(size_t{buffers} << m_Config.shift, 0);
    memory->R = reinterpret_cast<uint8_t *>(memory->ring.data()) + kHeaderBytes;
    memory->freeWord.assign(m_Config.slots, 0);
    memory->checkedPut = 0;
    *Word32(memory->R, kMaskAt) = m_Config.slots - 1;
    // What this side's peer puts is taken but not ready for it: only the driver's own entries are.
    *Word32(memory->R, kPutFlagsAt) = m_Config.putFlags;
}

HANDLE FakeLegacyDriver::Open(const char *path)
{
    openedPaths.push_back(path);
    HANDLE device = nullptr;
    if (std::string(path) == "\\\\.\\Global\\ZdtCiAO0")
        device = kControlDevice;
    else if (m_ChannelOpen && std::string(path) == "\\\\.\\Global\\" + m_Config.channelName)
        device = kChannelDevice;
    if (device == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    openHandles.insert(device);
    return device;
}

void FakeLegacyDriver::Close(HANDLE device)
{
    openHandles.erase(device);
}

BOOL FakeLegacyDriver::Control(HANDLE device, DWORD code, void *input, DWORD inputSize, void *output, DWORD outputSize)
{
    if (device == kChannelDevice && code == kLegacyArmReceiveControl) {
        ++armControls;
        return TRUE;
    }
    if (device != kControlDevice || code != kLegacyOpenChannelControl || input != output ||
        inputSize != sizeof(LEGACY_CHANNEL_RECORD) || outputSize != sizeof(LEGACY_CHANNEL_RECORD)) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    auto *record = static_cast<LEGACY_CHANNEL_RECORD *>(output);
    lastRequest = *record;
    if (m_Config.freeChannels == 0) {
        record->Status = 12;
        return TRUE;
    }
    --m_Config.freeChannels;
    m_ChannelOpen = true;

    std::memset(record->DeviceName, 0, sizeof(record->DeviceName));
    std::memcpy(record->DeviceName, m_Config.channelName.data(),
                m_Config.channelName.size() < 64 ? m_Config.channelName.size() : 64);
    Layout(&m_Send, m_Config.sendBuffers);
    Layout(&m_Receive, m_Config.receiveBuffers);
    record->SendRing = {reinterpret_cast<uintptr_t>(m_Send.R), reinterpret_cast<uintptr_t>(m_Send.buffers.data()),
                        m_Config.shift, 0};
    record->ReceiveRing = {reinterpret_cast<uintptr_t>(m_Receive.R),
                           reinterpret_cast<uintptr_t>(m_Receive.buffers.data()), m_Config.shift, 0};
    record->SendDoorbell = reinterpret_cast<uintptr_t>(&m_Doorbell);
    record->ReceiveEventNumber = m_Config.eventNumber;
    record->Status = 0;

    uint32_t offered = m_Config.sendEntryLength != 0 ? m_Config.sendEntryLength : (1u << m_Config.shift);
    for (uint32_t buffer = 0; buffer < m_Config.sendBuffers; ++buffer)
        Put(&m_Send, DriverEntry(buffer, offered));
    m_ReceivePool.clear();
    for (uint32_t buffer = 0; buffer < m_Config.receiveBuffers; ++buffer)
        m_ReceivePool.push_back(buffer);
    if (m_Config.createEvent) {
        std::string name = "Global\\ZdtCiReceive" + std::to_string(m_Config.eventNumber);
        m_ReceiveEvent = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    }
    return TRUE;
}

std::vector<std::vector<uint8_t>> FakeLegacyDriver::Pump()
{
    std::vector<std::vector<uint8_t>> sent;
    CheckPuts(&m_Send);
    uint8_t *R = m_Send.R;
    uint32_t offered = m_Config.sendEntryLength != 0 ? m_Config.sendEntryLength : (1u << m_Config.shift);
    for (uint64_t index = Load(Word64(R, kGetIndexAt)); index < Load(Word64(R, kPutIndexAt)); ++index) {
        uint64_t *slot = Slot(R, index);
        uint64_t value = Load(slot);
        if (!(value & kOccupiedBit) || (value & kReadyBit))
            continue;
        uint32_t buffer = DriverEntryBuffer(value);
        // An entry given back without a packet frees its buffer and sends nothing.
        if (DriverEntryBytes(value) != 0) {
            const uint8_t *at = m_Send.buffers.data() + (size_t{buffer} << m_Config.shift);
            sent.emplace_back(at, at + DriverEntryBytes(value));
        }
        uint64_t offer = (value & ~uint64_t{0xFFFFFF}) | DriverEntry(buffer, offered) | kReadyBit | kOccupiedBit;
        if (Cas(slot, value, offer))
            m_Send.freeWord[index & (m_Config.slots - 1)] = ReleasedWord(offer);
    }
    m_Doorbell = 0;
    return sent;
}

void FakeLegacyDriver::ReclaimReceiveBuffers()
{
    // The driver takes back, from the head of the ring, the buffers this side gave back.
    CheckPuts(&m_Receive);
    uint8_t *R = m_Receive.R;
    for (;;) {
        uint64_t head = Load(Word64(R, kGetIndexAt));
        if (head == Load(Word64(R, kPutIndexAt)))
            return;
        uint64_t *slot = Slot(R, head);
        uint64_t value = Load(slot);
        if (!(value & kOccupiedBit) || (value & kReadyBit))
            return;
        if (!Cas(Word64(R, kGetIndexAt), head, head + 1))
            continue;
        if (Cas(slot, value, ReleasedWord(value)))
            m_Receive.freeWord[head & (m_Config.slots - 1)] = ReleasedWord(value);
        uint32_t buffer = DriverEntryBuffer(value);
        if (buffer < m_Config.receiveBuffers)
            m_ReceivePool.push_back(buffer);
    }
}

bool FakeLegacyDriver::Deliver(const std::vector<uint8_t> &packet)
{
    ReclaimReceiveBuffers();
    if (m_ReceivePool.empty() || packet.size() > (1u << m_Config.shift))
        return false;
    uint32_t buffer = m_ReceivePool.back();
    m_ReceivePool.pop_back();
    std::memcpy(m_Receive.buffers.data() + (size_t{buffer} << m_Config.shift), packet.data(), packet.size());
    bool put = Put(&m_Receive, DriverEntry(buffer, static_cast<uint32_t>(packet.size())));
    if (m_ReceiveEvent != nullptr)
        SetEvent(m_ReceiveEvent);
    return put;
}

void FakeLegacyDriver::DeliverEntry(uint32_t entry)
{
    ReclaimReceiveBuffers();
    Put(&m_Receive, entry);
    if (m_ReceiveEvent != nullptr)
        SetEvent(m_ReceiveEvent);
}

void FakeLegacyDriver::SetResetting(bool resetting)
{
    for (Memory *memory : {&m_Send, &m_Receive})
        *Word32(memory->R, kResetAt) = resetting ? 1 : 0;
}

uint32_t FakeLegacyDriver::FreeSendBuffers() const
{
    uint32_t free = 0;
    uint8_t *R = m_Send.R;
    for (uint64_t index = Load(Word64(R, kGetIndexAt)); index < Load(Word64(R, kPutIndexAt)); ++index)
        if (Load(Slot(R, index)) & kReadyBit)
            ++free;
    return free;
}
