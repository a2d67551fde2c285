# The demo report definitions and their blanks: each definition of demo/reports is copied into
# <build dir>/demo/reports, the blank builder makes its blank there (--no-edit), and lw_arrangedemo
# arranges it as a user would (a dated line under the title, totals under the band).
add_executable(lw_arrangedemo demo/arrangedemo.cpp tools/common/markers.cpp)
target_include_directories(lw_arrangedemo PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(lw_arrangedemo PRIVATE ledgerwick_workbook Qt6::Core)

set(LW_DEMO_REPORTS_DIR ${CMAKE_BINARY_DIR}/demo/reports)
set(LW_DEMO_BLANKS "")
# name, then the fields that get a total under the band
foreach(entry "sales|amount" "orders|AMOUNT" "clients|")
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 name)
  list(GET parts 1 total)
  set(arrange "")
  if(total)
    set(arrange --total ${total})
  endif()
  set(pr ${LW_DEMO_REPORTS_DIR}/${name}.pr)
  set(xls ${LW_DEMO_REPORTS_DIR}/${name}.xls)
  add_custom_command(
    OUTPUT ${xls}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${LW_DEMO_REPORTS_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/demo/reports/${name}.pr ${pr}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${xls} ${LW_DEMO_REPORTS_DIR}/${name}_report.xls
    COMMAND ${CMAKE_COMMAND} -E env --unset=LEDGERWICK_WINDOW QT_QPA_PLATFORM=offscreen
            LEDGERWICK_ALIASES=${CMAKE_BINARY_DIR}/demo/aliases.ini
            $<TARGET_FILE:ledgerwick-blank> --no-edit ${pr}
    COMMAND lw_arrangedemo ${xls} ${arrange}
    DEPENDS ${CMAKE_SOURCE_DIR}/demo/reports/${name}.pr ledgerwick-blank lw_arrangedemo lw_demo
            ${CMAKE_BINARY_DIR}/demo/aliases.ini
    COMMENT "Preparing the demo blank ${name}.xls"
    VERBATIM)
  list(APPEND LW_DEMO_BLANKS ${xls})
endforeach()
add_custom_target(lw_demo_reports ALL DEPENDS ${LW_DEMO_BLANKS})

# Installed: the definitions as shipped (their workbook path is derived from where they lie) and the
# prepared blanks beside them.
install(FILES ${CMAKE_SOURCE_DIR}/demo/reports/sales.pr ${CMAKE_SOURCE_DIR}/demo/reports/orders.pr
              ${CMAKE_SOURCE_DIR}/demo/reports/clients.pr ${LW_DEMO_BLANKS}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/ledgerwick/demo/reports)

# The demo reports generated and opened by LibreOffice, compared with the data (tests/e2e).
add_test(NAME tst_demoreports
  COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/e2e/tst_demoreports.py ${CMAKE_BINARY_DIR})
set_tests_properties(tst_demoreports PROPERTIES TIMEOUT 600
  ENVIRONMENT "HOME=${CMAKE_BINARY_DIR}/testhome/tst_demoreports;XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/testhome/tst_demoreports/config;XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/testhome/tst_demoreports/runtime")
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/testhome/tst_demoreports/config ${CMAKE_BINARY_DIR}/testhome/tst_demoreports/runtime)
file(CHMOD ${CMAKE_BINARY_DIR}/testhome/tst_demoreports/runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
