// Replays fuzzed operation sequences against the MIB store and a plain model of it; any
// disagreement, broken invariant or memory fault ends the run.
#include <cstdio>
#include <cstdlib>

#include "../tests/store_model.h"

namespace {

// Decisions taken from the input, one or two bytes at a time; zeros once it is used up.
class FuzzedChoices : public storemodel::Choices {
public:
    FuzzedChoices(const uint8_t *data, size_t size) : m_Data(data), m_Size(size) {}
    uint32_t Below(uint32_t bound) override
    {
        uint32_t value = 0;
        for (uint32_t span = 1; span < bound && span < (1u << 16); span <<= 8)
            value = (value << 8) | (m_At < m_Size ? m_Data[m_At++] : 0);
        return value % bound;
    }
    bool Exhausted() const override { return m_At >= m_Size; }

private:
    const uint8_t *m_Data;
    size_t m_Size;
    size_t m_At = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    DATASTORE::HeapMaximumBytes = 64u << 20;
    if (!InitDataStores())
        std::abort();
    {
        FuzzedChoices choices(data, size);
        storemodel::Driver driver;
        for (int step = 0; step < 300 && !choices.Exhausted(); ++step) {
            if (!driver.Step(choices)) {
                std::fprintf(stderr, "step %d: %s\n", step, driver.Failure().c_str());
                std::abort();
            }
        }
        if (!driver.Compare()) {
            std::fprintf(stderr, "final: %s\n", driver.Failure().c_str());
            std::abort();
        }
    }
    TermDataStores();
    return 0;
}
