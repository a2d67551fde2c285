# The message dialog and the message catalogue, and the about box with its picture.
list(APPEND LW_CORE_SOURCES
  ui/messages.cpp ui/messages.h
  ui/dialoglayout.cpp ui/dialoglayout.h)
list(APPEND LW_GUI_SOURCES
  ui/mydialog.cpp ui/mydialog.h
  app/aboutbox.cpp app/aboutbox.h
  resources/about.qrc)
lw_add_test(tst_mydialog tests/ui/tst_mydialog.cpp)
lw_add_test(tst_aboutbox tests/app/tst_aboutbox.cpp)
