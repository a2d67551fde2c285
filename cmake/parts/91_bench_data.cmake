# Benchmark of the table data library (Google Benchmark, shapelib and libpq as the references);
# built with the other benchmarks, run by scripts/bench, never by the tests.
find_package(benchmark QUIET)
find_package(PkgConfig QUIET)
if(benchmark_FOUND AND PkgConfig_FOUND)
  pkg_check_modules(LW_SHAPELIB IMPORTED_TARGET shapelib)
  pkg_check_modules(LW_LIBPQ IMPORTED_TARGET libpq)
  if(LW_SHAPELIB_FOUND AND LW_LIBPQ_FOUND)
    add_executable(bench_data bench/bench_data.cpp)
    target_link_libraries(bench_data PRIVATE lw_bench_support ledgerwick_data SQLite::SQLite3
      PkgConfig::LW_SHAPELIB PkgConfig::LW_LIBPQ)
  else()
    message(STATUS "shapelib or libpq not found: bench_data is not built")
  endif()
endif()
