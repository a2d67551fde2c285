# The whole program end to end: the typical run and bad files against the real main window, the
# installed program with its desktop entry and icon, and the driver that takes the screenshots.
lw_add_test(tst_typicalrun tests/e2e/tst_typicalrun.cpp)
add_dependencies(tst_typicalrun ledgerwick-post)
lw_add_test(tst_badfiles tests/e2e/tst_badfiles.cpp)
