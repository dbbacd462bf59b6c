// The readers of the initiator's WMI classes in root\WMI, filling the lists of one collection.
#include "iscsi_cowmi.h"
#include "iscsi_lists.h"
#include "iscsi_text.h"

#include "com_holders.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr size_t kNameBuffer = 256;
constexpr int32_t kLengthCeiling = 0xFFFFFF;
constexpr int32_t kLengthFloor = 512;

struct STATE_PAIR {
    uint32_t SessionIndex;
    uint32_t Ordinal;
};

using ElementHandler = HRESULT (*)(IWbemClassObject *, ISCSI_LISTS *, ISCSI_INSTANCE_NODE *, STATE_PAIR *);

struct ISCSI_EMBEDDED_CLASS {
    const wchar_t *ClassName;
    const wchar_t *CountProperty;
    const wchar_t *ArrayProperty;
    ElementHandler Handler;
};

HRESULT AddPortalRecord(IWbemClassObject *, ISCSI_LISTS *, ISCSI_INSTANCE_NODE *, STATE_PAIR *);
HRESULT AddSessionRecord(IWbemClassObject *, ISCSI_LISTS *, ISCSI_INSTANCE_NODE *, STATE_PAIR *);
HRESULT AddConnectionRecord(IWbemClassObject *, ISCSI_LISTS *, ISCSI_INSTANCE_NODE *, STATE_PAIR *);

enum { indexPortalClass_MS = 0, indexSessionClass_MS = 1, indexConnectionClass_MS = 2 };

const ISCSI_EMBEDDED_CLASS ISCSI_EMBEDDED_CLASS_TABLE[] = {
    {L"MSiSCSI_PortalInfoClass", L"PortalInfoCount", L"PortalInformation", AddPortalRecord},
    {L"MSiSCSI_InitiatorSessionInfo", L"SessionCount", L"SessionsList", AddSessionRecord},
    // Applied to a session object, not enumerated.
    {L"ISCSI_SessionStaticInfo", L"ConnectionCount", L"ConnectionsList", AddConnectionRecord},
};

// Reads a property into a field of fieldSize bytes; the field keeps its value when the property
// cannot be read or converted.
bool ReadField(IWbemClassObject *object, const wchar_t *name, void *field, size_t fieldSize)
{
    VARIANT value;
    if (FAILED(CoWMIGetClassInstanceProperty(object, name, &value)))
        return false;
    return CoWMIGetVariantValue(&value, field, fieldSize) == 0;
}

template <class Field> bool ReadNumber(IWbemClassObject *object, const wchar_t *name, Field *field)
{
    return ReadField(object, name, field, sizeof *field);
}

// A truth value: 1 yes, 2 no (also when it cannot be read).
uint32_t ReadYesNo(IWbemClassObject *object, const wchar_t *name)
{
    uint32_t truth = 0;
    ReadNumber(object, name, &truth);
    return truth != 0 ? 1 : 2;
}

HRESULT wmiGetInstanceName(IWbemClassObject *object, char *buffer, size_t size)
{
    VARIANT value;
    HRESULT result = CoWMIGetClassInstanceProperty(object, L"InstanceName", &value);
    if (FAILED(result))
        return result;
    return CoWMIGetVariantValue(&value, buffer, size) == 0 ? 0 : 1;
}

// Enumerates a class; visit returns false to stop. The enumeration's failure, else 0.
HRESULT EnumerateClass(const wchar_t *className, const std::function<bool(IWbemClassObject *)> &visit)
{
    IEnumWbemClassObject *enumerator = nullptr;
    HRESULT result = CoWMIOpenClassInstance(CoWMINameSpace(), className, &enumerator);
    if (FAILED(result))
        return result;
    ComPtr<IEnumWbemClassObject> owned(enumerator);
    bool first = true;
    for (;;) {
        IWbemClassObject *object = nullptr;
        if (CoWMIGetNextClassInstance(owned.Get(), &object, first) != 0)
            break;
        first = false;
        ComPtr<IWbemClassObject> held(object);
        if (!visit(held.Get()))
            break;
    }
    return 0;
}

