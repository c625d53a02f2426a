// The public C interface as seen from inside the library.
//
// The library is compiled with hidden visibility; including xbdb.h between these
// pragmas gives every function and global that the header declares default
// visibility, so exactly those names are exported and nothing else is.
#pragma once

#pragma GCC visibility push(default)
#include "xbdb.h"
#pragma GCC visibility pop
