# The same sources and toolchain give the same programs whatever the folder
# and the day. Included by the top-level CMakeLists.txt.
#
# The link time stamp in every program's PE header: SOURCE_DATE_EPOCH when it
# is set (when the build is configured), else the time of the last commit,
# else a fixed value. The linker takes it from SOURCE_DATE_EPOCH in its
# environment; the link command carries it, so a new value relinks.
set(SETUP_FIXED_EPOCH 1767225600)  # 2026-01-01 00:00:00 UTC
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(SETUP_BUILD_EPOCH $ENV{SOURCE_DATE_EPOCH})
  set(SETUP_EPOCH_SOURCE "SOURCE_DATE_EPOCH")
else()
  find_package(Git QUIET)
  set(commit_time "")
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
                    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # A new commit configures again, and with it the time stamp.
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${CMAKE_SOURCE_DIR} rev-parse --path-format=absolute
                            --git-path logs/HEAD
                    OUTPUT_VARIABLE head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(head_log AND EXISTS ${head_log})
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${head_log})
    endif()
  endif()
  if(commit_time MATCHES "^[0-9]+$")
    set(SETUP_BUILD_EPOCH ${commit_time})
    set(SETUP_EPOCH_SOURCE "the last commit")
  else()
    set(SETUP_BUILD_EPOCH ${SETUP_FIXED_EPOCH})
    set(SETUP_EPOCH_SOURCE "the fixed value (no commit to read)")
  endif()
endif()
if(NOT SETUP_BUILD_EPOCH MATCHES "^[0-9]+$" OR SETUP_BUILD_EPOCH GREATER 4294967295)
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a number of seconds that fits in 32 bits, not '${SETUP_BUILD_EPOCH}'")
endif()
message(STATUS "Link time stamp ${SETUP_BUILD_EPOCH}, from ${SETUP_EPOCH_SOURCE}")
set(CMAKE_C_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${SETUP_BUILD_EPOCH})
set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${SETUP_BUILD_EPOCH})

# No build or source folder in the code (__FILE__, debugging information).
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>
                    $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>)
