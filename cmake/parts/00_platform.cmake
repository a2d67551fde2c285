# Platform adapters shared by everything else: paths, the error box and handler guard, help.
list(APPEND LW_CORE_SOURCES
  platform/paths.cpp platform/paths.h)
list(APPEND LW_GUI_SOURCES
  platform/errorbox.cpp platform/errorbox.h
  platform/help.cpp platform/help.h)
lw_add_test(tst_paths tests/platform/tst_paths.cpp)
