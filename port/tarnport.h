// The port library's exports as the program calls them; the library owns
// their declarations.
#pragma once
#include "libs/tarnport/tarnport.h"
