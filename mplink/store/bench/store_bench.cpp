// Costs of the store at 1 000, 100 000 and 1 000 000 objects: writes, merges, Get and GetNext.
//
// The objects form one table of ten columns under a private-MIB entry (as a large collector table
// would), so a column holds n/10 rows: the sibling searches that matter grow with n. The heap's
// size limit is raised for the run; nothing else differs from the service.
#include <benchmark/benchmark.h>

#include <cstdio>

#include <map>
#include <memory>
#include <random>
#include <vector>

#include "datastore.h"
#include "store_writers.h"

namespace {

constexpr uint32_t kColumns = 10;

MIBOID EntryOid()
{
    return MIBOID{1, 3, 6, 1, 4, 1, 32473, 11, 2, 6, 1, 1};
}

MIBOID CellOid(uint32_t column, uint32_t row)
{
    MIBOID oid = EntryOid();
    oid.Append(column);
    oid.Append(row);
    return oid;
}

MIBVALUE CellValue(uint32_t column, uint32_t row)
{
    MIBVALUE value;
    if (column <= 8) {
        value.InitInteger(static_cast<int32_t>(row * column));
    } else {
        char text[32];
        const int length = std::snprintf(text, sizeof text, "row %u column %u", row, column);
        value.InitOctetString(static_cast<uint32_t>(length), text);
    }
    return value;
}

// Fills a staging store with a whole table of n objects, through the collectors' writer.
void FillTable(DATASTORE *store, uint32_t objects, bool clear)
{
    DATASTORE_TABLE table(store);
    table.BeginTable(EntryOid(), 1, clear);
    const uint32_t rows = objects / kColumns;
    for (uint32_t column = 1; column <= kColumns; ++column)
        for (uint32_t row = 1; row <= rows; ++row) {
            table.SetIndex(row);
            table.SetColumn(column, CellValue(column, row));
        }
}

// One served store per size, built once and shared by the benchmarks that keep its shape.
struct Fixture {
    DATASTORE *store = nullptr;
    uint32_t rows = 0;
    std::vector<MIBOID> probes;  // random cells
};

Fixture &Served(uint32_t objects)
{
    static std::map<uint32_t, Fixture> fixtures;
    Fixture &fixture = fixtures[objects];
    if (!fixture.store) {
        fixture.store = new DATASTORE(true);
        DATASTORE *staging = new DATASTORE(false);
        FillTable(staging, objects, true);
        fixture.store->Merge(staging);
        delete staging;
        fixture.rows = objects / kColumns;
        std::mt19937 random(objects);
        for (int i = 0; i < 4096; ++i)
            fixture.probes.push_back(CellOid(1 + random() % kColumns, 1 + random() % fixture.rows));
    }
    return fixture;
}

int TakeOne(const MIBOID &, const MIBVALUE_REF &value, void *user)
{
    *static_cast<uint32_t *>(user) = value.length;
    return 0;
}

void BM_SetValueUpdate(benchmark::State &state)
{
    Fixture &fixture = Served(static_cast<uint32_t>(state.range(0)));
    MIBVALUE value;
    size_t i = 0;
    for (auto _ : state) {
        value.InitInteger(static_cast<int32_t>(i));
        benchmark::DoNotOptimize(fixture.store->SetValue(fixture.probes[i++ % fixture.probes.size()], value));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_SetValueBuild(benchmark::State &state)
{
    const uint32_t objects = static_cast<uint32_t>(state.range(0));
    const uint32_t rows = objects / kColumns;
    for (auto _ : state) {
        DATASTORE *store = new DATASTORE(false);
        for (uint32_t column = 1; column <= kColumns; ++column)
            for (uint32_t row = 1; row <= rows; ++row)
                store->SetValue(CellOid(column, row), CellValue(column, row));
        state.PauseTiming();
        state.counters["heap_bytes_per_object"] = double(DataStoreHeapBytesInUse()) / objects;
        delete store;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * objects);
}

// A cycle that rewrites 1 000 cells of the served table (no clear): each moves onto its OID.
void BM_MergeCells(benchmark::State &state)
{
    Fixture &fixture = Served(static_cast<uint32_t>(state.range(0)));
    const uint32_t cells = 1000;
    std::mt19937 random(7);
    for (auto _ : state) {
        state.PauseTiming();
        DATASTORE *staging = new DATASTORE(false);
        for (uint32_t i = 0; i < cells; ++i) {
            const uint32_t column = 1 + random() % 8, row = 1 + random() % fixture.rows;
            staging->SetValue(CellOid(column, row), CellValue(column, row));
        }
        state.ResumeTiming();
        benchmark::DoNotOptimize(fixture.store->Merge(staging));
        state.PauseTiming();
        delete staging;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * cells);
}

// A cycle that rewrites the whole table with clear: the staged table replaces the served one,
// whose n nodes are freed.
void BM_MergeReplaceTable(benchmark::State &state)
{
    const uint32_t objects = static_cast<uint32_t>(state.range(0));
    DATASTORE *served = new DATASTORE(true);
    DATASTORE *first = new DATASTORE(false);
    FillTable(first, objects, true);
    served->Merge(first);
    delete first;
    for (auto _ : state) {
        state.PauseTiming();
        DATASTORE *staging = new DATASTORE(false);
        FillTable(staging, objects, true);
        state.ResumeTiming();
        benchmark::DoNotOptimize(served->Merge(staging));
        state.PauseTiming();
        delete staging;
        state.ResumeTiming();
    }
    delete served;
    state.SetItemsProcessed(state.iterations() * objects);
}

void BM_Get(benchmark::State &state)
{
    Fixture &fixture = Served(static_cast<uint32_t>(state.range(0)));
    size_t i = 0;
    uint32_t length = 0;
    for (auto _ : state) {
        const MIBOID &oid = fixture.probes[i++ % fixture.probes.size()];
        MIBOID end = oid;
        end.Append(0);
        fixture.store->Walk(oid, end, TakeOne, &length, false);
        benchmark::DoNotOptimize(length);
    }
}

void BM_GetNextRandom(benchmark::State &state)
{
    Fixture &fixture = Served(static_cast<uint32_t>(state.range(0)));
    size_t i = 0;
    uint32_t length = 0;
    for (auto _ : state) {
        fixture.store->Walk(fixture.probes[i++ % fixture.probes.size()], s_NoEndOid, TakeOne, &length, true);
        benchmark::DoNotOptimize(length);
    }
}

// The same search from 64 cells only, which stay in the processor's caches: what the search
// itself costs, without the memory misses of a large store.
void BM_GetNextCached(benchmark::State &state)
{
    Fixture &fixture = Served(static_cast<uint32_t>(state.range(0)));
    size_t i = 0;
    uint32_t length = 0;
    for (auto _ : state) {
        fixture.store->Walk(fixture.probes[i++ % 64], s_NoEndOid, TakeOne, &length, true);
        benchmark::DoNotOptimize(length);
    }
}

// One step of a walk as a manager does it: each GetNext starts at the previous answer.
void BM_GetNextStep(benchmark::State &state)
{
    Fixture &fixture = Served(static_cast<uint32_t>(state.range(0)));
    MIBOID current = EntryOid();
    struct Next {
        MIBOID *current;
        static int Take(const MIBOID &oid, const MIBVALUE_REF &, void *user)
        {
            *static_cast<Next *>(user)->current = oid;
            return 0;
        }
    } next{&current};
    for (auto _ : state) {
        if (fixture.store->Walk(current, s_NoEndOid, Next::Take, &next, true))
            current = EntryOid();  // ran off the end: start again
    }
}

void BM_FullWalk(benchmark::State &state)
{
    Fixture &fixture = Served(static_cast<uint32_t>(state.range(0)));
    for (auto _ : state) {
        uint64_t bytes = 0;
        fixture.store->Walk(s_NoStartOid, s_NoEndOid, false, [&](const MIBOID &, const MIBVALUE_REF &value) {
            bytes += value.length;
            return true;
        });
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

#define SIZES Arg(1000)->Arg(100000)->Arg(1000000)
BENCHMARK(BM_SetValueUpdate)->SIZES;
BENCHMARK(BM_SetValueBuild)->SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MergeCells)->SIZES->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MergeReplaceTable)->SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Get)->SIZES;
BENCHMARK(BM_GetNextRandom)->SIZES;
BENCHMARK(BM_GetNextCached)->SIZES;
BENCHMARK(BM_GetNextStep)->SIZES;
BENCHMARK(BM_FullWalk)->SIZES->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    DATASTORE::HeapMaximumBytes = size_t(4) << 30;
    if (!InitDataStores())
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    TermDataStores();
    return 0;
}
