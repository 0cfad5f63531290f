// What the package library exports. The units are compiled with hidden visibility, so the
// library's interface is what the installed headers mark ORV_API: their classes (with
// their virtual tables and type information, so that a program can derive from them and
// catch the exceptions) and their functions. The units' internals and the standard-library
// code they instantiate stay inside the library.
#pragma once

#define ORV_API __attribute__((visibility("default")))
