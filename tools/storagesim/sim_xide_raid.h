#pragma once
// An IDE RAID miniport answering "$XIDE$" requests (SCSI pass-through direct with CDB 0xFF and a
// request block as data): controller information (17), the RAID member list (18), logical
// drives (1), and for the disks at drive positions 0 to 3 IDENTIFY (23) and S.M.A.R.T. status
// (21). Hang it on a SimPhysicalDrive's Disk.

#include "sim_ata_disk.h"

#include <array>
#include <map>
#include <memory>
#include <string>

class SimXideRaid : public SimDevice {
public:
    struct Member {
        std::string Model, Serial;
        uint32_t State = 0;    // 14 rebuilding
    };
    struct LogicalDrive {
        uint32_t Level = 1, Stripe = 128, Capacity = 0, Status = 0;   // status 0 ok, 2 degraded, 15 failed
        std::vector<Member> Members;
    };
    bool InfoOk = true;
    uint8_t Bus = 0, Device = 0, Function = 0;
    uint32_t BoardId = 0;
    std::array<std::shared_ptr<SimAtaDisk>, 4> Disks;
    bool MemberListValid = true;
    std::vector<Member> MemberList;
    std::map<uint8_t, LogicalDrive> Drives;
    std::vector<uint32_t> Codes;   // every request code seen

    DWORD Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned) override;

private:
    DWORD Answer(uint32_t code, uint8_t *block, uint32_t size);
};
