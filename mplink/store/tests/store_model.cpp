#include "store_model.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace storemodel {

Path ToPath(const MIBOID &oid)
{
    return Path(oid.subIds, oid.subIds + oid.count);
}

MIBOID ToOid(const Path &path)
{
    MIBOID oid;
    if (!oid.Assign(path.data(), static_cast<int32_t>(path.size())))
        oid.count = -1;
    return oid;
}

std::string Describe(const Path &path)
{
    std::ostringstream text;
    for (size_t i = 0; i < path.size(); ++i)
        text << (i ? "." : "") << path[i];
    return path.empty() ? "(empty)" : text.str();
}

static bool IsPrefix(const Path &prefix, const Path &path)
{
    return prefix.size() <= path.size() && std::equal(prefix.begin(), prefix.end(), path.begin());
}

static bool IsStorePath(const Path &path)
{
    return !path.empty() && path.size() <= static_cast<size_t>(MIBOID_MAX_SUBIDS) && path[0] == 1;
}

static ModelNode Stored(const MIBVALUE &value)
{
    ModelNode node;
    node.type = value.type;
    node.flags = value.flags;
    const uint32_t length = MibValueStoredLength(value.type, value.length);
    node.data.assign(value.data, value.data + length);
    return node;
}

StoreModel::StoreModel()
{
    Reset();
}

void StoreModel::Reset()
{
    m_Nodes.clear();
    m_Nodes[Path{1}] = ModelNode{};
}

void StoreModel::Ensure(const Path &path, size_t count)
{
    // Every prefix of an existing node exists too: find the longest one present, make the rest.
    Path prefix(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(count));
    size_t present = count;
    while (present > 0 && !m_Nodes.count(prefix)) {
        --present;
        prefix.pop_back();
    }
    for (size_t n = present + 1; n <= count; ++n) {
        prefix.push_back(path[n - 1]);
        m_Nodes.try_emplace(prefix);
    }
}

bool StoreModel::HasChildren(const Path &path) const
{
    auto it = m_Nodes.upper_bound(path);
    return it != m_Nodes.end() && IsPrefix(path, it->first);
}

void StoreModel::EraseSubtree(const Path &path, bool keepTop)
{
    auto it = m_Nodes.lower_bound(path);
    if (keepTop && it != m_Nodes.end() && it->first == path)
        ++it;
    while (it != m_Nodes.end() && IsPrefix(path, it->first))
        it = m_Nodes.erase(it);
}

bool StoreModel::SetValue(const Path &path, const MIBVALUE &value)
{
    if (!IsStorePath(path) || path.size() < 2)
        return false;
    Ensure(path, path.size());
    m_Nodes[path] = Stored(value);
    return true;
}

bool StoreModel::FindOrCreate(const Path &path)
{
    if (!IsStorePath(path))
        return false;
    Ensure(path, path.size());
    return true;
}

void StoreModel::DeleteChildren(const Path &path)
{
    EraseSubtree(path, true);
}

void StoreModel::MarkReplace(const Path &path)
{
    ModelNode &node = m_Nodes[path];
    node.type = 0;
    node.flags |= MIBFLAG_REPLACE;
}

bool StoreModel::SetBelow(const Path &node, const Path &relative, const MIBVALUE &value)
{
    // A writer finds its node again (making it anew when a clear or a merge took it) before it
    // looks at the cell.
    Ensure(node, node.size());
    Path path = node;
    path.insert(path.end(), relative.begin(), relative.end());
    if (relative.empty() || path.size() > static_cast<size_t>(MIBOID_MAX_SUBIDS))
        return false;
    Ensure(path, path.size());
    m_Nodes[path] = Stored(value);
    return true;
}

