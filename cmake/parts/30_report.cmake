# Report definitions: the definition file as data (core), the editor window and the document commands.
list(APPEND LW_CORE_SOURCES
  report/definition.cpp report/definition.h)
list(APPEND LW_GUI_SOURCES
  report/mdi1.cpp report/mdi1.h
  report/documents.cpp report/documents.h)
lw_add_test(tst_definition tests/report/tst_definition.cpp)
lw_add_test(tst_mdi1 tests/report/tst_mdi1.cpp)
lw_add_test(tst_documents tests/report/tst_documents.cpp)
