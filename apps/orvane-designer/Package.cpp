#include "Package.h"

#include <dlfcn.h>

bool TPackage::Load(const std::string& path, std::string& error) {
  if (FHandle != nullptr) {
    error = "the package is loaded already";
    return false;
  }
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    error = ::dlerror();
    return false;
  }
  auto version = reinterpret_cast<TOrvanePackVersionProc>(::dlsym(handle, "OrvanePackVersion"));
  auto reg = reinterpret_cast<TOrvanePackRegisterProc>(::dlsym(handle, "OrvanePackRegister"));
  auto session = reinterpret_cast<TOrvanePackNewDesignSessionProc>(
      ::dlsym(handle, "OrvanePackNewDesignSession"));
  auto unreg = reinterpret_cast<TOrvanePackRegisterProc>(::dlsym(handle, "OrvanePackUnregister"));
  if (version == nullptr || reg == nullptr || session == nullptr || unreg == nullptr) {
    error = path + " is not a component package (its entry points are missing)";
    ::dlclose(handle);
    return false;
  }
  FHandle = handle;
  FPath = path;
  FUnregister = unreg;
  FVersion = version();
  FThread = std::thread([this] { Serve(); });
  error = Call([&](TDesignSession*) {
    reg();
    FSession.reset(session());
  });
  if (error.empty()) return true;
  Unload();
  return false;
}

std::string TPackage::Call(const std::function<void(TDesignSession*)>& work) {
  std::unique_lock lock(FLock);
  FWork = &work;
  FError.clear();
  FWake.notify_all();
  FWake.wait(lock, [this] { return FWork == nullptr; });
  return FError;
}

bool TPackage::Unload() {
  if (FHandle == nullptr) return true;
  Call([this](TDesignSession*) {
    FSession.reset();  // its code lives in the library
    FUnregister();
  });
  {
    std::lock_guard lock(FLock);
    FStop = true;
    FWake.notify_all();
  }
  FThread.join();
  FStop = false;
  ::dlclose(FHandle);
  FHandle = nullptr;
  void* still = ::dlopen(FPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (still == nullptr) return true;
  ::dlclose(still);
  return false;
}

void TPackage::Serve() {
  std::unique_lock lock(FLock);
  for (;;) {
    FWake.wait(lock, [this] { return FWork != nullptr || FStop; });
    if (FWork == nullptr) return;
    try {
      (*FWork)(FSession.get());
    } catch (const std::exception& e) {
      FError = e.what();
    } catch (...) {
      FError = "unknown error";
    }
    FWork = nullptr;
    FWake.notify_all();
  }
}
