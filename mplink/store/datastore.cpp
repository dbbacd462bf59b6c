// The MIB value store: nodes, sibling search trees, walk and merge.
#include "datastore.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "store_writers.h"

static_assert(offsetof(DATASTORE_NODE, parent) == 0 && offsetof(DATASTORE_NODE, next) == sizeof(void *) &&
                  offsetof(DATASTORE_NODE, subId) == 6 * sizeof(void *) &&
                  offsetof(DATASTORE_NODE, type) == 6 * sizeof(void *) + 8 &&
                  offsetof(DATASTORE_NODE, length) == 6 * sizeof(void *) + 12 &&
                  offsetof(DATASTORE_NODE, data) == 6 * sizeof(void *) + 16,
              "DATASTORE_NODE layout");
static_assert(sizeof(DATASTORE_NODE) == offsetof(DATASTORE_NODE, data) + MIBVALUE_INLINE_BYTES,
              "a node is its header and the inline value bytes");

// ---- OIDs ---------------------------------------------------------------------------------------

MIBOID::MIBOID(std::initializer_list<uint32_t> ids)
{
    if (ids.size() > static_cast<size_t>(MIBOID_MAX_SUBIDS)) {
        count = -1;
        return;
    }
    std::copy(ids.begin(), ids.end(), subIds);
    count = static_cast<int32_t>(ids.size());
}

bool MIBOID::Append(uint32_t id)
{
    if (!IsValid() || count == MIBOID_MAX_SUBIDS)
        return false;
    subIds[count++] = id;
    return true;
}

bool MIBOID::Assign(const uint32_t *ids, int32_t n)
{
    if (n < 0 || n > MIBOID_MAX_SUBIDS || (n > 0 && !ids)) {
        count = 0;
        return false;
    }
    if (n > 0)
        std::memcpy(subIds, ids, static_cast<size_t>(n) * sizeof(uint32_t));
    count = n;
    return true;
}

int CompareMibOid(const MIBOID &a, const MIBOID &b)
{
    // An invalid count never reads past the array.
    const int32_t common = std::clamp(std::min(a.count, b.count), 0, MIBOID_MAX_SUBIDS);
    for (int32_t i = 0; i < common; ++i)
        if (a.subIds[i] != b.subIds[i])
            return a.subIds[i] < b.subIds[i] ? -1 : 1;
    return a.count == b.count ? 0 : (a.count < b.count ? -1 : 1);
}

const MIBOID s_NoStartOid;
const MIBOID s_NoEndOid;
const MIBOID s_ZeroDotZeroOid{0, 0};

// ---- Values -------------------------------------------------------------------------------------

uint32_t MIBVALUE_REF::U32() const
{
    uint32_t value = 0;
    if (data && length >= sizeof value)
        std::memcpy(&value, data, sizeof value);
    return value;
}

uint64_t MIBVALUE_REF::U64() const
{
    uint64_t value = 0;
    if (data && length >= sizeof value)
        std::memcpy(&value, data, sizeof value);
    return value;
}

uint32_t MibValueStoredLength(uint16_t type, uint32_t length)
{
    switch (type) {
    case MIBTYPE_INTEGER:
    case MIBTYPE_COUNTER32:
    case MIBTYPE_GAUGE32:
    case MIBTYPE_TIMETICKS:
        return 4;
    case MIBTYPE_COUNTER64:
        return 8;
    case MIBTYPE_OCTETSTRING:
    case MIBTYPE_OID:
    case MIBTYPE_IPADDRESS:
    case MIBTYPE_OPAQUE:
        return std::min(length, MIBVALUE_DATA_BYTES);
    default:
        return 0;
    }
}

// ---- Reader/writer lock -------------------------------------------------------------------------

void RWLOCK::Init()
{
    pendingWriters.store(0);
    enabled.store(1);
}

void RWLOCK::Term()
{
    enabled.store(0);
}

bool RWLOCK::AcquireShared()
{
    if (!enabled.load())
        return false;
    // Give a waiting writer the lock first, but never wait for it without end.
    const uint32_t count = WriterYieldCount.load();
    for (uint32_t i = 0; i < count && pendingWriters.load() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(WriterYieldMs.load()));
    slim.AcquireShared();
    return true;
}

