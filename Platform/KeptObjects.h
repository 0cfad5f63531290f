// Objects a unit makes once and keeps for the rest of the process. They are not destroyed
// when the process ends, because threads may still use them then. When the package
// library is taken out of a running process instead (a designer unloads it), they go with
// it, so that loading and unloading the package again and again leaks nothing.
#pragma once

#include <utility>

namespace plat {

namespace detail {
void KeepObject(void* object, void (*destroy)(void*));
}  // namespace detail

// Takes object (made with new) into the keeping; answers it.
template <class T>
T* KeepForProcess(T* object) {
  detail::KeepObject(object, [](void* p) { delete static_cast<T*>(p); });
  return object;
}

// For a unit that starts threads which run until the process ends: the library can then
// never leave the process, so it stays loaded whatever its user asks, and what it keeps
// is never freed.
void KeepModuleLoaded();

// Says that the library is about to be unloaded with every thread that used it ended: the
// kept objects are freed when the library's static data is torn down. Without this call
// they stay, as at the end of the process.
void FreeKeptObjectsAtUnload();

}  // namespace plat
