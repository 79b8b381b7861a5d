# Components of the host (host_*) and of the module (mod_*).
#
# quillon3_component(NAME DIRS dir... DEPS dep...)
#   Builds the folder's *.cpp into a static, position-independent library (an INTERFACE
#   library while the folder has headers only). DEPS name third-party targets and other
#   components; tests link a component with all it needs. The shipped shared objects are
#   made of the components' object files, so a module component's host dependencies come
#   from libquillon3_host.so there, never a second copy.

set_property(GLOBAL PROPERTY QUILLON3_COMPONENTS "")

function(quillon3_component name)
  cmake_parse_arguments(C "" "" "DIRS;DEPS" ${ARGN})
  set(srcs "")
  foreach(d IN LISTS C_DIRS)
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${d}/*.cpp)
    list(APPEND srcs ${found})
    set_property(GLOBAL PROPERTY QUILLON3_DIR_${d} ${name})
  endforeach()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_link_libraries(${name} PUBLIC ${C_DEPS})
    target_compile_options(${name} PRIVATE ${QUILLON3_WARNINGS})
    if(name MATCHES "^mod_")
      set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden
                                               VISIBILITY_INLINES_HIDDEN ON)
    endif()
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${C_DEPS})
  endif()
  set_property(TARGET ${name} PROPERTY QUILLON3_DEPS ${C_DEPS})
  set_property(GLOBAL APPEND PROPERTY QUILLON3_COMPONENTS ${name})
endfunction()

set(THIRD_BASE PkgConfig::ACE Boost::boost Threads::Threads ${CMAKE_DL_LIBS})

# ---- host ------------------------------------------------------------------------
quillon3_component(host_json       DIRS host/json       DEPS PkgConfig::YAJL ${THIRD_BASE})
quillon3_component(host_runtime    DIRS host/runtime    DEPS host_json ${THIRD_BASE})
quillon3_component(host_job_engine DIRS host/job_engine DEPS host_runtime host_json PkgConfig::YAJL)
quillon3_component(host_jsonrpc    DIRS host/jsonrpc    DEPS host_json host_runtime)
quillon3_component(host_agent      DIRS host/agent      DEPS host_json)
quillon3_component(host_identity   DIRS host/identity   DEPS host_runtime OpenSSL::Crypto)
quillon3_component(host_cloud      DIRS host/cloud      DEPS host_runtime PkgConfig::CURL
                                                            PkgConfig::ACEXML PkgConfig::EXPAT OpenSSL::Crypto
                                                            OpenSSL::SSL)
quillon3_component(host_pool       DIRS host/pool       DEPS host_runtime PkgConfig::ZSTD
                                                            PkgConfig::LZO2 PkgConfig::XXHASH)
quillon3_component(host_catalog    DIRS host/catalog    DEPS host_json host_runtime
                                                            PkgConfig::SQLITE3)

# ---- module ----------------------------------------------------------------------
set(MOD_BASE PkgConfig::ACE PkgConfig::ACEXML PkgConfig::YAJL Boost::boost Threads::Threads)
quillon3_component(mod_yolt        DIRS module/yolt     DEPS host_runtime host_json ${MOD_BASE})
quillon3_component(mod_json_spirit DIRS module/json_spirit DEPS mod_yolt host_json ${MOD_BASE})
quillon3_component(mod_records     DIRS module/backup_set/common module/client_io
                                        module/models/database/sql/printers
                                   DEPS mod_yolt mod_json_spirit host_pool host_catalog
                                        host_identity host_job_engine host_runtime)
quillon3_component(mod_job         DIRS module/job module/job_def
                                   DEPS mod_yolt mod_json_spirit host_job_engine)
quillon3_component(mod_task        DIRS module/models/task module/models/task/details
                                   DEPS mod_yolt ${MOD_BASE})
quillon3_component(mod_tc_common   DIRS module/tavrocloud/common
                                   DEPS mod_yolt mod_json_spirit host_cloud host_identity
                                        host_jsonrpc)
quillon3_component(mod_tc_job      DIRS module/tavrocloud/job
                                   DEPS mod_tc_common mod_task mod_job mod_records
                                        host_job_engine host_pool host_catalog
                                        mod_tc_websvcs mod_tc_agent)
quillon3_component(mod_tc_websvcs  DIRS module/tavrocloud/websvcs_agent
                                   DEPS mod_tc_common host_jsonrpc)
quillon3_component(mod_tc_agent    DIRS module/tavrocloud/instance_handler
                                   DEPS mod_yolt host_agent)

# ---- shipped objects ---------------------------------------------------------------
get_property(all_components GLOBAL PROPERTY QUILLON3_COMPONENTS)
set(host_libs "")
set(mod_libs "")
foreach(c IN LISTS all_components)
  get_target_property(kind ${c} TYPE)
  if(NOT kind STREQUAL "STATIC_LIBRARY")
    continue()
  endif()
  if(c MATCHES "^host_")
    list(APPEND host_libs ${c})
  else()
    list(APPEND mod_libs ${c})
  endif()
endforeach()

# The shared objects are made of the components' object files (not their archives), so
# that each component's code is in exactly one of them; the third-party libraries the
# components need are linked as usual.
function(quillon3_third_party out)
  set(result "")
  foreach(c IN LISTS ARGN)
    get_property(d TARGET ${c} PROPERTY QUILLON3_DEPS)
    foreach(x IN LISTS d)
      if(NOT x MATCHES "^(host|mod)_")
        list(APPEND result ${x})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES result)
  set(${out} ${result} PARENT_SCOPE)
endfunction()

set(host_objects "")
foreach(c IN LISTS host_libs)
  list(APPEND host_objects $<TARGET_OBJECTS:${c}>)
endforeach()
quillon3_third_party(host_third ${host_libs})
add_library(quillon3_host SHARED host/host_library.cpp ${host_objects})
target_link_libraries(quillon3_host PUBLIC ${THIRD_BASE} ${host_third})

# Every module component's objects, for tests and tools that link the module statically.
add_library(tavrocloud_objects INTERFACE)
target_link_libraries(tavrocloud_objects INTERFACE ${mod_libs})

add_library(tavrocloud MODULE module/module_library.cpp)
set_target_properties(tavrocloud PROPERTIES CXX_VISIBILITY_PRESET hidden
                                            VISIBILITY_INLINES_HIDDEN ON PREFIX "lib")
set(mod_objects "")
foreach(c IN LISTS mod_libs)
  list(APPEND mod_objects $<TARGET_OBJECTS:${c}>)
endforeach()
quillon3_third_party(mod_third ${mod_libs})
target_sources(tavrocloud PRIVATE ${mod_objects})
target_link_libraries(tavrocloud PRIVATE quillon3_host ${mod_third})
# The factories and their destroyers are the module's only dynamic symbols.
set(tavrocloud_exports ${CMAKE_SOURCE_DIR}/module/tavrocloud/job/export_objs.map)
target_link_options(tavrocloud PRIVATE -Wl,--no-undefined -Wl,--version-script=${tavrocloud_exports})
set_property(TARGET tavrocloud APPEND PROPERTY LINK_DEPENDS ${tavrocloud_exports})

file(GLOB runner_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/host/runner/*.cpp)
if(runner_srcs)
  add_executable(quillon3 ${runner_srcs})
  target_compile_options(quillon3 PRIVATE ${QUILLON3_WARNINGS})
  # The runner links no module code: it loads libtavrocloud.so with dlopen, as the product
  # does (host/runner/module_link.h), from beside itself by default.
  target_link_libraries(quillon3 PRIVATE quillon3_host ${CMAKE_DL_LIBS})
  # The module's classes keep their type information to themselves (hidden visibility);
  # the runner holds the module's job documents without it, which the sanitizer's vptr
  # checks would need at link time.
  target_compile_options(quillon3 PRIVATE -fno-sanitize=vptr)
  add_dependencies(quillon3 tavrocloud)
endif()

# What the runner prints (escaping, JSON, tables, the -v log, a job's progress, its stop
# lines) and where (the standard descriptors it was started without), on its own for the
# runner's unit tests (tests/host/runner); the rest of the runner is tried end to end.
add_library(quillon3_runner_output STATIC host/runner/runner_output.cpp
                                          host/runner/job_progress.cpp
                                          host/runner/stop_line_writer.cpp
                                          host/runner/standard_descriptors.cpp)
target_link_libraries(quillon3_runner_output PUBLIC host_job_engine host_json ${THIRD_BASE})
target_compile_options(quillon3_runner_output PRIVATE ${QUILLON3_WARNINGS})
set_property(GLOBAL PROPERTY QUILLON3_DIR_host/runner quillon3_runner_output)

# ---- tests -------------------------------------------------------------------------
# tests/<folder>/*_test.cpp becomes one binary that links the component of <folder>
# plus tests/support.
enable_testing()
# Folders whose tests exercise threads; the tsan preset runs exactly these.
set(THREADED_TEST_DIRS module/yolt module/job module/models/task module/models/task/details
                       module/tavrocloud/common module/tavrocloud/websvcs_agent
                       module/tavrocloud/job host/job_engine host/jsonrpc host/pool host/runner)
include(GoogleTest)
file(GLOB support_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
add_library(test_support STATIC ${support_srcs})
target_link_libraries(test_support PUBLIC GTest::gtest GTest::gmock host_runtime host_json mod_yolt
                                          ${THIRD_BASE})
target_include_directories(test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests)
# Tests find their data files from the build (tests/support/test_data.h).
target_compile_definitions(test_support PUBLIC QUILLON3_TESTS_DIR="${CMAKE_SOURCE_DIR}/tests")

file(GLOB_RECURSE test_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.cpp)
set(test_dirs "")
foreach(t IN LISTS test_srcs)
  get_filename_component(d ${t} DIRECTORY)
  file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/tests ${d})
  list(APPEND test_dirs ${rel})
endforeach()
list(REMOVE_DUPLICATES test_dirs)

add_custom_target(threaded_tests)
# Every test binary but the end-to-end one: what the sanitizer presets run.
add_custom_target(unit_tests)
foreach(rel IN LISTS test_dirs)
  if(rel MATCHES "^e2e" AND NOT QUILLON3_E2E)
    continue()
  endif()
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${rel}/*_test.cpp)
  string(REPLACE "/" "_" exe "test_${rel}")
  add_executable(${exe} ${srcs})
  target_compile_options(${exe} PRIVATE ${QUILLON3_WARNINGS})
  target_link_libraries(${exe} PRIVATE test_support GTest::gtest_main)
  set(label unit)
  if(rel IN_LIST THREADED_TEST_DIRS)
    set(label threads)
    add_dependencies(threaded_tests ${exe})
  endif()
  if(NOT rel MATCHES "^e2e")
    add_dependencies(unit_tests ${exe})
  endif()
  if(rel MATCHES "^e2e")
    set(label e2e)
    target_link_libraries(${exe} PRIVATE quillon3_host tavrocloud_objects)
    add_dependencies(${exe} tavrocloud)
    if(TARGET quillon3)
      add_dependencies(${exe} quillon3)
    endif()
  else()
    get_property(comp GLOBAL PROPERTY QUILLON3_DIR_${rel})
    if(NOT comp)
      message(FATAL_ERROR "tests/${rel} mirrors no component folder")
    endif()
    target_link_libraries(${exe} PRIVATE ${comp})
  endif()
  gtest_discover_tests(${exe} DISCOVERY_MODE PRE_TEST TEST_FILTER "-*_Slow.*"
                       PROPERTIES LABELS "${label}"
                       ENVIRONMENT "QUILLON3_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  # Test suites named *_Slow run at production pace: they carry the label slow alone, so
  # the default run has them once and the sanitizer presets leave them out.
  gtest_discover_tests(${exe} DISCOVERY_MODE PRE_TEST TEST_FILTER "*_Slow.*"
                       TEST_LIST ${exe}_SLOW_TESTS
                       PROPERTIES LABELS slow
                       ENVIRONMENT "QUILLON3_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endforeach()

# The simulator's own tests (Python standard library only).
if(EXISTS ${CMAKE_SOURCE_DIR}/sim/tests)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME sim_unittests
           COMMAND ${Python3_EXECUTABLE} -m unittest discover -s sim/tests
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(sim_unittests PROPERTIES LABELS sim)
endif()

if(QUILLON3_BENCH)
  add_subdirectory(bench)
endif()
