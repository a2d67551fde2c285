# The blank builder, started by the main program as "zarmek.exe": the program, its name in the build
# tree and in the installed tools directory, and its tests.
add_library(lw_blank STATIC
  tools/blank/blankbuilder.cpp tools/blank/blankbuilder.h
  tools/blank/blanklayout.cpp tools/blank/blanklayout.h
  tools/blank/blankscan.cpp tools/blank/blankscan.h
  tools/blank/waitwindow.cpp tools/blank/waitwindow.h)
target_link_libraries(lw_blank PUBLIC lw_toolkit)
add_executable(ledgerwick-blank tools/blank/main.cpp)
target_link_libraries(ledgerwick-blank PRIVATE lw_blank)
add_custom_command(TARGET ledgerwick-blank POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E create_symlink ledgerwick-blank ${CMAKE_BINARY_DIR}/zarmek.exe
  VERBATIM)

install(TARGETS ledgerwick-blank RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/ledgerwick)
install(CODE "execute_process(COMMAND \"${CMAKE_COMMAND}\" -E create_symlink ledgerwick-blank
  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/ledgerwick/zarmek.exe\")")

lw_add_test(tst_markers tests/tools/tst_markers.cpp)
target_link_libraries(tst_markers PRIVATE lw_toolkit)
lw_add_test(tst_blanklayout tests/blank/tst_blanklayout.cpp)
target_link_libraries(tst_blanklayout PRIVATE lw_blank)
# The program started for real, by hand and by the main window, with a stand-in spreadsheet program.
lw_add_test(tst_blankrun tests/blank/tst_blankrun.cpp)
target_link_libraries(tst_blankrun PRIVATE ledgerwick_workbook)
add_dependencies(tst_blankrun ledgerwick-blank ledgerwick-report lw_demo)
# Paradox tables of pxlib's making for the real-table cases, when pxlib was found.
if(TARGET lw_pxfixture)
  add_dependencies(tst_blankrun lw_pxfixture)
  target_compile_definitions(tst_blankrun PRIVATE LW_PXFIXTURE="$<TARGET_FILE:lw_pxfixture>")
endif()
# New blanks as .xlsx: the setting, a definition's own path, openpyxl and LibreOffice on the blank.
lw_add_test(tst_xlsx_blank tests/xlsx/tst_xlsx_blank.cpp)
target_link_libraries(tst_xlsx_blank PRIVATE ledgerwick_workbook)
add_dependencies(tst_xlsx_blank ledgerwick-blank lw_demo)
