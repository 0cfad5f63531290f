#include "Host/Component.h"

#include <algorithm>
#include <stdexcept>

#include "Host/Events.h"
#include "Host/Published.h"

namespace {

void EraseOne(std::vector<TComponent*>& List, TComponent* Item) {
  auto it = std::find(List.begin(), List.end(), Item);
  if (it != List.end()) List.erase(it);
}

void AddOnce(std::vector<TComponent*>& List, TComponent* Item) {
  if (std::find(List.begin(), List.end(), Item) == List.end()) List.push_back(Item);
}

}  // namespace

void TPersistent::Assign(const TPersistent* Source) {
  if (Source != nullptr) {
    Source->AssignTo(this);
    return;
  }
  throw EConvertError("Cannot assign a nil to a " + ClassName());
}

void TPersistent::AssignTo(TPersistent* Dest) const {
  throw EConvertError("Cannot assign a " + ClassName() + " to a " + Dest->ClassName());
}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  // Code up the stack that fired one of our events must not touch us once it returns.
  for (TAliveGuard* guard = FAliveGuards; guard != nullptr; guard = guard->FNext)
    guard->FComponent = nullptr;
  FAliveGuards = nullptr;
  MarkDestroying();
  // Subscribers hear first; each may unsubscribe others or free things while we walk.
  while (FLinks && !FLinks->FreeNotifies.empty()) {
    TComponent* other = FLinks->FreeNotifies.back();
    FLinks->FreeNotifies.pop_back();
    if (other->FLinks) EraseOne(other->FLinks->FreeNotifies, this);
    other->Notification(this, opRemove);
  }
  DestroyComponents();
  if (FOwner != nullptr) FOwner->RemoveComponent(this);
}

TComponent::TLinks& TComponent::Links() {
  if (!FLinks) FLinks = std::make_unique<TLinks>();
  return *FLinks;
}

const std::string& TComponent::NoName() {
  static const std::string none;
  return none;
}

TComponent* TComponent::Components(int Index) const {
  if (!FLinks || Index < 0 || static_cast<size_t>(Index) >= FLinks->Components.size())
    throw std::out_of_range("TComponent::Components: index " + std::to_string(Index) +
                            " out of range");
  return FLinks->Components[static_cast<size_t>(Index)];
}

const TPublishedClass* TComponent::Published() const {
  return &PublishedClass();
}

const TPublishedClass& TComponent::PublishedClass() {
  static const TPublishedClass* publishedClass = [] {
    auto* c = new TPublishedClass("TComponent", nullptr);
    TPublish<TComponent>(*c)
        .String("Name", &TComponent::Name, &TComponent::SetName)
        .Integer("Tag", &TComponent::Tag, &TComponent::SetTag)
        .Default(0);
    return c;
  }();
  return *publishedClass;
}

void TComponent::Free() {
  MarkDestroying();
  delete this;
}

void TComponent::MarkDestroying() {
  if (Destroying()) return;
  SetDestroying();
  if (FLinks)
    for (TComponent* child : FLinks->Components) child->MarkDestroying();
}

namespace {

// Whether Root or anything it owns, at any depth, other than Self, is named Name.
bool NameTakenBelow(const TComponent& Root, const TComponent* Self, const std::string& Name) {
  if (&Root != Self && SameText(Root.Name(), Name)) return true;
  for (int i = 0; i < Root.ComponentCount(); ++i)
    if (NameTakenBelow(*Root.Components(i), Self, Name)) return true;
  return false;
}

}  // namespace

void TComponent::SetName(const std::string& NewName) {
  if (NewName == Name()) return;
  if (!NewName.empty() && !IsValidIdent(NewName))
    throw EComponentError("'" + NewName + "' is not a valid component name");
  if (!NewName.empty()) {
    // Unique among the topmost named owner (the form) and everything it owns: a component
    // that took its form's name, or a form one of its components' name, would make one of
    // them unreachable by name and write two objects of that name into the form file.
    const TComponent* root = this;
    while (root->FOwner != nullptr && !root->FOwner->Name().empty()) root = root->FOwner;
    bool taken = NameTakenBelow(*root, this, NewName);
    if (!taken && FOwner != nullptr) {
      TComponent* other = FOwner->FindComponent(NewName);
      taken = other != nullptr && other != this;
    }
    if (taken) throw EComponentError("A component named " + NewName + " already exists");
  }
  Links().Name = NewName;
}

TComponent* TComponent::FindComponent(const std::string& AName) const {
  if (AName.empty() || !FLinks) return nullptr;
  for (TComponent* child : FLinks->Components)
    if (SameText(child->Name(), AName)) return child;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent->FOwner == this) return;
  if (!AComponent->Name().empty() && FindComponent(AComponent->Name()) != nullptr)
    throw EComponentError("A component named " + AComponent->Name() + " already exists");
  if (AComponent->FOwner != nullptr) AComponent->FOwner->RemoveComponent(AComponent);
  Links().Components.push_back(AComponent);
  AComponent->FOwner = this;
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent->FOwner != this) return;
  Notification(AComponent, opRemove);
  if (FLinks) EraseOne(FLinks->Components, AComponent);
  AComponent->FOwner = nullptr;
}

void TComponent::DestroyComponents() {
  if (!FLinks) return;
  for (TComponent* child : FLinks->Components) child->MarkDestroying();
  // Last first; the survivors hear of each removal, so none keeps a stale reference.
  while (!FLinks->Components.empty()) {
    TComponent* instance = FLinks->Components.back();
    RemoveComponent(instance);
    delete instance;
  }
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this) return;
  AddOnce(Links().FreeNotifies, AComponent);
  AddOnce(AComponent->Links().FreeNotifies, this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr) return;
  if (FLinks) EraseOne(FLinks->FreeNotifies, AComponent);
  if (AComponent->FLinks) EraseOne(AComponent->FLinks->FreeNotifies, this);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (!FLinks) return;
  if (Operation == opRemove && AComponent != nullptr) EraseOne(FLinks->FreeNotifies, AComponent);
  // By index: a handler may remove components while the owner tells them.
  std::vector<TComponent*>& owned = FLinks->Components;
  for (size_t i = 0; i < owned.size(); ++i)
    if (owned[i] != AComponent) owned[i]->Notification(AComponent, Operation);
}

void TComponent::SetComponentStateFlag(TComponentStateFlag Flag, bool On) {
  if (On)
    FComponentState |= Flag;
  else
    FComponentState &= ~static_cast<TComponentState>(Flag);
}

void TComponent::Loaded() {
  SetComponentStateFlag(csLoading, false);
}
