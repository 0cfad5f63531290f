// Published-property metadata: what a class shows to the form designer and keeps in form
// files. A class describes its properties once, in publication order, with accessors that
// work on any instance; the form-file reader and writer and the designer work only from this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "Host/Component.h"
#include "Platform/Export.h"

enum class TPropKind : std::uint8_t {
  String,
  Integer,
  Boolean,
  Enum,  // value: the ordinal
  Set,   // value: the bits, bit n for ordinal n
  Double,
  Class,  // a persistent object held by the instance; its own properties nest under it
  Event,  // listed for the designer; never kept in form files
};

using TPropValue = std::variant<std::int64_t, bool, double, std::string>;

struct ORV_API TPublishedProp {
  std::string Name;
  TPropKind Kind = TPropKind::String;
  std::string TypeName;
  std::vector<std::string> Names;                // members of an enum or set type, by ordinal
  std::int64_t Min = 0, Max = 0;                 // range of an integer property
  const TPublishedClass* ObjectClass = nullptr;  // the class of a Class property

  std::function<TPropValue(TPersistent&)> Get;
  std::function<void(TPersistent&, const TPropValue&)> Set;  // empty: read-only
  std::function<TPersistent*(TPersistent&)> GetObject;       // Class properties
  // Puts back a value read earlier, for a setter that does not take every value it can
  // answer (Active may only be cleared); empty: Set does. Used to undo a refused form file.
  std::function<void(TPersistent&, const TPropValue&)> Restore;

  std::optional<TPropValue> Default;  // a value equal to it is not written
  bool Stored = true;
  // Optional names for some integer values (colours).
  std::function<bool(std::int64_t, std::string&)> IntToIdent;
  std::function<bool(const std::string&, std::int64_t&)> IdentToInt;

  bool ReadOnly() const { return !Set; }
};

class ORV_API TPublishedClass {
 public:
  using TFactory = std::function<TComponent*(TComponent* AOwner)>;

  TPublishedClass(std::string className, const TPublishedClass* parent, TFactory factory = {});
  TPublishedClass(const TPublishedClass&) = delete;
  TPublishedClass& operator=(const TPublishedClass&) = delete;
  // A description made with new lives as long as the process (or the package library, see
  // Platform/KeptObjects.h); it is never deleted.
  static void* operator new(std::size_t size);
  static void operator delete(void* p) noexcept;

  const std::string& ClassName() const { return FClassName; }
  const TPublishedClass* Parent() const { return FParent; }
  // The ancestors' properties first, then the class's own, each in publication order.
  std::vector<const TPublishedProp*> Properties() const;
  // Case-insensitive, as identifiers of form files are.
  const TPublishedProp* FindProperty(const std::string& name) const;
  bool InheritsFrom(const std::string& className) const;
  // Components only: a new instance owned by AOwner; null when the class has no factory.
  TComponent* Create(TComponent* AOwner) const { return FFactory ? FFactory(AOwner) : nullptr; }
  bool CanCreate() const { return static_cast<bool>(FFactory); }

  TPublishedProp& Add(TPublishedProp prop);
  TPublishedProp& Last() { return FProps.back(); }

 private:
  std::string FClassName;
  const TPublishedClass* FParent;
  TFactory FFactory;
  std::deque<TPublishedProp> FProps;  // deque: references stay valid as properties are added
};

// Classes a form file may name for objects it creates.
ORV_API void RegisterClass(const TPublishedClass* cls);
ORV_API const TPublishedClass* FindClass(const std::string& className);

// Fluent description of the published properties of class C:
//   TPublish<TFoo>(cls).String("Caption", &TFoo::Caption, &TFoo::SetCaption).Default("")...
// Getters and setters are anything std::invoke accepts with a C&.
template <class C>
class TPublish {
 public:
  explicit TPublish(TPublishedClass& cls) : FClass(cls) {}

  template <class G, class S = std::nullptr_t>
  TPublish& String(const char* name, G get, S set = nullptr) {
    return Add<std::string>(Make(name, TPropKind::String, "string"), get, set,
                            [](const TPropValue& v) { return std::get<std::string>(v); });
  }

  template <class G, class S = std::nullptr_t>
  TPublish& Integer(const char* name, G get, S set = nullptr) {
    using T = std::decay_t<std::invoke_result_t<G, C&>>;
    static_assert(std::is_integral_v<T> && sizeof(T) <= 8);
    TPublishedProp p = Make(name, TPropKind::Integer, sizeof(T) == 8 ? "Int64" : "Integer");
    p.Min = static_cast<std::int64_t>(std::numeric_limits<T>::min());
    p.Max = static_cast<std::int64_t>(
        std::min<std::uint64_t>(std::numeric_limits<T>::max(), INT64_MAX));
    return Add<std::int64_t>(std::move(p), get, set, [](const TPropValue& v) {
      return static_cast<T>(std::get<std::int64_t>(v));
    });
  }

