// Owning pointers, vectors of pointers and a doubly linked list of pointers.
//
// TPointerVector is an untyped core that does all the work on void* slots; TVector and
// TSortableVector give it a typed face and decide whether the vector owns what it points to.
#pragma once

#include "LibError.h"

// Owns one object made with `new`.
template <class T> class TBasePtr {
public:
    TBasePtr(T* p = 0) : P(p) {}
    ~TBasePtr() { delete P; }
    TBasePtr(const TBasePtr&) = delete; // two owners would delete the object twice
    TBasePtr& operator=(const TBasePtr&) = delete;

    T* operator->() const { return P; }
    operator T*() const { return P; }
    // Takes `p` without deleting what was held: callers empty the holder with Delete() first.
    TBasePtr& operator=(T* p) {
        P = p;
        return *this;
    }
    void Delete() {
        delete P;
        P = 0;
    }

    T* P;
};

// Owns an array made with `new[]` together with its element count.
template <class T> class TArrayPtr {
public:
    TArrayPtr() : FArray(0), FCount(0) {}
    ~TArrayPtr() { delete[] FArray; }
    TArrayPtr(const TArrayPtr&) = delete; // two owners would delete the array twice
    TArrayPtr& operator=(const TArrayPtr&) = delete;

    void New(int count) {
        delete[] FArray;
        FArray = 0;
        FArray = new T[count > 0 ? count : 0];
        FCount = count;
    }
    // The recorded count stays: it describes the last allocation.
    void Delete() {
        delete[] FArray;
        FArray = 0;
    }
    int Count() const { return FCount; }
    operator T*() const { return FArray; }
    T& operator[](int i) const { return FArray[i]; }
    // Stores `p` without releasing the old array (the caller has moved the content into `p`).
    TArrayPtr& operator=(T* p) {
        FArray = p;
        return *this;
    }

private:
    T* FArray;
    int FCount;
};

using TPtrDeleter = void (*)(void*);

class TPointerVector {
public:
    explicit TPointerVector(int initialSize);
    ~TPointerVector();
    TPointerVector(const TPointerVector&) = delete;
    TPointerVector& operator=(const TPointerVector&) = delete;

    int add_ptr(void* new_element, int el);
    void remove_ptr(int el);
    void remove_all_ptrs();
    void MovePtr(int From, int To);
    void SortPtrs(int (*cmp)(const void**, const void**));
    void** BinaryFindPtr(void* key, int (*cmp)(const void**, const void**));
    int BinaryFindPtrIndex(void* key, int (*cmp)(const void**, const void**));
    void** LinearFindPtr(void* key, int (*cmp)(const void**, const void**));
    int LinearFindPtrIndex(void* key, int (*cmp)(const void**, const void**));
    int LocatePtr(const void* slot) const;
    int GetPtrIndex(const void* p) const;
    int Count() const { return FElements; }

    // Slots allocated; the growth and shrink steps are observable through it.
    int Allocated() const { return FAllocated; }

protected:
    void* Element(int el) const { return FPtrs[el]; }
    void ResizeSlots(int slots);

    TArrayPtr<void*> FPtrs;
    int FInitialSize;
    int FAllocated;
    int FElements;
    TPtrDeleter FDeleter;
};

template <class T> class TVector : public TPointerVector {
public:
    explicit TVector(bool ownsElements) : TPointerVector(4) {
        if (ownsElements)
            FDeleter = &DeleteElement;
    }

    int Add(T p) { return add_ptr(AsSlot(p), Count()); }
    int Insert(T p, int el) { return add_ptr(AsSlot(p), el); }
    T operator[](int el) const { return static_cast<T>(Element(el)); }
    void Remove(int el) { remove_ptr(el); }
    void RemoveAll() { remove_all_ptrs(); }

private:
    static void* AsSlot(T p) { return const_cast<void*>(static_cast<const void*>(p)); }
    static void DeleteElement(void* p) { delete static_cast<T>(p); }
};

template <class T> class TSortableVector : public TVector<T> {
public:
    explicit TSortableVector(bool ownsElements) : TVector<T>(ownsElements) {}

    // Comparators receive pointers to the two element pointers.
    void Sort(int (*cmp)(T*, T*)) {
        TActiveCompare active(cmp);
        this->SortPtrs(&CompareSlots);
    }
    int FindIndex(T key, int (*cmp)(T*, T*)) {
        TActiveCompare active(cmp);
        return this->LinearFindPtrIndex(key, &CompareSlots);
    }

private:
    // The untyped core calls a comparator of slots; this one forwards to the typed comparator
    // of the running call (restored afterwards, so a comparator may itself sort another vector).
    static inline int (*FActive)(T*, T*) = 0;
    struct TActiveCompare {
        explicit TActiveCompare(int (*cmp)(T*, T*)) : FSaved(FActive) { FActive = cmp; }
        ~TActiveCompare() { FActive = FSaved; }
        int (*FSaved)(T*, T*);
    };
    static int CompareSlots(const void** a, const void** b) {
        T first = static_cast<T>(const_cast<void*>(*a));
        T second = static_cast<T>(const_cast<void*>(*b));
        return FActive(&first, &second);
    }
};

class TNode {
public:
    TNode(void* ptr, TNode* prev, TNode* next) : ptr(ptr), prev(prev), next(next) {}
    void* ptr;
    TNode* prev;
    TNode* next;
};

class TLinkListIterator {
public:
    TLinkListIterator() : node(0) {}
    TNode* node;
};

class TPointerLinkList {
public:
    TPointerLinkList();
    ~TPointerLinkList();
    TPointerLinkList(const TPointerLinkList&) = delete;
    TPointerLinkList& operator=(const TPointerLinkList&) = delete;

    TNode* node(int el);
    int add_ptr(void* p, int el);
    void remove_ptr(int el);
    void remove_all_ptrs();
    void move_ptr_to_head(int el);
    bool find_ptr(const void* key, int& el);
    void set_to_start();
    void set_to_next();
    void* first_ptr(TLinkListIterator& it) const;
    void* next_ptr(TLinkListIterator& it) const;
    int Count() const { return FElements; }

    TNode* FHead;
    TNode* FTail;
    int FElements;
    TNode* FCurrent;
    int FCurrentIndex;
    TPtrDeleter FDeleter;
    int (*FCompare)(const void* key, const void* element);
};