bool InstanceNameIs(IWbemClassObject *object, const char *name)
{
    char read[kNameBuffer] = {};
    return wmiGetInstanceName(object, read, sizeof read) == 0 && std::strcmp(read, name) == 0;
}

// The embedded object a property holds, or null.
ComPtr<IWbemClassObject> EmbeddedObject(IWbemClassObject *object, const wchar_t *name, HRESULT *status)
{
    CVariant value;
    CIMTYPE type = CIM_EMPTY;
    *status = CoWMIGetClassInstanceProperty(object, name, value.Get(), &type);
    ComPtr<IWbemClassObject> embedded;
    if (FAILED(*status))
        return embedded;
    if (type != CIM_OBJECT || V_VT(value.Get()) != VT_UNKNOWN || V_UNKNOWN(value.Get()) == nullptr) {
        *status = -1;
        return embedded;
    }
    *status = V_UNKNOWN(value.Get())->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void **>(embedded.Put()));
    return embedded;
}

HRESULT wmiGetIpAddress(IWbemClassObject *object, const wchar_t *name, char text[ISCSI_ADDRESS_TEXT_BYTES + 1],
                        uint32_t *type)
{
    HRESULT status = 0;
    ComPtr<IWbemClassObject> address = EmbeddedObject(object, name, &status);
    if (!address)
        return FAILED(status) ? status : -1;
    uint32_t kind = 0;
    VARIANT value;
    status = CoWMIGetClassInstanceProperty(address.Get(), L"Type", &value);
    if (FAILED(status))
        return status;
    CoWMIGetVariantValue(&value, &kind, sizeof kind);
    *type = kind;
    std::memset(text, 0, ISCSI_ADDRESS_TEXT_BYTES + 1);
    if (kind == 1) {
        uint32_t ipv4 = 0;
        status = CoWMIGetClassInstanceProperty(address.Get(), L"IpV4Address", &value);
        if (SUCCEEDED(status)) {
            CoWMIGetVariantValue(&value, &ipv4, sizeof ipv4);
            std::snprintf(text, ISCSI_ADDRESS_TEXT_BYTES + 1, "%d.%d.%d.%d", ipv4 & 0xFF, (ipv4 >> 8) & 0xFF,
                          (ipv4 >> 16) & 0xFF, ipv4 >> 24);
        }
    } else if (kind == 0) {
        CVariant read;
        status = CoWMIGetClassInstanceProperty(address.Get(), L"TextAddress", read.Get());
        if (SUCCEEDED(status) && V_VT(read.Get()) == VT_BSTR && V_BSTR(read.Get()) != nullptr) {
            std::wstring wide(V_BSTR(read.Get()), wcsnlen(V_BSTR(read.Get()), 255));
            char utf8[4 * 255 + 1] = {};
            int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8,
                                             sizeof utf8 - 1, nullptr, nullptr);
            if (length > 0) {
                size_t kept = Utf8CutLength(utf8, static_cast<size_t>(length), ISCSI_ADDRESS_TEXT_BYTES);
                std::memcpy(text, utf8, kept);
            }
        }
    } else if (kind == 2) {
        CVariant read;
        status = CoWMIGetClassInstanceProperty(address.Get(), L"IpV6Address", read.Get());
        // Only a 16-byte array is an address; anything else leaves the text empty.
        if (SUCCEEDED(status) && V_VT(read.Get()) == (VT_UI1 | VT_ARRAY)) {
            uint8_t bytes[16] = {};
            SAFEARRAY *array = V_ARRAY(read.Get());
            LONG lower = 0, upper = -1;
            if (array != nullptr && SUCCEEDED(SafeArrayGetLBound(array, 1, &lower)) &&
                SUCCEEDED(SafeArrayGetUBound(array, 1, &upper)) && upper - lower + 1 == 16 &&
                CoWMIGetVariantValue(read.Get(), bytes, sizeof bytes) == 0)
                FormatIscsiIpv6(bytes, text);
        }
    }
    return status;
}

