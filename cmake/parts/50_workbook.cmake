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
  workbook/writer.cpp workbook/writer_budget.h workbook/gsflog.h
  workbook/reportfile.cpp workbook/reportfile.h
  workbook/xls/anchors.cpp workbook/xls/anchors.h
  workbook/xls/totals.cpp workbook/xls/totals.h
  workbook/xls/drawing.cpp workbook/xls/drawing.h
  workbook/xls/storage.cpp workbook/xls/storage.h)
target_include_directories(ledgerwick_workbook PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(ledgerwick_workbook PUBLIC Qt6::Core PRIVATE PkgConfig::GSF)
# glib names a struct member "signals", which Qt keywords would turn into "public".
target_compile_definitions(ledgerwick_workbook PRIVATE QT_NO_KEYWORDS)

# A second reader for the tests: prints what libfreexl reads.
pkg_check_modules(FREEXL REQUIRED IMPORTED_TARGET freexl)
add_executable(lw_freexl_dump tests/workbook/freexl_dump.cpp)
target_link_libraries(lw_freexl_dump PRIVATE PkgConfig::FREEXL)

foreach(t xls_write xls_read xls_formula xls_damaged xls_anchors)
  lw_add_test(tst_${t} tests/workbook/tst_${t}.cpp tests/workbook/xlstest.h)
  target_link_libraries(tst_${t} PRIVATE ledgerwick_workbook)
  add_dependencies(tst_${t} lw_freexl_dump)
endforeach()
target_link_libraries(tst_xls_damaged PRIVATE PkgConfig::GSF)

# The seed corpus maker of the fuzz target: workbooks of our writer, streams taken out with libgsf.
add_executable(lw_xls_seeds tests/workbook/xls_seeds.cpp)
target_link_libraries(lw_xls_seeds PRIVATE ledgerwick_workbook PkgConfig::GSF)

# The reader's libFuzzer target, built with clang (AddressSanitizer) when clang is found, run for
# a bounded time as a test.
find_program(LW_CLANGXX NAMES clang++ clang++-16 clang++-15 clang++-14)
if(LW_CLANGXX)
  set(lw_fuzz_sources
    ${CMAKE_SOURCE_DIR}/workbook/biff.cpp ${CMAKE_SOURCE_DIR}/workbook/model.cpp
    ${CMAKE_SOURCE_DIR}/workbook/formula.cpp ${CMAKE_SOURCE_DIR}/workbook/reader.cpp
    ${CMAKE_SOURCE_DIR}/workbook/xls/anchors.cpp ${CMAKE_SOURCE_DIR}/workbook/xls/drawing.cpp
    ${CMAKE_SOURCE_DIR}/workbook/xls/storage.cpp
    ${CMAKE_SOURCE_DIR}/tests/workbook/fuzz_xls.cpp)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/fuzz_xls
    COMMAND ${LW_CLANGXX} -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address -DQT_NO_KEYWORDS -DQT_CORE_LIB
            "-I$<JOIN:$<TARGET_PROPERTY:Qt6::Core,INTERFACE_INCLUDE_DIRECTORIES>,;-I>" -I${CMAKE_SOURCE_DIR}
            ${GSF_CFLAGS} ${lw_fuzz_sources} -o ${CMAKE_BINARY_DIR}/fuzz_xls
            $<TARGET_LINKER_FILE:Qt6::Core> ${GSF_LDFLAGS}
    DEPENDS ${lw_fuzz_sources} ${CMAKE_SOURCE_DIR}/workbook/xls.h ${CMAKE_SOURCE_DIR}/workbook/biff.h
    COMMENT "Building the workbook reader's fuzz target with clang"
    COMMAND_EXPAND_LISTS VERBATIM)
  add_custom_target(lw_fuzz_xls ALL DEPENDS ${CMAKE_BINARY_DIR}/fuzz_xls)
  add_test(NAME fuzz_xls
    COMMAND ${CMAKE_SOURCE_DIR}/tests/workbook/fuzz_run.sh ${CMAKE_BINARY_DIR}/fuzz_xls
            $<TARGET_FILE:lw_xls_seeds> ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/fuzz_xls_work 30)
  set_tests_properties(fuzz_xls PROPERTIES TIMEOUT 180 ENVIRONMENT "HOME=${CMAKE_BINARY_DIR}/fuzz_xls_work")

  # The drawing and chart readers and the placers that copy drawings, formats and names over rows,
  # seeded as above and with a blank made by LibreOffice that holds every kind of drawing.
  set(lw_fuzz_drawing_sources ${lw_fuzz_sources} ${CMAKE_SOURCE_DIR}/tests/workbook/fuzz_xls_drawing.cpp)
  list(REMOVE_ITEM lw_fuzz_drawing_sources ${CMAKE_SOURCE_DIR}/tests/workbook/fuzz_xls.cpp)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/fuzz_xls_drawing
    COMMAND ${LW_CLANGXX} -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address -DQT_NO_KEYWORDS -DQT_CORE_LIB
            "-I$<JOIN:$<TARGET_PROPERTY:Qt6::Core,INTERFACE_INCLUDE_DIRECTORIES>,;-I>" -I${CMAKE_SOURCE_DIR}
            ${GSF_CFLAGS} ${lw_fuzz_drawing_sources} -o ${CMAKE_BINARY_DIR}/fuzz_xls_drawing
            $<TARGET_LINKER_FILE:Qt6::Core> ${GSF_LDFLAGS}
    DEPENDS ${lw_fuzz_drawing_sources} ${CMAKE_SOURCE_DIR}/workbook/xls.h ${CMAKE_SOURCE_DIR}/workbook/biff.h
            ${CMAKE_SOURCE_DIR}/workbook/xls/anchors.h ${CMAKE_SOURCE_DIR}/workbook/xls/drawing.h
    COMMENT "Building the drawing readers' fuzz target with clang"
    COMMAND_EXPAND_LISTS VERBATIM)
  add_custom_target(lw_fuzz_xls_drawing ALL DEPENDS ${CMAKE_BINARY_DIR}/fuzz_xls_drawing)
  add_test(NAME fuzz_xls_drawing
    COMMAND ${CMAKE_SOURCE_DIR}/tests/workbook/fuzz_run.sh ${CMAKE_BINARY_DIR}/fuzz_xls_drawing
            $<TARGET_FILE:lw_xls_seeds> ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/fuzz_xls_drawing_work 30 drawings)
  set_tests_properties(fuzz_xls_drawing PROPERTIES TIMEOUT 240
    ENVIRONMENT "HOME=${CMAKE_BINARY_DIR}/fuzz_xls_drawing_work")
  # The whole file: libgsf's reading of the compound file as well as our records.
  set(lw_fuzz_file_sources ${lw_fuzz_sources} ${CMAKE_SOURCE_DIR}/tests/workbook/fuzz_xls_file.cpp)
  list(REMOVE_ITEM lw_fuzz_file_sources ${CMAKE_SOURCE_DIR}/tests/workbook/fuzz_xls.cpp)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/fuzz_xls_file
    COMMAND ${LW_CLANGXX} -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address -DQT_NO_KEYWORDS -DQT_CORE_LIB
            "-I$<JOIN:$<TARGET_PROPERTY:Qt6::Core,INTERFACE_INCLUDE_DIRECTORIES>,;-I>" -I${CMAKE_SOURCE_DIR}
            ${GSF_CFLAGS} ${lw_fuzz_file_sources} -o ${CMAKE_BINARY_DIR}/fuzz_xls_file
            $<TARGET_LINKER_FILE:Qt6::Core> ${GSF_LDFLAGS}
    DEPENDS ${lw_fuzz_file_sources} ${CMAKE_SOURCE_DIR}/workbook/xls.h ${CMAKE_SOURCE_DIR}/workbook/biff.h
            ${CMAKE_SOURCE_DIR}/workbook/gsflog.h
    COMMENT "Building the whole-file fuzz target of the workbook reader with clang"
    COMMAND_EXPAND_LISTS VERBATIM)
  add_custom_target(lw_fuzz_xls_file ALL DEPENDS ${CMAKE_BINARY_DIR}/fuzz_xls_file)
  add_test(NAME fuzz_xls_file
    COMMAND ${CMAKE_SOURCE_DIR}/tests/workbook/fuzz_run.sh ${CMAKE_BINARY_DIR}/fuzz_xls_file
            $<TARGET_FILE:lw_xls_seeds> ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/fuzz_xls_file_work 30 --files)
  # Leaks are looked for with whole stacks, so that libgsf's own (lsan_libgsf.supp) can be told apart.
  set_tests_properties(fuzz_xls_file PROPERTIES TIMEOUT 180 LABELS fuzz
    ENVIRONMENT "HOME=${CMAKE_BINARY_DIR}/fuzz_xls_file_work;ASAN_OPTIONS=fast_unwind_on_malloc=0;LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/workbook/lsan_libgsf.supp")
else()
  message(STATUS "clang++ not found: the workbook reader's fuzz target is not built")
endif()
