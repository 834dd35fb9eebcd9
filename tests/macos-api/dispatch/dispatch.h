// Declarations for the compile check of the macOS backend, from Apple's public
// API reference (not copied from any SDK): the Dispatch queues, timer sources
// and semaphores the backend uses. With Objective-C, Dispatch objects are
// Objective-C objects that ARC retains and releases, as the reference
// describes; creating functions return them retained.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <objc/NSObject.h>
#include <os/availability.h>

#define MIREVO_DISPATCH_RETURNS_RETAINED __attribute__((__ns_returns_retained__))

#ifdef __cplusplus
extern "C" {
#endif

#pragma clang assume_nonnull begin

@protocol OS_dispatch_object <NSObject>
@end
typedef NSObject<OS_dispatch_object>* dispatch_object_t;

@protocol OS_dispatch_queue <OS_dispatch_object>
@end
typedef NSObject<OS_dispatch_queue>* dispatch_queue_t;

@protocol OS_dispatch_queue_attr <OS_dispatch_object>
@end
typedef NSObject<OS_dispatch_queue_attr>* dispatch_queue_attr_t;

@protocol OS_dispatch_source <OS_dispatch_object>
@end
typedef NSObject<OS_dispatch_source>* dispatch_source_t;

@protocol OS_dispatch_semaphore <OS_dispatch_object>
@end
typedef NSObject<OS_dispatch_semaphore>* dispatch_semaphore_t;

typedef void (^dispatch_block_t)(void);
typedef void (*dispatch_function_t)(void* _Nullable);

typedef uint64_t dispatch_time_t;
#define DISPATCH_TIME_NOW (0ull)
#define NSEC_PER_SEC 1000000000ull
dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta) API_AVAILABLE(macos(10.6));

#define DISPATCH_QUEUE_SERIAL NULL
MIREVO_DISPATCH_RETURNS_RETAINED dispatch_queue_t dispatch_queue_create(
    const char* _Nullable label, dispatch_queue_attr_t _Nullable attr) API_AVAILABLE(macos(10.6));
void dispatch_async(dispatch_queue_t queue, dispatch_block_t block) API_AVAILABLE(macos(10.6));
void dispatch_sync(dispatch_queue_t queue, dispatch_block_t block) API_AVAILABLE(macos(10.6));
void dispatch_sync_f(dispatch_queue_t queue, void* _Nullable context, dispatch_function_t work)
    API_AVAILABLE(macos(10.6));
void dispatch_queue_set_specific(dispatch_queue_t queue, const void* key, void* _Nullable context,
                                 dispatch_function_t _Nullable destructor)
    API_AVAILABLE(macos(10.7));
void* _Nullable dispatch_get_specific(const void* key) API_AVAILABLE(macos(10.7));
void dispatch_resume(dispatch_object_t object) API_AVAILABLE(macos(10.6));

typedef const struct dispatch_source_type_s* dispatch_source_type_t;
extern const struct dispatch_source_type_s _dispatch_source_type_timer;
#define DISPATCH_SOURCE_TYPE_TIMER (&_dispatch_source_type_timer)
MIREVO_DISPATCH_RETURNS_RETAINED dispatch_source_t dispatch_source_create(
    dispatch_source_type_t type, uintptr_t handle, uintptr_t mask, dispatch_queue_t _Nullable queue)
    API_AVAILABLE(macos(10.6));
void dispatch_source_set_event_handler(dispatch_source_t source, dispatch_block_t _Nullable handler)
    API_AVAILABLE(macos(10.6));
void dispatch_source_set_timer(dispatch_source_t source, dispatch_time_t start, uint64_t interval,
                               uint64_t leeway) API_AVAILABLE(macos(10.6));
void dispatch_source_cancel(dispatch_source_t source) API_AVAILABLE(macos(10.6));

MIREVO_DISPATCH_RETURNS_RETAINED dispatch_semaphore_t dispatch_semaphore_create(intptr_t value)
    API_AVAILABLE(macos(10.6));
intptr_t dispatch_semaphore_wait(dispatch_semaphore_t dsema, dispatch_time_t timeout)
    API_AVAILABLE(macos(10.6));
intptr_t dispatch_semaphore_signal(dispatch_semaphore_t dsema) API_AVAILABLE(macos(10.6));

#pragma clang assume_nonnull end

#ifdef __cplusplus
}
#endif