// Runs the row's handler over the elements of an object's embedded array. The status of the
// last step; *noArray tells that the array itself could not be had.
HRESULT ForEachElement(IWbemClassObject *object, ISCSI_LISTS *context, int row, ISCSI_INSTANCE_NODE *node,
                       STATE_PAIR *state, bool countOrdinal, bool *skipped)
{
    const ISCSI_EMBEDDED_CLASS &entry = ISCSI_EMBEDDED_CLASS_TABLE[row];
    *skipped = false;
    uint32_t count = 0;
    if (!ReadNumber(object, entry.CountProperty, &count) || count == 0) {
        *skipped = true;
        return 0;
    }
    CVariant array;
    HRESULT status = CoWMIGetClassInstanceProperty(object, entry.ArrayProperty, array.Get());
    if (FAILED(status) || !(V_VT(array.Get()) & VT_ARRAY) || V_ARRAY(array.Get()) == nullptr) {
        *skipped = true;
        return FAILED(status) ? status : 0;
    }
    SAFEARRAY *elements = V_ARRAY(array.Get());
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(elements, 1, &lower)) || FAILED(SafeArrayGetUBound(elements, 1, &upper)))
        return 0;
    uint32_t ordinal = 0;
    for (LONG at = lower; at <= upper; ++at) {
        IUnknown *element = nullptr;
        status = SafeArrayGetElement(elements, &at, &element);
        if (FAILED(status) || element == nullptr)
            continue;
        ComPtr<IUnknown> heldElement(element);
        ComPtr<IWbemClassObject> elementObject;
        status = element->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void **>(elementObject.Put()));
        heldElement.Reset();
        if (FAILED(status))
            continue;
        if (countOrdinal)
            state->Ordinal = ordinal++;
        entry.Handler(elementObject.Get(), context, node, state);
    }
    return 0;
}

HRESULT wmiGet_EmbeddedArray(IWbemClassObject *object, ISCSI_LISTS *context, int row, ISCSI_INSTANCE_NODE *node,
                             STATE_PAIR *state)
{
    bool skipped = false;
    HRESULT status = ForEachElement(object, context, row, node, state, true, &skipped);
    return skipped ? status : 0;
}

HRESULT wmiGet_EmbeddedClass1(ISCSI_LISTS *context, int row)
{
    HRESULT last = 0;
    STATE_PAIR state{0, 0};
    HRESULT enumerated = EnumerateClass(ISCSI_EMBEDDED_CLASS_TABLE[row].ClassName, [&](IWbemClassObject *object) {
        char name[kNameBuffer] = {};
        last = wmiGetInstanceName(object, name, sizeof name);
        if (last != 0)
            return true;
        ISCSI_INSTANCE_NODE *node = FindIscsiInstance(name, context);
        if (node == nullptr)
            return true;
        bool skipped = false;
        last = ForEachElement(object, context, row, node, &state, false, &skipped);
        return true;
    });
    return FAILED(enumerated) ? enumerated : (FAILED(last) ? last : 0);
}

uint32_t wmiGet_MSiSCSI_InitiatorSessionInfo(ISCSI_INSTANCE_NODE *node)
{
    uint32_t sessions = 0;
    EnumerateClass(L"MSiSCSI_InitiatorSessionInfo", [&](IWbemClassObject *object) {
        uint32_t count = 0;
        if (InstanceNameIs(object, node->Instance.InstanceName) && ReadNumber(object, L"SessionCount", &count)) {
            sessions = count;
            return false;
        }
        return true;
    });
    return sessions;
}

int wmiGet_MSiSCSI_InitiatorInstanceStatistics(ISCSI_INSTANCE_NODE *node)
{
    int found = 0;
    EnumerateClass(L"MSiSCSI_InitiatorInstanceStatistics", [&](IWbemClassObject *object) {
        if (!InstanceNameIs(object, node->Instance.InstanceName))
            return true;
        ISCSI_INSTANCE_RECORD &record = node->Instance;
        ReadNumber(object, L"SessionFailureCount", &record.SessionFailureCount);
        ReadNumber(object, L"SessionDigestErrorCount", &record.SessionDigestErrorCount);
        ReadNumber(object, L"SessionConnectionTimeoutErrorCount", &record.SessionConnectionTimeoutErrorCount);
        ReadNumber(object, L"SessionFormatErrorCount", &record.SessionFormatErrorCount);
        found = 1;
        return false;
    });
    return found;
}