void RWLOCK::ReleaseShared()
{
    if (enabled.load())
        slim.ReleaseShared();
}

bool RWLOCK::AcquireExclusive()
{
    if (!enabled.load())
        return false;
    pendingWriters.fetch_add(1);
    slim.AcquireExclusive();
    pendingWriters.fetch_sub(1);
    return true;
}

void RWLOCK::ReleaseExclusive()
{
    if (enabled.load())
        slim.ReleaseExclusive();
}

// ---- Heap and store list ------------------------------------------------------------------------

DATASTORE *s_DataStore = nullptr;

namespace {

using Node = DATASTORE_NODE;

std::atomic<storeplatform::Heap *> s_StoreHeap{nullptr};
RWLOCK s_StoreListLock;
DATASTORE *s_FirstStore = nullptr;

Node *NewNode(uint32_t subId, uint32_t valueBytes)
{
    const uint32_t room = std::max(valueBytes, MIBVALUE_INLINE_BYTES);
    void *memory = storeplatform::Allocate(s_StoreHeap.load(), offsetof(Node, data) + room);
    if (!memory)
        return nullptr;
    Node *node = new (memory) Node;
    node->subId = subId;
    node->room = room;
    return node;
}

void FreeNode(Node *node)
{
    node->~Node();
    storeplatform::Free(s_StoreHeap.load(), node);
}

// ---- Sibling search trees
//
// The children of a node form a treap keyed by sub-identifier. A node's priority is a fixed hash
// of its sub-identifier, so the tree's shape depends only on the keys: a node that replaces
// another with the same sub-identifier (a larger node for a longer value, a staging node at the
// merge) takes over its place without any rebalancing.

uint32_t Priority(uint32_t id)
{
    id ^= id >> 16;
    id *= 0x7feb352dU;
    id ^= id >> 15;
    id *= 0x846ca68bU;
    id ^= id >> 16;
    return id;
}

// True when a belongs above b in the tree. The hash is a bijection, so priorities never tie.
bool Above(const Node *a, const Node *b)
{
    return Priority(a->subId) > Priority(b->subId);
}

Node *FindChild(const Node *parent, uint32_t id)
{
    Node *node = parent->childRoot;
    while (node && node->subId != id)
        node = id < node->subId ? node->left : node->right;
    return node;
}

// The smallest child whose sub-identifier is >= id, or null.
Node *LowerBound(const Node *parent, uint32_t id)
{
    Node *node = parent->childRoot;
    Node *best = nullptr;
    while (node) {
        if (node->subId >= id) {
            best = node;
            if (node->subId == id)
                break;
            node = node->left;
        } else {
            node = node->right;
        }
    }
    return best;
}

// The largest child whose sub-identifier is < id, or null.
Node *Predecessor(const Node *parent, uint32_t id)
{
    Node *node = parent->childRoot;
    Node *best = nullptr;
    while (node) {
        if (node->subId < id) {
            best = node;
            node = node->right;
        } else {
            node = node->left;
        }
    }
    return best;
}

// Splits a tree that does not hold id into the keys below and above it.
void Split(Node *tree, uint32_t id, Node **below, Node **above)
{
    if (!tree) {
        *below = *above = nullptr;
    } else if (tree->subId < id) {
        Split(tree->right, id, &tree->right, above);
        *below = tree;
    } else {
        Split(tree->left, id, below, &tree->left);
        *above = tree;
    }
}

Node *TreeInsert(Node *tree, Node *node)
{
    if (!tree) {
        node->left = node->right = nullptr;
        return node;
    }
    if (Above(node, tree)) {
        Split(tree, node->subId, &node->left, &node->right);
        return node;
    }
    if (node->subId < tree->subId)
        tree->left = TreeInsert(tree->left, node);
    else
        tree->right = TreeInsert(tree->right, node);
    return tree;
}

// Joins two trees, every key of `below` being smaller than every key of `above`.
Node *Join(Node *below, Node *above)
{
    if (!below)
        return above;
    if (!above)
        return below;
    if (Above(below, above)) {
        below->right = Join(below->right, above);
        return below;
    }
    above->left = Join(below, above->left);
    return above;
}

Node *TreeErase(Node *tree, uint32_t id)
{
    if (!tree)
        return nullptr;
    if (tree->subId == id)
        return Join(tree->left, tree->right);
    if (id < tree->subId)
        tree->left = TreeErase(tree->left, id);
    else
        tree->right = TreeErase(tree->right, id);
    return tree;
}

// Links a node that is in no tree as a child of parent; the parent has no child with its key.
void InsertChild(Node *parent, Node *node)
{
    Node *before = Predecessor(parent, node->subId);
    node->parent = parent;
    if (before) {
        node->next = before->next;
        before->next = node;
    } else {
        node->next = parent->firstChild;
        parent->firstChild = node;
    }
    parent->childRoot = TreeInsert(parent->childRoot, node);
}

// Unlinks a child whose list predecessor is `before` (null for the first child).
void RemoveChild(Node *parent, Node *node, Node *before)
{
    if (before)
        before->next = node->next;
    else
        parent->firstChild = node->next;
    parent->childRoot = TreeErase(parent->childRoot, node->subId);
    node->parent = node->next = node->left = node->right = nullptr;
}

// Puts `replacement` (linked nowhere, same key) in the place of `old` among parent's children.
// The children stay with `old`.
void ReplaceChild(Node *parent, Node *old, Node *replacement)
{
    Node **link = &parent->childRoot;
    while (*link != old)
        link = old->subId < (*link)->subId ? &(*link)->left : &(*link)->right;
    *link = replacement;
    replacement->left = old->left;
    replacement->right = old->right;
    replacement->next = old->next;
    replacement->parent = parent;
    if (Node *before = Predecessor(parent, old->subId))
        before->next = replacement;
    else
        parent->firstChild = replacement;
    old->parent = old->next = old->left = old->right = nullptr;
}

// Frees every node below top, children before their parents, without recursion.
void FreeBelow(Node *top)
{
    Node *node = top->firstChild;
    while (node) {
        while (node->firstChild)
            node = node->firstChild;
        Node *parent = node->parent;
        Node *next = node->next;
        FreeNode(node);
        if (next) {
            node = next;
        } else {
            // Every child of parent is gone: it is a leaf now.
            parent->firstChild = parent->childRoot = nullptr;
            node = parent == top ? nullptr : parent;
        }
    }
    top->firstChild = top->childRoot = nullptr;
}

// The node that follows node's whole subtree in OID order; path follows along.
Node *AfterSubtree(Node *node, MIBOID *path)
{
    while (node) {
        if (node->next) {
            path->subIds[path->count - 1] = node->next->subId;
            return node->next;
        }
        node = node->parent;
        --path->count;
    }
    return nullptr;
}

// The node that follows node in OID order (its first child, else what follows its subtree).
Node *NextInOrder(Node *node, MIBOID *path)
{
    if (node->firstChild) {
        path->subIds[path->count++] = node->firstChild->subId;
        return node->firstChild;
    }
    return AfterSubtree(node, path);
}

int32_t Depth(const Node *node)
{
    int32_t depth = 0;
    for (; node; node = node->parent)
        ++depth;
    return depth;
}

// An OID that names a node of a store: 1 to 128 sub-identifiers, beginning with the root's 1.
bool IsStoreOid(const MIBOID &oid)
{
    return oid.IsValid() && oid.count >= 1 && oid.subIds[0] == 1;
}

} // namespace

