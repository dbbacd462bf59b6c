// The physical adapter's use of the miniport layer's link, firmware and resource queries.
#include "physical_adapter.h"

#include "adapter_text.h"
#include "miniport.h"
#include "trap.h"
#include "win32_net_adapter.h"

#include <cstring>
#include <cwchar>

DWORD CPhysicalAdapter::ReadDynamicData(MINIPORTDYNAMICDATA *data)
{
    data->condition = 1;
    data->duplexState = 1;
    data->linkSpeed = 0;
    return m_Miniport->GetDynamicData(data);
}

const char *CPhysicalAdapter::ReadFirmware()
{
    const char *version = m_Miniport->GetFWVersion();
    return version != nullptr ? version : "";
}

int CPhysicalAdapter::AssignPhysicalResources(CWin32NetAdapterList *adapters, CMiniport *miniport)
{
    static constexpr wchar_t kFunction[] = L"CPhysicalAdapter::AssignPhysicalResources";
    LOG_VERBOSE(kFunction, L"Assign physical resources.");
    ADAPTERRESOURCES resources = {};
    if (adapters == nullptr || miniport == nullptr || adapters->GetResources(*miniport, &resources) == 0) {
        LOG_WARNING(kFunction, L"Can't obtain resources.");
        return 0;
    }
    if (m_Miniport == nullptr && SetMiniport(miniport) == 0)
        return 0;
    m_Record.IoBase = resources.ioBase;
    m_Record.ResourceWord = resources.resourceWord;
    m_Record.MemoryBase = resources.memoryBase;
    m_Record.Slot = resources.uiNumber == -1 ? 0 : resources.uiNumber;
    m_Segment = static_cast<int32_t>(resources.segment);
    m_Bus = static_cast<uint8_t>(resources.bus);
    m_Device = static_cast<int32_t>(resources.device);
    m_Function = static_cast<int32_t>(resources.function);
    m_Location = resources.port;
    m_Miniport->SetPCIDeviceID(resources.pciId);
    m_Miniport->SetSubsystemID(resources.subsystemId);
    m_Record.PciId = resources.pciId;
    m_Record.SubsystemId = resources.subsystemId;
    std::memset(m_DeviceName, 0, sizeof(m_DeviceName));
    if (resources.friendlyName != nullptr)
        wcsncpy(m_DeviceName, resources.friendlyName, sizeof(m_DeviceName) / sizeof(wchar_t) - 1);
    // The position this adapter registers with is the one its condition is stored under, even
    // when the port map later gives it another slot number.
    m_Registered = {m_Record.Slot, m_Segment, m_Bus, m_Device, m_Function};
    if (m_TrapTable != nullptr)
        m_Record.Condition = static_cast<uint8_t>(
            m_TrapTable->AddAdapterToStateTable(static_cast<unsigned>(m_Registered.slot),
                                                static_cast<unsigned>(m_Registered.segment), m_Registered.bus,
                                                m_Registered.device, m_Registered.function));

    delete[] m_ServiceName;
    m_ServiceName = nullptr;
    const int result = adapters->GetServiceName(*miniport, &m_ServiceName);
    if (result == 1)
        m_Miniport->SetAdapterType(m_ServiceName);
    else
        LOG_WARNING(kFunction, L"Can't obtain service name.");

    miniport->GetPermPhysAddr(m_Record.MacAddress, sizeof(m_Record.MacAddress));
    WideToAnsiField(m_Miniport->GetPartNumber(), m_Record.PartNumber, sizeof(m_Record.PartNumber));
    WideToAnsiField(m_DeviceName, m_Record.Name, sizeof(m_Record.Name));
    CopyTextField(ReadFirmware(), m_Record.Firmware, sizeof(m_Record.Firmware));
    LOG_INFO(kFunction, L"Firmware version: %hs", m_Record.Firmware);
    return result;
}
