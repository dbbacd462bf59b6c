// The SD/USB storage kit: its identity from WMI, its state from the newest records of its log
// disk, one table row, and the traps for records newer than the kept time stamp.
#include "zdtstdeq_collector.h"

#include "agentx_pdu.h"
#include "common_log.h"
#include "enterprise_arc.h"
#include "stdeq_kit.h"
#include "storage_platform.h"
#include "store_writers.h"
#include "traps.h"
#include "wmi.h"

#include <cstdio>
#include <cstring>
#include <string>

USB_KIT_STATE s_UsbKitState;

namespace {

constexpr char kStampFile[] = "tlmusb-tstamp.txt";
constexpr size_t kStampLineBytes = 1024;
constexpr size_t kDevicePathChars = 512;

// The unbuffered read goes straight into this buffer, so it is aligned for any sector size.
alignas(4096) uint8_t s_UsbKitLogArea[kUsbKitLogBytes];
USB_KIT_RECORDS s_UsbKitRecords;

MIBOID KitEntry() { return EnterpriseOid({1, 2, 15, 1, 1}); }

std::string Lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// Calls visit for every disk whose Model, lower-cased, contains the text.
template <class Visit> bool ForEachDiskWithModel(const char *model, Visit visit)
{
    bool found = false;
    if (!s_WMICimV2)
        return false;
    CWMIEnumerator disks = s_WMICimV2->ExecQuery(L"SELECT * FROM Win32_DiskDrive");
    while (IWbemClassObject *disk = disks.Next()) {
        std::string text;
        if (GetWMIString(disk, L"Model", &text, false) && Lower(text).find(model) != std::string::npos) {
            found = true;
            visit(disk);
        }
    }
    return found;
}

bool OperatingSystemHasKitSupport()
{
    if (!s_WMICimV2)
        return false;
    CWMIEnumerator systems = s_WMICimV2->ExecQuery(L"SELECT * FROM Win32_OperatingSystem");
    IWbemClassObject *system = systems.Next();
    std::string version;
    return system != nullptr && GetWMIString(system, L"Version", &version, false) && UsbKitStepRuns(version);
}

void ReadUsbKitIdentity()
{
    std::memset(s_UsbKitLogArea, 0, sizeof s_UsbKitLogArea);
    s_UsbKitRecords = USB_KIT_RECORDS{};
    s_UsbKitState = USB_KIT_STATE{};
    ForEachDiskWithModel("usb raid lun", [](IWbemClassObject *disk) {
        std::string model, serial, size;
        GetWMIString(disk, L"Model", &model, false);
        GetWMIString(disk, L"SerialNumber", &serial, false);
        GetWMIString(disk, L"Size", &size, true);
        SetUsbKitIdentity(&s_UsbKitState, model, serial, size);
    });
}

void ReadLogArea()
{
    std::string path;
    ForEachDiskWithModel("log file lun", [&](IWbemClassObject *disk) {
        path.clear();
        GetWMIString(disk, L"DeviceID", &path, false);
    });
    if (path.size() >= kDevicePathChars)
        path.resize(kDevicePathChars - 1);
    bool read = false;
    HANDLE device = StoragePlatform().OpenDevice(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                                 FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL);
    if (device != INVALID_HANDLE_VALUE) {
        DWORD count = 0;
        read = StoragePlatform().ReadDevice(device, s_UsbKitLogArea, sizeof s_UsbKitLogArea, &count) != FALSE;
        StoragePlatform().CloseDevice(device);
    }
    if (!read)
        std::memset(s_UsbKitLogArea, 0xFF, sizeof s_UsbKitLogArea);
}

std::optional<std::string> ReadStamp()
{
    FILE *file = fopen(kStampFile, "r");
    if (file == nullptr)
        return std::nullopt;
    char line[kStampLineBytes] = {};
    if (fgets(line, sizeof line, file) == nullptr)
        line[0] = '\0';
    fclose(file);
    return ParseUsbKitStampLine(line, sizeof line);
}

void WriteStamp(const std::string &stamp)
{
    FILE *file = fopen(kStampFile, "w");
    if (file == nullptr)
        return;
    fprintf(file, "%s", stamp.c_str());
    fclose(file);
}

void ReadUsbKitLog()
{
    ReadLogArea();
    TakeUsbKitRecords(s_UsbKitLogArea, sizeof s_UsbKitLogArea, &s_UsbKitRecords);
    ParseUsbKitStatus(&s_UsbKitState, s_UsbKitRecords);
    const std::optional<std::string> stamp = ReadStamp();
    ProcessUsbKitEvents(&s_UsbKitState, s_UsbKitRecords, stamp,
                        [](unsigned trap, int card, const USB_KIT_STATE &state) { SendUsbKitTrap(trap, card, state); });
    // A read that took nothing keeps the stamp: an empty one would make the next good read
    // raise every record's trap again.
    if (s_UsbKitRecords.Count > 0)
        WriteStamp(s_UsbKitRecords.NewestStamp);
}

void CollectUsbKitData()
{
    ReadUsbKitIdentity();
    ReadUsbKitLog();
}

void WriteKitRow(DATASTORE_TABLE &table, const USB_KIT_STATE &s)
{
    if (!table.BeginTable(KitEntry(), 1, false))
        return;
    table.SetIndex(1);
    table.SetInteger(1, 1);
    table.SetInteger(2, s.Column2);
    table.SetString(3, s.Column3.c_str());
    table.SetInteger(4, s.Column4);
    table.SetString(5, s.Model.c_str());
    table.SetInteger(6, s.SizeMb);
    table.SetString(7, s.Manufacturer.c_str());
    table.SetString(8, s.ProductName.c_str());
    table.SetString(9, s.FirmwareVersion.c_str());
    table.SetString(10, s.SerialNumber.c_str());
    table.SetString(11, s.PartNumber.c_str());
    table.SetInteger(12, s.CardCount);
    table.SetOctetString(13, 2, s.Counter13);
    table.SetOctetString(14, 2, s.Counter14);
    table.SetOctetString(15, 2, s.Counter15);
    table.SetOctetString(16, 2, s.Counter16);
    table.SetInteger(17, s.Condition);
    table.SetInteger(18, s.Column18);
    table.SetInteger(19, s.FailedCard);
    table.SetInteger(20, s.TransferErrorCard);
    table.SetInteger(21, s.Redundancy);
    table.SetOctetString(22, 2, s.CardsPresent);
}

} // namespace

