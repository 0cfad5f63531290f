// The object, persistent and component base of the host framework.
//
// Components form an ownership tree: an owner frees what it owns when it is
// destroyed. A component is destroyed with `delete` (or Free()); while its destruction
// runs, ComponentState() holds csDestroying, its owner and every component that asked
// for a free-notification receive Notification(it, opRemove).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Host/SysUtils.h"
#include "Platform/Export.h"

class TAliveGuard;
class TPublishedClass;

class ORV_API TObject {
 public:
  virtual ~TObject() = default;
  // The class's name as written in form files ("TOrvane").
  virtual std::string ClassName() const { return "TObject"; }
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

class ORV_API TPersistent : public TObject {
 public:
  std::string ClassName() const override { return "TPersistent"; }
  // Copies the state of Source; the default raises EConvertError ("Cannot assign a X to a Y").
  virtual void Assign(const TPersistent* Source);
  // The published properties of the class, in publication order; null when it has none.
  virtual const TPublishedClass* Published() const { return nullptr; }

 protected:
  // Lets a class that knows how to fill another be the Source of that one's Assign.
  virtual void AssignTo(TPersistent* Dest) const;
};

// A name clash or an invalid name among the components of one owner.
class ORV_API EComponentError : public Exception {
 public:
  using Exception::Exception;
};

enum TOperation : std::uint8_t { opInsert, opRemove };

enum TComponentStateFlag : std::uint32_t {
  csLoading = 1u << 0,
  csReading = 1u << 1,
  csWriting = 1u << 2,
  csDestroying = 1u << 3,
  csDesigning = 1u << 4,
};
using TComponentState = std::uint32_t;

class ORV_API TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  std::string ClassName() const override { return "TComponent"; }
  const TPublishedClass* Published() const override;
  static const TPublishedClass& PublishedClass();

  // Marks the component (and what it owns) as being destroyed, then deletes it. With a
  // plain delete the mark is set when TComponent's destructor starts; a descendant whose
  // destructor needs it earlier calls SetDestroying() first.
  void Free();

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FLinks ? FLinks->Name : NoName(); }
  virtual void SetName(const std::string& NewName);
  std::int64_t Tag() const { return FLinks ? FLinks->Tag : 0; }
  void SetTag(std::int64_t Value) {
    if (Value != 0 || FLinks) Links().Tag = Value;
  }
  TComponentState ComponentState() const { return FComponentState; }
  bool Destroying() const { return (FComponentState & csDestroying) != 0; }
  // A component that another one creates for itself (a control's internal timer) belongs
  // to its creator's state: form files leave it out, since creating the owner makes it again.
  bool IsSubComponent() const { return FSubComponent; }
  void SetSubComponent(bool IsSubComponent) { FSubComponent = IsSubComponent; }

  int ComponentCount() const { return FLinks ? static_cast<int>(FLinks->Components.size()) : 0; }
  // std::out_of_range for an index beyond the owned components.
  TComponent* Components(int Index) const;
  TComponent* FindComponent(const std::string& AName) const;

  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  void DestroyComponents();

  // Asks for Notification(AComponent, opRemove) when AComponent is destroyed (mutual).
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

 protected:
  // Called on the owner, the owned components and the free-notification subscribers.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  void SetDestroying() { FComponentState |= csDestroying; }
  void SetComponentStateFlag(TComponentStateFlag Flag, bool On);
  // Called once a form file has been read into the component; clears csLoading.
  virtual void Loaded();

 private:
  friend class TAliveGuard;
  friend class TFormReader;
  friend class TFormWriter;
  // Marks this component and, recursively, those it owns as being destroyed.
  void MarkDestroying();

  // A name, a tag, owned components and free notifications: many components have none of them
  // (a server's sockets, one per connection), so they are made on first use, and kept:
  // loops over the lists run while handlers change them.
  struct TLinks {
    std::string Name;
    std::int64_t Tag = 0;
    std::vector<TComponent*> Components;
    std::vector<TComponent*> FreeNotifies;
  };
  TLinks& Links();
  static const std::string& NoName();

  TComponent* FOwner = nullptr;
  std::unique_ptr<TLinks> FLinks;
  TComponentState FComponentState = 0;
  bool FSubComponent = false;
  // The guards (Host/Events.h) on the stack that watch this component, latest first.
  TAliveGuard* FAliveGuards = nullptr;
};
