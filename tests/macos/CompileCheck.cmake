# Compiles the code that only a Mac builds (every file of src/platform/mac,
# the Core Foundation side of src/control, tests/mac and the macOS parts of
# the tests' helpers) as Objective-C++ with ARC and blocks, for one Mac
# architecture at the deployment target, against the declarations in
# tests/macos-api, which stand where the SDK's framework headers would be.
# libc++ and glibc's headers (made to pass for the Mac's C library by
# tests/macos/darwin-libc) stand in for the SDK's. Syntax, types and
# availability only: nothing is linked or run. A call below its macOS version
# is an error (-Werror=unguarded-availability-new), as in the real build.
#
# cmake -DCLANGXX=clang++ -DSOURCE_DIR=<repository> -DARCH=arm64|x86_64
#       -DDEPLOYMENT_TARGET=15.0 -DLIBC_INCLUDE=/usr/include/<multiarch>
#       [-DALL=ON] -P CompileCheck.cmake
#   Fails, naming each file and clang's errors, when one does not compile
#   cleanly. Without ALL, only the files that use Apple's frameworks (the
#   Objective-C++ and Core Foundation's equivalence); with it, also the plain
#   C++ that only a Mac builds (tests/mac's, the process tests) and each
#   header of the backend on its own.
# ... -DEXPECT_UNAVAILABLE=<file> -P CompileCheck.cmake
#   Compiles that one file, and passes only when clang refuses it for a call
#   that needs a newer macOS than DEPLOYMENT_TARGET.
foreach(variable CLANGXX SOURCE_DIR ARCH DEPLOYMENT_TARGET LIBC_INCLUDE)
  if(NOT ${variable})
    message(FATAL_ERROR "${variable} is needed for the macOS compile check (clang++: scripts/setup.sh)")
  endif()
endforeach()

set(flags
  -target ${ARCH}-apple-macos${DEPLOYMENT_TARGET}
  -x objective-c++ -std=c++20 -stdlib=libc++ -fobjc-arc -fblocks -fsyntax-only
  -Wall -Wextra -Werror -Werror=unguarded-availability-new
  # glibc as the Mac's C library: its headers for POSIX 2008, its 64-bit
  # layout, and its own __nonnull and __nullable rather than clang's Darwin
  # spellings of the nullability qualifiers.
  -isystem ${SOURCE_DIR}/tests/macos/darwin-libc -isystem ${LIBC_INCLUDE}
  -D_XOPEN_SOURCE=700 -D__NO_CTYPE -U__nonnull -U__nullable
  -I${SOURCE_DIR}/tests/macos-api -I${SOURCE_DIR}/src -I${SOURCE_DIR}/tests/support
  # What tests/mac's and tests/control's build passes them.
  -DMIREVO_SHIPPED_AGENT_PATH="/agent" -DMIREVO_AGENT_PATHS="/agent"
  -DMIREVO_INFO_PLIST_PATH="/Info.plist")

function(compile file result output)
  set(fileFlags ${flags})
  # A header is compiled on its own too, to show that it includes what it needs.
  if(file MATCHES "\\.hpp$")
    list(APPEND fileFlags -Wno-pragma-once-outside-header)
  endif()
  execute_process(COMMAND ${CLANGXX} ${fileFlags} ${file}
                  RESULT_VARIABLE code OUTPUT_VARIABLE text ERROR_VARIABLE text)
  set(${result} ${code} PARENT_SCOPE)
  set(${output} "${text}" PARENT_SCOPE)
endfunction()

if(EXPECT_UNAVAILABLE)
  compile(${SOURCE_DIR}/${EXPECT_UNAVAILABLE} result output)
  if(result EQUAL 0 OR NOT output MATCHES "is only available on macOS [0-9.]+ or newer")
    message(FATAL_ERROR "${EXPECT_UNAVAILABLE} built for macOS ${DEPLOYMENT_TARGET} was not "
                        "refused for a newer call:\n${output}")
  endif()
  string(REGEX MATCH "[^\n]*is only available on macOS[^\n]*" first "${output}")
  message("Refused, as it should be: ${first}")
  return()
endif()

set(patterns src/platform/mac/*.mm src/control/*CoreFoundation.cpp tests/mac/*.mm
             tests/support/*.mm)
if(ALL)
  list(APPEND patterns src/platform/mac/*.cpp src/platform/mac/*.hpp tests/mac/*.cpp
       tests/control/ProcessTest.cpp)
endif()
list(TRANSFORM patterns PREPEND ${SOURCE_DIR}/)
file(GLOB files ${patterns})
list(LENGTH files count)
if(count EQUAL 0)
  message(FATAL_ERROR "No files found in ${SOURCE_DIR}/src/platform/mac")
endif()

set(failed "")
foreach(file IN LISTS files)
  compile(${file} result output)
  if(NOT result EQUAL 0)
    message("${file} does not compile for ${ARCH}:\n${output}")
    list(APPEND failed ${file})
  endif()
endforeach()

list(LENGTH failed failures)
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} of ${count} files do not compile for ${ARCH}-apple-macos${DEPLOYMENT_TARGET}")
endif()
message("All ${count} files compile for ${ARCH}-apple-macos${DEPLOYMENT_TARGET}")