HRESULT wmiGet_MSiSCSI_HBAInformation(ISCSI_LISTS *context)
{
    HRESULT status = 0;
    uint32_t index = 0;
    HRESULT enumerated = EnumerateClass(L"MSiSCSI_HBAInformation", [&](IWbemClassObject *object) {
        ISCSI_INSTANCE_NODE *node = nullptr;
        status = AppendListNode(&context->Instances, &node);
        if (status != 0)
            return false;
        ISCSI_INSTANCE_RECORD &record = node->Instance;
        record.InstanceIndex = index++;
        ReadField(object, L"InstanceName", record.InstanceName, sizeof record.InstanceName);
        ReadField(object, L"VendorModel", record.Description, sizeof record.Description);
        ReadNumber(object, L"VersionMin", &record.VersionMin);
        ReadNumber(object, L"VersionMax", &record.VersionMax);
        ReadField(object, L"VendorID", record.VendorId, sizeof record.VendorId);
        ReadField(object, L"VendorVersion", record.VendorVersion, sizeof record.VendorVersion);
        ReadNumber(object, L"NumberOfPorts", &record.NumberOfPortals);
        record.NumberOfSessions = wmiGet_MSiSCSI_InitiatorSessionInfo(node);
        record.Constant2 = 2;
        wmiGet_MSiSCSI_InitiatorInstanceStatistics(node);
        return true;
    });
    return FAILED(enumerated) ? enumerated : status;
}

HRESULT wmiGet_LoginOptions(IWbemClassObject *object, const wchar_t *name, uint32_t *headerDigest, uint32_t *dataDigest)
{
    HRESULT status = 0;
    ComPtr<IWbemClassObject> options = EmbeddedObject(object, name, &status);
    if (!options)
        return -1;
    ReadNumber(options.Get(), L"HeaderDigest", headerDigest);
    ReadNumber(options.Get(), L"DataDigest", dataDigest);
    return 0;
}

HRESULT wmiGet_MSiSCSI_BootConfiguration(ISCSI_INSTANCE_NODE *node, ISCSI_PORTAL_RECORD *record)
{
    record->HeaderDigest = 4;
    record->DataDigest = 4;
    return EnumerateClass(L"MSiSCSI_BootConfiguration", [&](IWbemClassObject *object) {
        if (!InstanceNameIs(object, node->Instance.InstanceName))
            return true;
        uint32_t header = 0, data = 0;
        if (wmiGet_LoginOptions(object, L"LoginOptions", &header, &data) == 0) {
            if (header != 0)
                record->HeaderDigest = header;
            if (data != 0)
                record->DataDigest = data;
        }
        return false;
    });
}

HRESULT AddPortalRecord(IWbemClassObject *object, ISCSI_LISTS *context, ISCSI_INSTANCE_NODE *node, STATE_PAIR *state)
{
    if (object == nullptr || context == nullptr || node == nullptr || state == nullptr)
        return -1;
    ISCSI_PORTAL_RECORD *record = nullptr;
    HRESULT status = AppendListNode(&node->Portals, &record);
    if (status != 0)
        return status;
    record->InstanceIndex = node->Instance.InstanceIndex;
    ReadNumber(object, L"Index", &record->PortalIndex);
    record->Constant1 = 1;
    uint32_t portalType = 0;
    if (ReadNumber(object, L"PortalType", &portalType)) {
        record->Roles[0] = portalType == 0 ? '1' : '0';
        record->Roles[1] = portalType == 0 ? '0' : '1';
    }
    ReadNumber(object, L"Protocol", &record->Protocol);
    char address[ISCSI_ADDRESS_TEXT_BYTES + 1] = {};
    uint32_t type = 0;
    if (wmiGetIpAddress(object, L"IPAddr", address, &type) == 0) {
        record->AddressType = type;
        std::memcpy(record->Address, address, sizeof address);
    }
    record->MaxRecvDataLength = 8192;
    record->Constant3a = 3;
    record->Constant3b = 3;
    record->Constant2 = 2;
    wmiGet_MSiSCSI_BootConfiguration(node, record);
    ReadNumber(object, L"PortalTag", &record->PortalTag);
    return 0;
}

int32_t BurstLength(int32_t value)
{
    return value > kLengthCeiling || value < kLengthFloor ? 0 : value;
}

