#pragma once
// The iSCSI records published under QZTLMStorage\iSCSI: little-endian, packed, texts 8-bit and
// NUL-terminated inside their fields. Other programs read these keys, so every offset is fixed.

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

struct ISCSI_INSTANCE_RECORD {
    uint32_t InstanceIndex;
    char InstanceName[256];
    char Description[256];
    char VendorId[256];
    uint8_t Reserved772[4];
    int32_t VersionMin;
    int32_t VersionMax;
    char VendorVersion[256];
    uint32_t NumberOfPortals;
    uint32_t InstanceCount;
    uint32_t NumberOfSessions;
    uint32_t SessionFailureCount;
    uint8_t Constant2;
    uint8_t Reserved1057[3];
    uint32_t Reserved1060;
    uint32_t Reserved1064;
    uint8_t Reserved1068[120];
    char RemoteNodeName[256];
    uint32_t SessionDigestErrorCount;
    uint32_t SessionConnectionTimeoutErrorCount;
    uint32_t SessionFormatErrorCount;
};

struct ISCSI_PORTAL_RECORD {
    uint32_t InstanceIndex;
    uint32_t PortalIndex;
    uint32_t Constant1;
    char Roles[2];
    uint8_t Reserved14[2];
    uint32_t AddressType;
    char Address[40];
    uint32_t Protocol;
    uint32_t MaxRecvDataLength;
    uint32_t HeaderDigest;
    uint32_t DataDigest;
    uint32_t Constant3a;
    uint32_t Constant3b;
    uint32_t Constant2;
    uint32_t PortalTag;
    uint32_t Reserved92;
};

struct ISCSI_INITIATOR_RECORD {
    uint32_t Constant1;
    uint32_t InstanceIndex;
    uint32_t NodeIndex;
    uint32_t Reserved12;
    char InstanceName[256];
    uint32_t LoginFailures;
    uint32_t LastFailureTime;
    uint8_t Constant2;
    uint8_t Reserved281[131];
    char FailureName[256];
    uint32_t FailureAddressType;
    char FailureAddress[44];
    uint32_t OtherFailureResponses;
    uint32_t RedirectResponses;
    uint32_t AuthFailureResponses;
    uint32_t AuthenticationFailures;
    uint32_t NegotiationFailures;
    uint32_t NormalLogouts;
    uint32_t OtherLogoutCodes;
};

struct ISCSI_SESSION_RECORD {
    uint32_t InstanceIndex;
    uint32_t NodeIndex;
    uint32_t SessionIndex;
    uint8_t Reserved12[12];
    uint32_t Constant2a;
    char InitiatorName[256];
    char TargetName[256];
    uint32_t Tsid;
    uint8_t Isid[6];
    char InitiatorAlias[256];
    char TargetAlias[256];
    uint8_t Reserved1062[2];
    uint32_t InitialR2t;
    uint32_t ImmediateData;
    uint32_t SessionType;
    uint32_t MaxOutstandingR2t;
    int32_t FirstBurstLength;
    int32_t MaxBurstLength;
    uint32_t ConnectionCount;
    uint8_t Constant2b;
    uint8_t Reserved1093[3];
    uint32_t Reserved1096;
    uint32_t Reserved1100;
    uint8_t Reserved1104[120];
    uint32_t DataSequenceInOrder;
    uint32_t DataPduInOrder;
    uint32_t ErrorRecoveryLevel;
    uint32_t PduCommandsSent;
    uint32_t PduResponsesReceived;
    uint32_t BytesSentHigh;
    uint32_t BytesSentLow;
    uint32_t BytesReceivedHigh;
    uint32_t BytesReceivedLow;
    uint32_t DigestErrors;
    uint32_t ConnectionTimeoutErrors;
    char SessionId[256];
    uint32_t Reserved1524;
};

struct ISCSI_CONNECTION_RECORD {
    uint32_t InstanceIndex;
    uint32_t NodeIndex;
    uint32_t SessionIndex;
    uint32_t ConnectionIndex;
    uint32_t Cid;
    uint32_t State;
    uint32_t LocalAddressType;
    char LocalAddress[40];
    uint32_t Protocol;
    uint32_t LocalPort;
    uint32_t RemoteAddressType;
    char RemoteAddress[40];
    uint32_t RemotePort;
    int32_t MaxRecvDataSegmentLength;
    int32_t MaxDatagramSize;
    uint32_t HeaderIntegrity;
    uint32_t DataIntegrity;
    uint32_t Constant2a;
    uint32_t Constant2b;
    uint32_t Reserved148;
};

#pragma pack(pop)

