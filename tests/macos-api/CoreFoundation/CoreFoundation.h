// Declarations for the compile check of the macOS backend, from Apple's public
// API reference: the Core Foundation types Core Media's declarations use.
#pragma once

#include <MacTypes.h>

typedef signed long CFIndex;
