#include "sas_records.h"

#include <cstdio>
#include <cstring>

uint8_t SasDriveCondition(uint8_t status)
{
    if (status == 2)
        return 2;
    if (status == 3 || status == 10 || status == 12)
        return 3;
    if (status >= 4 && status <= 13)
        return 4;
    return 1;
}

uint8_t SasLostStatus(uint8_t status)
{
    switch (status) {
    case 2: return 6;
    case 3: return 7;
    case 4: return 8;
    case 5: return 9;
    case 10: return 11;
    case 12: return 13;
    default: return status;
    }
}

std::string SasValueName(const char *prefix, unsigned counter)
{
    char name[64];
    std::snprintf(name, sizeof name, "%s%03X", prefix, counter);
    return name;
}

template <typename Record>
std::vector<SasRecordValue> SasRecordValues(const char *prefix, const std::vector<Record> &records)
{
    std::vector<SasRecordValue> values;
    values.reserve(records.size());
    unsigned counter = 0;
    for (const Record &record : records) {
        SasRecordValue value;
        value.Name = SasValueName(prefix, counter++);
        value.Bytes.resize(sizeof(Record));
        std::memcpy(value.Bytes.data(), &record, sizeof(Record));
        values.push_back(std::move(value));
    }
    return values;
}

template std::vector<SasRecordValue> SasRecordValues(const char *, const std::vector<SAS_HBA_RECORD> &);
template std::vector<SasRecordValue> SasRecordValues(const char *, const std::vector<SAS_PHYDRV_RECORD> &);
template std::vector<SasRecordValue> SasRecordValues(const char *, const std::vector<SAS_LOGDRV_RECORD> &);
template std::vector<SasRecordValue> SasRecordValues(const char *, const std::vector<SAS_TAPEDRV_RECORD> &);
