#include "Contain.h"

#include <cstdlib>
#include <cstring>
#include <new>

#define CONTAIN_ASSERT(condition) LIB_ASSERT(condition, #condition, "CommonLib/Contain")

// ---------------------------------------------------------------------------------------------
// TPointerVector

TPointerVector::TPointerVector(int initialSize)
    : FInitialSize(initialSize != 0 ? initialSize : 4), FAllocated(0), FElements(0), FDeleter(0) {}

TPointerVector::~TPointerVector() {
    // An element's deleter may raise; the user is told and the rest is still released.
    for (int el = 0; el < FElements; el++) {
        if (!FDeleter)
            break;
        try {
            FDeleter(FPtrs[el]);
        } catch (const std::exception& error) {
            ReportLibraryError(error.what());
        } catch (...) {
            ReportLibraryError("Unknown error while deleting an element");
        }
    }
    FPtrs.Delete();
    FAllocated = 0;
    FElements = 0;
}

// Moves the slots into a fresh array of `slots` entries; the old array stays when none is
// available, so a failure loses nothing.
void TPointerVector::ResizeSlots(int slots) {
    void** fresh = new (std::nothrow) void*[slots];
    if (!fresh)
        ThrowOutOfMemory();
    if (FElements > 0)
        std::memcpy(fresh, FPtrs, sizeof(void*) * FElements);
    FPtrs.Delete();
    FPtrs = fresh;
    FAllocated = slots;
}

int TPointerVector::add_ptr(void* new_element, int el) {
    CONTAIN_ASSERT((el >= 0) && new_element);
    LIB_ASSERT(el <= FElements, "el <= Count()", "CommonLib/Contain");
    if (FElements >= FAllocated) {
        const int grown = 2 * FAllocated;
        ResizeSlots(grown > FInitialSize ? grown : FInitialSize);
    }
    if (el < FElements)
        std::memmove(&FPtrs[el + 1], &FPtrs[el], sizeof(void*) * (FElements - el));
    FPtrs[el] = new_element;
    FElements++;
    return el;
}

void TPointerVector::remove_ptr(int el) {
    CONTAIN_ASSERT((el >= 0) && (el < FElements));
    // The element leaves the vector even when its deleter raises: it must never be deleted
    // a second time.
    void* element = FPtrs[el];
    FElements--;
    if (el < FElements)
        std::memmove(&FPtrs[el], &FPtrs[el + 1], sizeof(void*) * (FElements - el));
    if (FDeleter)
        FDeleter(element);
    if (FElements <= (FAllocated >> 1) - 4)
        ResizeSlots(FElements + 4);
}

void TPointerVector::remove_all_ptrs() {
    if (FDeleter) {
        for (int el = 0; el < FElements; el++) {
            try {
                FDeleter(FPtrs[el]);
            } catch (...) {
                // Keep only what was not yet handed to the deleter, then pass the error on.
                const int left = FElements - el - 1;
                if (left > 0)
                    std::memmove(&FPtrs[0], &FPtrs[el + 1], sizeof(void*) * left);
                FElements = left;
                throw;
            }
        }
    }
    FPtrs.Delete();
    FAllocated = 0;
    FElements = 0;
}

void TPointerVector::MovePtr(int From, int To) {
    CONTAIN_ASSERT((To < FElements) && (From < FElements));
    LIB_ASSERT(From >= 0 && To >= 0, "(To >= 0) && (From >= 0)", "CommonLib/Contain");
    if (From == To)
        return;
    void* moved = FPtrs[From];
    if (From > To)
        std::memmove(&FPtrs[To + 1], &FPtrs[To], sizeof(void*) * (From - To));
    else
        std::memmove(&FPtrs[From], &FPtrs[From + 1], sizeof(void*) * (To - From));
    FPtrs[To] = moved;
}