bool StoreModel::Walk(const Path *start, const Path *end, bool excludeStart, size_t limit,
                      std::vector<Visit> *visits) const
{
    auto it = m_Nodes.begin();
    if (start)
        it = excludeStart ? m_Nodes.upper_bound(*start) : m_Nodes.lower_bound(*start);
    for (; it != m_Nodes.end(); ++it) {
        if (end && !(it->first < *end))
            break;
        const ModelNode &node = it->second;
        if (node.type == 0 || (node.flags & MIBFLAG_REPLACE))
            continue;
        visits->push_back(Visit{it->first, node});
        if (limit && visits->size() == limit)
            return false;
    }
    return true;
}

bool StoreModel::Merge(StoreModel &staging)
{
    auto &from = staging.m_Nodes;
    const Path root{1};
    if (from[root].flags & MIBFLAG_REPLACE) {
        Reset();
        for (auto it = std::next(from.begin()); it != from.end(); ++it)
            m_Nodes[it->first] = it->second;
        staging.Reset();
        return true;
    }
    auto it = std::next(from.begin());
    while (it != from.end()) {
        const Path path = it->first;
        const ModelNode node = it->second;
        if (node.flags & MIBFLAG_REPLACE) {
            Ensure(path, path.size() - 1);
            EraseSubtree(path, false);
            for (auto moved = it; moved != from.end() && IsPrefix(path, moved->first); ++moved)
                m_Nodes[moved->first] = moved->second;
            m_Nodes[path].flags &= static_cast<uint16_t>(~MIBFLAG_REPLACE);
            staging.EraseSubtree(path, false);
            it = from.lower_bound(path);
        } else if (node.type != 0) {
            if (staging.HasChildren(path))
                return false;
            if (m_Nodes.count(path) && HasChildren(path))
                return false;
            Ensure(path, path.size() - 1);
            m_Nodes[path] = node;
            it = from.erase(it);
        } else {
            ++it;
        }
    }
    return true;
}

// ---- Driver -------------------------------------------------------------------------------------

Driver::Driver()
    : m_Global(new DATASTORE(true)), m_Staging(new DATASTORE(false)),
      m_Table(std::make_unique<DATASTORE_TABLE>(m_Staging)), m_Cursor(std::make_unique<DATASTORE_CURSOR>(m_Staging))
{
}

Driver::~Driver()
{
    delete m_Staging;
    delete m_Global;
}

bool Driver::Fail(const std::string &why)
{
    if (m_Failure.empty()) {
        m_Failure = why + "\nlast operations:";
        for (const std::string &line : m_Recent)
            m_Failure += "\n  " + line;
    }
    return false;
}

void Driver::Note(const std::string &what)
{
    m_Recent.push_back(what);
    if (m_Recent.size() > 16)
        m_Recent.pop_front();
}

Path Driver::RandomPath(Choices &c)
{
    // Few distinct sub-identifiers, so that operations meet each other's nodes; now and then an
    // extreme one, a path the store must refuse, or a very deep one.
    static const uint32_t kIds[] = {0, 1, 2, 3, 4, 7, 11, 1000, 0x7FFFFFFF, 0xFFFFFFFF};
    const uint32_t shape = c.Below(64);
    Path path;
    if (shape == 0)
        return path;  // empty
    if (shape == 1) {
        path.assign(static_cast<size_t>(MIBOID_MAX_SUBIDS) - c.Below(3), 1);  // at the depth limit
        path.back() = kIds[c.Below(10)];
        return path;
    }
    path.push_back(shape == 2 ? kIds[c.Below(10)] : 1);
    const uint32_t length = 1 + c.Below(5);
    for (uint32_t i = 0; i < length; ++i)
        path.push_back(kIds[c.Below(i < 2 ? 4 : 10)]);
    return path;
}

