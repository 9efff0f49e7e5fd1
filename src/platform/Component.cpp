#include "Component.h"

#include <algorithm>

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_) owner_->InsertComponent(this);
}

TComponent::~TComponent() {
  destroying_ = true;
  // Owned components are freed newest first; each removes itself from owned_.
  while (!owned_.empty()) delete owned_.back();
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::RemoveComponent(TComponent* c) {
  auto it = std::find(owned_.begin(), owned_.end(), c);
  if (it != owned_.end()) owned_.erase(it);
}
