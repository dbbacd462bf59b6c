#pragma once
// Small simulated SAS fabrics for the discovery engine's tests: adapters behind SCSI ports with
// their PHYs, SAS and SATA drives on adapter phys or behind SMP expanders, and the engine reset
// as a new process finds it.

#include "sas_engine.h"
#include "sim_csmi.h"
#include "sim_sas_devices.h"
#include "storage_box.h"
#include "storagesim.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace sastest {

// Board ids: one of kind 3, one of each other kind by number, and the generic pattern.
inline uint32_t BoardOfKind(uint8_t kind)
{
    static const uint32_t kBoards[] = {0x30A01000, 0, 0, 0x7A100031, 0x7A100040, 0x7A100050, 0x7A100060,
                                       0x7A100070, 0x7A100080, 0x7A100090, 0x7A1000A0, 0x7A1000B0, 0x7A1000C0,
                                       0x7A1000D0};
    return kind == 2 ? kBoards[0] : kBoards[kind];
}

inline std::array<uint8_t, 8> Address(uint64_t n)
{
    std::array<uint8_t, 8> out{};
    SimSasAddress(n, out.data());
    return out;
}

struct Adapter {
    std::shared_ptr<SimScsiPort> Port;
    std::shared_ptr<SimCsmiController> Csmi;
    std::vector<SimCsmiController::Phy> Phys;

    // An end device on an adapter phy: SSP (8) or SATA (1).
    void AttachDrive(uint8_t phy, uint64_t address, std::shared_ptr<SimSasTarget> target, uint8_t flags = 8)
    {
        SimCsmiController::Phy p;
        p.PhyIdentifier = phy;
        p.PortIdentifier = phy;
        p.AttachedDeviceType = 0x10;
        p.AttachedTargetProtocol = flags;
        SimSasAddress(address, p.AttachedSasAddress);
        Phys.push_back(p);
        Csmi->Attach(phy, p.AttachedSasAddress, std::move(target));
        Csmi->SetPhys(Phys);
    }
    // An expander on adapter phys (more than one: a wide port).
    void AttachExpander(std::vector<uint8_t> phys, std::shared_ptr<SimSmpExpander> expander)
    {
        for (uint8_t phy : phys) {
            SimCsmiController::Phy p;
            p.PhyIdentifier = phy;
            p.PortIdentifier = phys[0];
            p.AttachedDeviceType = 0x20;
            p.AttachedTargetProtocol = 2;
            std::memcpy(p.AttachedSasAddress, expander->SasAddress, 8);
            Phys.push_back(p);
            Csmi->Attach(phy, expander->SasAddress, expander);
        }
        Csmi->SetPhys(Phys);
    }
    // A device reached through an expander on adapter phy `phy`: requests carry that phy.
    void Behind(uint8_t phy, uint64_t address, std::shared_ptr<SimSasTarget> target)
    {
        Csmi->Attach(phy, Address(address).data(), std::move(target));
    }
    void Detach(uint8_t phy)
    {
        for (size_t i = 0; i < Phys.size(); ++i)
            if (Phys[i].PhyIdentifier == phy) {
                Phys.erase(Phys.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        Csmi->SetPhys(Phys);
    }
};

inline std::shared_ptr<SimScsiDisk> Disk(const char *serial, const char *product = "SIM300")
{
    auto disk = std::make_shared<SimScsiDisk>();
    disk->SetIdentity("QZ", product, "A1B2", serial);
    return disk;
}

inline std::shared_ptr<SimSmpExpander> Expander(uint64_t address)
{
    auto expander = std::make_shared<SimSmpExpander>();
    SimSasAddress(address, expander->SasAddress);
    return expander;
}

class SasFabricTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SasResetForTest();
        ResetStorageBoxListForTest();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SYSTEM\\QZTLMStorage");
    }
    void TearDown() override { SasResetForTest(); }

    // An accepted adapter of a kind behind port `port` of a server (the fixture's by default).
    static Adapter AdapterOn(StorageSim &server, unsigned port, uint8_t kind)
    {
        Adapter adapter;
        adapter.Port = server.AddScsiPort(port);
        adapter.Csmi = std::make_shared<SimCsmiController>();
        adapter.Csmi->SetConfig(BoardOfKind(kind), 3, 0, 0, 0, "HBA-SN", {1, 2, 3, 4}, {5, 6, 7, 8});
        adapter.Csmi->SetStatus(1);
        adapter.Csmi->SetPhys({});
        adapter.Port->Csmi = adapter.Csmi;
        return adapter;
    }
    Adapter AddAdapter(unsigned port, uint8_t kind) { return AdapterOn(sim, port, kind); }

    // One refresh through the drive export; the drives as the engine now holds them.
    std::vector<SAS_PHYDRV_RECORD> Drives(int *result = nullptr)
    {
        int32_t count = 0;
        int rc = SasGetPhysicalDriveList(nullptr, &count);
        if (result)
            *result = rc;
        std::vector<SAS_PHYDRV_RECORD> drives;
        for (SAS_HBA_NODE *hba = s_SasDiscovery.First; hba != nullptr; hba = hba->Next)
            for (SAS_DRIVE_NODE *drive = hba->Drives; drive != nullptr; drive = drive->Next)
                drives.push_back(drive->Record);
        EXPECT_EQ(static_cast<size_t>(count), drives.size());
        return drives;
    }

    std::vector<SAS_HBA_RECORD> Hbas()
    {
        int32_t count = 0;
        SasGetHbaList(nullptr, &count);
        std::vector<SAS_HBA_RECORD> hbas(count > 0 ? static_cast<size_t>(count) : 0);
        if (count > 0)
            SasGetHbaList(hbas.data(), &count);
        return hbas;
    }

    static std::string Text(const char *field) { return field; }

    StorageSim sim;
    StorageSimScope scope{sim};
};

} // namespace sastest
