#include "fake_legacy_driver.h"

#include <atomic>
#include <cstring>

using namespace legacyring;

namespace {

HANDLE const kControlDevice = reinterpret_cast<HANDLE>(0x1001);
HANDLE const kChannelDevice = reinterpret_cast<HANDLE>(0x2001);

uint64_t Load(uint64_t *word) { return std::atomic_ref<uint64_t>(*word).load(); }

} // namespace

FakeLegacyDriver *FakeLegacyDriver::s_Instance = nullptr;

FakeLegacyDriver::FakeLegacyDriver(const Config &config) : m_Config(config)
{
    s_Instance = this;
}

FakeLegacyDriver::~FakeLegacyDriver()
{
    if (m_ReceiveEvent != nullptr)
        CloseHandle(m_ReceiveEvent);
    s_Instance = nullptr;
}

void FakeLegacyDriver::Layout(Memory *memory, uint32_t buffers)
{
    memory->ring.assign((kHeaderSize + 8 * m_Config.slots) / 8, 0);
    memory->buffers.assign(size_t{buffers} << m_Config.shift, 0);
    uint8_t *slots = reinterpret_cast<uint8_t *>(memory->ring.data()) + kHeaderSize;
    *reinterpret_cast<uint32_t *>(slots - kMaskOffset) = m_Config.slots - 1;
    // What this side's peer puts is not ready for it: only the driver's own entries are.
    *reinterpret_cast<uint32_t *>(slots - kPutFlagsOffset) = 0;
    Attach(slots, &memory->view);
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
    record->SendRing = {reinterpret_cast<uintptr_t>(m_Send.view.slots), reinterpret_cast<uintptr_t>(m_Send.buffers.data()),
                        m_Config.shift, 0};
    record->ReceiveRing = {reinterpret_cast<uintptr_t>(m_Receive.view.slots),
                           reinterpret_cast<uintptr_t>(m_Receive.buffers.data()), m_Config.shift, 0};
    record->SendDoorbell = reinterpret_cast<uintptr_t>(&m_Doorbell);
    record->ReceiveEventNumber = m_Config.eventNumber;
    record->Status = 0;

    uint32_t offered = m_Config.sendEntryLength != 0 ? m_Config.sendEntryLength : (1u << m_Config.shift);
    for (uint32_t buffer = 0; buffer < m_Config.sendBuffers; ++buffer)
        PutWithFlags(m_Send.view, MakeEntry(buffer, offered), kReady);
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
    const Ring &ring = m_Send.view;
    uint32_t offered = m_Config.sendEntryLength != 0 ? m_Config.sendEntryLength : (1u << m_Config.shift);
    for (uint64_t index = Load(GetIndex(ring)); index < Load(PutIndex(ring)); ++index) {
        uint64_t *slot = SlotAt(ring, index);
        uint64_t value = Load(slot);
        if (!(value & kOccupied) || (value & kReady))
            continue;
        uint32_t entry = static_cast<uint32_t>(value & kEntryMask);
        uint32_t buffer = EntryBuffer(entry);
        // An entry given back without a packet frees its buffer and sends nothing.
        if (EntryLength(entry) != 0) {
            const uint8_t *at = m_Send.buffers.data() + (size_t{buffer} << m_Config.shift);
            sent.emplace_back(at, at + EntryLength(entry));
        }
        uint64_t freed = (value & ~kEntryMask) | MakeEntry(buffer, offered) | kReady;
        std::atomic_ref<uint64_t>(*slot).compare_exchange_strong(value, freed);
    }
    m_Doorbell = 0;
    return sent;
}

void FakeLegacyDriver::ReclaimReceiveBuffers()
{
    // The driver takes back, from the head of the ring, the buffers this side gave back.
    const Ring &ring = m_Receive.view;
    for (;;) {
        uint64_t head = Load(GetIndex(ring));
        if (head == Load(PutIndex(ring)))
            return;
        uint64_t *slot = SlotAt(ring, head);
        uint64_t value = Load(slot);
        if (!(value & kOccupied) || (value & kReady))
            return;
        if (!std::atomic_ref<uint64_t>(*GetIndex(ring)).compare_exchange_strong(head, head + 1))
            continue;
        std::atomic_ref<uint64_t>(*slot).compare_exchange_strong(value, Released(value));
        uint32_t buffer = EntryBuffer(static_cast<uint32_t>(value & kEntryMask));
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
    bool put = PutWithFlags(m_Receive.view, MakeEntry(buffer, static_cast<uint32_t>(packet.size())), kReady);
    if (m_ReceiveEvent != nullptr)
        SetEvent(m_ReceiveEvent);
    return put;
}

void FakeLegacyDriver::DeliverEntry(uint32_t entry)
{
    ReclaimReceiveBuffers();
    PutWithFlags(m_Receive.view, entry, kReady);
    if (m_ReceiveEvent != nullptr)
        SetEvent(m_ReceiveEvent);
}

void FakeLegacyDriver::SetResetting(bool resetting)
{
    for (Memory *memory : {&m_Send, &m_Receive})
        *HeaderWord(memory->view, kResetOffset) = resetting ? 1 : 0;
}

uint32_t FakeLegacyDriver::FreeSendBuffers() const
{
    uint32_t free = 0;
    const Ring &ring = m_Send.view;
    for (uint64_t index = Load(GetIndex(ring)); index < Load(PutIndex(ring)); ++index)
        if (Load(SlotAt(ring, index)) & kReady)
            ++free;
    return free;
}
