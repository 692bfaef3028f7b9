# The stand-ins for the product's edges (see the edge libraries in the top
# CMakeLists.txt), each a small library that a test program links in place
# of the real one: the unit tests, the fuzz targets and the benchmarks.
#   teslo_test_log_sink     log lines to the test's writer (support/log_writer.hpp)
#   teslo_alloc_faults      the allocation wrappers with a failure hook
#   teslo_scripted_dnsbl    a blocklist resolver the test installs
#   teslo_in_process_spf    SPF questions evaluated in the asking process
#   teslo_scripted_spf_dns  the DNS source of an SPF evaluation the test installs
#   teslo_in_process_archive  archives listed as the test says, or not at all
# teslo_test_support holds helpers built on them, and TESLO_TEST_EDGES names
# them all. The fuzz targets compile the same sources with their own
# instrumentation (TESLO_TEST_EDGE_SOURCES).
set(TESLO_SUPPORT_DIR ${CMAKE_CURRENT_LIST_DIR})
set(TESLO_TEST_EDGE_SOURCES ${TESLO_SUPPORT_DIR}/log_writer.cpp ${TESLO_SUPPORT_DIR}/alloc_faults.cpp
    ${TESLO_SUPPORT_DIR}/scripted_dnsbl.cpp ${TESLO_SUPPORT_DIR}/in_process_spf.cpp
    ${TESLO_SUPPORT_DIR}/scripted_spf_dns.cpp)
set(TESLO_TEST_SUPPORT_SOURCES ${TESLO_SUPPORT_DIR}/spf_step_run.cpp)

set(TESLO_TEST_EDGES teslo_test_log_sink teslo_alloc_faults teslo_scripted_dnsbl
    teslo_in_process_spf teslo_scripted_spf_dns)
list(APPEND TESLO_TEST_EDGE_SOURCES ${TESLO_SUPPORT_DIR}/in_process_archive.cpp)
list(APPEND TESLO_TEST_EDGES teslo_in_process_archive)
foreach(edge IN ZIP_LISTS TESLO_TEST_EDGES TESLO_TEST_EDGE_SOURCES)
  add_library(${edge_0} OBJECT EXCLUDE_FROM_ALL ${edge_1})
  target_include_directories(${edge_0} PUBLIC ${TESLO_SUPPORT_DIR}/..)
  target_link_libraries(${edge_0} PUBLIC teslo_core)
endforeach()
add_library(teslo_test_support OBJECT EXCLUDE_FROM_ALL ${TESLO_TEST_SUPPORT_SOURCES})
target_include_directories(teslo_test_support PUBLIC ${TESLO_SUPPORT_DIR}/..)
target_link_libraries(teslo_test_support PUBLIC teslo_core)
