#include "Host/Published.h"

#include <map>
#include <mutex>

#include "Platform/KeptObjects.h"

TPublishedClass::TPublishedClass(std::string className, const TPublishedClass* parent,
                                 TFactory factory)
    : FClassName(std::move(className)), FParent(parent), FFactory(std::move(factory)) {}

void* TPublishedClass::operator new(std::size_t size) {
  void* p = ::operator new(size);
  plat::detail::KeepObject(p, [](void* object) {
    static_cast<TPublishedClass*>(object)->~TPublishedClass();
    ::operator delete(object);
  });
  return p;
}

void TPublishedClass::operator delete(void* p) noexcept {
  ::operator delete(p);
}

std::vector<const TPublishedProp*> TPublishedClass::Properties() const {
  std::vector<const TPublishedProp*> result =
      FParent ? FParent->Properties() : std::vector<const TPublishedProp*>{};
  for (const TPublishedProp& p : FProps) result.push_back(&p);
  return result;
}

const TPublishedProp* TPublishedClass::FindProperty(const std::string& name) const {
  for (const TPublishedClass* c = this; c != nullptr; c = c->FParent)
    for (const TPublishedProp& p : c->FProps)
      if (SameText(p.Name, name)) return &p;
  return nullptr;
}

bool TPublishedClass::InheritsFrom(const std::string& className) const {
  for (const TPublishedClass* c = this; c != nullptr; c = c->FParent)
    if (c->FClassName == className) return true;
  return false;
}

TPublishedProp& TPublishedClass::Add(TPublishedProp prop) {
  FProps.push_back(std::move(prop));
  return FProps.back();
}

namespace {

struct TClassRegistry {
  std::mutex Lock;
  std::map<std::string, const TPublishedClass*> Classes;  // by lower-case name
};

TClassRegistry& Registry() {
  static TClassRegistry registry;
  return registry;
}

}  // namespace

void RegisterClass(const TPublishedClass* cls) {
  if (cls == nullptr) return;
  TClassRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  r.Classes[LowerCase(cls->ClassName())] = cls;
}

const TPublishedClass* FindClass(const std::string& className) {
  TClassRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  auto it = r.Classes.find(LowerCase(className));
  return it == r.Classes.end() ? nullptr : it->second;
}