bool InitDataStores()
{
    if (s_StoreHeap.load())
        return true;
    storeplatform::Heap *heap =
        storeplatform::CreateHeap(DATASTORE::HeapInitialBytes.load(), DATASTORE::HeapMaximumBytes.load());
    if (!heap)
        return false;
    s_StoreHeap.store(heap);
    s_StoreListLock.Init();
    return true;
}

void TermDataStores()
{
    for (;;) {
        DATASTORE *store;
        {
            RWLOCK_SHARED_HOLD hold(s_StoreListLock);
            store = s_FirstStore;
        }
        if (!store)
            break;
        if (store == s_DataStore)
            s_DataStore = nullptr;
        delete store;  // unlinks itself
    }
    s_StoreListLock.Term();
    storeplatform::DestroyHeap(s_StoreHeap.exchange(nullptr));
}

size_t DataStoreHeapBytesInUse()
{
    return storeplatform::BytesInUse(s_StoreHeap.load());
}

// ---- Stores -------------------------------------------------------------------------------------

DATASTORE::DATASTORE(bool locking) : m_Locking(locking ? 1 : 0)
{
    if (locking)
        m_Lock.Init();
    RWLOCK_EXCLUSIVE_HOLD hold(s_StoreListLock);
    m_ListNext = s_FirstStore;
    if (s_FirstStore)
        s_FirstStore->m_ListPrev = this;
    s_FirstStore = this;
}