int32_t ClampSegment(int32_t value)
{
    return value > kLengthCeiling ? kLengthCeiling : (value < kLengthFloor ? kLengthFloor : value);
}

HRESULT wmiGet_MSiSCSI_SessionStatistics(ISCSI_SESSION_RECORD *record)
{
    return EnumerateClass(L"MSiSCSI_SessionStatistics", [&](IWbemClassObject *object) {
        if (!InstanceNameIs(object, record->TargetName))
            return true;
        auto readText = [&](const wchar_t *name, char (&text)[256]) {
            std::memset(text, 0, sizeof text);
            return ReadField(object, name, text, sizeof text) && text[0] >= '0' && text[0] <= '9';
        };
        char text[256];
        if (readText(L"PDUCommandsSent", text))
            record->PduCommandsSent = static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
        if (readText(L"PDUResponsesReceived", text))
            record->PduResponsesReceived = static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
        if (readText(L"BytesSent", text)) {
            uint64_t value = DecimalTextToUInt64(text);
            record->BytesSentHigh = static_cast<uint32_t>(value >> 32);
            record->BytesSentLow = static_cast<uint32_t>(value);
        }
        if (readText(L"BytesReceived", text)) {
            uint64_t value = DecimalTextToUInt64(text);
            record->BytesReceivedHigh = static_cast<uint32_t>(value >> 32);
            record->BytesReceivedLow = static_cast<uint32_t>(value);
        }
        if (readText(L"DigestErrors", text))
            record->DigestErrors = static_cast<uint32_t>(DecimalTextToUInt64(text));
        if (readText(L"ConnectionTimeoutErrors", text))
            record->ConnectionTimeoutErrors = static_cast<uint32_t>(DecimalTextToUInt64(text));
        return false;
    });
}

// Whether a session object of MSiSCSIInitiator_SessionClass is this session: by ISID and TSID
// when it has them, else by target name.
bool SessionObjectMatches(IWbemClassObject *object, const ISCSI_SESSION_RECORD &record)
{
    uint8_t isid[6] = {};
    uint16_t tsid = 0;
    CVariant isidValue;
    bool hasIsid = SUCCEEDED(CoWMIGetClassInstanceProperty(object, L"ISID", isidValue.Get())) &&
                   V_VT(isidValue.Get()) == (VT_UI1 | VT_ARRAY) && CoWMIGetVariantValue(isidValue.Get(), isid, 6) == 0;
    if (hasIsid && ReadNumber(object, L"TSID", &tsid))
        return std::memcmp(isid, record.Isid, 6) == 0 && tsid == static_cast<uint16_t>(record.Tsid);
    char target[kNameBuffer] = {};
    return ReadField(object, L"TargetName", target, sizeof target) && target[0] != '\0' &&
           std::strcmp(target, record.TargetName) == 0;
}

HRESULT wmiGet_MSiSCSIInitiator_SessionClass(ISCSI_SESSION_RECORD *record)
{
    HRESULT status = 0;
    HRESULT enumerated = EnumerateClass(L"MSiSCSIInitiator_SessionClass", [&](IWbemClassObject *object) {
        if (!SessionObjectMatches(object, *record))
            return true;
        CVariant value;
        status = CoWMIGetClassInstanceProperty(object, L"SessionId", value.Get());
        if (FAILED(status) || V_VT(value.Get()) != VT_BSTR || V_BSTR(value.Get()) == nullptr)
            return true;
        char utf8[sizeof record->SessionId] = {};
        const wchar_t *text = V_BSTR(value.Get());
        int length = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(wcslen(text)), utf8,
                                         sizeof utf8 - 1, nullptr, nullptr);
        if (length < 0)
            length = 0;
        size_t kept = Utf8CutLength(utf8, static_cast<size_t>(length), sizeof utf8 - 1);
        std::memset(record->SessionId, 0, sizeof record->SessionId);
        std::memcpy(record->SessionId, utf8, kept);
        return false;
    });
    return FAILED(enumerated) ? enumerated : status;
}

