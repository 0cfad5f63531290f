// Helpers for tests of the application object, controls and the wait control: the tests'
// recording window and pump, and a fixture that gives every test a recording back-end
// and a clean queue and application.
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
#include "support/Pump.h"
#include "support/RecordingWindow.h"

namespace vtest {

using testsupport::DrainQueue;
using testsupport::PumpUntil;
using TRecordingWindow = testsupport::RecordingWindow;

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
