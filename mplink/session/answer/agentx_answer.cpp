#include "agentx_answer.h"

namespace {

// The first object of the walk, appended to the Response; found says whether there was one.
void AppendFirst(DATASTORE *store, const MIBOID &start, const MIBOID &end, bool exclude, uint8_t *response,
                 bool *found, bool *tooBig)
{
    store->Walk(start, end, exclude, [&](const MIBOID &oid, const MIBVALUE_REF &value) {
        *found = true;
        if (!AppendAgentXVarBind(response, AGENTX_PDU_BUFFER_SIZE, oid, value))
            *tooBig = true;
        return false;
    });
}

} // namespace

void AnswerAgentXRanges(DATASTORE *store, const AGENTX_RECEIVED_PDU &request, uint8_t *response, bool next)
{
    SetAgentXResponseError(response, 0, 0);
    AGENTX_READER reader(request.ranges, request.rangesLength);
    bool tooBig = false;
    for (uint32_t i = 0; i < request.rangeCount && !tooBig; ++i) {
        AGENTX_SEARCH_RANGE range;
        if (reader.SearchRange(&range) != AXRead_Ok)
            break;
        bool found = false;
        if (store != nullptr) {
            if (next) {
                const MIBOID &end = range.end.count == 0 ? s_NoEndOid : range.end;
                AppendFirst(store, range.start, end, range.include == 0, response, &found, &tooBig);
            } else {
                MIBOID end = range.start;
                if (end.Append(0))
                    AppendFirst(store, range.start, end, false, response, &found, &tooBig);
            }
        }
        if (!found && !AppendAgentXEmptyVarBind(response, AGENTX_PDU_BUFFER_SIZE,
                                                next ? AXVarBind_EndOfMibView : AXVarBind_NoSuchObject,
                                                range.rawStart))
            tooBig = true;
    }
    // A Response that would not fit its buffer says so instead of being cut.
    if (tooBig)
        AnswerAgentXTooBig(response);
}