HRESULT AddSessionRecord(IWbemClassObject *object, ISCSI_LISTS *context, ISCSI_INSTANCE_NODE *node, STATE_PAIR *state)
{
    if (object == nullptr || context == nullptr || node == nullptr || state == nullptr)
        return -1;
    ISCSI_SESSION_RECORD *record = nullptr;
    HRESULT status = AppendListNode(&node->Sessions, &record);
    if (status != 0)
        return status;
    record->InstanceIndex = node->Instance.InstanceIndex;
    record->SessionIndex = static_cast<uint32_t>(node->Sessions.size() - 1);
    record->Constant2a = 2;
    ReadField(object, L"InitiatoriSCSIName", record->InitiatorName, sizeof record->InitiatorName);
    ReadField(object, L"TargetiSCSIName", record->TargetName, sizeof record->TargetName);
    ReadNumber(object, L"TSID", &record->Tsid);
    ReadField(object, L"ISID", record->Isid, sizeof record->Isid);
    record->InitialR2t = ReadYesNo(object, L"InitialR2t");
    record->ImmediateData = ReadYesNo(object, L"ImmediateData");
    uint32_t type = 0;
    if (ReadNumber(object, L"Type", &type))
        record->SessionType = type == 0 ? 2 : 1;
    ReadNumber(object, L"MaxOutstandingR2t", &record->MaxOutstandingR2t);
    ReadNumber(object, L"FirstBurstLength", &record->FirstBurstLength);
    record->FirstBurstLength = BurstLength(record->FirstBurstLength);
    ReadNumber(object, L"MaxBurstLength", &record->MaxBurstLength);
    record->MaxBurstLength = BurstLength(record->MaxBurstLength);
    ReadNumber(object, L"ConnectionCount", &record->ConnectionCount);
    record->Constant2b = 2;
    record->DataSequenceInOrder = ReadYesNo(object, L"DataSequenceInOrder");
    record->DataPduInOrder = ReadYesNo(object, L"DataPduInOrder");
    ReadNumber(object, L"ErrorRecoveryLevel", &record->ErrorRecoveryLevel);
    wmiGet_MSiSCSI_SessionStatistics(record);
    wmiGet_MSiSCSIInitiator_SessionClass(record);
    STATE_PAIR connections{record->SessionIndex, 0};
    return wmiGet_EmbeddedArray(object, context, indexConnectionClass_MS, node, &connections);
}

uint32_t MapState(uint32_t value)
{
    return value == 0 ? 1 : (value == 2 ? 3 : 2);
}

uint32_t MapIntegrity(uint32_t value)
{
    return value == 0 ? 1 : (value == 1 ? 4 : 2);
}

HRESULT AddConnectionRecord(IWbemClassObject *object, ISCSI_LISTS *context, ISCSI_INSTANCE_NODE *node, STATE_PAIR *state)
{
    if (object == nullptr || context == nullptr || node == nullptr || state == nullptr)
        return -1;
    ISCSI_CONNECTION_RECORD *record = nullptr;
    if (AppendListNode(&node->Connections, &record) != 0)
        return -1;
    record->InstanceIndex = node->Instance.InstanceIndex;
    if (!node->Sessions.empty())
        record->SessionIndex = state->SessionIndex;
    record->ConnectionIndex = context->NextConnectionIndex++;
    ReadNumber(object, L"CID", &record->Cid);
    uint32_t connectionState = 0;
    ReadNumber(object, L"State", &connectionState);
    record->State = MapState(connectionState);
    char address[ISCSI_ADDRESS_TEXT_BYTES + 1] = {};
    uint32_t type = 0;
    if (wmiGetIpAddress(object, L"LocalAddr", address, &type) == 0) {
        record->LocalAddressType = type;
        std::memcpy(record->LocalAddress, address, sizeof address);
    }
    ReadNumber(object, L"Protocol", &record->Protocol);
    ReadNumber(object, L"LocalPort", &record->LocalPort);
    char remote[ISCSI_ADDRESS_TEXT_BYTES + 1] = {};
    type = 0;
    if (wmiGetIpAddress(object, L"RemoteAddr", remote, &type) == 0) {
        record->RemoteAddressType = type;
        std::memcpy(record->RemoteAddress, remote, sizeof remote);
    }
    ReadNumber(object, L"RemotePort", &record->RemotePort);
    int32_t length = 0;
    ReadNumber(object, L"MaxRecvDataSegmentLength", &length);
    record->MaxRecvDataSegmentLength = ClampSegment(length);
    length = 0;
    ReadNumber(object, L"MaxDatagramSize", &length);
    record->MaxDatagramSize = ClampSegment(length);
    uint32_t integrity = 0;
    ReadNumber(object, L"HeaderIntegrity", &integrity);
    record->HeaderIntegrity = MapIntegrity(integrity);
    integrity = 0;
    ReadNumber(object, L"DataIntegrity", &integrity);
    record->DataIntegrity = MapIntegrity(integrity);
    record->Constant2a = 2;
    record->Constant2b = 2;
    return 0;
}

