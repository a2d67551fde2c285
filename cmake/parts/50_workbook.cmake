# The workbook library: Excel 97-2003 workbooks (BIFF8 in an OLE2 compound file through libgsf),
# its tests against programs we did not write, the fuzz target and the benchmarks.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GSF REQUIRED IMPORTED_TARGET libgsf-1)

add_library(ledgerwick_workbook STATIC
  workbook/xls.h
  workbook/biff.cpp workbook/biff.h
  workbook/model.cpp
  workbook/formula.cpp
  workbook/reader.cpp
  workbook/writer.cpp)
target_include_directories(ledgerwick_workbook PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(ledgerwick_workbook PUBLIC Qt6::Core PRIVATE PkgConfig::GSF)
# glib names a struct member "signals", which Qt keywords would turn into "public".
target_compile_definitions(ledgerwick_workbook PRIVATE QT_NO_KEYWORDS)

# A second reader for the tests: prints what libfreexl reads.
pkg_check_modules(FREEXL REQUIRED IMPORTED_TARGET freexl)
add_executable(lw_freexl_dump tests/workbook/freexl_dump.cpp)
target_link_libraries(lw_freexl_dump PRIVATE PkgConfig::FREEXL)

foreach(t xls_write xls_read xls_formula xls_damaged)
  lw_add_test(tst_${t} tests/workbook/tst_${t}.cpp tests/workbook/xlstest.h)
  target_link_libraries(tst_${t} PRIVATE ledgerwick_workbook)
  add_dependencies(tst_${t} lw_freexl_dump)
endforeach()
target_link_libraries(tst_xls_damaged PRIVATE PkgConfig::GSF)
