#include "module/guid.h"
#include "module/identifiers.h"

#include <gtest/gtest.h>

#include <set>

using component::Guid;

TEST(Guid, ParsesFieldsInTextOrderAndFormatsUpperCase)
{
    auto g = Guid::Parse("{7dd95801-9882-11cf-9fa9-00aa006c42c4}");
    ASSERT_TRUE(g);
    EXPECT_EQ(g->data1, 0x7DD95801u);
    EXPECT_EQ(g->data2, 0x9882u);
    EXPECT_EQ(g->data3, 0x11CFu);
    const std::array<uint8_t, 8> tail{0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4};
    EXPECT_EQ(g->data4, tail);
    EXPECT_EQ(g->ToString(), "{7DD95801-9882-11CF-9FA9-00AA006C42C4}");
    EXPECT_EQ(*g, component::kCatidSafeForScripting);

    // Leading zeros survive the round trip.
    const char* small = "{00000001-0002-0003-0004-000000000005}";
    EXPECT_EQ(Guid::Parse(small)->ToString(), small);
}

TEST(Guid, RejectsAnythingButTheBracedForm)
{
    for (const char* bad : {
             "",
             "7DD95801-9882-11CF-9FA9-00AA006C42C4",    // no braces
             "{7DD95801-9882-11CF-9FA9-00AA006C42C4",   // no closing brace
             "{7DD95801-9882-11CF-9FA9-00AA006C42C4}x", // trailing text
             "{7DD95801-9882-11CF-9FA900-AA006C42C4}",  // dash misplaced
             "{7DD9580G-9882-11CF-9FA9-00AA006C42C4}",  // not hex
             "{7DD95801-9882-11CF-9FA9-00AA006C42 4}",
             "{+DD95801-9882-11CF-9FA9-00AA006C42C4}",
         })
        EXPECT_FALSE(Guid::Parse(bad)) << bad;
}

TEST(Guid, EveryModuleIdentifierIsItsOwn)
{
    std::set<Guid> seen = {component::kCatidSafeForInitializing, component::kCatidSafeForScripting};
    for (const auto* ids : {&component::kVueloIds, &component::kMozonIds}) {
        for (const Guid& g : {ids->typeLibId, ids->controlClassId, ids->dispatchId, ids->eventsId,
                              ids->pageClassId}) {
            EXPECT_NE(g, Guid{});
            EXPECT_TRUE(seen.insert(g).second) << g.ToString() << " is used twice";
        }
    }
    EXPECT_EQ(seen.size(), 12u);
}
