// glibc's headers stand in for the Mac's C library in the compile check.
// glibc's own stubs.h picks its 32-bit list for any target but x86-64; the
// check needs none of it.
#pragma once