static_assert(sizeof(ISCSI_INSTANCE_RECORD) == 1456);
static_assert(offsetof(ISCSI_INSTANCE_RECORD, Description) == 260);
static_assert(offsetof(ISCSI_INSTANCE_RECORD, VendorId) == 516);
static_assert(offsetof(ISCSI_INSTANCE_RECORD, VersionMin) == 776);
static_assert(offsetof(ISCSI_INSTANCE_RECORD, VendorVersion) == 784);
static_assert(offsetof(ISCSI_INSTANCE_RECORD, NumberOfPortals) == 1040);
static_assert(offsetof(ISCSI_INSTANCE_RECORD, SessionFailureCount) == 1052);
static_assert(offsetof(ISCSI_INSTANCE_RECORD, Constant2) == 1056);
static_assert(offsetof(ISCSI_INSTANCE_RECORD, RemoteNodeName) == 1188);
static_assert(offsetof(ISCSI_INSTANCE_RECORD, SessionDigestErrorCount) == 1444);

static_assert(sizeof(ISCSI_PORTAL_RECORD) == 96);
static_assert(offsetof(ISCSI_PORTAL_RECORD, Roles) == 12);
static_assert(offsetof(ISCSI_PORTAL_RECORD, AddressType) == 16);
static_assert(offsetof(ISCSI_PORTAL_RECORD, Address) == 20);
static_assert(offsetof(ISCSI_PORTAL_RECORD, Protocol) == 60);
static_assert(offsetof(ISCSI_PORTAL_RECORD, PortalTag) == 88);

static_assert(sizeof(ISCSI_INITIATOR_RECORD) == 744);
static_assert(offsetof(ISCSI_INITIATOR_RECORD, InstanceName) == 16);
static_assert(offsetof(ISCSI_INITIATOR_RECORD, LoginFailures) == 272);
static_assert(offsetof(ISCSI_INITIATOR_RECORD, Constant2) == 280);
static_assert(offsetof(ISCSI_INITIATOR_RECORD, FailureName) == 412);
static_assert(offsetof(ISCSI_INITIATOR_RECORD, FailureAddress) == 672);
static_assert(offsetof(ISCSI_INITIATOR_RECORD, OtherFailureResponses) == 716);
static_assert(offsetof(ISCSI_INITIATOR_RECORD, OtherLogoutCodes) == 740);

static_assert(sizeof(ISCSI_SESSION_RECORD) == 1528);
static_assert(offsetof(ISCSI_SESSION_RECORD, Constant2a) == 24);
static_assert(offsetof(ISCSI_SESSION_RECORD, InitiatorName) == 28);
static_assert(offsetof(ISCSI_SESSION_RECORD, TargetName) == 284);
static_assert(offsetof(ISCSI_SESSION_RECORD, Tsid) == 540);
static_assert(offsetof(ISCSI_SESSION_RECORD, Isid) == 544);
static_assert(offsetof(ISCSI_SESSION_RECORD, InitiatorAlias) == 550);
static_assert(offsetof(ISCSI_SESSION_RECORD, TargetAlias) == 806);
static_assert(offsetof(ISCSI_SESSION_RECORD, InitialR2t) == 1064);
static_assert(offsetof(ISCSI_SESSION_RECORD, FirstBurstLength) == 1080);
static_assert(offsetof(ISCSI_SESSION_RECORD, ConnectionCount) == 1088);
static_assert(offsetof(ISCSI_SESSION_RECORD, Constant2b) == 1092);
static_assert(offsetof(ISCSI_SESSION_RECORD, DataSequenceInOrder) == 1224);
static_assert(offsetof(ISCSI_SESSION_RECORD, BytesSentHigh) == 1244);
static_assert(offsetof(ISCSI_SESSION_RECORD, ConnectionTimeoutErrors) == 1264);
static_assert(offsetof(ISCSI_SESSION_RECORD, SessionId) == 1268);

static_assert(sizeof(ISCSI_CONNECTION_RECORD) == 152);
static_assert(offsetof(ISCSI_CONNECTION_RECORD, LocalAddress) == 28);
static_assert(offsetof(ISCSI_CONNECTION_RECORD, Protocol) == 68);
static_assert(offsetof(ISCSI_CONNECTION_RECORD, RemoteAddressType) == 76);
static_assert(offsetof(ISCSI_CONNECTION_RECORD, RemoteAddress) == 80);
static_assert(offsetof(ISCSI_CONNECTION_RECORD, RemotePort) == 120);
static_assert(offsetof(ISCSI_CONNECTION_RECORD, MaxRecvDataSegmentLength) == 124);
static_assert(offsetof(ISCSI_CONNECTION_RECORD, HeaderIntegrity) == 132);
static_assert(offsetof(ISCSI_CONNECTION_RECORD, Reserved148) == 148);
