// How the back-ends read a form they show: which controls the user can see, which buttons
// Enter and Escape press, and a watch that tells a back-end when a form or control it
// shows is freed. Every back-end reads forms through here, so a form behaves the same in
// a window, on a terminal and in a test.
//
// One rule decides which controls count: those placed on the form and, recursively, in
// its windowed controls, in the order they were placed, leaving out every hidden control
// with everything inside it (the user can neither see nor press them).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Host/Component.h"

class TButton;
class TControl;
class TCustomForm;
class TWinControl;

namespace formreading {

// The controls of Parent that count, by the rule above (Parent itself not included).
std::vector<TControl*> ShownControls(const TWinControl& Parent);

// Those of class T.
template <class T>
std::vector<T*> ShownControlsOf(const TWinControl& Parent) {
  std::vector<T*> result;
  for (TControl* c : ShownControls(Parent))
    if (auto* x = dynamic_cast<T*>(c)) result.push_back(x);
  return result;
}

// The buttons the user can press.
std::vector<TButton*> ButtonsOf(const TCustomForm& Form);
// What Escape (and the window's close box) presses: the first button with Cancel set,
// else the first captioned "Cancel", else the only button; nullptr when there is none.
TButton* CancelButtonOf(const TCustomForm& Form);
// What Enter presses when no button has the focus: the first button with Default set,
// else the first button; nullptr when there is none.
TButton* DefaultButtonOf(const TCustomForm& Form);

}  // namespace formreading

// Tells its owner when a component it watches is freed: OnFreed runs while the
// component's destruction runs (touch nothing of it but its address). The watch forgets
// a component by itself once it is freed; a back-end stops watching the ones it still
// shows before the watch goes.
class TFreeWatch final : public TComponent {
 public:
  explicit TFreeWatch(std::function<void(TComponent* Freed)> OnFreed)
      : TComponent(nullptr), FOnFreed(std::move(OnFreed)) {}
  std::string ClassName() const override { return "TFreeWatch"; }

  void Watch(TComponent& Component) { Component.FreeNotification(this); }
  void Unwatch(TComponent& Component) { Component.RemoveFreeNotification(this); }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && FOnFreed) FOnFreed(AComponent);
  }

 private:
  std::function<void(TComponent*)> FOnFreed;
};
