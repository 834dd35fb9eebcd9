// Included before everything in the posix-libcxx build, which hides glibc's
// extensions (_GNU_SOURCE undefined) so that code relying on them fails to
// build, as it would on macOS. libc++ itself, on glibc, calls a few of those
// extensions in its own headers; they are declared here, exactly as glibc
// declares them, for libc++ alone. Our code must not call any of them.
#pragma once

#include <locale.h>
#include <pthread.h>
#include <stdarg.h>
#include <time.h>

#if defined(__GLIBC__) && !defined(_GNU_SOURCE)
#ifdef __cplusplus
extern "C" {
#endif
long long strtoll_l(const char* __restrict, char** __restrict, int, locale_t);
unsigned long long strtoull_l(const char* __restrict, char** __restrict, int, locale_t);
float strtof_l(const char* __restrict, char** __restrict, locale_t);
double strtod_l(const char* __restrict, char** __restrict, locale_t);
long double strtold_l(const char* __restrict, char** __restrict, locale_t);
int vasprintf(char** __restrict, const char* __restrict, va_list);
int pthread_cond_clockwait(pthread_cond_t* __restrict, pthread_mutex_t* __restrict, clockid_t,
                           const struct timespec* __restrict);
#ifdef __cplusplus
}
#endif
#endif
