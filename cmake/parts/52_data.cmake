# Table data for the sibling tools: dBASE and Paradox readers, conditions through an in-memory
# SQLite virtual table, and the records of database aliases through Qt SQL.
find_package(SQLite3 REQUIRED)
add_library(ledgerwick_data STATIC
  data/tabledata.cpp data/tabledata.h
  data/tablefile.h data/streams.h
  data/codepage.cpp data/codepage_tables.cpp data/codepage.h
  data/dbf.cpp data/paradox.cpp
  data/query.cpp
  data/sqlsource.cpp data/sqlsource.h)
target_include_directories(ledgerwick_data PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(ledgerwick_data PUBLIC ledgerwick_core Qt6::Core Qt6::Sql PRIVATE SQLite::SQLite3)

add_library(lw_data_fixtures STATIC tests/data/fixtures.cpp tests/data/fixtures.h)
target_link_libraries(lw_data_fixtures PUBLIC ledgerwick_data)
foreach(t tabledata tablefiles)
  lw_add_test(tst_${t} tests/data/tst_${t}.cpp)
  target_link_libraries(tst_${t} PRIVATE lw_data_fixtures)
endforeach()
add_dependencies(tst_tabledata lw_demo)

# A helper that writes and reads Paradox tables with pxlib (Debian pxlib-dev): the other side of
# the Paradox reader's tests. Linked into nothing else.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(LW_PXLIB IMPORTED_TARGET pxlib)
endif()
if(LW_PXLIB_FOUND)
  add_executable(lw_pxfixture tests/data/pxfixture.cpp)
  target_link_libraries(lw_pxfixture PRIVATE PkgConfig::LW_PXLIB)
  add_dependencies(tst_tablefiles lw_pxfixture)
  target_compile_definitions(tst_tablefiles PRIVATE LW_PXFIXTURE="$<TARGET_FILE:lw_pxfixture>")
endif()