void ZDTSTDEQDataCollector::Collect_zdtSeUSBPort(int firstRun, DATASTORE *staging)
{
    if (!OperatingSystemHasKitSupport())
        return;
    if (firstRun == 0)
        Sleep(1);
    LOG_VERBOSE(L"ZDTSTDEQDataCollector::Collect_zdtSeUSBPort", L"ZDTSTDEQDataCollector::Collect_zdtSeUSBPort ENTRY\n");
    if (!ForEachDiskWithModel("log file lun", [](IWbemClassObject *) {}))
        return;
    // The row is written without clearing: once the kit is gone its last row stays served.
    DATASTORE_TABLE table(staging);
    CollectUsbKitData();
    WriteKitRow(table, s_UsbKitState);
}

void SendUsbKitTrap(unsigned trapNumber, int card, const USB_KIT_STATE &state)
{
    // The row's index is always 1, also when the data disk was not found.
    constexpr uint32_t kIndex = 1;
    const int counterCard = card >= 0 && card < static_cast<int>(kUsbKitCards) ? card : 0;
    SendHostTrap(trapNumber, UsbKitTrapFlags(state.Condition), [&](TRAP_BUFFER *trap) {
        uint8_t oid[AGENTX_PDU_BUFFER_SIZE / 8];
        uint8_t varbind[AGENTX_PDU_BUFFER_SIZE / 2];
        auto name = [&](uint32_t column) {
            EncodeAgentXOid(EnterpriseOid({1, 2, 15, 1, 1, column, 0}), oid);
            SetLastSubId(oid, kIndex);
            return oid;
        };
        auto integer = [&](uint32_t column, int32_t value) {
            AddTrapVarBind(trap, MakeIntegerVarBind(varbind, name(column), value));
        };
        auto text = [&](uint32_t column, const std::string &value) {
            AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, name(column), value.c_str()));
        };
        auto counter = [&](uint32_t column, uint8_t value) {
            const std::string decimal = std::to_string(value);
            AddTrapVarBind(trap, MakeCountedOctetStringVarBind(varbind, name(column),
                                                               static_cast<uint32_t>(decimal.size()), decimal.data()));
        };
        integer(1, kIndex);
        text(5, state.Model);
        text(8, state.ProductName);
        text(9, state.FirmwareVersion);
        text(10, state.SerialNumber);
        text(11, state.PartNumber);
        if (trapNumber == 1010) {
            counter(13, state.Counter13[counterCard]);
            counter(15, state.Counter15[counterCard]);
            integer(20, state.TransferErrorCard);
        } else if (trapNumber == 1011) {
            counter(14, state.Counter14[counterCard]);
            counter(16, state.Counter16[counterCard]);
            integer(20, state.TransferErrorCard);
        } else if (trapNumber == 1012) {
            integer(19, state.FailedCard);
        }
    });
}