void Driver::RandomValue(Choices &c, MIBVALUE *value)
{
    static const uint16_t kTypes[] = {MIBTYPE_NONE, MIBTYPE_INTEGER, MIBTYPE_OCTETSTRING, MIBTYPE_NULL,
                                      MIBTYPE_OID, MIBTYPE_IPADDRESS, MIBTYPE_COUNTER32, MIBTYPE_GAUGE32,
                                      MIBTYPE_TIMETICKS, MIBTYPE_OPAQUE, MIBTYPE_COUNTER64, 99};
    const uint16_t type = kTypes[c.Below(12)];
    // Lengths around the node's inline room and the value's limit.
    static const uint32_t kLengths[] = {0, 3, 4, 8, 23, 24, 25, 40, 100, 1016, 1017, 1024};
    uint32_t length = kLengths[c.Below(12)];
    value->Init(type, length);
    for (uint32_t i = 0; i < MIBVALUE_DATA_BYTES && i < length + 8; ++i)
        value->data[i] = static_cast<uint8_t>(i * 7 + length + type);
    value->data[0] = static_cast<uint8_t>(c.Below(256));
    value->flags = static_cast<uint16_t>(c.Below(8) == 0 ? c.Below(4) : 0);
}

bool Driver::Step(Choices &c)
{
    // How often each operation comes: writes most, then walks, merges and full comparisons.
    static const uint8_t kOps[] = {0, 0, 0, 0, 2, 3, 3, 4, 4, 4, 4, 6, 7, 7, 8, 9, 9, 9, 9, 9, 12, 12, 15};
    const uint32_t op = kOps[c.Below(sizeof kOps)];
    MIBVALUE value;
    switch (op) {
    case 0: {  // SetValue on either store
        const bool global = c.Below(2) == 0;
        const Path path = RandomPath(c);
        RandomValue(c, &value);
        Note(std::string("SetValue ") + (global ? "global " : "staging ") + Describe(path) + " type " +
             std::to_string(value.type) + " flags " + std::to_string(value.flags));
        const bool stored = (global ? m_Global : m_Staging)->SetValue(ToOid(path), value);
        const bool expected = (global ? m_GlobalModel : m_StagingModel).SetValue(path, value);
        if (stored != expected)
            return Fail("SetValue " + Describe(path) + " returned " + std::to_string(stored));
        break;
    }
    case 2: {  // a table, often with clear
        const Path entry = RandomPath(c);
        const uint32_t indexLength = c.Below(8) == 0 ? 125 + c.Below(6) : c.Below(3);
        const bool clear = c.Below(2) == 0;
        Note("BeginTable " + Describe(entry) + " index " + std::to_string(indexLength) + (clear ? " clear" : ""));
        const bool opened = m_Table->BeginTable(ToOid(entry), indexLength, clear);
        bool expected = indexLength <= static_cast<uint32_t>(MIBOID_MAX_SUBIDS) && m_StagingModel.FindOrCreate(entry);
        if (expected && clear) {
            m_StagingModel.DeleteChildren(entry);
            m_StagingModel.MarkReplace(entry);
        }
        if (opened != expected)
            return Fail("BeginTable " + Describe(entry) + " returned " + std::to_string(opened));
        m_TableOpen = expected;
        m_TableEntry = entry;
        m_IndexLength = indexLength;
        m_Index.assign(indexLength <= static_cast<uint32_t>(MIBOID_MAX_SUBIDS) ? indexLength : 0, 0);
        break;
    }
    case 3: {  // a row index
        const uint32_t a = c.Below(4), b = c.Below(3) == 0 ? 0xFFFFFFFF : c.Below(4);
        Note("SetIndex " + std::to_string(a) + " " + std::to_string(b));
        m_Table->SetIndex(a, b);
        for (size_t i = 0; i < m_Index.size(); ++i)
            m_Index[i] = i == 0 ? a : (i == 1 ? b : 0);
        break;
    }
    case 4: {  // a cell
        const uint32_t column = c.Below(4);
        Note("SetColumn " + std::to_string(column));
        RandomValue(c, &value);
        value.flags = 0;
        bool written;
        if (c.Below(3) == 0) {
            static const char *const kTexts[] = {"", "abc", "\xC3\xA9t\xC3\xA9", "\xC3\x28", nullptr,
                                                 "a text that is longer than twenty-four bytes"};
            const char *text = kTexts[c.Below(6)];
            written = m_Table->SetString(column, text);
            const char *stored = !text ? "" : (IsValidUtf8(text) ? text : kInvalidCharacterText);
            value.InitOctetString(static_cast<uint32_t>(std::strlen(stored)), stored);
        } else {
            written = m_Table->SetColumn(column, value);
        }
        Path relative{column};
        relative.insert(relative.end(), m_Index.begin(), m_Index.end());
        const bool expected = m_TableOpen && m_StagingModel.SetBelow(m_TableEntry, relative, value);
        if (written != expected)
            return Fail("SetColumn below " + Describe(m_TableEntry) + " returned " + std::to_string(written));
        break;
    }
    case 6: {  // a scalar group
        const Path group = RandomPath(c);
        const bool clear = c.Below(2) == 0;
        Note("Open " + Describe(group) + (clear ? " clear" : ""));
        const bool opened = m_Cursor->Open(ToOid(group), clear);
        const bool expected = m_StagingModel.FindOrCreate(group);
        if (expected && clear) {
            m_StagingModel.DeleteChildren(group);
            m_StagingModel.MarkReplace(group);
        }
        if (opened != expected)
            return Fail("Open " + Describe(group) + " returned " + std::to_string(opened));
        m_CursorOpen = expected;
        m_CursorGroup = group;
        break;
    }
    case 7: {  // a scalar
        const uint32_t number = c.Below(4);
        const int32_t integer = static_cast<int32_t>(c.Below(1000)) - 500;
        Note("SetScalar " + std::to_string(number));
        const bool written = m_Cursor->SetInteger(number, integer);
        value.InitInteger(integer);
        const bool expected = m_CursorOpen && m_StagingModel.SetBelow(m_CursorGroup, Path{number, 0}, value);
        if (written != expected)
            return Fail("SetScalar below " + Describe(m_CursorGroup) + " returned " + std::to_string(written));
        break;
    }
    case 8: {  // DeleteChildren / MarkReplace straight on the staging store
        const Path path = RandomPath(c);
        const bool deleting = c.Below(2) != 0;
        Note((deleting ? "DeleteChildren " : "MarkReplace ") + Describe(path));
        DATASTORE_NODE *node = m_Staging->FindOrCreate(ToOid(path));
        if ((node != nullptr) != m_StagingModel.FindOrCreate(path))
            return Fail("FindOrCreate " + Describe(path));
        if (node) {
            if (deleting) {
                m_Staging->DeleteChildren(node);
                m_StagingModel.DeleteChildren(path);
            } else {
                DATASTORE::MarkReplace(node);
                m_StagingModel.MarkReplace(path);
            }
        }
        break;
    }
    case 9: {  // a walk of either store
        const bool global = c.Below(3) != 0;
        const uint32_t startKind = c.Below(4), endKind = c.Below(4);
        // Often where the last stopped walk ended, as a manager's next GetNext would.
        const Path start = startKind >= 2 && !m_LastStop.empty() ? m_LastStop : RandomPath(c);
        Path end = startKind == 1 && endKind == 1 ? start : RandomPath(c);
        if (endKind == 1)
            end.push_back(0);  // the Get form: start . 0
        const bool exclude = c.Below(2) == 0;
        const size_t limit = c.Below(4);
        Note(std::string("Walk ") + (global ? "global" : "staging") + " from " +
             (startKind == 0 ? "the first" : Describe(start)) + " to " + (endKind == 0 ? "the end" : Describe(end)) +
             (exclude ? " excluding" : "") + " limit " + std::to_string(limit));
        const MIBOID startOid = ToOid(start), endOid = ToOid(end);
        std::vector<Visit> seen;
        DATASTORE *store = global ? m_Global : m_Staging;
        const bool ran = store->Walk(startKind == 0 ? s_NoStartOid : startOid, endKind == 0 ? s_NoEndOid : endOid,
                                     exclude, [&](const MIBOID &oid, const MIBVALUE_REF &v) {
                                         seen.push_back(Visit{ToPath(oid), ModelNode{v.type, v.flags,
                                                              std::vector<uint8_t>(v.data, v.data + v.length)}});
                                         return !(limit && seen.size() == limit);
                                     });
        std::vector<Visit> expected;
        const bool startValid = start.size() <= static_cast<size_t>(MIBOID_MAX_SUBIDS);
        const bool endValid = end.size() <= static_cast<size_t>(MIBOID_MAX_SUBIDS);
        bool expectedRan = true;
        if (startValid || startKind == 0) {
            if (endValid || endKind == 0)
                expectedRan = (global ? m_GlobalModel : m_StagingModel)
                                  .Walk(startKind == 0 ? nullptr : &start, endKind == 0 ? nullptr : &end, exclude,
                                        limit, &expected);
        }
        if (!ran && !seen.empty())
            m_LastStop = seen.back().oid;
        if (ran != expectedRan || seen != expected)
            return Fail("Walk from " + Describe(start) + " to " + Describe(end) + (exclude ? " excluding" : "") +
                        " saw " + std::to_string(seen.size()) + " nodes, expected " +
                        std::to_string(expected.size()));
        break;
    }
    case 12: {  // the end of a cycle: merge, and now and then a fresh staging store
        Note("Merge");
        const bool merged = m_Global->Merge(m_Staging);
        const bool expected = m_GlobalModel.Merge(m_StagingModel);
        if (merged != expected)
            return Fail("Merge returned " + std::to_string(merged));
        if (c.Below(2) == 0) {
            Note("new staging store");
            delete m_Staging;
            m_Staging = new DATASTORE(false);
            m_Table = std::make_unique<DATASTORE_TABLE>(m_Staging);
            m_Cursor = std::make_unique<DATASTORE_CURSOR>(m_Staging);
            m_StagingModel.Reset();
            m_TableOpen = m_CursorOpen = false;
        }
        break;
    }
    default:
        return Compare();
    }
    return true;
}

