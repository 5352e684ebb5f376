#include "module/type_info.h"

#include <gtest/gtest.h>

using namespace component;

namespace {

std::vector<VarType> Types(const MethodDesc& m)
{
    std::vector<VarType> t;
    for (const ParamDesc& p : m.params)
        t.push_back(p.type);
    return t;
}

} // namespace

TEST(TypeInfo, ViewerInterfaceByIdAndByName)
{
    const TypeLibraryDesc& lib = VueloTypeLibrary();
    EXPECT_EQ(lib.name, "VUELOLib");
    EXPECT_EQ(lib.coclass.clsid, kVueloIds.controlClassId);
    EXPECT_EQ(lib.coclass.defaultInterface, lib.dispatch.iid);
    EXPECT_EQ(lib.coclass.defaultSource, lib.events.iid);
    EXPECT_TRUE(lib.events.methods.empty());

    std::vector<int32_t> ids;
    for (const MethodDesc& m : lib.dispatch.methods)
        ids.push_back(m.dispId);
    EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, -552}));

    using enum VarType;
    const MethodDesc* set = lib.dispatch.Find("setsource");
    ASSERT_TRUE(set);
    EXPECT_EQ(set->dispId, 1);
    EXPECT_EQ(set->result, Bool);
    EXPECT_EQ(Types(*set), (std::vector<VarType>{Bstr, Bstr, Bstr, Bstr, I4, I4}));
    EXPECT_EQ(Types(*lib.dispatch.Find(2)), (std::vector<VarType>{I4, Bstr}));
    EXPECT_EQ(lib.dispatch.Find(9)->name, "GetSize");
    EXPECT_EQ(lib.dispatch.Find(9)->result, I4);
    EXPECT_EQ(lib.dispatch.Find(kDispidAboutBox)->name, "AboutBox");
    EXPECT_FALSE(lib.dispatch.Find(10));
    EXPECT_FALSE(lib.dispatch.Find("SetSourc"));
}

TEST(TypeInfo, EachControlListsItsOwnPropertyPage)
{
    for (auto [lib, ids] :
         {std::pair{&VueloTypeLibrary(), &kVueloIds}, {&MozonTypeLibrary(), &kMozonIds}})
        EXPECT_EQ(lib->coclass.propertyPages, std::vector<Guid>{ids->pageClassId}) << lib->name;
}

TEST(TypeInfo, MotionZoneInterfaceTakesA16BitType)
{
    const TypeLibraryDesc& lib = MozonTypeLibrary();
    EXPECT_EQ(lib.name, "MOZONLib");
    EXPECT_EQ(lib.dispatch.name, "_DMozon");
    ASSERT_EQ(lib.dispatch.methods.size(), 3u);
    using enum VarType;
    const MethodDesc* set = lib.dispatch.Find(1);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->result, Bool);
    EXPECT_EQ(Types(*set), (std::vector<VarType>{Bstr, Bstr, I2}));
    EXPECT_EQ(lib.dispatch.Find("STOPPLAY")->dispId, 2);
    EXPECT_TRUE(lib.dispatch.Find(2)->params.empty());
    EXPECT_EQ(lib.dispatch.Find(-552)->name, "AboutBox");
    // The two modules never share a library or a class.
    EXPECT_NE(lib.libId, VueloTypeLibrary().libId);
}
