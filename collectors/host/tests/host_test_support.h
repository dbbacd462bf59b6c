#pragma once
// What the host collector's tests share: a session that records the PDUs it would send (and
// answers them as the test says), and readers of the served values.

#include "agentx_pdu.h"
#include "ax_session.h"
#include "common_log.h"
#include "datastore.h"
#include "enterprise_arc.h"
#include "registry.h"
#include "traps.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace hosttest {

class ConnectedTransport : public AXTRANSPORT {
public:
    int OpenConnection() override { return 0; }
    int RestartConnection() override { return 0; }
    int CloseConnection() override { return 0; }
    bool IsConnected() override { return true; }
    int Transaction(const uint8_t *, uint8_t *) override { return 257; }
    int Receive(uint8_t *) override { return 300; }
    int Send(const uint8_t *) override { return 0; }
};

// One varbind of a Notify: its name, type, and its value as an integer or as text.
struct VARBIND {
    MIBOID name;
    uint16_t type;
    int64_t integer = 0;
    std::string text;
    MIBOID oid;
};

struct RECORDED_PDU {
    uint8_t type;
    uint8_t flags;
    uint8_t priority;
    MIBOID subtree;                 // Register
    std::vector<VARBIND> varbinds;  // Notify
};

// A session that is open and hands every PDU to the test instead of a master agent.
class RecordingSession : public AXSESSION {
public:
    RecordingSession() : AXSESSION(&m_Transport, nullptr, "host tests") { m_SessionId = 7; }
    // Closed here, while the recording and the transport still exist; the base's own close would
    // run after both are gone.
    ~RecordingSession() override { CloseSession(); }

    std::vector<RECORDED_PDU> pdus;
    // The result of each transaction; 0 without an answer.
    std::function<int(const RECORDED_PDU &)> answer;

    int Transaction(const uint8_t *request, uint8_t *) override
    {
        RECORDED_PDU pdu{};
        pdu.type = request[1];
        pdu.flags = request[2];
        const uint8_t *payload = request + AGENTX_HEADER_SIZE;
        const uint8_t *end = payload + GetAgentXPayloadLength(request);
        if (pdu.type == AXPacketType_Register) {
            pdu.priority = payload[1];
            DecodeAgentXOid(payload + 4, &pdu.subtree);
        } else if (pdu.type == AXPacketType_Notify) {
            for (const uint8_t *varbind = payload; varbind < end; varbind = NextVarBind(varbind))
                pdu.varbinds.push_back(ReadVarBind(varbind));
        }
        pdus.push_back(pdu);
        return answer ? answer(pdu) : 0;
    }

private:
    static uint32_t U32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

    static VARBIND ReadVarBind(const uint8_t *varbind)
    {
        VARBIND read{};
        read.type = static_cast<uint16_t>(varbind[0] | varbind[1] << 8);
        DecodeAgentXOid(varbind + 4, &read.name);
        const uint8_t *data = GetVarBindData(varbind);
        if (read.type == MIBTYPE_INTEGER)
            read.integer = static_cast<int32_t>(U32(data));
        else if (read.type == MIBTYPE_OCTETSTRING)
            read.text.assign(reinterpret_cast<const char *>(data + 4), U32(data));
        else if (read.type == MIBTYPE_OID)
            DecodeAgentXOid(data, &read.oid);
        return read;
    }

    ConnectedTransport m_Transport;
};

// Every trap queued, sent through a recording session.
inline std::vector<RECORDED_PDU> SentTraps()
{
    RecordingSession session;
    while (QueuedTrapCount() > 0 && SendOneTrap(&session) == 0) {
    }
    return session.pdus;
}

// The number n of each trap (the last sub-identifier of its snmpTrapOID.0 value).
inline std::vector<unsigned> TrapNumbers(const std::vector<RECORDED_PDU> &traps)
{
    std::vector<unsigned> numbers;
    for (const RECORDED_PDU &trap : traps)
        numbers.push_back(trap.varbinds.at(0).oid.subIds[trap.varbinds.at(0).oid.count - 1]);
    return numbers;
}

inline std::optional<std::string> TextAt(DATASTORE *store, const MIBOID &oid)
{
    std::optional<std::string> found;
    store->Walk(oid, s_NoEndOid, false, [&](const MIBOID &at, const MIBVALUE_REF &value) {
        if (at == oid)
            found = std::string(reinterpret_cast<const char *>(value.data), value.length);
        return false;
    });
    return found;
}

