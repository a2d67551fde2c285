# The application frame: the main window, its geometry rules, the settings file and recent files,
# the menu item with Tag and GroupIndex, and the main window's pictures.
list(APPEND LW_CORE_SOURCES
  app/mdigeometry.cpp app/mdigeometry.h)
list(APPEND LW_GUI_SOURCES
  app/menuitem.cpp app/menuitem.h
  app/mainform.cpp app/mainform.h
  app/settings.cpp app/settings.h
  resources/mainform.qrc)
lw_add_test(tst_mdigeometry tests/app/tst_mdigeometry.cpp)
lw_add_test(tst_mainform tests/app/tst_mainform.cpp)
lw_add_test(tst_settings tests/app/tst_settings.cpp)
lw_add_test(tst_userwork tests/app/tst_userwork.cpp)
add_dependencies(tst_userwork ledgerwick-post)
