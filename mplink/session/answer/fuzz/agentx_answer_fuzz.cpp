// A request from the master, answered from a small populated store as the sub-agent answers it,
// and the Response checked against a plain list of what the store holds: the right object (or the
// right exception) for every search range, named and valued as put in, and tooBig exactly when
// the answer would not fit the buffer. A PDU the reader refuses is answered with its error by the
// session, not here.
#include "agentx_answer.h"
#include "agentx_pdu.h"
#include "datastore.h"
#include "store_writers.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

struct Object {
    MIBOID oid;
    MIBVALUE value;
};

MIBOID Oid(std::initializer_list<uint32_t> ids)
{
    MIBOID oid;
    for (uint32_t id : ids)
        Check(oid.Append(id));
    return oid;
}

// The store's contents, in OID order: scalars, a table with a long string, another group, and a
// standard object below the enterprise arc.
const std::vector<Object> &Objects()
{
    static const std::vector<Object> objects = [] {
        const uint32_t E = 32473;
        std::vector<Object> list;
        auto integer = [&](MIBOID oid, int32_t v) {
            Object o{oid, {}};
            o.value.InitInteger(v);
            list.push_back(o);
        };
        auto text = [&](MIBOID oid, const std::string &s) {
            Object o{oid, {}};
            o.value.InitOctetString(static_cast<uint32_t>(s.size()), s.data());
            list.push_back(o);
        };
        text(Oid({1, 3, 6, 1, 2, 1, 1, 1, 0}), "host");
        Object ticks{Oid({1, 3, 6, 1, 2, 1, 1, 3, 0}), {}};
        ticks.value.InitTimeTicks(123456);
        list.push_back(ticks);
        integer(Oid({1, 3, 6, 1, 4, 1, E, 1, 1, 0}), 42);
        text(Oid({1, 3, 6, 1, 4, 1, E, 1, 2, 0}), "abc");
        integer(Oid({1, 3, 6, 1, 4, 1, E, 1, 3, 1, 0}), 7);
        for (uint32_t row = 1; row <= 3; ++row) {
            integer(Oid({1, 3, 6, 1, 4, 1, E, 1, 10, 1, 1, row}), static_cast<int32_t>(row * 3));
            text(Oid({1, 3, 6, 1, 4, 1, E, 1, 10, 1, 2, row}), std::string(row == 2 ? 900 : row, 'r'));
        }
        integer(Oid({1, 3, 6, 1, 4, 1, E, 5, 1, 0}), -3);
        std::sort(list.begin(), list.end(),
                  [](const Object &a, const Object &b) { return CompareMibOid(a.oid, b.oid) < 0; });
        return list;
    }();
    return objects;
}

DATASTORE *Store()
{
    static DATASTORE *store = [] {
        Check(InitDataStores());
        auto *made = new DATASTORE(true);
        for (const Object &o : Objects())
            Check(made->SetValue(o.oid, o.value));
        return made;
    }();
    return store;
}

// What one range must be answered with: the object, or null for the exception.
const Object *Expected(const AGENTX_SEARCH_RANGE &range, bool next)
{
    for (const Object &o : Objects()) {
        int fromStart = CompareMibOid(o.oid, range.start);
        if (!next) {
            if (fromStart == 0)
                return &o;
            continue;
        }
        if (fromStart < 0 || (fromStart == 0 && range.include == 0))
            continue;
        if (range.end.count != 0 && CompareMibOid(o.oid, range.end) >= 0)
            return nullptr;
        return &o;
    }
    return nullptr;
}

void CheckValue(const AGENTX_VARBIND &varbind, const Object &o)
{
    MIBVALUE_REF value = o.value.Ref();
    Check(varbind.type == value.type);
    if (value.type == MIBTYPE_OCTETSTRING) {
        Check(varbind.dataSize >= 4 && GetAgentXU32(varbind.data) == value.length);
        Check(std::memcmp(varbind.data + 4, value.data, value.length) == 0);
    } else {
        Check(varbind.dataSize == 4 && GetAgentXU32(varbind.data) == value.U32());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    DATASTORE *store = Store();
    AGENTX_RECEIVED_PDU request;
    if (ReadAgentXPdu(data, size, &request) != AXRead_Ok)
        return 0;
    bool next = request.header.type == AXPacketType_GetNext;
    if (!next && request.header.type != AXPacketType_Get)
        return 0;

    auto response = std::make_unique<uint8_t[]>(AGENTX_PDU_BUFFER_SIZE);
    Check(BeginAgentXResponse(response.get(), AGENTX_PDU_BUFFER_SIZE, request.header, 77, 5) != 0);
    AnswerAgentXRanges(store, request, response.get(), next);

    AGENTX_RECEIVED_PDU answer;
    Check(ReadAgentXPdu(response.get(), AGENTX_PDU_BUFFER_SIZE, &answer) == AXRead_Ok);
    Check(answer.header.type == AXPacketType_Response && answer.header.packetId == request.header.packetId &&
          answer.header.sessionId == request.header.sessionId && answer.sysUpTime == 77 && answer.index == 0);

    // Walk the request's ranges and the answer's varbinds side by side.
    AGENTX_READER ranges(request.ranges, request.rangesLength);
    AGENTX_READER varbinds(answer.varbinds, answer.varbindsLength);
    size_t wholeSize = AGENTX_HEADER_SIZE + 8;
    bool fits = true;
    for (uint32_t i = 0; i < request.rangeCount; ++i) {
        AGENTX_SEARCH_RANGE range;
        Check(ranges.SearchRange(&range) == AXRead_Ok);
        const Object *expected = Expected(range, next);
        size_t varbindSize = 4 + (expected ? AgentXEncodedOidSize(expected->oid) + AgentXEncodedValueSize(expected->value.Ref())
                                           : AgentXOidSize(range.rawStart));
        wholeSize += varbindSize;
        fits = fits && wholeSize <= AGENTX_PDU_BUFFER_SIZE;
        if (!fits || answer.error != 0)
            continue;
        AGENTX_VARBIND varbind;
        Check(varbinds.VarBind(&varbind) == AXRead_Ok);
        Check(varbind.size == varbindSize);
        if (expected == nullptr) {
            Check(varbind.type == (next ? AXVarBind_EndOfMibView : AXVarBind_NoSuchObject));
            Check(std::memcmp(varbind.name, range.rawStart, AgentXOidSize(range.rawStart)) == 0);
        } else {
            MIBOID name;
            Check(DecodeAgentXOid(varbind.name, &name) && CompareMibOid(name, expected->oid) == 0);
            CheckValue(varbind, *expected);
        }
    }
    if (fits) {
        Check(answer.error == 0 && answer.varbindCount == request.rangeCount);
    } else {
        Check(answer.error == AXError_TooBig && answer.varbindCount == 0);
    }
    return 0;
}
