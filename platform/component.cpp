// Ownership of components: an owner frees what it owns, last inserted first.
#include "platform/component.h"

#include <algorithm>

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_ != nullptr) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
    while (!components_.empty()) {
        TComponent* last = components_.back();
        components_.pop_back();
        last->owner_ = nullptr;
        delete last;
    }
    if (owner_ != nullptr) owner_->RemoveComponent(this);
}

void TComponent::RemoveComponent(TComponent* component) {
    components_.erase(std::remove(components_.begin(), components_.end(), component),
                      components_.end());
}
