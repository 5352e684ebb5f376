#include "module/type_info.h"
#include "viewer/vuelo_ctrl.h"

#include <gtest/gtest.h>

TEST(ViewerTypeInfo, DescribesExactlyWhatTheControlDispatches)
{
    const auto& described = component::VueloTypeLibrary().dispatch;
    const auto& table = CVueloCtrl::DispatchTable();
    ASSERT_EQ(described.methods.size(), table.size());
    for (const DispatchEntry& e : table) {
        const component::MethodDesc* m = described.Find(e.id);
        ASSERT_TRUE(m) << e.name;
        EXPECT_EQ(m->name, e.name);
        EXPECT_EQ(static_cast<int>(m->params.size()), e.argumentCount) << e.name;
    }
}
