#include "module/class_factory.h"

#include <gtest/gtest.h>

#include <new>

using namespace component;

namespace {

struct Probe : IComponent
{
    explicit Probe(int* destroyed) : m_destroyed(destroyed) {}
    ~Probe() override { ++*m_destroyed; }
    int* m_destroyed;
};

IClassFactory* FactoryFor(ControlModule& m, const Guid& clsid)
{
    IClassFactory* f = nullptr;
    EXPECT_EQ(m.GetClassObject(clsid, f), S_OK);
    return f;
}

} // namespace

TEST(ClassFactory, OnlyTheModulesClassesWithACreatorAreAvailable)
{
    ControlModule m(VueloModule());
    IClassFactory* f = reinterpret_cast<IClassFactory*>(1);
    EXPECT_EQ(m.GetClassObject(kVueloIds.controlClassId, f), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(f, nullptr);

    int destroyed = 0;
    m.SetCreator(ClassKind::Control, [&] { return std::make_unique<Probe>(&destroyed); });
    ASSERT_TRUE(f = FactoryFor(m, kVueloIds.controlClassId));
    EXPECT_EQ(f->ClassId(), kVueloIds.controlClassId);
    // The page has no creator yet; the other module's class and the interfaces are not classes
    // here.
    for (const Guid& other :
         {kVueloIds.pageClassId, kMozonIds.controlClassId, kVueloIds.dispatchId}) {
        EXPECT_EQ(m.GetClassObject(other, f), CLASS_E_CLASSNOTAVAILABLE) << other.ToString();
        EXPECT_EQ(f, nullptr);
    }

    m.SetCreator(ClassKind::PropertyPage, [&] { return std::make_unique<Probe>(&destroyed); });
    ASSERT_TRUE(f = FactoryFor(m, kVueloIds.pageClassId));
    EXPECT_EQ(f->ClassId(), m.ClassIdOf(ClassKind::PropertyPage));
}

TEST(ClassFactory, ObjectsAndLocksKeepTheModuleLoaded)
{
    ControlModule m(MozonModule());
    int destroyed = 0;
    m.SetCreator(ClassKind::Control, [&] { return std::make_unique<Probe>(&destroyed); });
    m.SetCreator(ClassKind::PropertyPage, [&] { return std::make_unique<Probe>(&destroyed); });
    IClassFactory* control = FactoryFor(m, kMozonIds.controlClassId);
    IClassFactory* page = FactoryFor(m, kMozonIds.pageClassId);
    ASSERT_TRUE(control && page);
    EXPECT_EQ(m.CanUnloadNow(), S_OK);

    ComponentPtr a, b;
    ASSERT_EQ(control->CreateInstance(a), S_OK);
    ASSERT_EQ(page->CreateInstance(b), S_OK);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(m.ObjectCount(), 2);
    a.reset();
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(m.CanUnloadNow(), S_FALSE);
    b.reset();
    EXPECT_EQ(m.CanUnloadNow(), S_OK);

    EXPECT_EQ(control->LockServer(true), S_OK);
    EXPECT_EQ(page->LockServer(true), S_OK);
    EXPECT_EQ(m.CanUnloadNow(), S_FALSE);
    control->LockServer(false);
    EXPECT_EQ(m.CanUnloadNow(), S_FALSE);
    control->LockServer(false);
    EXPECT_EQ(m.CanUnloadNow(), S_OK);
    // An unlock too many does not bank a credit against the next lock.
    control->LockServer(false);
    EXPECT_EQ(m.LockCount(), 0);
    control->LockServer(true);
    EXPECT_EQ(m.CanUnloadNow(), S_FALSE);
    control->LockServer(false);
    EXPECT_EQ(m.CanUnloadNow(), S_OK);
}

TEST(ClassFactory, FailedCreationsLeaveNothingCounted)
{
    ControlModule m(VueloModule());
    bool throwIt = false;
    m.SetCreator(ClassKind::Control, [&]() -> std::unique_ptr<IComponent> {
        if (throwIt)
            throw std::bad_alloc();
        return nullptr;
    });
    IClassFactory* f = FactoryFor(m, kVueloIds.controlClassId);
    ASSERT_TRUE(f);
    ComponentPtr object;
    EXPECT_EQ(f->CreateInstance(object), E_FAIL);
    EXPECT_FALSE(object);
    throwIt = true;
    EXPECT_EQ(f->CreateInstance(object), E_OUTOFMEMORY);
    EXPECT_FALSE(object);
    EXPECT_EQ(m.ObjectCount(), 0);
    EXPECT_EQ(m.CanUnloadNow(), S_OK);
}

TEST(ClassFactory, AnObjectMayOutliveItsModuleObject)
{
    int destroyed = 0;
    ComponentPtr object;
    {
        ControlModule m(VueloModule());
        m.SetCreator(ClassKind::Control, [&] { return std::make_unique<Probe>(&destroyed); });
        ASSERT_EQ(FactoryFor(m, kVueloIds.controlClassId)->CreateInstance(object), S_OK);
    }
    EXPECT_EQ(destroyed, 0);
    object.reset();
    EXPECT_EQ(destroyed, 1);
}
