#pragma once
// A plain model of the MIB store (every node in a std::map keyed by OID) and a driver that runs
// the same random operations against the model and the real stores and compares them after every
// step. The differential test feeds it from a seeded generator, the fuzz target from fuzzed bytes.

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "datastore.h"
#include "store_writers.h"

namespace storemodel {

using Path = std::vector<uint32_t>;

struct ModelNode {
    uint16_t type = 0;
    uint16_t flags = 0;
    std::vector<uint8_t> data;
    bool operator==(const ModelNode &) const = default;
};

struct Visit {
    Path oid;
    ModelNode value;
    bool operator==(const Visit &) const = default;
};

Path ToPath(const MIBOID &oid);
MIBOID ToOid(const Path &path);
std::string Describe(const Path &path);

// The model of one store: all nodes, with or without a value; the root {1} always exists.
class StoreModel {
public:
    StoreModel();

    void Reset();
    // Mirrors DATASTORE::SetValue (false for an OID the store cannot hold).
    bool SetValue(const Path &path, const MIBVALUE &value);
    // Mirrors FindOrCreate: false for an OID the store cannot hold.
    bool FindOrCreate(const Path &path);
    void DeleteChildren(const Path &path);
    void MarkReplace(const Path &path);
    // Mirrors DATASTORE_TABLE::SetColumn / DATASTORE_CURSOR::SetScalar below an existing node.
    bool SetBelow(const Path &node, const Path &relative, const MIBVALUE &value);
    // Mirrors Walk: start/end null mean s_NoStartOid/s_NoEndOid; the callback stops after limit
    // visits (0 = never). Returns the walk's result.
    bool Walk(const Path *start, const Path *end, bool excludeStart, size_t limit, std::vector<Visit> *visits) const;
    // Mirrors DATASTORE::Merge of staging into this model.
    bool Merge(StoreModel &staging);

    const std::map<Path, ModelNode> &Nodes() const { return m_Nodes; }

private:
    void Ensure(const Path &path, size_t count);
    bool HasChildren(const Path &path) const;
    void EraseSubtree(const Path &path, bool keepTop);

    std::map<Path, ModelNode> m_Nodes;
};

// Where the driver takes its decisions from.
class Choices {
public:
    virtual ~Choices() = default;
    // A number in [0, bound), bound > 0.
    virtual uint32_t Below(uint32_t bound) = 0;
    virtual bool Exhausted() const = 0;
};

// Runs operations on a locking global store and one staging store (with writers) and on their
// models. Needs InitDataStores; deletes its stores when destroyed.
class Driver {
public:
    Driver();
    ~Driver();

    // One random operation; false (with the reason in Failure()) when store and model disagree.
    bool Step(Choices &choices);
    // Compares both stores with their models node by node (Inspect).
    bool Compare();
    const std::string &Failure() const { return m_Failure; }

private:
    Path RandomPath(Choices &choices);
    void RandomValue(Choices &choices, MIBVALUE *value);
    bool CompareStore(DATASTORE *store, const StoreModel &model, const char *name);
    bool Fail(const std::string &why);
    void Note(const std::string &what);

    DATASTORE *m_Global = nullptr;
    DATASTORE *m_Staging = nullptr;
    std::unique_ptr<DATASTORE_TABLE> m_Table;
    std::unique_ptr<DATASTORE_CURSOR> m_Cursor;
    StoreModel m_GlobalModel;
    StoreModel m_StagingModel;
    // What the writers have open, in model terms.
    bool m_TableOpen = false;
    Path m_TableEntry;
    uint32_t m_IndexLength = 0;
    Path m_Index;
    bool m_CursorOpen = false;
    Path m_CursorGroup;
    Path m_LastStop;  // where the last walk that its callback stopped ended
    std::string m_Failure;
    std::deque<std::string> m_Recent;
};

} // namespace storemodel
