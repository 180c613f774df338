#include "component.h"

TComponent::TComponent(QObject* AOwner)
    : QObject(AOwner)
{
}

TComponent::~TComponent()
{
    for (auto& w : FWatches)
        QObject::disconnect(w.Connection);
}

std::string TComponent::Name() const
{
    return objectName().toStdString();
}

void TComponent::SetName(const std::string& Value)
{
    setObjectName(QString::fromStdString(Value));
}

void TComponent::FreeNotification(TComponent* AComponent)
{
    if (!AComponent || AComponent == this)
        return;
    for (auto& w : FWatches)
        if (w.Component == AComponent)
            return;
    Watch w;
    w.Component = AComponent;
    w.Connection = connect(AComponent, &QObject::destroyed, this, [this, AComponent](QObject*) {
        for (auto it = FWatches.begin(); it != FWatches.end(); ++it) {
            if (it->Component == AComponent) {
                FWatches.erase(it);
                break;
            }
        }
        Notification(AComponent, opRemove);
    });
    FWatches.push_back(w);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent)
{
    for (auto it = FWatches.begin(); it != FWatches.end(); ++it) {
        if (it->Component == AComponent) {
            QObject::disconnect(it->Connection);
            FWatches.erase(it);
            return;
        }
    }
}

void TComponent::Notification(TComponent*, TOperation)
{
}