HRESULT wmiGet_MSiSCSI_InitiatorLoginStatistics(ISCSI_LISTS *context)
{
    return EnumerateClass(L"MSiSCSI_InitiatorLoginStatistics", [&](IWbemClassObject *object) {
        char name[kNameBuffer] = {};
        if (wmiGetInstanceName(object, name, sizeof name) != 0)
            return true;
        ISCSI_INSTANCE_NODE *node = FindIscsiInstance(name, context);
        if (node == nullptr)
            return true;
        ISCSI_INITIATOR_RECORD &record = node->Initiator;
        record = ISCSI_INITIATOR_RECORD{};
        record.Constant1 = 1;
        record.InstanceIndex = node->Instance.InstanceIndex;
        std::memcpy(record.InstanceName, name, sizeof record.InstanceName);
        ReadNumber(object, L"LoginFailures", &record.LoginFailures);
        ReadNumber(object, L"LoginOtherFailRsps", &record.OtherFailureResponses);
        ReadNumber(object, L"LoginRedirectRsps", &record.RedirectResponses);
        ReadNumber(object, L"LoginAuthFailRsps", &record.AuthFailureResponses);
        ReadNumber(object, L"LoginAuthenticateFails", &record.AuthenticationFailures);
        ReadNumber(object, L"LoginNegotiateFails", &record.NegotiationFailures);
        ReadNumber(object, L"LogoutNormals", &record.NormalLogouts);
        ReadNumber(object, L"LogoutOtherCodes", &record.OtherLogoutCodes);
        record.Constant2 = 2;
        return true;
    });
}

} // namespace

ISCSI_INSTANCE_NODE *FindIscsiInstance(const char *name, ISCSI_LISTS *context)
{
    for (ISCSI_INSTANCE_NODE &node : context->Instances)
        if (std::strcmp(node.Instance.InstanceName, name) == 0)
            return &node;
    return nullptr;
}

void CountInstancePortals(ISCSI_LISTS *context)
{
    for (ISCSI_INSTANCE_NODE &node : context->Instances)
        node.Instance.NumberOfPortals = static_cast<uint32_t>(node.Portals.size());
}

HRESULT wmiGetAllInstances(ISCSI_LISTS *context)
{
    // Without a connection the pass fails, so that the keys keep the last good records.
    HRESULT status = CoWMINameSpace() == nullptr ? E_FAIL : wmiGet_MSiSCSI_HBAInformation(context);
    if (status == 0)
        status = wmiGet_EmbeddedClass1(context, indexPortalClass_MS);
    if (status == 0)
        status = wmiGet_EmbeddedClass1(context, indexSessionClass_MS);
    if (status == 0)
        status = wmiGet_MSiSCSI_InitiatorLoginStatistics(context);
    if (status == static_cast<HRESULT>(WBEM_E_NOT_SUPPORTED) || status == static_cast<HRESULT>(WBEM_E_INVALID_CLASS) ||
        status == E_INVALIDARG)
        status = 0;
    CountInstancePortals(context);
    return status;
}

void UpdateIscsiData(ISCSI_LISTS *context)
{
    if (wmiGetAllInstances(context) == 0) {
        UpdateInstanceKeys(context);
        UpdatePortalKeys(context);
        UpdateNodeKeys(context);
        UpdateInitiatorKeys(context);
        UpdateSessionKeys(context);
        UpdateConnectionKeys(context);
    }
    FreeIscsiLists(context);
}
