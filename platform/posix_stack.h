// Some work runs far deeper on the main thread's stack than the polls between it do:
// fontconfig parses its configuration and matches the first fonts some 60 kB down. The pages
// it touched would otherwise stay the process's own for the whole session.
#pragma once

#include <cstddef>

// Hands the main thread's stack pages below the caller's frame back to the kernel, which
// gives them again, zeroed, when they are next used. One system call when nothing has run
// deeper since the last call; else two or three, and a look at the process's mappings when
// the stack has grown. Main thread only, from a shallow frame. Returns the bytes of address
// range given back (0 when none).
size_t layerGiveBackStack();
