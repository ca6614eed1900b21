# hublet on loopback against an opcsim of its own (needs node and opcsim's
# packages): reading groups of 30 and 1000 variables, browsing 1000 children.
add_executable(hublet_bench hublet_bench.cpp)
target_link_libraries(hublet_bench PRIVATE varnok::hublet varnok::gate varnok_gateway_proto benchmark::benchmark_main)
target_include_directories(hublet_bench PRIVATE ${PROJECT_SOURCE_DIR}/platform/corvex/src
                                                ${PROJECT_SOURCE_DIR}/tests/support)
target_compile_definitions(hublet_bench PRIVATE
  VARNOK_OPCSIM_ENTRY="${PROJECT_SOURCE_DIR}/services/opcsim/bin/opcsim.js")
