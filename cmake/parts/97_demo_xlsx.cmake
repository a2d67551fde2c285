# The demo's .xlsx report: regions.pr gets its blank as a user with "New blanks as .xlsx" would (the
# blank builder, started with that setting, writes regions.xlsx and its path into the definition),
# then lw_arrangedemo puts a total under the band.
set(lw_xlsx_home ${CMAKE_BINARY_DIR}/demo/xlsx-settings)
file(MAKE_DIRECTORY ${lw_xlsx_home}/Ledgerwick)
file(WRITE ${lw_xlsx_home}/Ledgerwick/l_wick.ini "[EXCEL]\nFormat=xlsx\n")
set(lw_regions_pr ${LW_DEMO_REPORTS_DIR}/regions.pr)
set(lw_regions ${LW_DEMO_REPORTS_DIR}/regions.xlsx)
add_custom_command(
  OUTPUT ${lw_regions}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${LW_DEMO_REPORTS_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/demo/reports/regions.pr ${lw_regions_pr}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${lw_regions} ${LW_DEMO_REPORTS_DIR}/regions_report.xlsx
  COMMAND ${CMAKE_COMMAND} -E env --unset=LEDGERWICK_WINDOW QT_QPA_PLATFORM=offscreen
          LEDGERWICK_ALIASES=${CMAKE_BINARY_DIR}/demo/aliases.ini XDG_CONFIG_HOME=${lw_xlsx_home}
          $<TARGET_FILE:ledgerwick-blank> --no-edit ${lw_regions_pr}
  COMMAND lw_arrangedemo ${lw_regions} --total amount
  DEPENDS ${CMAKE_SOURCE_DIR}/demo/reports/regions.pr ledgerwick-blank lw_arrangedemo lw_demo
          ${CMAKE_BINARY_DIR}/demo/aliases.ini
  COMMENT "Preparing the demo blank regions.xlsx"
  VERBATIM)
add_custom_target(lw_demo_xlsx ALL DEPENDS ${lw_regions})
add_dependencies(lw_demo_reports lw_demo_xlsx)

# Installed with its workbook path set to where the blank is installed.
set(lw_demo_dest ${CMAKE_INSTALL_DATADIR}/ledgerwick/demo/reports)
install(FILES ${CMAKE_SOURCE_DIR}/demo/reports/regions.pr ${lw_regions} DESTINATION ${lw_demo_dest})
install(CODE "
  set(pr \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${lw_demo_dest}/regions.pr\")
  file(READ \"\${pr}\" text)
  string(REPLACE \"Excel=\\n\" \"Excel=\${CMAKE_INSTALL_PREFIX}/${lw_demo_dest}/regions.xlsx\\n\" text \"\${text}\")
  file(WRITE \"\${pr}\" \"\${text}\")")
