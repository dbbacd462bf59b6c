#pragma once
// The MIB value store: a tree keyed by OID in which every node stands for one sub-identifier and
// may hold one typed SNMP value.
//
// The service keeps one global, locked store, s_DataStore, which the sub-agent reads, and one
// unlocked staging store per collection cycle, which the collectors fill through the writers of
// store_writers.h and which the scheduler merges into s_DataStore at the end of the cycle. All
// nodes of all stores come from one private heap with a hard size limit: once it is full, writes
// fail and leave the tree as it was.
//
// Siblings are kept in ascending order of sub-identifier, both as a list (so that a walk is an
// in-order traversal) and as a balanced search tree (so that finding a sibling among many rows
// costs O(log n), not a scan of the list).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <type_traits>

#include "store_platform.h"

// ---- OIDs ---------------------------------------------------------------------------------------

constexpr int32_t MIBOID_MAX_SUBIDS = 128;

// An OID as the store and its callers pass it: 1 to 128 sub-identifiers that compare as unsigned
// 32-bit numbers; OIDs compare lexicographically (a proper prefix is smaller). The sub-identifiers
// always live in the object itself, so a copy never points into another OID.
struct MIBOID {
    int32_t count = 0;
    uint32_t subIds[MIBOID_MAX_SUBIDS] = {};

    MIBOID() = default;
    // More than MIBOID_MAX_SUBIDS sub-identifiers make an invalid OID, which every operation refuses.
    MIBOID(std::initializer_list<uint32_t> ids);

    bool IsValid() const { return count >= 0 && count <= MIBOID_MAX_SUBIDS; }
    // False (and nothing changed) when the OID is full or invalid.
    bool Append(uint32_t id);
    // False, leaving an empty OID, when n is out of range.
    bool Assign(const uint32_t *ids, int32_t n);
};

// < 0, 0 or > 0 as a sorts before, equal to or after b.
int CompareMibOid(const MIBOID &a, const MIBOID &b);
inline bool operator==(const MIBOID &a, const MIBOID &b) { return CompareMibOid(a, b) == 0; }

// Walk recognises these two by their address, not their (empty) content: as start, the walk begins
// at the first node; as end, it runs to the end of the tree.
extern const MIBOID s_NoStartOid;
extern const MIBOID s_NoEndOid;
// 0.0, the OBJECT IDENTIFIER value collectors write where they have none.
extern const MIBOID s_ZeroDotZeroOid;

// ---- Values -------------------------------------------------------------------------------------

// SNMP value types as AgentX numbers them. 0 means that a node holds no value.
enum : uint16_t {
    MIBTYPE_NONE = 0,
    MIBTYPE_INTEGER = 2,
    MIBTYPE_OCTETSTRING = 4,
    MIBTYPE_NULL = 5,
    MIBTYPE_OID = 6,
    MIBTYPE_IPADDRESS = 64,
    MIBTYPE_COUNTER32 = 65,
    MIBTYPE_GAUGE32 = 66,
    MIBTYPE_TIMETICKS = 67,
    MIBTYPE_OPAQUE = 68,
    MIBTYPE_COUNTER64 = 70,
};

// The only flag of a value: the node's subtree replaces its counterpart at a merge.
constexpr uint16_t MIBFLAG_REPLACE = 0x0001;

// Value bytes a node holds inside itself; a node for a longer value is made larger.
constexpr uint32_t MIBVALUE_INLINE_BYTES = 24;
// Value bytes a MIBVALUE holds: the most any value of the store can have.
constexpr uint32_t MIBVALUE_DATA_BYTES = 1016;

struct MIBVALUE;  // the writers' value (store_writers.h)

// A value as the store hands it out (to walk callbacks and the AgentX encoder): the node's own
// bytes, valid while the callback runs. Integer, Counter32, Gauge32 and TimeTicks hold one u32,
// Counter64 one u64 (both in host order); OctetString, IpAddress, Opaque and OBJECT IDENTIFIER
// hold `length` bytes (an OID as its sub-identifiers, 4 bytes each, without a count).
struct MIBVALUE_REF {
    uint16_t type = MIBTYPE_NONE;
    uint16_t flags = 0;
    uint32_t length = 0;
    const uint8_t *data = nullptr;

    // The u32 or u64 of a numeric value; 0 when the value holds fewer bytes.
    uint32_t U32() const;
    uint64_t U64() const;
};

// How many bytes of a value of this type and claimed length the store keeps.
uint32_t MibValueStoredLength(uint16_t type, uint32_t length);

// ---- Nodes --------------------------------------------------------------------------------------

