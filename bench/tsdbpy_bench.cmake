# write_tsdata throughput against a throw-away PostgreSQL cluster that the
# benchmark starts itself (as the tests do, but with fsync and synchronous
# commit on, so a figure includes the real cost of a commit).
find_package(PostgreSQL REQUIRED)
add_executable(tsdbpy_bench tsdbpy_bench.cpp)
target_link_libraries(tsdbpy_bench PRIVATE varnok::tsdbpy PostgreSQL::PostgreSQL benchmark::benchmark_main)
target_include_directories(tsdbpy_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
