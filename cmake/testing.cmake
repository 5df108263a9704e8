# GoogleTest: the system package natively, Debian's sources built with the cross compiler otherwise.
if(CMAKE_CROSSCOMPILING)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  set(CHIMEBOX_GTEST_MAIN gtest_main)
else()
  find_package(GTest REQUIRED)
  set(CHIMEBOX_GTEST_MAIN GTest::gtest_main)
endif()

# A path as the code under test sees it: under Wine, Unix paths are reached through drive Z:.
function(chimebox_test_path out path)
  if(WIN32)
    string(REPLACE "/" "\\" p "${path}")
    set(${out} "Z:${p}" PARENT_SCOPE)
  else()
    set(${out} "${path}" PARENT_SCOPE)
  endif()
endfunction()

# One CTest entry per test binary: under Wine every process start costs seconds.
function(chimebox_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${CHIMEBOX_GTEST_MAIN} chimebox_warnings)
  add_test(NAME ${name} COMMAND ${name})
  # No trailing separator: a backslash before the list's ';' would escape it.
  chimebox_test_path(support "${CHIMEBOX_APPLE_SUPPORT_DIR}")
  chimebox_test_path(bindir "${CMAKE_BINARY_DIR}")
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}"
    ENVIRONMENT "CHIMEBOX_APPLE_SUPPORT=${support};CHIMEBOX_BUILD_DIR=${bindir}")
  chimebox_session_mutex_lock(${name})
endfunction()

# On Windows the session mutex is one named object for every process of the (Wine) session, so
# tests that create it or check that it is missing must not run at the same time.
function(chimebox_session_mutex_lock name)
  if(WIN32)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK session-mutex)
  endif()
endfunction()