// One node of the tree. A node made for a value longer than MIBVALUE_INLINE_BYTES is allocated
// with room for exactly that value; `room` says how much value data follows `type..length`.
struct DATASTORE_NODE {
    DATASTORE_NODE *parent = nullptr;
    DATASTORE_NODE *next = nullptr;        // next sibling, in ascending order
    DATASTORE_NODE *firstChild = nullptr;  // smallest child
    DATASTORE_NODE *childRoot = nullptr;   // root of the children's search tree
    DATASTORE_NODE *left = nullptr;        // search tree among the siblings
    DATASTORE_NODE *right = nullptr;
    uint32_t subId = 1;
    uint32_t room = MIBVALUE_INLINE_BYTES;
    uint16_t type = MIBTYPE_NONE;
    uint16_t flags = 0;
    uint32_t length = 0;
    uint8_t data[MIBVALUE_INLINE_BYTES] = {};  // the first bytes of `room`

    uint8_t *Data() { return reinterpret_cast<uint8_t *>(this) + offsetof(DATASTORE_NODE, data); }
    const uint8_t *Data() const { return reinterpret_cast<const uint8_t *>(this) + offsetof(DATASTORE_NODE, data); }
    MIBVALUE_REF Value() const { return MIBVALUE_REF{type, flags, length, Data()}; }
    // Holds a value that walks show: a type, and not marked for replacement.
    bool IsVisible() const { return type != MIBTYPE_NONE && !(flags & MIBFLAG_REPLACE); }
};

// ---- Reader/writer lock -------------------------------------------------------------------------

// The lock of a store (also used by the AgentX channel object). Writers are preferred: a reader
// first yields, a bounded number of times, to a writer that is waiting. A disabled lock (the state
// after construction, and of every staging store) makes every acquire and release a no-op.
struct RWLOCK {
    std::atomic<int32_t> enabled{0};
    std::atomic<int32_t> pendingWriters{0};
    storeplatform::SlimLock slim;

    // A reader sleeps WriterYieldMs at a time, at most WriterYieldCount times, while a writer is
    // waiting. Tests shorten them.
    static inline std::atomic<uint32_t> WriterYieldMs{100};
    static inline std::atomic<uint32_t> WriterYieldCount{25};

    void Init();
    void Term();
    // Acquire returns whether it took the slim lock (false while disabled); release does nothing
    // while disabled. The holders below pair them even when the lock is disabled in between.
    bool AcquireShared();
    void ReleaseShared();
    bool AcquireExclusive();
    void ReleaseExclusive();
};

// Hold a store's lock for a scope and release exactly what they took.
class RWLOCK_SHARED_HOLD {
public:
    explicit RWLOCK_SHARED_HOLD(RWLOCK &lock) : m_Lock(lock), m_Taken(lock.AcquireShared()) {}
    ~RWLOCK_SHARED_HOLD()
    {
        if (m_Taken)
            m_Lock.slim.ReleaseShared();
    }
    RWLOCK_SHARED_HOLD(const RWLOCK_SHARED_HOLD &) = delete;
    RWLOCK_SHARED_HOLD &operator=(const RWLOCK_SHARED_HOLD &) = delete;

private:
    RWLOCK &m_Lock;
    bool m_Taken;
};

class RWLOCK_EXCLUSIVE_HOLD {
public:
    explicit RWLOCK_EXCLUSIVE_HOLD(RWLOCK &lock) : m_Lock(lock), m_Taken(lock.AcquireExclusive()) {}
    ~RWLOCK_EXCLUSIVE_HOLD()
    {
        if (m_Taken)
            m_Lock.slim.ReleaseExclusive();
    }
    RWLOCK_EXCLUSIVE_HOLD(const RWLOCK_EXCLUSIVE_HOLD &) = delete;
    RWLOCK_EXCLUSIVE_HOLD &operator=(const RWLOCK_EXCLUSIVE_HOLD &) = delete;

private:
    RWLOCK &m_Lock;
    bool m_Taken;
};

// ---- Stores -------------------------------------------------------------------------------------

// Receives each visible node of a walk: its OID and value (both valid during the call only) and
// the caller's pointer. Returns non-zero to go on. It runs under the store's shared lock, so it
// must not change the store.
using DATASTORE_WALK_CALLBACK = int (*)(const MIBOID &oid, const MIBVALUE_REF &value, void *user);
// Receives every node (with or without a value) of DATASTORE::Inspect.
using DATASTORE_INSPECT_CALLBACK = void (*)(const MIBOID &oid, const DATASTORE_NODE &node, void *user);

// One store. Make stores with new: TermDataStores deletes every store still alive.
class DATASTORE {
public:
    explicit DATASTORE(bool locking);
    ~DATASTORE();
    DATASTORE(const DATASTORE &) = delete;
    DATASTORE &operator=(const DATASTORE &) = delete;

    bool IsLocking() const { return m_Locking != 0; }

