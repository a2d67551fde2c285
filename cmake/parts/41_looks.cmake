# The designed fonts and the installed family each is shown in.
list(APPEND LW_GUI_SOURCES
  ui/fonts.cpp ui/fonts.h)
lw_add_test(tst_fonts tests/ui/tst_fonts.cpp)
