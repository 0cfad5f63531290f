// The package library as a designer installs it: loaded at run time, every call into it on
// a thread of its own.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Host/DesignSession.h"
#include "OrvanePack/Package.h"

// The loaded package. Every call into it runs on a thread of its own that ends before the
// library is closed: the units keep per-thread state (message queues, hidden windows), and
// while a thread that touched it lives, the library could not leave the process.
class TPackage {
 public:
  ~TPackage() { Unload(); }

  bool Loaded() const { return FHandle != nullptr; }
  bool Load(const std::string& path, std::string& error);
  // Runs work on the package's thread and waits for it; answers the message of an error
  // that escaped it (empty when none did).
  std::string Call(const std::function<void(TDesignSession*)>& work);
  // True when the library has left the process.
  bool Unload();
  const std::string& Version() const { return FVersion; }

 private:
  void Serve();

  void* FHandle = nullptr;
  std::string FPath;
  std::string FVersion;
  TOrvanePackRegisterProc FUnregister = nullptr;
  std::unique_ptr<TDesignSession> FSession;
  std::thread FThread;
  std::mutex FLock;
  std::condition_variable FWake;
  const std::function<void(TDesignSession*)>* FWork = nullptr;
  bool FStop = false;
  std::string FError;
};
