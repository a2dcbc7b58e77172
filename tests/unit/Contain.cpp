#include "Contain.h"
#include "ScriptedMsgBox.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

// Counts how many instances are alive, so that owning containers can be checked for deleting
// exactly what leaves them, exactly once.
struct TTracked {
    static std::multiset<int>& Alive() {
        static std::multiset<int> alive;
        return alive;
    }
    explicit TTracked(int id) : Id(id) { Alive().insert(id); }
    virtual ~TTracked() { Alive().erase(Alive().find(Id)); }
    int Id;
};

struct TTrackedChild : TTracked {
    explicit TTrackedChild(int id, bool* destroyed) : TTracked(id), Destroyed(destroyed) {}
    ~TTrackedChild() override { *Destroyed = true; }
    bool* Destroyed;
};

class TContainTest : public ::testing::Test {
protected:
    void SetUp() override { TTracked::Alive().clear(); }
};

std::string Order(const TVector<TTracked*>& v) {
    std::string ids;
    for (int i = 0; i < v.Count(); i++)
        ids += static_cast<char>('A' + v[i]->Id);
    return ids;
}

void Fill(TVector<TTracked*>& v, int count) {
    for (int i = 0; i < count; i++)
        v.Add(new TTracked(i));
}

int CompareIds(TTracked** a, TTracked** b) {
    return (*a)->Id - (*b)->Id;
}

int CompareSlotIds(const void** key, const void** slot) {
    return static_cast<const TTracked*>(*key)->Id - static_cast<const TTracked*>(*slot)->Id;
}

int CompareInts(const void* key, const void* element) {
    const int a = *static_cast<const int*>(key);
    const int b = *static_cast<const int*>(element);
    return a > b ? 1 : (a < b ? -1 : 0);
}

} // namespace

TEST_F(TContainTest, OwningVectorDeletesEverythingThatLeaves) {
    {
        TVector<TTracked*> v(true);
        Fill(v, 5);
        v.Remove(1);
        EXPECT_EQ(4u, TTracked::Alive().size());
        EXPECT_EQ(0u, TTracked::Alive().count(1));
        v.RemoveAll();
        EXPECT_TRUE(TTracked::Alive().empty());
        Fill(v, 3);
    }
    EXPECT_TRUE(TTracked::Alive().empty());
}

TEST_F(TContainTest, NonOwningVectorLeavesElementsAlone) {
    std::vector<TTracked*> kept;
    {
        TVector<TTracked*> v(false);
        for (int i = 0; i < 3; i++) {
            kept.push_back(new TTracked(i));
            v.Add(kept.back());
        }
        v.Remove(0);
        v.RemoveAll();
        v.Add(kept[0]);
    }
    EXPECT_EQ(3u, TTracked::Alive().size());
    for (TTracked* t : kept)
        delete t;
}

TEST_F(TContainTest, OwningVectorRunsTheDerivedDestructor) {
    bool destroyed = false;
    {
        TVector<TTracked*> v(true);
        v.Add(new TTrackedChild(0, &destroyed));
    }
    EXPECT_TRUE(destroyed);
}

TEST_F(TContainTest, GrowsByDoublingAndShrinksKeepingSpareSlots) {
    TVector<TTracked*> v(true);
    EXPECT_EQ(0, v.Allocated());
    Fill(v, 4);
    EXPECT_EQ(4, v.Allocated());
    v.Add(new TTracked(4));
    EXPECT_EQ(8, v.Allocated());
    while (v.Count() < 64)
        v.Add(new TTracked(v.Count()));
    EXPECT_EQ(64, v.Allocated());
    while (v.Count() > 29)
        v.Remove(v.Count() - 1);
    EXPECT_EQ(64, v.Allocated());
    v.Remove(v.Count() - 1); // 28 left
    EXPECT_EQ(32, v.Allocated());
    for (int i = 0; i < v.Count(); i++)
        EXPECT_EQ(i, v[i]->Id); // content survives both reallocations
    v.RemoveAll();
    EXPECT_EQ(0, v.Allocated());
    v.RemoveAll(); // harmless when empty
    EXPECT_EQ(0, v.Count());
    v.Add(new TTracked(0));
    EXPECT_EQ(4, v.Allocated());
}