    // Under the exclusive lock, finds or creates the node at oid and stores the value in it. False
    // when a node cannot be allocated (the node keeps its old value), and for an OID the store
    // cannot hold: not 2 to 128 sub-identifiers beginning with 1 (the root, 1, holds no value).
    bool SetValue(const MIBOID &oid, const MIBVALUE &value);
    bool SetInteger(const MIBOID &oid, int32_t value);

    // Visits, under the shared lock and in OID order, every visible node from the first whose OID
    // is >= start (> start with excludeStart) up to, not including, the first node whose OID is
    // >= end. False when the callback stopped the walk, true otherwise.
    bool Walk(const MIBOID &start, const MIBOID &end, DATASTORE_WALK_CALLBACK callback, void *user,
              bool excludeStart);
    template <class Visit>  // int or bool visit(const MIBOID &, const MIBVALUE_REF &)
    bool Walk(const MIBOID &start, const MIBOID &end, bool excludeStart, Visit &&visit)
    {
        auto thunk = [](const MIBOID &oid, const MIBVALUE_REF &value, void *user) -> int {
            return (*static_cast<std::remove_reference_t<Visit> *>(user))(oid, value) ? 1 : 0;
        };
        return Walk(start, end, +thunk, &visit, excludeStart);
    }

    // Moves the staging store's values into this one under the exclusive lock: a node marked for
    // replacement takes the place of its counterpart with its whole subtree; a value moves onto its
    // OID. Fails (false) when a value meets a node with children on either side, or a node cannot
    // be allocated; what moved before stays moved, the rest stays in the staging store.
    bool Merge(DATASTORE *staging);

    // For the writers, on staging stores only. FindOrCreate returns the node at oid, creating the
    // path without values; null for a locking store, an OID it cannot hold or a full heap.
    DATASTORE_NODE *FindOrCreate(const MIBOID &oid);
    // Finds or creates node . subIds[0..count) and stores the value there. False when the path
    // would be longer than MIBOID_MAX_SUBIDS, for a locking store, or on a full heap.
    bool FindOrCreateBelow(DATASTORE_NODE *node, uint32_t count, const uint32_t *subIds, const MIBVALUE &value);
    // Frees every node below the node.
    void DeleteChildren(DATASTORE_NODE *node);
    // Takes the node's value and marks its subtree for replacement at the merge.
    static void MarkReplace(DATASTORE_NODE *node);

    // Changes whenever nodes of this store are freed or moved out, so that a writer holding a
    // node pointer knows to look its node up again.
    uint64_t Generation() const { return m_Generation.load(std::memory_order_relaxed); }

    // For tests: checks the tree's invariants (links, order, search trees, room) and hands every
    // node to the callback in OID order. False at the first broken invariant.
    bool Inspect(DATASTORE_INSPECT_CALLBACK callback, void *user);

    // Named sizes of the store heap; tests and the benchmark change them before InitDataStores.
    static inline std::atomic<size_t> HeapInitialBytes{0x80000};
    static inline std::atomic<size_t> HeapMaximumBytes{0x400000};

private:
    bool MergeChildren(DATASTORE_NODE *stagingParent, DATASTORE_NODE *targetParent, MIBOID *path);
    void AdoptChildren(DATASTORE_NODE *stagingRoot);
    DATASTORE_NODE *FindOrCreatePath(const MIBOID &oid, int32_t count, uint32_t lastRoom);
    DATASTORE_NODE *StoreValue(DATASTORE_NODE *node, const MIBVALUE &value);
    void Changed() { m_Generation.fetch_add(1, std::memory_order_relaxed); }
    DATASTORE_NODE *FindHinted(const MIBOID &start);

    uint32_t m_Locking;
    RWLOCK m_Lock;
    DATASTORE_NODE m_Root;
    std::atomic<uint64_t> m_Generation{0};
    // Where the last walk that a callback stopped ended, and the generation it belongs to: a
    // manager walks a table with GetNext after GetNext, each starting where the last one ended,
    // and such a walk then begins without a search.
    std::atomic<DATASTORE_NODE *> m_Hint{nullptr};
    std::atomic<uint64_t> m_HintGeneration{~uint64_t(0)};
    DATASTORE *m_ListPrev = nullptr;  // the store list
    DATASTORE *m_ListNext = nullptr;
};

// The served store, made by the service's start and deleted by TermDataStores.
extern DATASTORE *s_DataStore;

// Creates the store heap (sizes from DATASTORE::HeapInitialBytes and HeapMaximumBytes) and
// enables the store-list lock. True also when already done.
bool InitDataStores();
// Deletes every store still alive (s_DataStore included, which then reads null), disables the
// store-list lock and destroys the heap.
void TermDataStores();
// Bytes the store heap has handed out and not taken back (for leak checks in tests).
size_t DataStoreHeapBytesInUse();
