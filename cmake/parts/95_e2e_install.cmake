# The whole program end to end: the typical run and bad files against the real main window, the
# installed program with its desktop entry and icon, and the driver that takes the screenshots.

# The desktop entry and the icon (drawn by resources/make-icon.py) beside the program.
install(FILES resources/ledgerwick.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 48 128)
  install(FILES resources/icons/ledgerwick-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ledgerwick.png)
endforeach()

lw_add_test(tst_typicalrun tests/e2e/tst_typicalrun.cpp)
add_dependencies(tst_typicalrun ledgerwick-post ledgerwick-blank ledgerwick-report)
lw_add_test(tst_badfiles tests/e2e/tst_badfiles.cpp)
lw_add_test(tst_editorlook tests/e2e/tst_editorlook.cpp)

# Installs the build into a throwaway prefix and starts the installed program from there.
lw_add_test(tst_install tests/e2e/tst_install.cpp)
add_dependencies(tst_install ledgerwick ledgerwick-post lw_demo ledgerwick-blank ledgerwick-report lw_demo_reports)
target_compile_definitions(tst_install PRIVATE
  LW_CMAKE_COMMAND="${CMAKE_COMMAND}"
  LW_E2E_LIBEXECDIR="${CMAKE_INSTALL_LIBEXECDIR}"
  LW_E2E_BINDIR="${CMAKE_INSTALL_BINDIR}"
  LW_E2E_DATADIR="${CMAKE_INSTALL_DATADIR}")

# The screenshot driver run by scripts/screenshots on a virtual X server; never installed.
add_executable(lw_shotdriver tests/e2e/shotdriver.cpp)
target_link_libraries(lw_shotdriver PRIVATE ledgerwick_gui lw_testsupport Qt6::Test)
add_dependencies(lw_shotdriver lw_demo)
lw_add_test(tst_deps tests/e2e/tst_deps.cpp)