TEST_F(TContainTest, InsertAndRemoveKeepOrder) {
    TVector<TTracked*> v(true);
    Fill(v, 3);
    EXPECT_EQ(0, v.Insert(new TTracked(3), 0));
    EXPECT_EQ("DABC", Order(v));
    v.Insert(new TTracked(4), 2);
    EXPECT_EQ("DAEBC", Order(v));
    v.Insert(new TTracked(5), v.Count());
    EXPECT_EQ("DAEBCF", Order(v));
    v.Remove(2);
    EXPECT_EQ("DABCF", Order(v));
    v.Remove(0);
    v.Remove(v.Count() - 1);
    EXPECT_EQ("ABC", Order(v));
    EXPECT_EQ(3u, TTracked::Alive().size());
}

TEST_F(TContainTest, MovePtrShiftsTheElementsBetween) {
    TVector<TTracked*> v(true);
    Fill(v, 5);
    v.MovePtr(3, 0);
    EXPECT_EQ("DABCE", Order(v));
    v.MovePtr(0, 3);
    EXPECT_EQ("ABCDE", Order(v));
    v.MovePtr(0, 3);
    EXPECT_EQ("BCDAE", Order(v));
    v.MovePtr(2, 2);
    EXPECT_EQ("BCDAE", Order(v));
    EXPECT_EQ(5u, TTracked::Alive().size());
}

TEST_F(TContainTest, BrokenPreconditionsAreReportedWithTheirCondition) {
    TVector<TTracked*> v(true);
    Fill(v, 2);
    auto condition = [](auto call) {
        try {
            call();
        } catch (const TAssertionFailure& failure) {
            EXPECT_STREQ("CommonLib/Contain", failure.Unit());
            return std::string(failure.Condition());
        }
        return std::string("nothing raised");
    };
    EXPECT_EQ("(el >= 0) && (el < FElements)", condition([&] { v.Remove(2); }));
    EXPECT_EQ("(el >= 0) && (el < FElements)", condition([&] { v.Remove(-1); }));
    EXPECT_EQ("(el >= 0) && new_element", condition([&] { v.Add(nullptr); }));
    EXPECT_EQ("(To < FElements) && (From < FElements)", condition([&] { v.MovePtr(0, 2); }));
    TTracked extra(9);
    EXPECT_NE("nothing raised", condition([&] { v.Insert(&extra, 3); }));
    EXPECT_EQ(2, v.Count());
    EXPECT_EQ(3u, TTracked::Alive().size());
}

TEST_F(TContainTest, SortsAndFinds) {
    TSortableVector<TTracked*> v(true);
    for (int id : {4, 1, 3, 0, 2})
        v.Add(new TTracked(id));
    v.Sort(&CompareIds);
    for (int i = 0; i < v.Count(); i++)
        EXPECT_EQ(i, v[i]->Id);
    TTracked key(3);
    EXPECT_EQ(3, v.FindIndex(&key, &CompareIds));
    EXPECT_EQ(3, v.BinaryFindPtrIndex(&key, &CompareSlotIds));
    TTracked missing(7);
    EXPECT_EQ(-1, v.FindIndex(&missing, &CompareIds));
    EXPECT_EQ(-1, v.BinaryFindPtrIndex(&missing, &CompareSlotIds));
    EXPECT_EQ(-1, v.LocatePtr(nullptr));
}

TEST_F(TContainTest, GetPtrIndexFindsTheFirstOfEqualPointers) {
    TTracked a(0);
    TTracked b(1);
    TVector<TTracked*> v(false);
    v.Add(&b);
    v.Add(&a);
    v.Add(&a);
    EXPECT_EQ(1, v.GetPtrIndex(&a));
    EXPECT_EQ(-1, v.GetPtrIndex(nullptr));
}