DATASTORE::~DATASTORE()
{
    {
        RWLOCK_EXCLUSIVE_HOLD hold(s_StoreListLock);
        if (m_ListPrev)
            m_ListPrev->m_ListNext = m_ListNext;
        else if (s_FirstStore == this)
            s_FirstStore = m_ListNext;
        if (m_ListNext)
            m_ListNext->m_ListPrev = m_ListPrev;
        m_ListPrev = m_ListNext = nullptr;
    }
    {
        RWLOCK_EXCLUSIVE_HOLD hold(m_Lock);
        FreeBelow(&m_Root);
    }
    m_Lock.Term();
}

// Finds or creates the node at oid's first `count` sub-identifiers; the last node created gets
// room for lastRoom value bytes. Null when a node cannot be allocated (nodes made on the way stay,
// without values).
DATASTORE_NODE *DATASTORE::FindOrCreatePath(const MIBOID &oid, int32_t count, uint32_t lastRoom)
{
    Node *node = &m_Root;
    for (int32_t i = 1; i < count; ++i) {
        Node *child = FindChild(node, oid.subIds[i]);
        if (!child) {
            child = NewNode(oid.subIds[i], i + 1 == count ? lastRoom : 0);
            if (!child)
                return nullptr;
            InsertChild(node, child);
        }
        node = child;
    }
    return node;
}

// Stores the value in the node, moving the node into a larger one when the value does not fit.
// Returns the node that holds the value, or null (the node unchanged) when none can be allocated.
DATASTORE_NODE *DATASTORE::StoreValue(DATASTORE_NODE *node, const MIBVALUE &value)
{
    const uint32_t length = MibValueStoredLength(value.type, value.length);
    if (length > node->room) {
        Node *larger = NewNode(node->subId, length);
        if (!larger)
            return nullptr;
        larger->firstChild = node->firstChild;
        larger->childRoot = node->childRoot;
        for (Node *child = larger->firstChild; child; child = child->next)
            child->parent = larger;
        ReplaceChild(node->parent, node, larger);
        FreeNode(node);
        Changed();
        node = larger;
    }
    node->type = MIBTYPE_NONE;
    node->flags = 0;
    if (length)
        std::memcpy(node->Data(), value.data, length);
    node->length = length;
    node->type = value.type;
    node->flags = value.flags;
    return node;
}

bool DATASTORE::SetValue(const MIBOID &oid, const MIBVALUE &value)
{
    if (!IsStoreOid(oid) || oid.count < 2)
        return false;
    RWLOCK_EXCLUSIVE_HOLD hold(m_Lock);
    Node *node = FindOrCreatePath(oid, oid.count, MibValueStoredLength(value.type, value.length));
    return node && StoreValue(node, value);
}

bool DATASTORE::SetInteger(const MIBOID &oid, int32_t value)
{
    MIBVALUE integer;
    integer.InitInteger(value);
    return SetValue(oid, integer);
}

DATASTORE_NODE *DATASTORE::FindOrCreate(const MIBOID &oid)
{
    if (m_Locking || !IsStoreOid(oid))
        return nullptr;
    return FindOrCreatePath(oid, oid.count, 0);
}

