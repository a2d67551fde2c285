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

lw_add_test(tst_tabledata tests/data/tst_tabledata.cpp)
target_link_libraries(tst_tabledata PRIVATE ledgerwick_data)
add_dependencies(tst_tabledata lw_demo)
