#pragma once
// Small helpers of the store tests: dotted OIDs, values, and the store heap for one test.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "datastore.h"
#include "store_writers.h"

namespace storetest {

// "1.3.6.1" -> MIBOID; "" -> the empty OID.
inline MIBOID Oid(const std::string &dotted)
{
    MIBOID oid;
    size_t at = 0;
    while (at < dotted.size()) {
        size_t dot = dotted.find('.', at);
        if (dot == std::string::npos)
            dot = dotted.size();
        oid.Append(static_cast<uint32_t>(std::strtoul(dotted.substr(at, dot - at).c_str(), nullptr, 10)));
        at = dot + 1;
    }
    return oid;
}

inline std::string Dotted(const MIBOID &oid)
{
    std::string text;
    for (int32_t i = 0; i < oid.count; ++i)
        text += (i ? "." : "") + std::to_string(oid.subIds[i]);
    return text;
}

inline MIBVALUE Integer(int32_t number)
{
    MIBVALUE value;
    value.InitInteger(number);
    return value;
}

inline MIBVALUE Text(const std::string &text)
{
    MIBVALUE value;
    value.InitOctetString(static_cast<uint32_t>(text.size()), text.data());
    return value;
}

inline std::string TextOf(const MIBVALUE_REF &value)
{
    return std::string(reinterpret_cast<const char *>(value.data), value.length);
}

// "oid=value" for every visible node the walk passes (integers in decimal, strings quoted).
inline std::vector<std::string> WalkAll(DATASTORE *store, const MIBOID &start, const MIBOID &end, bool exclude,
                                        size_t limit = 0)
{
    std::vector<std::string> seen;
    store->Walk(start, end, exclude, [&](const MIBOID &oid, const MIBVALUE_REF &value) {
        std::string shown = value.type == MIBTYPE_OCTETSTRING ? "\"" + TextOf(value) + "\""
                                                              : std::to_string(static_cast<int32_t>(value.U32()));
        seen.push_back(Dotted(oid) + "=" + shown);
        return !(limit && seen.size() == limit);
    });
    return seen;
}

// Every node of the store, "oid" or "oid*" when marked for replacement, after checking the
// store's invariants (a failed check fails the test).
inline std::vector<std::string> Shape(DATASTORE *store)
{
    std::vector<std::string> nodes;
    const bool sound = store->Inspect(
        [](const MIBOID &oid, const DATASTORE_NODE &node, void *user) {
            static_cast<std::vector<std::string> *>(user)->push_back(Dotted(oid) +
                                                                     (node.flags & MIBFLAG_REPLACE ? "*" : ""));
        },
        &nodes);
    EXPECT_TRUE(sound) << "store invariants broken";
    return nodes;
}

// The store heap for one test (of the given maximum size); deletes every store the test left.
// Make it the first member or base so that it outlives the test's own objects.
class StoreHeapScope {
public:
    explicit StoreHeapScope(size_t maximumBytes = 0x400000)
        : m_Initial(DATASTORE::HeapInitialBytes.load()), m_Maximum(DATASTORE::HeapMaximumBytes.load())
    {
        DATASTORE::HeapInitialBytes = maximumBytes < m_Initial ? maximumBytes : m_Initial;
        DATASTORE::HeapMaximumBytes = maximumBytes;
        EXPECT_TRUE(InitDataStores());
    }
    ~StoreHeapScope()
    {
        TermDataStores();
        DATASTORE::HeapInitialBytes = m_Initial;
        DATASTORE::HeapMaximumBytes = m_Maximum;
    }
    StoreHeapScope(const StoreHeapScope &) = delete;
    StoreHeapScope &operator=(const StoreHeapScope &) = delete;

private:
    size_t m_Initial;
    size_t m_Maximum;
};

} // namespace storetest
