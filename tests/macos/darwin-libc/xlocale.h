// glibc's headers stand in for the Mac's C library in the compile check.
// libc++ built for a Mac includes <xlocale.h> for the C library's functions
// that take a locale; they are declared here with the Mac's signatures.
#pragma once

#include <ctype.h>
#include <locale.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif
long long strtoll_l(const char* __restrict, char** __restrict, int, locale_t);
unsigned long long strtoull_l(const char* __restrict, char** __restrict, int, locale_t);
float strtof_l(const char* __restrict, char** __restrict, locale_t);
double strtod_l(const char* __restrict, char** __restrict, locale_t);
long double strtold_l(const char* __restrict, char** __restrict, locale_t);
int sscanf_l(const char* __restrict, locale_t, const char* __restrict, ...);
int snprintf_l(char* __restrict, size_t, locale_t, const char* __restrict, ...);
int asprintf_l(char** __restrict, locale_t, const char* __restrict, ...);
#ifdef __cplusplus
}
#endif
