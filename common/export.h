// Visibility of the classes that the program and the plug-in module share:
// both link this one library, so every class below has one vtable, one
// type-info and one definition, whatever visibility the module builds with.
#pragma once

#define COMMON_API __attribute__((visibility("default")))
