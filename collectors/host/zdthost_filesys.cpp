// The file-system table: one row per fixed drive letter that has a volume.
#include "zdthost_collector.h"

#include "common_log.h"
#include "enterprise_arc.h"
#include "store_writers.h"

#include <cstring>

namespace {

constexpr DWORD kNameBufferSize = 260;

std::string Terminated(const char *buffer, size_t size)
{
    return std::string(buffer, strnlen(buffer, size));
}

// Volume{...} of \\?\Volume{...}\, or empty for a name too short to have the prefix.
std::string VolumeGuidPart(std::string name)
{
    if (!name.empty() && name.back() == '\\')
        name.pop_back();
    return name.size() > 4 ? name.substr(4) : std::string();
}

} // namespace

DRIVE_FACTS ProbeDrive(char letter)
{
    DRIVE_FACTS drive;
    drive.letter = letter;
    const char root[] = {letter, ':', '\\', '\0'};
    drive.driveType = GetDriveTypeA(root);
    if (drive.driveType != DRIVE_FIXED)
        return drive;

    char volume[kNameBufferSize] = {};
    if (!GetVolumeNameForVolumeMountPointA(root, volume, kNameBufferSize))
        return drive;
    drive.volumeName = Terminated(volume, sizeof volume);

    char label[kNameBufferSize] = {};
    char fileSystem[kNameBufferSize] = {};
    drive.informationRead =
        GetVolumeInformationA(root, label, kNameBufferSize, nullptr, nullptr, nullptr, fileSystem, kNameBufferSize) != 0;
    if (!drive.informationRead) {
        drive.informationError = GetLastError();
        return drive;
    }
    drive.label = Terminated(label, sizeof label);
    drive.fileSystem = Terminated(fileSystem, sizeof fileSystem);

    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    ULARGE_INTEGER available = {}, total = {};
    if (GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters) &&
        GetDiskFreeSpaceExA(root, &available, &total, nullptr))
        drive.space = VOLUME_SPACE{total.QuadPart, available.QuadPart, totalClusters, freeClusters};
    return drive;
}

void WriteFileSystemTable(DATASTORE *staging, const std::function<DRIVE_FACTS(char letter)> &probe)
{
    DATASTORE_CURSOR cursor(staging);
    if (cursor.Open(EnterpriseOid({11, 2, 4}), true))
        cursor.SetInteger(2, 2);

    DATASTORE_TABLE table(staging);
    if (!table.BeginTable(EnterpriseOid({11, 2, 4, 1, 1}), 1, true))
        return;
    uint32_t count = 0;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const DRIVE_FACTS drive = probe(letter);
        if (drive.driveType != DRIVE_FIXED || !drive.volumeName)
            continue;
        std::string fileSystem = drive.fileSystem;
        std::string label = drive.label;
        if (!drive.informationRead) {
            label.clear();
            fileSystem = drive.informationError == ERROR_UNRECOGNIZED_VOLUME ? "RAW" : "UNKNOWN";
        }
        const std::string shortDescription = std::string{letter, ':', '\\'} + " [" + label + ":" + fileSystem + "]";
        const std::string longDescription = shortDescription + " " + VolumeGuidPart(*drive.volumeName);
        const VOLUME_USAGE usage = ComputeVolumeUsage(drive.informationRead ? drive.space : std::nullopt);

        table.SetIndex(count);
        table.SetInteger(1, static_cast<int32_t>(count));
        table.SetString(2, longDescription.c_str());
        table.SetInteger(3, usage.totalMb);
        table.SetInteger(4, usage.usedMb);
        table.SetInteger(5, usage.usedPercent);
        table.SetInteger(6, usage.totalClusters);
        table.SetInteger(7, usage.usedClusters);
        table.SetInteger(8, 2);
        table.SetString(9, shortDescription.c_str());
        ++count;
    }
}

void ZDTHOSTDataCollector::Collect_zdtHoFileSys(int, DATASTORE *staging)
{
    LOG_VERBOSE(L"ZDTHOSTDataCollector::Collect_zdtHoFileSys", L"ZDTHOSTDataCollector::Collect_zdtHoFileSys.");
    WriteFileSystemTable(staging, ProbeDrive);
}
