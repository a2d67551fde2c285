# Benchmarks (Google Benchmark); built with the program, run by scripts/bench, never by the tests.
find_package(benchmark QUIET)
if(benchmark_FOUND)
  # The ratio runner, the floors and the shared set-up of the benchmarks that build windows.
  add_library(lw_bench_support STATIC
    bench/ratio.cpp bench/ratio.h
    bench/floor.cpp bench/floor.h
    bench/desktop.cpp bench/desktop.h)
  target_link_libraries(lw_bench_support PUBLIC benchmark::benchmark Qt6::Core)

  foreach(b profile catalogue)
    add_executable(bench_${b} bench/bench_${b}.cpp)
    target_link_libraries(bench_${b} PRIVATE lw_bench_support ledgerwick_core)
  endforeach()
  foreach(b windows save)
    add_executable(bench_${b} bench/bench_${b}.cpp)
    target_link_libraries(bench_${b} PRIVATE lw_bench_support ledgerwick_gui)
  endforeach()

  # Start-up: the program itself against a bare main window, each started as a process of its own.
  add_executable(bench_bare_mainwindow bench/bare_mainwindow.cpp)
  target_link_libraries(bench_bare_mainwindow PRIVATE Qt6::Widgets)
  # The like-for-like reference: the program's furniture (menus, pictured tool bar, MDI area, a
  # modal dialog with the about box's picture) and nothing of its own.
  add_executable(bench_like_program bench/like_program.cpp resources/about.qrc resources/mainform.qrc)
  target_link_libraries(bench_like_program PRIVATE Qt6::Widgets)
  # It quits when idle through the program's own hook (app/quitwhenidle.h, header only).
  target_include_directories(bench_like_program PRIVATE ${CMAKE_SOURCE_DIR})
  add_executable(bench_startup bench/bench_startup.cpp)
  target_link_libraries(bench_startup PRIVATE lw_bench_support)
  target_compile_definitions(bench_startup PRIVATE
    LW_BENCH_PROGRAM="$<TARGET_FILE:ledgerwick>"
    LW_BENCH_BARE="$<TARGET_FILE:bench_bare_mainwindow>"
    LW_BENCH_LIKE="$<TARGET_FILE:bench_like_program>")
  add_dependencies(bench_startup ledgerwick bench_bare_mainwindow bench_like_program)
else()
  message(STATUS "Google Benchmark not found: benchmarks are not built")
endif()

# The fast lookups the benchmarks led to, checked against the plain reading rules.
lw_add_test(tst_profile_reads tests/bench/tst_profile_reads.cpp)
lw_add_test(tst_table_order tests/bench/tst_table_order.cpp)
