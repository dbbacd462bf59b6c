#pragma once
#include "datacollector.h"
#include "stdeq_pcie_rules.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

// One PCI function as the collector found it, zeroed before it is filled. A copy's class-code
// text points into the copy's own IDs.
struct PCI_DEVICE_INFO {
    PCI_DEVICE_INFO() { std::memset(this, 0, sizeof *this); }
    PCI_DEVICE_INFO(const PCI_DEVICE_INFO &other) { *this = other; }
    PCI_DEVICE_INFO &operator=(const PCI_DEVICE_INFO &other)
    {
        if (this != &other) {
            std::memcpy(static_cast<void *>(this), &other, sizeof *this);
            if (other.ClassCodeText != nullptr)
                ClassCodeText = Ids + (other.ClassCodeText - other.Ids);
        }
        return *this;
    }

    char Name[512];
    // The instance ID, replaced by the hardware IDs one after the other, each with its NUL.
    char Ids[512];
    // The text after "CC_" inside Ids, or null.
    const char *ClassCodeText;
    const char *ClassName;
    uint32_t UiNumber;
    int32_t Function;
    int32_t Device;
    int32_t Bus;
    uint16_t VendorId;
    uint16_t DeviceId;
    uint8_t Revision;
    uint8_t ProgIf;
    uint8_t SubClass;
    uint8_t BaseClass;
    uint32_t Subsystem;
};

// The standard-equipment collector: PCI slots and functions, PCIe disks and the SD/USB storage
// kit, with their traps. Its objects lie outside a group of its own (group 0), so the scheduler
// publishes no revision, interval or status entry for it. The lists keep the devices of the last
// cycle, for the change traps.
class ZDTSTDEQDataCollector : public DATACOLLECTOR {
public:
    ZDTSTDEQDataCollector();
    ~ZDTSTDEQDataCollector() override;

    // The PCI and PCIe disk subtrees, and the kit's too, each tried; the last failure's code, or 0.
    int Register(AXSESSION *session) override;
    void Collect(int firstRun, DATASTORE *staging) override;

    void Collect_zdtSePci(int firstRun, DATASTORE *staging);
    int CheckPciChanges();
    void ComparePciLists(const std::vector<PCI_DEVICE_INFO> &previous, const std::vector<PCI_DEVICE_INFO> &current);
    size_t SavePciList(const std::vector<PCI_DEVICE_INFO> &current);
    void SendPciTrap(unsigned trapNumber, const PCI_DEVICE_INFO &device);

    void Collect_zdtSePcieDisk(int firstRun, DATASTORE *staging);
    int UpdatePcieDiskData();
    void ComparePcieDiskLists(const std::vector<PCIE_DISK_INFO> &previous, const std::vector<PCIE_DISK_INFO> &current);
    size_t SavePcieDiskList(const std::vector<PCIE_DISK_INFO> &current);
    void SendPcieDiskTrap(unsigned trapNumber, const PCIE_DISK_INFO &disk);
    void Collect_zdtSeUSBPort(int firstRun, DATASTORE *staging);

    const std::vector<PCI_DEVICE_INFO> &PreviousPciList() const { return m_PreviousPci; }
    const std::vector<PCI_DEVICE_INFO> &CurrentPciList() const { return m_CurrentPci; }
    const std::vector<PCIE_DISK_INFO> &PreviousPcieDiskList() const { return m_PreviousPcieDisks; }
    // Tests: back to the state after construction.
    void ForgetDevices();

private:
    std::vector<PCIE_DISK_INFO> m_PreviousPcieDisks;
    std::vector<PCI_DEVICE_INFO> m_PreviousPci;
    std::vector<PCI_DEVICE_INFO> m_CurrentPci;
};

extern ZDTSTDEQDataCollector s_ZDTSTDEQDataCollector;

struct USB_KIT_STATE;
// The kit's state of the last kit step that found the kit.
extern USB_KIT_STATE s_UsbKitState;
// One kit trap: the common frame with trap flags from the kit condition and the row index 1.
void SendUsbKitTrap(unsigned trapNumber, int card, const USB_KIT_STATE &state);

// The collector's traps take the host collectors' common frame.
#include "host_trap.h"
