# The workbook library's .xlsx side: Office Open XML packages read with libzip and expat, written
# row by row; its tests against openpyxl and LibreOffice, and its fuzz target.
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
pkg_check_modules(EXPAT REQUIRED IMPORTED_TARGET expat)

target_sources(ledgerwick_workbook PRIVATE
  workbook/xlsx/xlsx.h
  workbook/xlsx/formula.cpp
  workbook/xlsx/xml.cpp workbook/xlsx/xml.h
  workbook/xlsx/package.cpp
  workbook/xlsx/reader.cpp
  workbook/xlsx/writer.cpp
  workbook/xlsx/placer.cpp workbook/xlsx/placer.h
  workbook/xlsx/newbook.cpp)
target_link_libraries(ledgerwick_workbook PRIVATE PkgConfig::LIBZIP PkgConfig::EXPAT)

foreach(t xlsx_formula xlsx_package)
  lw_add_test(tst_${t} tests/xlsx/tst_${t}.cpp)
  target_link_libraries(tst_${t} PRIVATE ledgerwick_workbook)
endforeach()

# The .xlsx reader's libFuzzer target (zip and XML layers), built with clang like the .xls one and
# run for a bounded time as a test.
if(LW_CLANGXX)
  set(lw_fuzz_xlsx_sources
    ${CMAKE_SOURCE_DIR}/workbook/biff.cpp ${CMAKE_SOURCE_DIR}/workbook/model.cpp
    ${CMAKE_SOURCE_DIR}/workbook/formula.cpp ${CMAKE_SOURCE_DIR}/workbook/xlsx/formula.cpp ${CMAKE_SOURCE_DIR}/workbook/xlsx/xml.cpp
    ${CMAKE_SOURCE_DIR}/workbook/xlsx/package.cpp ${CMAKE_SOURCE_DIR}/workbook/xlsx/reader.cpp
    ${CMAKE_SOURCE_DIR}/tests/xlsx/fuzz_xlsx.cpp)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/fuzz_xlsx
    COMMAND ${LW_CLANGXX} -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address -DQT_NO_KEYWORDS -DQT_CORE_LIB
            "-I$<JOIN:$<TARGET_PROPERTY:Qt6::Core,INTERFACE_INCLUDE_DIRECTORIES>,;-I>" -I${CMAKE_SOURCE_DIR}
            ${LIBZIP_CFLAGS} ${EXPAT_CFLAGS} ${lw_fuzz_xlsx_sources} -o ${CMAKE_BINARY_DIR}/fuzz_xlsx
            $<TARGET_LINKER_FILE:Qt6::Core> ${LIBZIP_LDFLAGS} ${EXPAT_LDFLAGS}
    DEPENDS ${lw_fuzz_xlsx_sources} ${CMAKE_SOURCE_DIR}/workbook/xls.h ${CMAKE_SOURCE_DIR}/workbook/xlsx/xlsx.h
            ${CMAKE_SOURCE_DIR}/workbook/xlsx/xml.h
    COMMENT "Building the .xlsx reader's fuzz target with clang"
    COMMAND_EXPAND_LISTS VERBATIM)
  add_custom_target(lw_fuzz_xlsx ALL DEPENDS ${CMAKE_BINARY_DIR}/fuzz_xlsx)
  add_test(NAME fuzz_xlsx
    COMMAND ${CMAKE_SOURCE_DIR}/tests/xlsx/fuzz_run.sh ${CMAKE_BINARY_DIR}/fuzz_xlsx
            ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/fuzz_xlsx_work 30)
  set_tests_properties(fuzz_xlsx PROPERTIES TIMEOUT 180 ENVIRONMENT "HOME=${CMAKE_BINARY_DIR}/fuzz_xlsx_work")
endif()
