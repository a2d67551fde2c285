# Workbook benchmarks: our writer against libxlsxwriter (constant memory), our reader against
# libfreexl, our .xlsx reader against libzip and expat alone; built when Google Benchmark and
# libxlsxwriter are found, run by scripts/bench.
pkg_check_modules(XLSXWRITER QUIET IMPORTED_TARGET xlsxwriter)
if(benchmark_FOUND AND XLSXWRITER_FOUND)
  add_executable(bench_workbook bench/bench_workbook.cpp)
  target_link_libraries(bench_workbook PRIVATE lw_bench_support ledgerwick_workbook
    PkgConfig::XLSXWRITER PkgConfig::FREEXL PkgConfig::LIBZIP PkgConfig::EXPAT)
elseif(benchmark_FOUND)
  message(STATUS "libxlsxwriter not found: the workbook benchmark is not built")
endif()
