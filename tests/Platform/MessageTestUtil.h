// Tests of the message queue run each on a fresh thread, so that every test starts with
// an empty queue; they pump with the shared test pump.
#pragma once

#include <functional>
#include <thread>

#include "support/Pump.h"
#include "support/RecordingWindow.h"

namespace plat::test {

// Runs body on a new thread (with a queue of its own) and waits for it.
inline void InFreshThread(const std::function<void()>& body) {
  std::thread t(body);
  t.join();
}

}  // namespace plat::test
