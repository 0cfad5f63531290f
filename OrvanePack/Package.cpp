// The package library: gathers every unit (linked whole) into one shared object.
// Registration of the designer classes joins here with the designer support.
extern "C" const char* OrvanePackName() { return "OrvanePack"; }
