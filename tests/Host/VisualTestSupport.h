// Helpers for tests of the application object, controls and the wait control: a hidden
// window that records what is dispatched to it, a bounded pump, and a fixture that gives
// every test a recording back-end and a clean queue and application.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "Host/Application.h"
#include "Host/ScriptedBackend.h"
#include "Platform/Messages.h"

namespace vtest {

// Takes everything pending (a quit request too) off the calling thread's queue, unseen.
inline void DrainQueue() {
  plat::MSG Msg;
  for (int I = 0; I < 100000 && plat::PeekMessageA(&Msg, 0, 0, 0, plat::PM_REMOVE); ++I) {
  }
}

// Pumps the application's messages until Done() or LimitMs passed; answers Done().
inline bool PumpUntil(const std::function<bool()>& Done, int LimitMs = 3000) {
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(LimitMs);
  while (!Done() && std::chrono::steady_clock::now() < Deadline) {
    Application->ProcessMessages();
    if (!Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return Done();
}

// A hidden window of the calling thread that records the messages dispatched to it.
class TRecordingWindow {
 public:
  TRecordingWindow() {
    static const bool Registered = [] {
      plat::WNDCLASSA Class;
      Class.lpfnWndProc = &TRecordingWindow::Proc;
      Class.cbWndExtra = sizeof(void*);
      Class.lpszClassName = "VisualTestRecordingWindow";
      return plat::RegisterClassA(&Class) != 0;
    }();
    EXPECT_TRUE(Registered);
    FHandle = plat::CreateWindowExA(0, "VisualTestRecordingWindow", "", 0, 0, 0, 0, 0, 0, nullptr,
                                    nullptr, nullptr);
    plat::SetWindowLongA(FHandle, 0, reinterpret_cast<plat::LONG_PTR>(this));
  }
  ~TRecordingWindow() { plat::DestroyWindow(FHandle); }
  TRecordingWindow(const TRecordingWindow&) = delete;
  TRecordingWindow& operator=(const TRecordingWindow&) = delete;

  plat::HWND Handle() const { return FHandle; }
  void Post(plat::UINT Msg, plat::WPARAM W = 0) { plat::PostMessageA(FHandle, Msg, W, 0); }

  std::vector<plat::UINT> Received;
  // Runs for every message after it is recorded; may raise.
  std::function<void(plat::UINT Msg, plat::WPARAM W)> OnMessage;

 private:
  static plat::LRESULT Proc(plat::HWND Wnd, plat::UINT Msg, plat::WPARAM W, plat::LPARAM L) {
    auto* Self = reinterpret_cast<TRecordingWindow*>(plat::GetWindowLongA(Wnd, 0));
    if (!Self) return plat::DefWindowProcA(Wnd, Msg, W, L);
    Self->Received.push_back(Msg);
    if (Self->OnMessage) Self->OnMessage(Msg, W);
    return 0;
  }
  plat::HWND FHandle = 0;
};

// Every test starts and ends with an empty queue, a recording back-end and the
// application's hooks as they were.
class TVisualTest : public ::testing::Test {
 protected:
  // Before the members of a derived fixture exist: the paints they ask for must stay.
  TVisualTest() { DrainQueue(); }
  void SetUp() override {
    FSavedHook = Application->OnMessage;
    FSavedHandler = Application->OnException;
  }
  void TearDown() override {
    DrainQueue();
    Application->OnMessage = FSavedHook;
    Application->OnException = FSavedHandler;
    EXPECT_FALSE(Application->Terminated()) << "a test left the shared application terminated";
  }

  TScriptedBackend Backend;

 private:
  TUIBackendScope FScope{Backend};
  std::function<void(plat::MSG&, bool&)> FSavedHook;
  std::function<void(TObject*, const Exception&)> FSavedHandler;
};

// Stands in for the shared application object for one test, so that a test may terminate it.
class TApplicationSwap {
 public:
  TApplicationSwap() : FSaved(Application) { Application = &FLocal; }
  ~TApplicationSwap() {
    Application = FSaved;
    DrainQueue();  // a quit that a modal loop passed on
  }
  TApplicationSwap(const TApplicationSwap&) = delete;
  TApplicationSwap& operator=(const TApplicationSwap&) = delete;
  TApplication& App() { return FLocal; }

 private:
  TApplication FLocal{nullptr};
  TApplication* FSaved;
};

}  // namespace vtest
