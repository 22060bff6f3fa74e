# Settings every target of our own gets: warnings are errors, and the
# sanitizers when the test build asks for them.
if(ORLINTIDE_SANITIZE)
  # -O1 as the sanitizers' authors advise: the tests that start the program
  # again and again run several times faster, and reports keep their lines.
  add_compile_options(-O1 -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# The real tables the tests read; a checkout elsewhere (a git worktree) names it.
set(ORLINTIDE_CORPUS_DIR "${PROJECT_SOURCE_DIR}/../shared/corpus" CACHE PATH
    "The folder of real Paradox tables the tests read (skipped when absent)")

function(orlintide_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
    -Wno-sign-conversion -Werror)
  # GCC 12 at -O3 reports string concatenations inside the standard library
  # as overlapping copies (GCC bug 105329), and the standard library's
  # three-way comparison of vectors as an over-long memcmp, and the move of a
  # std::variant held in a std::optional as a read of uninitialized members
  # (false alarms too); none of the three says anything of our code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict -Wno-stringop-overread -Wno-maybe-uninitialized)
  endif()
endfunction()

# orlintide_library(NAME SOURCES ... [QT] [DEPS ...])
function(orlintide_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  orlintide_warnings(${name})
endfunction()

# orlintide_test(NAME SOURCES ... DEPS ...): a GoogleTest binary registered with CTest.
function(orlintide_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE
    ORLINTIDE_CORPUS_DIR="${ORLINTIDE_CORPUS_DIR}")
  orlintide_warnings(${name})
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# orlintide_window_test(NAME SOURCES ... DEPS ...): a Qt Test binary for the
# windows, run on the offscreen platform so that it needs no display.
function(orlintide_window_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} Qt6::Test Qt6::Widgets)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE
    ORLINTIDE_CORPUS_DIR="${ORLINTIDE_CORPUS_DIR}")
  orlintide_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# Adds every folder below the current one that has a CMakeLists.txt (one
# library, tool or test set each), in name order.
function(orlintide_add_child_folders)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
