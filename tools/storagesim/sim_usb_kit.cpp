#include "sim_usb_kit.h"

#include <cstring>
#include <string>

SimKitLogDisk::SimKitLogDisk(const std::vector<std::string> &records, size_t size) : m_Bytes(size, 0xFF)
{
    SetRecords(records);
}

void SimKitLogDisk::SetRecords(const std::vector<std::string> &records)
{
    const size_t size = m_Bytes.size();
    m_Bytes.clear();
    for (const std::string &record : records) {
        m_Bytes.insert(m_Bytes.end(), record.begin(), record.end());
        m_Bytes.push_back(0);
    }
    m_Bytes.resize(size, 0xFF);
}

DWORD SimKitLogDisk::Read(void *out, DWORD size, DWORD *read)
{
    *read = 0;
    ++m_Reads;
    if (size % kSectorBytes != 0)   // a raw disk reads whole sectors, buffered or not
        return ERROR_INVALID_PARAMETER;
    const DWORD count = size < m_Bytes.size() ? size : static_cast<DWORD>(m_Bytes.size());
    std::memcpy(out, m_Bytes.data(), count);
    *read = count;
    return 0;
}