bool DATASTORE::FindOrCreateBelow(DATASTORE_NODE *node, uint32_t count, const uint32_t *subIds, const MIBVALUE &value)
{
    if (m_Locking || !node || !subIds || count == 0 ||
        count > static_cast<uint32_t>(MIBOID_MAX_SUBIDS - Depth(node)))
        return false;
    const uint32_t length = MibValueStoredLength(value.type, value.length);
    for (uint32_t i = 0; i < count; ++i) {
        Node *child = FindChild(node, subIds[i]);
        if (!child) {
            child = NewNode(subIds[i], i + 1 == count ? length : 0);
            if (!child)
                return false;
            InsertChild(node, child);
        }
        node = child;
    }
    return StoreValue(node, value) != nullptr;
}

void DATASTORE::DeleteChildren(DATASTORE_NODE *node)
{
    if (!node || !node->firstChild)
        return;
    FreeBelow(node);
    Changed();
}

void DATASTORE::MarkReplace(DATASTORE_NODE *node)
{
    if (!node)
        return;
    node->type = MIBTYPE_NONE;
    node->flags |= MIBFLAG_REPLACE;
}

bool DATASTORE::Walk(const MIBOID &start, const MIBOID &end, DATASTORE_WALK_CALLBACK callback, void *user,
                     bool excludeStart)
{
    RWLOCK_SHARED_HOLD hold(m_Lock);
    if (!callback || !start.IsValid() || !end.IsValid())
        return true;

    // Find the first node at or after start.
    MIBOID path{1};
    Node *node = &m_Root;
    if (Node *hinted = &start != &s_NoStartOid ? FindHinted(start) : nullptr) {
        path = start;
        node = excludeStart ? NextInOrder(hinted, &path) : hinted;
    } else if (&start != &s_NoStartOid && start.count > 0) {
        if (start.subIds[0] > 1)
            return true;  // beyond every node
        if (start.subIds[0] == 1) {
            int32_t i = 1;
            for (; i < start.count && node; ++i) {
                Node *child = LowerBound(node, start.subIds[i]);
                if (!child) {
                    node = AfterSubtree(node, &path);
                    break;
                }
                path.subIds[path.count++] = child->subId;
                node = child;
                if (child->subId > start.subIds[i])
                    break;
            }
            // Every step matched: node is start itself.
            if (i == start.count && node && excludeStart)
                node = NextInOrder(node, &path);
        }
    }

    const bool toTheEnd = &end == &s_NoEndOid;
    for (; node; node = NextInOrder(node, &path)) {
        if (!toTheEnd && CompareMibOid(path, end) >= 0)
            break;
        if (node->IsVisible() && !callback(path, node->Value(), user)) {
            // Readers may race here, but under the shared lock no node is freed, so whichever
            // hint wins is a live node of this generation.
            m_Hint.store(node, std::memory_order_relaxed);
            m_HintGeneration.store(Generation(), std::memory_order_release);
            return false;
        }
    }
    return true;
}

// The hinted node when it is still alive (no node was freed or moved since) and its OID is start.
DATASTORE_NODE *DATASTORE::FindHinted(const MIBOID &start)
{
    if (m_HintGeneration.load(std::memory_order_acquire) != Generation())
        return nullptr;
    Node *hint = m_Hint.load(std::memory_order_relaxed);
    Node *node = hint;
    for (int32_t i = start.count - 1; i >= 0; --i, node = node->parent)
        if (!node || node->subId != start.subIds[i])
            return nullptr;
    return node == nullptr ? hint : nullptr;
}

bool DATASTORE::Merge(DATASTORE *staging)
{
    if (!staging || staging == this || staging->m_Locking)
        return false;
    RWLOCK_EXCLUSIVE_HOLD hold(m_Lock);
    Changed();  // nodes of this store are freed or replaced
    if (staging->m_Root.flags & MIBFLAG_REPLACE) {
        AdoptChildren(&staging->m_Root);
        staging->Changed();
        return true;
    }
    MIBOID path{1};
    const bool merged = MergeChildren(&staging->m_Root, &m_Root, &path);
    staging->Changed();
    return merged;
}