namespace {

// Refuses to be destroyed (raises) for the instance numbers listed in `Refusing`.
struct TThrowing {
    TThrowing(int* deleted, int refusing) : Deleted(deleted), Refusing(refusing) {}
    ~TThrowing() noexcept(false) {
        ++*Deleted;
        if (*Deleted == Refusing)
            throw TException("element refused to go");
    }
    int* Deleted;
    int Refusing;
};

} // namespace

TEST_F(TContainTest, DestructorReportsAThrowingDeleterAndReleasesTheRest) {
    TScriptedMsgBox boxes;
    int deleted = 0;
    {
        TVector<TThrowing*> v(true);
        for (int i = 0; i < 3; i++)
            v.Add(new TThrowing(&deleted, 1));
    }
    EXPECT_EQ(3, deleted);
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_NE(std::string::npos, boxes.Boxes()[0].Text.find("element refused to go"));
}

// An element whose deleter raised has left the vector: it is never handed to the deleter again.
TEST_F(TContainTest, ThrowingDeleterNeverDeletesTwice) {
    int deleted = 0;
    {
        TVector<TThrowing*> v(true);
        for (int i = 0; i < 4; i++)
            v.Add(new TThrowing(&deleted, 1));
        EXPECT_THROW(v.Remove(0), TException);
        EXPECT_EQ(3, v.Count());
        v[0]->Refusing = 2;
        EXPECT_THROW(v.RemoveAll(), TException);
        EXPECT_EQ(2, v.Count()); // the two not yet deleted stay
    }
    EXPECT_EQ(4, deleted);

    deleted = 0;
    {
        TPointerLinkList list;
        list.FDeleter = [](void* p) { delete static_cast<TThrowing*>(p); };
        for (int i = 0; i < 3; i++)
            list.add_ptr(new TThrowing(&deleted, 1), i);
        EXPECT_THROW(list.remove_ptr(1), TException);
        EXPECT_EQ(2, list.Count());
    }
    EXPECT_EQ(3, deleted);
}

TEST_F(TContainTest, OwningPointersReleaseWhatTheyHold) {
    {
        TBasePtr<TTracked> empty;
        TBasePtr<TTracked> one(new TTracked(1));
        EXPECT_EQ(1, one->Id);
        one.Delete();
        one.Delete();
        EXPECT_TRUE(TTracked::Alive().empty());
        one = new TTracked(2);
        TArrayPtr<int> array;
        array.New(10);
        EXPECT_EQ(10, array.Count());
        array[9] = 5;
        array.New(3);
        EXPECT_EQ(3, array.Count());
        array.Delete();
        EXPECT_EQ(nullptr, static_cast<int*>(array));
        EXPECT_EQ(3, array.Count());
    }
    EXPECT_TRUE(TTracked::Alive().empty());
}

TEST(TPointerLinkList, AddRemoveAndMoveKeepLinksConsistent) {
    int values[6] = {0, 1, 2, 3, 4, 5};
    TPointerLinkList list;
    EXPECT_EQ(-1, list.add_ptr(nullptr, 0));
    EXPECT_EQ(0, list.Count());
    for (int i = 0; i < 4; i++)
        list.add_ptr(&values[i], i);
    list.add_ptr(&values[4], 0);
    list.add_ptr(&values[5], 3);
    auto order = [&] {
        std::string forward;
        TLinkListIterator it;
        for (void* p = list.first_ptr(it); p; p = list.next_ptr(it))
            forward += static_cast<char>('0' + *static_cast<int*>(p));
        std::string backward;
        for (TNode* n = list.FTail; n; n = n->prev)
            backward.insert(backward.begin(), static_cast<char>('0' + *static_cast<int*>(n->ptr)));
        EXPECT_EQ(forward, backward);
        return forward;
    };
    EXPECT_EQ("401523", order());
    list.remove_ptr(0);
    EXPECT_EQ("01523", order());
    list.remove_ptr(4);
    EXPECT_EQ("0152", order());
    list.remove_ptr(1);
    EXPECT_EQ("052", order());
    list.move_ptr_to_head(2);
    EXPECT_EQ("205", order());
    list.move_ptr_to_head(0);
    EXPECT_EQ("205", order());
    EXPECT_EQ(3, list.Count());
    EXPECT_EQ(&values[5], list.node(2)->ptr);
    list.remove_all_ptrs();
    EXPECT_EQ(0, list.Count());
    EXPECT_EQ(nullptr, list.FHead);
    EXPECT_EQ(nullptr, list.FTail);
    TLinkListIterator it;
    EXPECT_EQ(nullptr, list.first_ptr(it));
}

