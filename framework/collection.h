#pragma once
// Collections of owned items, with an update bracket and the list-index error.

#include "persistent.h"

#include <QObject>
#include <functional>
#include <vector>

class TCollection;

class TCollectionItem : public TPersistent {
public:
    // Registers the new item at the end of Collection (which then owns it).
    explicit TCollectionItem(TCollection* Collection);
    ~TCollectionItem() override;

    TCollection* Collection() const { return FCollection; }
    int Index() const;

private:
    friend class TCollection;
    TCollection* FCollection = nullptr;
};

// Described by a meta-object, so that a collection published as a property (a pointer
// to a class derived from this one) is recognised at run time, and so is the class of
// its items (ItemClass).
class TCollection : public TPersistent {
    Q_GADGET
public:
    using ItemFactory = std::function<TCollectionItem*(TCollection*)>;

    explicit TCollection(ItemFactory Factory);
    ~TCollection() override;
    TCollection(const TCollection&) = delete;
    TCollection& operator=(const TCollection&) = delete;

    // Appends a new item made by the collection's item factory.
    TCollectionItem* Add();
    int Count() const { return static_cast<int>(FItems.size()); }
    // The item at Index; an index outside 0..Count-1 raises EListError.
    TCollectionItem* Items(int Index) const;
    void Clear();
    void Delete(int Index);

    // The meta-object of the item class, when that class describes its properties
    // (Q_GADGET); none otherwise.
    virtual const QMetaObject* ItemClass() const { return nullptr; }

    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    // From another collection: the items are replaced by copies of Source's items.
    void Assign(const TPersistent* Source) override;

protected:
    // Called when an update bracket closes (and on changes outside a bracket).
    virtual void Changed() {}

private:
    friend class TCollectionItem;
    void InsertItem(TCollectionItem* Item);
    void RemoveItem(TCollectionItem* Item);

    ItemFactory FFactory;
    std::vector<TCollectionItem*> FItems;
    int FUpdateCount = 0;
};
