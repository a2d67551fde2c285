# The data-source catalogue: aliases and tables from the alias configuration and real engines,
# the path rules, and the demo data generated at build time.
list(APPEND LW_CORE_SOURCES
  data/catalogue.cpp data/catalogue.h
  data/engine_aliasfile.cpp data/engine_aliasfile.h
  data/engine_directory.cpp data/engine_directory.h
  data/engine_sql.cpp data/engine_sql.h)

# The demo data: dBASE III tables, an SQLite database and their alias configuration, made into
# <build dir>/demo from the sources in demo/ by a small generator program.
add_executable(lw_makedemo demo/makedemo.cpp)
target_link_libraries(lw_makedemo PRIVATE Qt6::Core Qt6::Sql)
file(GLOB LW_DEMO_TABLE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/demo/tables/*.csv)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/demo/aliases.ini ${CMAKE_BINARY_DIR}/demo/demo.sqlite
  COMMAND lw_makedemo ${CMAKE_SOURCE_DIR}/demo ${CMAKE_BINARY_DIR}/demo
  DEPENDS lw_makedemo ${CMAKE_SOURCE_DIR}/demo/aliases.ini ${CMAKE_SOURCE_DIR}/demo/demo.sql
          ${LW_DEMO_TABLE_SOURCES}
  COMMENT "Generating the demo data"
  VERBATIM)
add_custom_target(lw_demo ALL
  DEPENDS ${CMAKE_BINARY_DIR}/demo/aliases.ini ${CMAKE_BINARY_DIR}/demo/demo.sqlite)
# The program is defined after the parts; it gets its demo data whenever it is built.
cmake_language(DEFER CALL add_dependencies ledgerwick lw_demo)

install(FILES ${CMAKE_BINARY_DIR}/demo/aliases.ini ${CMAKE_BINARY_DIR}/demo/demo.sqlite
  DESTINATION ${CMAKE_INSTALL_DATADIR}/ledgerwick/demo)
install(DIRECTORY ${CMAKE_BINARY_DIR}/demo/tables
  DESTINATION ${CMAKE_INSTALL_DATADIR}/ledgerwick/demo)

lw_add_test(tst_catalogue tests/data/tst_catalogue.cpp)
lw_add_test(tst_catalogue_engines tests/data/tst_catalogue_engines.cpp)
add_dependencies(tst_catalogue_engines lw_demo)