TEST(TPointerLinkList, IndexAccessFromAnyStartFindsTheRightNode) {
    std::vector<int> values(40);
    TPointerLinkList list;
    for (int i = 0; i < 40; i++) {
        values[i] = i;
        list.add_ptr(&values[i], i);
    }
    // Jumps that start from the head, the tail and the cursor in both directions.
    for (int el : {0, 1, 2, 39, 38, 20, 22, 19, 5, 35, 30, 10, 0, 39, 12, 13, 11, 11})
        EXPECT_EQ(el, *static_cast<int*>(list.node(el)->ptr)) << "index " << el;
    EXPECT_EQ(11, list.FCurrentIndex);
    list.set_to_start();
    list.set_to_next();
    EXPECT_EQ(1, *static_cast<int*>(list.FCurrent->ptr));
}

TEST(TPointerLinkList, OwningListDeletesRemovedNodes) {
    TPointerLinkList list;
    list.FDeleter = [](void* p) { delete static_cast<std::string*>(p); };
    for (int i = 0; i < 5; i++)
        list.add_ptr(new std::string(i * 10, 'x'), i);
    list.remove_ptr(2);
    list.move_ptr_to_head(3);
    EXPECT_EQ(4, list.Count());
    // The rest goes with the list; the sanitizer build reports any leak or double delete.
}

TEST(TPointerLinkList, FindPtrGivesIndexOrInsertionPoint) {
    TPointerLinkList list;
    list.FCompare = &CompareInts;
    int el = -5;
    int key = 25;
    EXPECT_FALSE(list.find_ptr(&key, el));
    EXPECT_EQ(0, el);
    std::vector<int> sorted = {10, 20, 30, 40, 50, 60, 70};
    for (int i = 0; i < 3; i++)
        list.add_ptr(&sorted[i], i);
    EXPECT_FALSE(list.find_ptr(&key, el));
    EXPECT_EQ(2, el);
    key = 30;
    EXPECT_TRUE(list.find_ptr(&key, el));
    EXPECT_EQ(2, el);
    for (int i = 3; i < 7; i++)
        list.add_ptr(&sorted[i], i);
    for (int probe = 5; probe <= 75; probe += 5) {
        key = probe;
        const bool found = list.find_ptr(&key, el);
        EXPECT_EQ(probe % 10 == 0, found) << probe;
        EXPECT_EQ(probe / 10 - (found ? 1 : 0), el) << probe;
    }
}

TEST(TPointerLinkList, BrokenPreconditionsAreReported) {
    int value = 1;
    TPointerLinkList list;
    EXPECT_THROW(list.add_ptr(&value, 1), TAssertionFailure);
    list.add_ptr(&value, 0);
    EXPECT_THROW(list.node(1), TAssertionFailure);
    EXPECT_THROW(list.remove_ptr(-1), TAssertionFailure);
    list.add_ptr(&value, 1);
    EXPECT_THROW(list.move_ptr_to_head(2), TAssertionFailure);
    TLinkListIterator it;
    EXPECT_THROW(list.next_ptr(it), TAssertionFailure);
    EXPECT_EQ(2, list.Count());
}
