#pragma once
// Two grid classes of a foreign component library, which the suite knows only through
// their published properties: one keeps its shown fields in a Selected string list,
// the other describes them in a Fields collection.

#include "framework/collection.h"
#include "framework/db_grid.h"
#include "framework/graphics.h"
#include "framework/string_list.h"

#include <QWidget>

// Shown fields as "name TAB width TAB title" lines.
class TForeignSelectGrid : public QWidget {
    Q_OBJECT
    Q_PROPERTY(TDataSource* DataSource MEMBER DataSource)
    Q_PROPERTY(TStringList* Selected READ SelectedPointer)
    Q_PROPERTY(uint Color MEMBER Color)
    Q_PROPERTY(TFont* Font READ FontPointer)
    Q_PROPERTY(TFont* TitleFont READ TitleFontPointer)
public:
    using QWidget::QWidget;
    TDataSource* DataSource = nullptr;
    TStringList Selected;
    uint Color = clYellow;
    TFont GridFont;
    TFont TitleFont;

private:
    TStringList* SelectedPointer() { return &Selected; }
    TFont* FontPointer() { return &GridFont; }
    TFont* TitleFontPointer() { return &TitleFont; }
};

class TForeignField : public TCollectionItem {
    Q_GADGET
    Q_PROPERTY(QString FieldName MEMBER FieldName)
    Q_PROPERTY(int Alignment MEMBER Alignment)
    Q_PROPERTY(uint Color MEMBER Color)
    Q_PROPERTY(bool Visible MEMBER Visible)
    Q_PROPERTY(QString Title MEMBER Title)
public:
    using TCollectionItem::TCollectionItem;
    QString FieldName;
    int Alignment = taCenter;
    uint Color = clAqua;
    bool Visible = true;
    QString Title;
};

class TForeignFields : public TCollection {
    Q_GADGET
public:
    TForeignFields() : TCollection([](TCollection* c) { return new TForeignField(c); }) {}
    TForeignField* Add() { return static_cast<TForeignField*>(TCollection::Add()); }
    const QMetaObject* ItemClass() const override { return &TForeignField::staticMetaObject; }
};

class TForeignFieldsGrid : public QWidget {
    Q_OBJECT
    Q_PROPERTY(TDataSource* DataSource MEMBER DataSource)
    Q_PROPERTY(TForeignFields* Fields READ FieldsPointer)
public:
    using QWidget::QWidget;
    TDataSource* DataSource = nullptr;
    TForeignFields Fields;

private:
    TForeignFields* FieldsPointer() { return &Fields; }
};
