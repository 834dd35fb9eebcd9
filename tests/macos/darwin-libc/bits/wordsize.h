// glibc's headers stand in for the Mac's C library in the compile check,
// whose targets (arm64 and x86_64 Macs) are all 64-bit; glibc's own
// wordsize.h reads 32 bits for any target but x86-64.
#define __WORDSIZE 64
#define __WORDSIZE_TIME64_COMPAT32 1
#define __SYSCALL_WORDSIZE 64