namespace {

// qsort hands its comparator untyped element addresses; the running sort's slot comparator
// is kept here (restored afterwards, so a comparator may sort another vector itself).
int (*ActiveSlotCompare)(const void**, const void**) = 0;

int CompareSlotAddresses(const void* a, const void* b) {
    return ActiveSlotCompare(static_cast<const void**>(const_cast<void*>(a)),
                             static_cast<const void**>(const_cast<void*>(b)));
}

} // namespace

void TPointerVector::SortPtrs(int (*cmp)(const void**, const void**)) {
    if (!FPtrs)
        return;
    int (*saved)(const void**, const void**) = ActiveSlotCompare;
    ActiveSlotCompare = cmp;
    try {
        std::qsort(static_cast<void**>(FPtrs), FElements, sizeof(void*), &CompareSlotAddresses);
    } catch (...) {
        ActiveSlotCompare = saved;
        throw;
    }
    ActiveSlotCompare = saved;
}

void** TPointerVector::BinaryFindPtr(void* key, int (*cmp)(const void**, const void**)) {
    if (!FPtrs || FElements == 0)
        return 0;
    // The C bsearch contract, written out so that the comparator keeps its slot signature.
    int lo = 0;
    int hi = FElements - 1;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        const int order =
            cmp(const_cast<const void**>(&key), const_cast<const void**>(&FPtrs[mid]));
        if (order == 0)
            return &FPtrs[mid];
        if (order < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    return 0;
}

int TPointerVector::BinaryFindPtrIndex(void* key, int (*cmp)(const void**, const void**)) {
    return LocatePtr(BinaryFindPtr(key, cmp));
}

void** TPointerVector::LinearFindPtr(void* key, int (*cmp)(const void**, const void**)) {
    for (int el = 0; el < FElements; el++)
        if (cmp(const_cast<const void**>(&key), const_cast<const void**>(&FPtrs[el])) == 0)
            return &FPtrs[el];
    return 0;
}

int TPointerVector::LinearFindPtrIndex(void* key, int (*cmp)(const void**, const void**)) {
    return LocatePtr(LinearFindPtr(key, cmp));
}

int TPointerVector::LocatePtr(const void* slot) const {
    if (!slot)
        return -1;
    return static_cast<int>(static_cast<void* const*>(slot) - static_cast<void**>(FPtrs));
}

int TPointerVector::GetPtrIndex(const void* p) const {
    for (int el = 0; el < FElements; el++)
        if (FPtrs[el] == p)
            return el;
    return -1;
}

// ---------------------------------------------------------------------------------------------
// TPointerLinkList

TPointerLinkList::TPointerLinkList()
    : FHead(0), FTail(0), FElements(0), FCurrent(0), FCurrentIndex(0), FDeleter(0), FCompare(0) {}

TPointerLinkList::~TPointerLinkList() {
    // An element's deleter may raise; the user is told and the rest is still released.
    while (FHead) {
        TNode* first = FHead;
        FHead = first->next;
        if (FDeleter) {
            try {
                FDeleter(first->ptr);
            } catch (const std::exception& error) {
                ReportLibraryError(error.what());
            } catch (...) {
                ReportLibraryError("Unknown error while deleting an element");
            }
        }
        delete first;
    }
    FTail = 0;
    FCurrent = 0;
    FElements = 0;
}

TNode* TPointerLinkList::node(int el) {
    CONTAIN_ASSERT((el >= 0) && (el < FElements));
    if (FCurrent) {
        if (el == FCurrentIndex + 1) {
            FCurrent = FCurrent->next;
            FCurrentIndex = el;
            return FCurrent;
        }
        if (el == FCurrentIndex)
            return FCurrent;
        if (el == FCurrentIndex - 1) {
            FCurrent = FCurrent->prev;
            FCurrentIndex = el;
            return FCurrent;
        }
        if (el == 0) {
            FCurrent = FHead;
            FCurrentIndex = 0;
            return FCurrent;
        }
    }
    // Start from whichever known node is nearest: the head, the tail or the cursor.
    const int fromHead = el;
    const int fromTail = FElements - 1 - el;
    TNode* walk;
    int index;
    if (fromHead <= fromTail) {
        walk = FHead;
        index = 0;
    } else {
        walk = FTail;
        index = FElements - 1;
    }
    if (FCurrent) {
        const int fromCursor = el > FCurrentIndex ? el - FCurrentIndex : FCurrentIndex - el;
        const int nearerEnd = fromHead < fromTail ? fromHead : fromTail;
        if (fromCursor < nearerEnd) {
            walk = FCurrent;
            index = FCurrentIndex;
        }
    }
    for (; index < el; index++)
        walk = walk->next;
    for (; index > el; index--)
        walk = walk->prev;
    FCurrent = walk;
    FCurrentIndex = el;
    return walk;
}

int TPointerLinkList::add_ptr(void* p, int el) {
    if (!p)
        return -1;
    CONTAIN_ASSERT((el >= 0) && (el <= FElements));
    TNode* before = el > 0 ? node(el - 1) : 0;
    TNode* after = before ? before->next : FHead;
    TNode* added = new TNode(p, before, after);
    if (before)
        before->next = added;
    else
        FHead = added;
    if (after)
        after->prev = added;
    else
        FTail = added;
    FElements++;
    FCurrent = added;
    FCurrentIndex = el;
    return el;
}

void TPointerLinkList::remove_ptr(int el) {
    CONTAIN_ASSERT((el >= 0) && (el < FElements));
    TNode* removed = node(el);
    // Unlink first: the node leaves the list even when the deleter raises.
    if (removed->prev)
        removed->prev->next = removed->next;
    else
        FHead = removed->next;
    if (removed->next)
        removed->next->prev = removed->prev;
    else
        FTail = removed->prev;
    FCurrent = removed->prev;
    FCurrentIndex = el - 1;
    FElements--;
    void* element = removed->ptr;
    delete removed;
    if (FDeleter)
        FDeleter(element);
}

void TPointerLinkList::remove_all_ptrs() {
    while (FElements > 0)
        remove_ptr(0);
}

void TPointerLinkList::move_ptr_to_head(int el) {
    if (el == 0)
        return;
    CONTAIN_ASSERT((el >= 1) && (el < FElements));
    TNode* moved = node(el);
    moved->prev->next = moved->next;
    if (moved->next)
        moved->next->prev = moved->prev;
    else
        FTail = moved->prev;
    moved->prev = 0;
    moved->next = FHead;
    FHead->prev = moved;
    FHead = moved;
    FCurrent = moved;
    FCurrentIndex = 0;
}

bool TPointerLinkList::find_ptr(const void* key, int& el) {
    LIB_ASSERT(FCompare != 0, "FCompare != NULL", "CommonLib/Contain");
    int lo = 0;
    int hi = FElements - 1;
    while (hi - lo >= 2) {
        const int mid = (lo + hi + 1) / 2;
        const int order = FCompare(key, node(mid)->ptr);
        if (order == 0) {
            el = mid;
            return true;
        }
        if (order == 1)
            lo = mid;
        else
            hi = mid;
    }
    bool found = false;
    while (lo <= hi) {
        const int order = FCompare(key, node(lo)->ptr);
        if (order > 0) {
            lo++;
            continue;
        }
        found = order == 0;
        break;
    }
    el = lo;
    return found;
}

void TPointerLinkList::set_to_start() {
    FCurrent = FHead;
    FCurrentIndex = 0;
}

void TPointerLinkList::set_to_next() {
    LIB_ASSERT(FCurrent != 0, "FCurrent != NULL", "CommonLib/Contain");
    FCurrent = FCurrent->next;
    FCurrentIndex++;
}

void* TPointerLinkList::first_ptr(TLinkListIterator& it) const {
    it.node = FHead;
    return FHead ? FHead->ptr : 0;
}

void* TPointerLinkList::next_ptr(TLinkListIterator& iterator) const {
    CONTAIN_ASSERT(iterator.node != NULL);
    iterator.node = iterator.node->next;
    return iterator.node ? iterator.node->ptr : 0;
}
