#pragma once
// A SCSI port ("\\.\ScsiN:"): the adapter's storage bus type, the inquiry data of the devices
// it sees, and miniport requests, which go to a CSMI controller when one sits behind the port.

#include "sim_device.h"

#include <array>
#include <memory>
#include <string>

class SimCsmiController;

struct SimInquiryDevice {
    uint8_t Bus = 0;
    uint8_t PathId = 0;
    uint8_t TargetId = 0;
    uint8_t Lun = 0;
    uint8_t Claimed = 1;
    std::vector<uint8_t> Inquiry;   // the standard INQUIRY data, usually 36 bytes
};

// 36 bytes of standard INQUIRY: peripheral type, removable bit, vendor (8), product (16),
// revision (4), padded with blanks.
std::vector<uint8_t> MakeInquiry(uint8_t peripheralType, bool removable, const char *vendor, const char *product,
                                 const char *revision);

class SimScsiPort : public SimDevice {
public:
    uint8_t BusType = 1;                       // STORAGE_BUS_TYPE: 1 SCSI, 3 ATA, 10 SAS, 11 SATA
    uint8_t Buses = 1;
    std::vector<SimInquiryDevice> Devices;
    std::shared_ptr<SimCsmiController> Csmi;   // null: miniport requests are refused
    // SCSI pass-through requests sent to the port itself, as an IDE RAID miniport takes them
    // through its stand-in device; null refuses them. Each one's path, target and LUN are kept.
    std::shared_ptr<SimDevice> PassThrough;
    std::vector<std::array<uint8_t, 3>> PassThroughAddresses;

    DWORD Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned) override;
    // The reply of IOCTL_SCSI_GET_INQUIRY_DATA as a driver builds it.
    std::vector<uint8_t> InquiryReply() const;
};

// "\\.\PhysicalDriveN": the address of the disk on its port. Requests it does not know go to the
// model of the disk, when there is one.
class SimPhysicalDrive : public SimDevice {
public:
    bool HasAddress = true;
    uint8_t PortNumber = 0, PathId = 0, TargetId = 0, Lun = 0;
    std::shared_ptr<SimDevice> Disk;

    DWORD Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned) override;
};
