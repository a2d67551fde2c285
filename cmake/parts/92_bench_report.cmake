# Benchmarks of the report generator (Google Benchmark, libxlsxwriter for the reference program);
# built with the program when both are found, run by scripts/bench, never by the tests.
find_package(benchmark QUIET)
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(LW_XLSXWRITER QUIET IMPORTED_TARGET xlsxwriter)
  pkg_check_modules(LW_SQLITE3 QUIET IMPORTED_TARGET sqlite3)
endif()
if(benchmark_FOUND AND TARGET lw_bench_support AND TARGET ledgerwick-report AND LW_XLSXWRITER_FOUND
   AND LW_SQLITE3_FOUND)
  enable_language(C)
  add_executable(bench_ref_report bench/ref_report.c)
  target_link_libraries(bench_ref_report PRIVATE PkgConfig::LW_XLSXWRITER PkgConfig::LW_SQLITE3)

  add_executable(bench_report bench/bench_report.cpp)
  target_link_libraries(bench_report PRIVATE lw_bench_support ledgerwick_core ledgerwick_workbook
    PkgConfig::LW_SQLITE3)
  target_compile_definitions(bench_report PRIVATE
    LW_BENCH_GENERATOR="$<TARGET_FILE:ledgerwick-report>"
    LW_BENCH_REFERENCE="$<TARGET_FILE:bench_ref_report>"
    LW_BENCH_DEMO_DB="${CMAKE_BINARY_DIR}/demo/demo.sqlite")
  add_dependencies(bench_report ledgerwick-report bench_ref_report lw_demo)
endif()
