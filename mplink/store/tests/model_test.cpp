// The store against a plain std::map model under long random sequences of writes, writer calls,
// clears, replace marks, merges and walks.
#include <gtest/gtest.h>

#include <random>

#include "store_model.h"
#include "store_test_util.h"

namespace {

class SeededChoices : public storemodel::Choices {
public:
    explicit SeededChoices(uint32_t seed) : m_Random(seed) {}
    uint32_t Below(uint32_t bound) override { return std::uniform_int_distribution<uint32_t>(0, bound - 1)(m_Random); }
    bool Exhausted() const override { return false; }

private:
    std::mt19937 m_Random;
};

TEST(StoreModel, RandomSequencesAgreeWithTheModel)
{
    storetest::StoreHeapScope heap(64u << 20);
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        SeededChoices choices(seed);
        storemodel::Driver driver;
        for (int step = 0; step < 1500; ++step)
            ASSERT_TRUE(driver.Step(choices)) << "seed " << seed << ", step " << step << ": " << driver.Failure();
        ASSERT_TRUE(driver.Compare()) << "seed " << seed << ": " << driver.Failure();
    }
}

} // namespace
