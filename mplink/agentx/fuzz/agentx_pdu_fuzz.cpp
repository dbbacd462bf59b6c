// Every received PDU goes through ReadAgentXPdu first. This target feeds it arbitrary bytes and,
// for what it accepts, checks that the trusted walkers stay inside the PDU and agree with the
// reader, and that a Response answering every search range reads back cleanly.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "agentx_pdu.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckRanges(const AGENTX_RECEIVED_PDU &pdu)
{
    AGENTX_READER reader(pdu.ranges, pdu.rangesLength);
    const uint8_t *walked = pdu.ranges;
    uint8_t response[AGENTX_PDU_BUFFER_SIZE];
    Check(BeginAgentXResponse(response, sizeof response, pdu.header, 1, AXError_NoError) != 0);
    bool tooBig = false;
    for (uint32_t i = 0; i < pdu.rangeCount; ++i) {
        AGENTX_SEARCH_RANGE range;
        Check(reader.SearchRange(&range) == AXRead_Ok);
        Check(range.rawStart == walked && SearchRangeEnd(walked) == range.rawEnd);
        MIBOID start;
        Check(DecodeAgentXOid(walked, &start) && start == range.start);
        walked = NextSearchRange(walked);
        Check(walked <= pdu.pdu + pdu.size);
        // Answer as the sub-agent would when nothing is found, until the Response is full.
        if (!tooBig && !AppendAgentXEmptyVarBind(response, sizeof response, AXVarBind_EndOfMibView, range.rawStart)) {
            AnswerAgentXTooBig(response);
            tooBig = true;
        }
    }
    Check(reader.Remaining() == 0 && walked == pdu.ranges + pdu.rangesLength);

    AGENTX_RECEIVED_PDU answer;
    Check(ReadAgentXPdu(response, AGENTX_HEADER_SIZE + GetAgentXPayloadLength(response), &answer) == AXRead_Ok);
    Check(answer.header.type == AXPacketType_Response);
    Check(answer.varbindCount == (tooBig ? 0 : pdu.rangeCount));
}

void CheckVarBinds(const AGENTX_RECEIVED_PDU &pdu)
{
    AGENTX_READER reader(pdu.varbinds, pdu.varbindsLength);
    const uint8_t *walked = pdu.varbinds;
    for (uint32_t i = 0; i < pdu.varbindCount; ++i) {
        AGENTX_VARBIND varbind;
        Check(reader.VarBind(&varbind) == AXRead_Ok);
        Check(varbind.start == walked && varbind.size == VarBindSize(walked));
        Check(varbind.data == GetVarBindData(walked) && varbind.dataSize == VarBindDataSize(walked));
        MIBOID name;
        Check(DecodeAgentXOid(varbind.name, &name));
        walked = NextVarBind(walked);
        Check(walked <= pdu.pdu + pdu.size);
    }
    Check(reader.Remaining() == 0 && walked == pdu.varbinds + pdu.varbindsLength);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact copy, so that a read one byte past the input is caught.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size ? size : 1]);
    if (size)
        std::memcpy(bytes.get(), data, size);

    AGENTX_RECEIVED_PDU pdu;
    const int result = ReadAgentXPdu(bytes.get(), size, &pdu);
    uint16_t error = 0;
    const bool answerable = AgentXReadAnswer(result, &error);
    Check(result == AXRead_Ok ? (answerable && error == 0) : (!answerable || error != 0));
    if (result != AXRead_Ok)
        return 0;

    Check(pdu.size <= size && pdu.payload + pdu.payloadLength == pdu.pdu + pdu.size);
    if (pdu.context) {
        Check(PduContext(pdu.pdu) == pdu.context && PduPayload(pdu.pdu) == pdu.payload);
        Check(PduPayloadLength(pdu.pdu) == pdu.payloadLength);
    }
    if (pdu.ranges)
        CheckRanges(pdu);
    if (pdu.varbinds)
        CheckVarBinds(pdu);
    return 0;
}