// A staging root marked for replacement: the whole tree is replaced.
void DATASTORE::AdoptChildren(DATASTORE_NODE *stagingRoot)
{
    FreeBelow(&m_Root);
    m_Root.firstChild = stagingRoot->firstChild;
    m_Root.childRoot = stagingRoot->childRoot;
    for (Node *child = m_Root.firstChild; child; child = child->next)
        child->parent = &m_Root;
    stagingRoot->firstChild = stagingRoot->childRoot = nullptr;
    stagingRoot->flags &= static_cast<uint16_t>(~MIBFLAG_REPLACE);
    Changed();
}

// Merges the children of stagingParent, whose OID is path; targetParent is its counterpart in
// this store, or null while that does not exist yet.
bool DATASTORE::MergeChildren(DATASTORE_NODE *stagingParent, DATASTORE_NODE *targetParent, MIBOID *path)
{
    Node *kept = nullptr;  // the last child that stays in the staging store
    for (Node *node = stagingParent->firstChild, *next = nullptr; node; node = next) {
        next = node->next;
        path->subIds[path->count++] = node->subId;
        const bool replace = (node->flags & MIBFLAG_REPLACE) != 0;
        bool move = false;

        if (replace || node->type != MIBTYPE_NONE) {
            Node *target = targetParent ? FindChild(targetParent, node->subId) : nullptr;
            // A value may only move onto a leaf: refuse before anything in the target changes.
            if (!replace && (node->firstChild || (target && target->firstChild)))
                return false;
            if (!targetParent) {
                targetParent = FindOrCreatePath(*path, path->count - 1, 0);
                if (!targetParent)
                    return false;
                target = FindChild(targetParent, node->subId);
            }
            RemoveChild(stagingParent, node, kept);
            if (replace)
                node->flags &= static_cast<uint16_t>(~MIBFLAG_REPLACE);
            if (target) {
                FreeBelow(target);
                ReplaceChild(targetParent, target, node);
                FreeNode(target);
            } else {
                InsertChild(targetParent, node);
            }
            move = true;
        } else if (node->firstChild) {
            Node *target = targetParent ? FindChild(targetParent, node->subId) : nullptr;
            if (!MergeChildren(node, target, path))
                return false;
        }

        --path->count;
        if (!move)
            kept = node;
    }
    return true;
}

// ---- Inspection ---------------------------------------------------------------------------------

namespace {

// Checks one search tree: keys within (low, high), heap order, and every node a child of parent.
// Returns the number of nodes, or -1 when broken.
long CheckTree(const Node *tree, const Node *parent, int64_t low, int64_t high, int depth)
{
    if (!tree)
        return 0;
    if (depth > 4096 || tree->parent != parent || tree->subId <= low || tree->subId >= high)
        return -1;
    if ((tree->left && Above(tree->left, tree)) || (tree->right && Above(tree->right, tree)))
        return -1;
    const long left = CheckTree(tree->left, parent, low, tree->subId, depth + 1);
    const long right = CheckTree(tree->right, parent, tree->subId, high, depth + 1);
    return left < 0 || right < 0 ? -1 : left + right + 1;
}

bool CheckNode(const Node *node, int32_t depth)
{
    if (depth > MIBOID_MAX_SUBIDS || node->room < MIBVALUE_INLINE_BYTES || node->length > node->room)
        return false;
    long count = 0;
    const Node *previous = nullptr;
    for (const Node *child = node->firstChild; child; child = child->next, ++count) {
        if (child->parent != node || (previous && previous->subId >= child->subId))
            return false;
        if (FindChild(node, child->subId) != child)
            return false;
        previous = child;
    }
    return CheckTree(node->childRoot, node, -1, int64_t(1) << 32, 0) == count;
}

} // namespace

bool DATASTORE::Inspect(DATASTORE_INSPECT_CALLBACK callback, void *user)
{
    RWLOCK_SHARED_HOLD hold(m_Lock);
    if (m_Root.parent || m_Root.next || m_Root.subId != 1)
        return false;
    MIBOID path{1};
    for (Node *node = &m_Root; node; node = NextInOrder(node, &path)) {
        if (!CheckNode(node, path.count))
            return false;
        if (callback)
            callback(path, *node, user);
    }
    return true;
}
