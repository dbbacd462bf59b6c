#pragma once
// A fake root\WMI with the initiator's classes, handed to the iSCSI layer's connect, and an empty
// QZTLMStorage\iSCSI tree as a freshly started process finds it.

#include "iscsi_cowmi.h"
#include "iscsi_lists.h"
#include "storage_keys.h"
#include "wmi_fakes.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include <string>
#include <vector>

namespace iscsitest {

inline ComPtr<IWbemClassObject> Object()
{
    return ComPtr<IWbemClassObject>(new FakeClassObject());
}

inline FakeClassObject *Fake(const ComPtr<IWbemClassObject> &object)
{
    return static_cast<FakeClassObject *>(object.Get());
}

// An address object: type 1 with the IPv4 value, 0 with a text, 2 with bytes.
inline ComPtr<IWbemClassObject> Ipv4Address(uint32_t value)
{
    ComPtr<IWbemClassObject> address = Object();
    Fake(address)->SetInt(L"Type", VT_I4, 1);
    Fake(address)->SetInt(L"IpV4Address", VT_UI4, value);
    return address;
}

inline ComPtr<IWbemClassObject> Ipv6Address(const std::vector<uint8_t> &bytes)
{
    ComPtr<IWbemClassObject> address = Object();
    Fake(address)->SetInt(L"Type", VT_I4, 2);
    Fake(address)->SetBytes(L"IpV6Address", bytes);
    return address;
}

inline ComPtr<IWbemClassObject> TextAddress(const wchar_t *text)
{
    ComPtr<IWbemClassObject> address = Object();
    Fake(address)->SetInt(L"Type", VT_I4, 0);
    Fake(address)->SetString(L"TextAddress", text);
    return address;
}

inline ComPtr<IWbemClassObject> Portal(uint32_t index, uint32_t type, const ComPtr<IWbemClassObject> &address)
{
    ComPtr<IWbemClassObject> portal = Object();
    Fake(portal)->SetInt(L"Index", VT_I4, index);
    Fake(portal)->SetInt(L"PortalType", VT_UI1, type);
    Fake(portal)->SetInt(L"Protocol", VT_I4, 6);
    Fake(portal)->SetInt(L"PortalTag", VT_I4, 1);
    Fake(portal)->SetObject(L"IPAddr", address.Get());
    return portal;
}

inline std::vector<IWbemClassObject *> Raw(const std::vector<ComPtr<IWbemClassObject>> &objects)
{
    std::vector<IWbemClassObject *> raw;
    for (const auto &object : objects)
        raw.push_back(object.Get());
    return raw;
}

// An object carrying InstanceName, the count and the embedded array of one per-instance class.
inline ComPtr<IWbemClassObject> Holder(const wchar_t *instance, const wchar_t *countName, const wchar_t *arrayName,
                                       const std::vector<ComPtr<IWbemClassObject>> &elements)
{
    ComPtr<IWbemClassObject> holder = Object();
    Fake(holder)->SetString(L"InstanceName", instance);
    Fake(holder)->SetInt(countName, VT_UI4, static_cast<long long>(elements.size()));
    Fake(holder)->SetObjectArray(arrayName, Raw(elements));
    return holder;
}

inline ComPtr<IWbemClassObject> Hba(const wchar_t *instance, const wchar_t *model)
{
    ComPtr<IWbemClassObject> hba = Object();
    Fake(hba)->SetString(L"InstanceName", instance);
    Fake(hba)->SetString(L"VendorModel", model);
    Fake(hba)->SetString(L"VendorID", L"Vostrel");
    Fake(hba)->SetString(L"VendorVersion", L"6.2");
    Fake(hba)->SetInt(L"VersionMin", VT_I4, 0);
    Fake(hba)->SetInt(L"VersionMax", VT_I4, 2);
    Fake(hba)->SetInt(L"NumberOfPorts", VT_UI4, 99);
    return hba;
}

inline ComPtr<IWbemClassObject> Connection(uint32_t cid, const ComPtr<IWbemClassObject> &local,
                                           const ComPtr<IWbemClassObject> &remote)
{
    ComPtr<IWbemClassObject> connection = Object();
    Fake(connection)->SetInt(L"CID", VT_UI2, cid);
    Fake(connection)->SetInt(L"State", VT_UI1, 2);
    Fake(connection)->SetObject(L"LocalAddr", local.Get());
    Fake(connection)->SetObject(L"RemoteAddr", remote.Get());
    Fake(connection)->SetInt(L"LocalPort", VT_UI2, 50000);
    Fake(connection)->SetInt(L"RemotePort", VT_UI2, 3260);
    Fake(connection)->SetInt(L"MaxRecvDataSegmentLength", VT_UI4, 100);
    Fake(connection)->SetInt(L"MaxDatagramSize", VT_UI4, 0x2000000);
    Fake(connection)->SetInt(L"HeaderIntegrity", VT_UI1, 1);
    return connection;
}

inline ComPtr<IWbemClassObject> Session(const wchar_t *target, std::vector<uint8_t> isid, uint16_t tsid,
                                        const std::vector<ComPtr<IWbemClassObject>> &connections)
{
    ComPtr<IWbemClassObject> session = Object();
    Fake(session)->SetString(L"InitiatoriSCSIName", L"iqn.1991-05.com.example:host");
    Fake(session)->SetString(L"TargetiSCSIName", target);
    Fake(session)->SetInt(L"TSID", VT_UI2, tsid);
    Fake(session)->SetBytes(L"ISID", isid);
    Fake(session)->SetInt(L"InitialR2t", VT_BOOL, 1);
    Fake(session)->SetInt(L"Type", VT_UI1, 0);
    Fake(session)->SetInt(L"FirstBurstLength", VT_UI4, 511);
    Fake(session)->SetInt(L"MaxBurstLength", VT_UI4, 512);
    Fake(session)->SetInt(L"ConnectionCount", VT_UI4, static_cast<long long>(connections.size()));
    Fake(session)->SetObjectArray(L"ConnectionsList", Raw(connections));
    return session;
}

// MSiSCSI_InitiatorLoginStatistics of an instance: LoginFailures, LoginOtherFailRsps,
// LoginRedirectRsps, LoginAuthFailRsps, LoginAuthenticateFails, LoginNegotiateFails, LogoutNormals
// and LogoutOtherCodes, in that order.
inline ComPtr<IWbemClassObject> LoginStatistics(const wchar_t *instance, const std::array<uint32_t, 8> &counts)
{
    static const wchar_t *const kNames[8] = {L"LoginFailures",          L"LoginOtherFailRsps",
                                             L"LoginRedirectRsps",      L"LoginAuthFailRsps",
                                             L"LoginAuthenticateFails", L"LoginNegotiateFails",
                                             L"LogoutNormals",          L"LogoutOtherCodes"};
    ComPtr<IWbemClassObject> statistics = Object();
    Fake(statistics)->SetString(L"InstanceName", instance);
    for (size_t i = 0; i < counts.size(); ++i)
        Fake(statistics)->SetInt(kNames[i], VT_UI4, counts[i]);
    return statistics;
}

// MSiSCSI_InitiatorInstanceStatistics of an instance: session failures, digest errors, connection
// time-outs and format errors.
inline ComPtr<IWbemClassObject> InstanceStatistics(const wchar_t *instance, uint32_t failures, uint32_t digest,
                                                   uint32_t timeouts, uint32_t format)
{
    ComPtr<IWbemClassObject> statistics = Object();
    Fake(statistics)->SetString(L"InstanceName", instance);
    Fake(statistics)->SetInt(L"SessionFailureCount", VT_UI4, failures);
    Fake(statistics)->SetInt(L"SessionDigestErrorCount", VT_UI4, digest);
    Fake(statistics)->SetInt(L"SessionConnectionTimeoutErrorCount", VT_UI4, timeouts);
    Fake(statistics)->SetInt(L"SessionFormatErrorCount", VT_UI4, format);
    return statistics;
}

// MSiSCSI_BootConfiguration of an instance whose LoginOptions carry the two digests.
inline ComPtr<IWbemClassObject> BootConfiguration(const wchar_t *instance, uint32_t header, uint32_t data)
{
    ComPtr<IWbemClassObject> options = Object();
    Fake(options)->SetInt(L"HeaderDigest", VT_UI4, header);
    Fake(options)->SetInt(L"DataDigest", VT_UI4, data);
    ComPtr<IWbemClassObject> boot = Object();
    Fake(boot)->SetString(L"InstanceName", instance);
    Fake(boot)->SetObject(L"LoginOptions", options.Get());
    return boot;
}

// MSiSCSI_SessionStatistics of the session with that target: PDUCommandsSent,
// PDUResponsesReceived, BytesSent, BytesReceived, DigestErrors and ConnectionTimeoutErrors, as
// the decimal texts the class gives its counters in.
inline ComPtr<IWbemClassObject> SessionStatistics(const wchar_t *target, const std::array<const wchar_t *, 6> &texts)
{
    static const wchar_t *const kNames[6] = {L"PDUCommandsSent", L"PDUResponsesReceived", L"BytesSent",
                                             L"BytesReceived",   L"DigestErrors",         L"ConnectionTimeoutErrors"};
    ComPtr<IWbemClassObject> statistics = Object();
    Fake(statistics)->SetString(L"InstanceName", target);
    for (size_t i = 0; i < texts.size(); ++i)
        Fake(statistics)->SetString(kNames[i], texts[i]);
    return statistics;
}

class IscsiFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SYSTEM\\QZTLMStorage\\iSCSI");
        ResetIscsiKeyCountsForTests();
        services = new FakeServices();
        locator = new FakeLocator(services);
        CoWMISetLocatorForTests(locator);
    }
    void TearDown() override
    {
        CoWMISetLocatorForTests(nullptr);
        locator->Release();
        services->Release();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SYSTEM\\QZTLMStorage\\iSCSI");
    }

    // One pass of the layer as the collector runs it.
    void Pass()
    {
        ISCSI_LISTS context;
        BuildIscsiLists(&context);
        ASSERT_EQ(S_OK, CoWMINameSpaceConnect(L"root\\WMI"));
        UpdateIscsiData(&context);
        CoWMINameSpaceRelease();
    }

    // One instance "ROOT\\ISCSIPRT\\0000_0" with the given sessions (each a list of connections).
    void OneInstance(const std::vector<ComPtr<IWbemClassObject>> &sessions)
    {
        const wchar_t *name = L"ROOT\\ISCSIPRT\\0000_0";
        services->SetClass(L"MSiSCSI_HBAInformation", {Hba(name, L"Software Initiator")});
        ComPtr<IWbemClassObject> info = Holder(name, L"SessionCount", L"SessionsList", sessions);
        services->SetClass(L"MSiSCSI_InitiatorSessionInfo", {info});
        // A class missing here would end the pass before the sessions are read.
        services->SetClass(L"MSiSCSI_PortalInfoClass", {});
    }

    FakeServices *services = nullptr;
    FakeLocator *locator = nullptr;
};

// The values of a record key: name → data.
inline std::vector<std::pair<std::string, std::vector<uint8_t>>> Values(int row)
{
    std::vector<std::pair<std::string, std::vector<uint8_t>>> values;
    HKEY key = nullptr;
    std::string path = std::string("SYSTEM\\") + StorageKeyPath(row);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameLength = sizeof name;
        uint8_t data[4096];
        DWORD size = sizeof data;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, nullptr, data, &size) != ERROR_SUCCESS)
            break;
        values.emplace_back(name, std::vector<uint8_t>(data, data + size));
    }
    RegCloseKey(key);
    return values;
}

inline bool KeyExists(int row)
{
    HKEY key = nullptr;
    std::string path = std::string("SYSTEM\\") + StorageKeyPath(row);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

template <class Record> Record RecordOf(int row, const std::string &name)
{
    Record record{};
    for (const auto &[valueName, data] : Values(row))
        if (valueName == name && data.size() == sizeof record)
            std::memcpy(&record, data.data(), sizeof record);
    return record;
}

} // namespace iscsitest
