#include "firebird/component.h"

#include <algorithm>

namespace qm {

TComponent::TComponent(TComponent* owner, std::string name) : name_(std::move(name)) {
    SetOwner(owner);
}

TComponent::~TComponent() {
    for (TComponent* c : components_) c->owner_ = nullptr;
    SetOwner(nullptr);
}

void TComponent::SetOwner(TComponent* owner) {
    if (owner == owner_) return;
    if (owner_ != nullptr) {
        auto& list = owner_->components_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    owner_ = owner;
    if (owner_ != nullptr) owner_->components_.push_back(this);
}

std::string TComponent::OriginName() const {
    std::string path;
    for (const TComponent* c = this; c != nullptr; c = c->owner_) {
        if (c->name_.empty()) continue;
        path = path.empty() ? c->name_ : c->name_ + "." + path;
    }
    return path;
}

}  // namespace qm