inline std::optional<int32_t> IntAt(DATASTORE *store, const MIBOID &oid)
{
    std::optional<int32_t> found;
    store->Walk(oid, s_NoEndOid, false, [&](const MIBOID &at, const MIBVALUE_REF &value) {
        if (at == oid && value.type == MIBTYPE_INTEGER)
            found = static_cast<int32_t>(value.U32());
        return false;
    });
    return found;
}

inline std::string OidText(const MIBOID &oid)
{
    std::string text;
    for (int32_t i = 0; i < oid.count; ++i)
        text += "." + std::to_string(oid.subIds[i]);
    return text;
}

// An answer that refuses the PDU of each listed subtree (written below ENTERPRISE_ARC, for example
// ".11.2.4") with its code and accepts the rest.
inline std::function<int(const RECORDED_PDU &)> RefuseSubtrees(std::vector<std::pair<std::string, int>> refusals)
{
    return [refusals = std::move(refusals)](const RECORDED_PDU &pdu) {
        const std::string arc = OidText(EnterpriseOid({}));
        for (const auto &[subtree, code] : refusals)
            if (OidText(pdu.subtree) == arc + subtree)
                return code;
        return 0;
    };
}

// The text log of the test program: started at the Verbose level in a folder of the program's own
// unless it runs already. Lines() gives the lines written since the object was made.
class LogCapture {
public:
    struct LINE {
        std::wstring function;
        std::wstring message;
        std::wstring level;  // the level's name without its padding: "Verbose", "Information"...
        bool operator==(const LINE &) const = default;
    };

    LogCapture()
    {
        if (!s_CommonLog.IsInitialized()) {
            wchar_t temp[MAX_PATH] = {};
            GetTempPathW(MAX_PATH, temp);
            const std::wstring folder = std::wstring(temp) + L"host-tests-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
            CreateDirectoryW(folder.c_str(), nullptr);
            CRegistry config(HKEY_LOCAL_MACHINE, L"System\\TLMLOGCFG");
            config.SetString(L"LogFolder", folder);
            config.SetDword(L"LogLevel", CCommonLog::kVerbose);
            config.SetDword(L"LogMaxSize", CCommonLog::kMaximumMaximumSize);
            s_CommonLog.LogInit(L"TLM", L"host tests");
        }
        m_Start = Text().size();
    }
    // The log takes every level: lines the tests look for are not filtered out.
    static bool Verbose() { return s_CommonLog.IsInitialized() && s_CommonLog.GetLevel() == CCommonLog::kVerbose; }

    std::vector<LINE> Lines() const
    {
        std::vector<LINE> lines;
        const std::wstring text = Text();
        for (size_t start = m_Start; start < text.size();) {
            size_t end = text.find(L"\r\n", start);
            if (end == std::wstring::npos)
                end = text.size();
            const std::wstring line = text.substr(start, end - start);
            const size_t open = line.find(L'|');
            const size_t close = open == std::wstring::npos ? open : line.find(L"|, ", open + 1);
            if (close != std::wstring::npos)
                lines.push_back({line.substr(open + 1, close - open - 1), line.substr(close + 3), Level(line)});
            start = end + 2;
        }
        return lines;
    }
    // The messages of the lines written under one function name, in order.
    std::vector<std::wstring> Messages(const std::wstring &function) const
    {
        std::vector<std::wstring> messages;
        for (const LINE &line : Lines())
            if (line.function == function)
                messages.push_back(line.message);
        return messages;
    }

private:
    // The level's name between the brackets after the time.
    static std::wstring Level(const std::wstring &line)
    {
        const size_t open = line.find(L", [");
        const size_t close = open == std::wstring::npos ? open : line.find(L']', open);
        if (close == std::wstring::npos)
            return {};
        std::wstring level = line.substr(open + 3, close - open - 3);
        while (!level.empty() && level.back() == L' ')
            level.pop_back();
        return level;
    }

    static std::wstring Text()
    {
        const std::wstring path = s_CommonLog.GetBasePath() + L".log";
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return {};
        std::wstring text(GetFileSize(file, nullptr) / sizeof(wchar_t), L'\0');
        DWORD read = 0;
        ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
        CloseHandle(file);
        text.resize(read / sizeof(wchar_t));
        return text;
    }

    size_t m_Start = 0;
};

} // namespace hosttest
