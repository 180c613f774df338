#pragma once
// Components: named objects owned by another component (a form, an exporter), with
// removal notification so that references to a destroyed component are cleared.

#include "persistent.h"

#include <QObject>
#include <QPointer>
#include <string>

enum TOperation { opInsert, opRemove };

class TComponent : public QObject, public TPersistent {
    Q_OBJECT
public:
    // The owner (may be none) destroys its components when it is destroyed.
    explicit TComponent(QObject* AOwner = nullptr);
    ~TComponent() override;

    std::string Name() const;
    void SetName(const std::string& Value);
    QObject* Owner() const { return parent(); }

    long long Tag = 0;

    // Asks AComponent to tell this component when it is destroyed: Notification
    // (AComponent, opRemove) then runs. Asking twice registers once.
    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

protected:
    // Called when a component this one asked to be notified about is destroyed. Only
    // the pointer may be compared: the object is already being torn down.
    virtual void Notification(TComponent* AComponent, TOperation Operation);

private:
    struct Watch {
        TComponent* Component;
        QMetaObject::Connection Connection;
    };
    std::vector<Watch> FWatches;
};

// A reference to a component that becomes none when the component is destroyed.
template <class T>
using TComponentRef = QPointer<T>;