bool Driver::CompareStore(DATASTORE *store, const StoreModel &model, const char *name)
{
    std::vector<std::pair<Path, ModelNode>> nodes;
    const bool sound = store->Inspect(
        [](const MIBOID &oid, const DATASTORE_NODE &node, void *user) {
            static_cast<std::vector<std::pair<Path, ModelNode>> *>(user)->emplace_back(
                ToPath(oid), ModelNode{node.type, node.flags,
                                       std::vector<uint8_t>(node.Data(), node.Data() + node.length)});
        },
        &nodes);
    if (!sound)
        return Fail(std::string(name) + " store breaks its invariants");
    const auto &expected = model.Nodes();
    auto it = expected.begin();
    for (const auto &[path, node] : nodes) {
        if (it == expected.end() || path != it->first)
            return Fail(std::string(name) + " store has node " + Describe(path) + ", model " +
                        (it == expected.end() ? "nothing" : Describe(it->first)));
        // A node without a value may keep stale bytes; only its type and flags count.
        const bool same = node.type == it->second.type && node.flags == it->second.flags &&
                          (node.type == 0 || node.data == it->second.data);
        if (!same)
            return Fail(std::string(name) + " store differs at " + Describe(path));
        ++it;
    }
    if (it != expected.end())
        return Fail(std::string(name) + " store lacks node " + Describe(it->first));
    return true;
}

bool Driver::Compare()
{
    return CompareStore(m_Global, m_GlobalModel, "global") && CompareStore(m_Staging, m_StagingModel, "staging");
}

} // namespace storemodel
