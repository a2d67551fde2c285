# The report generator ledgerwick-report, started by the main program as "VORTAL1", and its tests.
add_library(lw_reportgen OBJECT
  tools/report/template.cpp tools/report/template.h
  tools/report/cellvalues.cpp tools/report/cellvalues.h
  tools/report/generator.cpp tools/report/generator.h
  tools/report/xlsxreport.cpp tools/report/xlsxreport.h
  tools/report/instancelock.cpp tools/report/instancelock.h)
target_link_libraries(lw_reportgen PUBLIC ledgerwick_core)

# The program needs the workbook library, the table data and the tools' shared code; their parts
# define those targets before this one.
if(TARGET ledgerwick_workbook AND TARGET ledgerwick_data AND TARGET lw_toolkit)
  target_link_libraries(lw_reportgen PUBLIC ledgerwick_workbook ledgerwick_data lw_toolkit)
  add_executable(ledgerwick-report tools/report/main.cpp)
  target_link_libraries(ledgerwick-report PRIVATE lw_reportgen ledgerwick_gui)
  # The name the main program starts it by, beside it in the build tree.
  add_custom_command(TARGET ledgerwick-report POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E create_symlink ledgerwick-report ${CMAKE_BINARY_DIR}/VORTAL1
    VERBATIM)
  set(lw_tooldir ${CMAKE_INSTALL_LIBEXECDIR}/ledgerwick)
  install(TARGETS ledgerwick-report RUNTIME DESTINATION ${lw_tooldir})
  install(CODE "execute_process(COMMAND \${CMAKE_COMMAND} -E create_symlink ledgerwick-report
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${lw_tooldir}/VORTAL1\")")

  # The program run for real on blanks made and reports read by xlwt, xlrd and LibreOffice.
  lw_add_test(tst_generator tests/generator/tst_generator.cpp)
  target_link_libraries(tst_generator PRIVATE ledgerwick_workbook) # blanks with print titles
  add_dependencies(tst_generator ledgerwick-report lw_demo)
  set_tests_properties(tst_generator PROPERTIES TIMEOUT 900)

  # What a user arranges around the band, in a blank made by LibreOffice, read back through
  # LibreOffice and openpyxl (skipped when either is missing).
  lw_add_test(tst_keep tests/generator/tst_keep.cpp)
  target_link_libraries(tst_keep PRIVATE ledgerwick_workbook) # a blank with a macro project
  add_dependencies(tst_keep ledgerwick-report)
  set_tests_properties(tst_keep PROPERTIES TIMEOUT 900)
  # The program stopped, killed, limited and fed hostile blanks, tables and conditions.
  lw_add_test(tst_reliability tests/generator/tst_reliability.cpp)
  target_link_libraries(tst_reliability PRIVATE ledgerwick_workbook lw_data_fixtures)
  add_dependencies(tst_reliability ledgerwick-report lw_demo)
  set_tests_properties(tst_reliability PROPERTIES TIMEOUT 600)
else()
  message(STATUS "ledgerwick-report waits for the workbook, table data and toolkit targets")
endif()

# The generator on .xlsx blanks, read back by openpyxl and LibreOffice.
if(TARGET ledgerwick-report)
  lw_add_test(tst_xlsx_generator tests/xlsx/tst_xlsx_generator.cpp)
  target_link_libraries(tst_xlsx_generator PRIVATE ledgerwick_workbook Qt6::Sql)
  add_dependencies(tst_xlsx_generator ledgerwick-report)
  set_tests_properties(tst_xlsx_generator PROPERTIES TIMEOUT 900)
endif()
