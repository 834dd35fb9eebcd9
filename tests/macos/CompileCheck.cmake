# Compiles every file of src/platform/mac (sources and headers) as
# Objective-C++ with ARC and blocks for the macOS 15 runtime, against the
# declarations in tests/macos-api, which stand where the SDK's framework
# headers would be. Syntax and types only: nothing is linked or run. Fails,
# naming each file and clang's errors, when one does not compile cleanly.
#
# cmake -DCLANGXX=/usr/bin/clang++ -DSOURCE_DIR=<repository> -P CompileCheck.cmake
if(NOT CLANGXX)
  message(FATAL_ERROR "clang++ is needed for the macOS compile check (scripts/setup.sh installs it)")
endif()

set(flags
  -x objective-c++ -std=c++20 -fobjc-arc -fblocks -fobjc-runtime=macosx-15.0
  -fsyntax-only -Wall -Wextra -Werror
  -I${SOURCE_DIR}/tests/macos-api -I${SOURCE_DIR}/src)

file(GLOB files ${SOURCE_DIR}/src/platform/mac/*.mm ${SOURCE_DIR}/src/platform/mac/*.cpp
                ${SOURCE_DIR}/src/platform/mac/*.hpp)
list(LENGTH files count)
if(count EQUAL 0)
  message(FATAL_ERROR "No files found in ${SOURCE_DIR}/src/platform/mac")
endif()

set(failed "")
foreach(file IN LISTS files)
  set(fileFlags ${flags})
  # A header is compiled on its own too, to show that it includes what it needs.
  if(file MATCHES "\\.hpp$")
    list(APPEND fileFlags -Wno-pragma-once-outside-header)
  endif()
  execute_process(COMMAND ${CLANGXX} ${fileFlags} ${file}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message("${file} does not compile:\n${output}")
    list(APPEND failed ${file})
  endif()
endforeach()

list(LENGTH failed failures)
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} of ${count} files of the macOS backend do not compile")
endif()
message("All ${count} files of the macOS backend compile")
