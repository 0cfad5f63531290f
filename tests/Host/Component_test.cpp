#include "Host/Component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records what happens to components in one shared journal.
class TProbe : public TComponent {
 public:
  TProbe(TComponent* owner, std::string name, std::vector<std::string>& log)
      : TComponent(owner), FLog(log) {
    SetName(name);
  }
  ~TProbe() override {
    FLog.push_back("destroy " + Name() + (Destroying() ? " (destroying)" : ""));
  }
  std::string ClassName() const override { return "TProbe"; }

  TProbe* Peer = nullptr;  // cleared when the peer goes

 protected:
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == opRemove) {
      FLog.push_back(Name() + " hears " + c->Name() + " removed");
      if (c == Peer) Peer = nullptr;
    }
  }

 private:
  std::vector<std::string>& FLog;
};

}  // namespace

TEST(Component, OwnerFreesWhatItOwnsLastFirstMarkedDestroying) {
  std::vector<std::string> log;
  auto* root = new TProbe(nullptr, "Root", log);
  new TProbe(root, "A", log);
  auto* b = new TProbe(root, "B", log);
  new TProbe(b, "B1", log);
  EXPECT_EQ(root->ComponentCount(), 2);
  EXPECT_EQ(root->FindComponent("b"), b);  // names compare without case
  root->Free();
  // A hears of B before B goes: it must not keep a reference into a freed object.
  const std::vector<std::string> want = {"destroy Root (destroying)", "A hears B removed",
                                         "destroy B (destroying)", "destroy B1 (destroying)",
                                         "destroy A (destroying)"};
  EXPECT_EQ(log, want);
}

TEST(Component, OwnerHearsOfAnOwnedComponentDeletedAlone) {
  std::vector<std::string> log;
  TProbe root(nullptr, "Root", log);
  auto* a = new TProbe(&root, "A", log);
  auto* b = new TProbe(&root, "B", log);
  b->Peer = a;
  delete a;
  EXPECT_EQ(root.ComponentCount(), 1);
  EXPECT_EQ(b->Peer, nullptr);  // the owner passes the removal on to the others it owns
  const std::vector<std::string> want = {"destroy A", "B hears A removed", "Root hears A removed"};
  EXPECT_EQ(log, want);
}

TEST(Component, SiblingsHearOfEachOtherWhileTheOwnerIsDestroyed) {
  // B goes first; A's reference to it must be cleared before A's own destructor runs.
  std::vector<std::string> log;
  auto* root = new TProbe(nullptr, "Root", log);
  auto* a = new TProbe(root, "A", log);
  auto* b = new TProbe(root, "B", log);
  a->Peer = b;
  delete root;
  EXPECT_NE(std::find(log.begin(), log.end(), "A hears B removed"), log.end());
}

TEST(Component, FreeNotificationIsMutualAndEndsWithEitherSide) {
  std::vector<std::string> log;
  auto* x = new TProbe(nullptr, "X", log);
  auto* y = new TProbe(nullptr, "Y", log);
  auto* z = new TProbe(nullptr, "Z", log);
  x->FreeNotification(y);
  x->FreeNotification(z);
  x->Peer = y;
  delete y;
  EXPECT_EQ(x->Peer, nullptr);
  EXPECT_EQ(log.back(), "X hears Y removed");
  x->RemoveFreeNotification(z);
  log.clear();
  delete z;  // no longer subscribed: nobody hears, and nothing dangles
  EXPECT_EQ(log, std::vector<std::string>{"destroy Z"});
  auto* w = new TProbe(nullptr, "W", log);
  w->FreeNotification(x);
  delete x;  // the survivor hears, with no stale entry left behind
  EXPECT_EQ(log.back(), "W hears X removed");
  delete w;
}

TEST(Component, NamesAreUniqueAmongTheFormAndAllItOwns) {
  std::vector<std::string> log;
  TProbe root(nullptr, "Root", log);
  auto* edit = new TProbe(&root, "Edit1", log);
  auto* inner = new TProbe(edit, "Inner", log);
  auto* other = new TProbe(&root, "", log);
  EXPECT_THROW(other->SetName("EDIT1"), EComponentError);
  EXPECT_THROW(other->SetName("1abc"), EComponentError);
  EXPECT_THROW(other->SetName("a b"), EComponentError);
  // Neither the form's name nor one owned further down, and the form takes none of theirs.
  EXPECT_THROW(other->SetName("root"), EComponentError);
  EXPECT_THROW(other->SetName("Inner"), EComponentError);
  EXPECT_THROW(inner->SetName("Root"), EComponentError);
  EXPECT_THROW(root.SetName("Inner"), EComponentError);
  EXPECT_EQ(root.Name(), "Root");
  inner->SetName("INNER");  // itself, in other letters
  EXPECT_EQ(inner->Name(), "INNER");
  other->SetName("Edit2");
  EXPECT_EQ(other->Name(), "Edit2");
  other->SetTag(-5);
  EXPECT_EQ(other->Tag(), -5);
  // Moving to another owner leaves the first.
  TProbe root2(nullptr, "Root2", log);
  root2.InsertComponent(other);
  EXPECT_EQ(other->Owner(), &root2);
  EXPECT_EQ(root.ComponentCount(), 1);
  EXPECT_EQ(root2.ComponentCount(), 1);
  TProbe clash(nullptr, "Edit2", log);
  EXPECT_THROW(root2.InsertComponent(&clash), EComponentError);
  EXPECT_EQ(clash.Owner(), nullptr);
  other->SetName("Root");  // the first form's name is free on another
}

TEST(Persistent, AssignWithoutAWayRaisesNamingBothClasses) {
  TPersistent a;
  TComponent c(nullptr);
  try {
    a.Assign(&c);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TComponent to a TPersistent");
  }
  EXPECT_THROW(a.Assign(nullptr), EConvertError);
}
