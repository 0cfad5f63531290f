// Text form files: how a component keeps its configuration, and how it gets it back.
//
//   object OrvUpdate1: TOrvane
//     CurrentVersion = '1.2'
//     Options = [orvoDisplayUI, orvoRunUpdate]
//     UIFont.Name = 'Sans'
//     object Child1: TSomething
//     end
//   end
//
// The writer keeps, for the root and recursively for the components each owns, every
// published property that is stored, writable and differs from its default; the
// properties of held persistent objects nest as dotted names. Events are never written.
// Strings are quoted with '' for a quote and #n for a control byte ('a'#13#10'b').
//
// The reader first checks the whole text against the published metadata, then assigns.
// Reading is all or nothing: an unknown class or property, a read-only property, an
// event, a bad value, a name that is invalid or taken, or a setter that refuses its value
// leaves every component as it was (what the read created is freed again) and raises
// EReadError whose text begins "Line N: ". Components a component made for itself
// (IsSubComponent) are not written; making their owner makes them again.
#pragma once

#include <string>

#include "Host/Component.h"
#include "Host/Published.h"
#include "Host/Streams.h"
#include "Platform/Export.h"

// Objects nested deeper than this are refused by the reader, and not written by the writer.
inline constexpr int MaxFormNesting = 256;

// The text a form file holds for Value of property Prop: a quoted string, a number or
// identifier, a set in brackets. Raises EWriteError for a value the type cannot name.
ORV_API std::string FormatPropertyValue(const TPublishedProp& Prop, const TPropValue& Value);

ORV_API void WriteComponentText(TStream& Stream, TComponent& Root);
ORV_API std::string ComponentToText(TComponent& Root);

// Root's class must be the one the text names. Nested objects are found among the
// components of their enclosing component by name, or created from the registered class.
ORV_API void ReadComponentText(TStream& Stream, TComponent& Root);
ORV_API void TextToComponent(const std::string& Text, TComponent& Root);