  template <class G, class S = std::nullptr_t>
  TPublish& Boolean(const char* name, G get, S set = nullptr) {
    return Add<bool>(Make(name, TPropKind::Boolean, "Boolean"), get, set,
                     [](const TPropValue& v) { return std::get<bool>(v); });
  }

  template <class G, class S = std::nullptr_t>
  TPublish& Double(const char* name, const char* typeName, G get, S set = nullptr) {
    return Add<double>(Make(name, TPropKind::Double, typeName), get, set,
                       [](const TPropValue& v) { return std::get<double>(v); });
  }

  template <class G, class S = std::nullptr_t>
  TPublish& Enum(const char* name, const char* typeName, std::vector<std::string> names, G get,
                 S set = nullptr) {
    using E = std::decay_t<std::invoke_result_t<G, C&>>;
    TPublishedProp p = Make(name, TPropKind::Enum, typeName);
    p.Names = std::move(names);
    return Add<std::int64_t>(std::move(p), get, set, [](const TPropValue& v) {
      return static_cast<E>(std::get<std::int64_t>(v));
    });
  }

  // The getter answers a TEnumSet (or anything with ToBits/FromBits).
  template <class G, class S = std::nullptr_t>
  TPublish& Set(const char* name, const char* typeName, std::vector<std::string> names, G get,
                S set = nullptr) {
    using T = std::decay_t<std::invoke_result_t<G, C&>>;
    TPublishedProp p = Make(name, TPropKind::Set, typeName);
    p.Names = std::move(names);
    p.Get = [get](TPersistent& o) -> TPropValue {
      return static_cast<std::int64_t>(std::invoke(get, Self(o)).ToBits());
    };
    p.Set = Setter(set, [](const TPropValue& v) {
      return T::FromBits(static_cast<typename T::Bits>(std::get<std::int64_t>(v)));
    });
    FClass.Add(std::move(p));
    return *this;
  }

  // A persistent object the instance holds; the form file keeps its properties, not it.
  template <class G>
  TPublish& Object(const char* name, const TPublishedClass& cls, G get) {
    TPublishedProp p = Make(name, TPropKind::Class, cls.ClassName().c_str());
    p.ObjectClass = &cls;
    p.GetObject = [get](TPersistent& o) -> TPersistent* { return std::invoke(get, Self(o)); };
    FClass.Add(std::move(p));
    return *this;
  }

  TPublish& Event(const char* name, const char* typeName) {
    FClass.Add(Make(name, TPropKind::Event, typeName));
    return *this;
  }

  // Modifiers of the property described last.
  template <class T>
  TPublish& Default(T value) {
    FClass.Last().Default = ToValue(value);
    return *this;
  }
  TPublish& NotStored() {
    FClass.Last().Stored = false;
    return *this;
  }
  // restore: called as restore(C&, const TPropValue&).
  template <class R>
  TPublish& RestoreWith(R restore) {
    FClass.Last().Restore = [restore](TPersistent& o, const TPropValue& v) {
      std::invoke(restore, Self(o), v);
    };
    return *this;
  }
  TPublish& Idents(std::function<bool(std::int64_t, std::string&)> toIdent,
                   std::function<bool(const std::string&, std::int64_t&)> fromIdent) {
    FClass.Last().IntToIdent = std::move(toIdent);
    FClass.Last().IdentToInt = std::move(fromIdent);
    return *this;
  }

 private:
  static C& Self(TPersistent& o) { return static_cast<C&>(o); }

  static TPublishedProp Make(const char* name, TPropKind kind, const char* typeName) {
    TPublishedProp p;
    p.Name = name;
    p.Kind = kind;
    p.TypeName = typeName;
    return p;
  }

  // Completes p with a getter that stores the value as Stored and a setter that converts
  // the stored value back with conv, and adds it to the class.
  template <class Stored, class G, class S, class Conv>
  TPublish& Add(TPublishedProp p, G get, S set, Conv conv) {
    p.Get = [get](TPersistent& o) -> TPropValue {
      return static_cast<Stored>(std::invoke(get, Self(o)));
    };
    p.Set = Setter(set, conv);
    FClass.Add(std::move(p));
    return *this;
  }

  template <class S, class Conv>
  static std::function<void(TPersistent&, const TPropValue&)> Setter(S set, Conv conv) {
    if constexpr (std::is_null_pointer_v<S>) {
      return {};
    } else {
      return
          [set, conv](TPersistent& o, const TPropValue& v) { std::invoke(set, Self(o), conv(v)); };
    }
  }

  template <class T>
  static TPropValue ToValue(const T& v) {
    if constexpr (std::is_same_v<T, bool>)
      return v;
    else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>)
      return static_cast<std::int64_t>(v);
    else if constexpr (std::is_floating_point_v<T>)
      return static_cast<double>(v);
    else if constexpr (std::is_convertible_v<T, std::string>)
      return std::string(v);
    else
      return static_cast<std::int64_t>(v.ToBits());
  }

  TPublishedClass& FClass;
};
