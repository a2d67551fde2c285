# Table data for the sibling tools: dBASE and Paradox readers, conditions through an in-memory
# SQLite virtual table, and the records of database aliases through Qt SQL.
find_package(SQLite3 REQUIRED)
add_library(ledgerwick_data STATIC
  data/tabledata.cpp data/tabledata.h
  data/tablefile.cpp data/tablefile.h data/streams.h
  data/codepage.cpp data/codepage_tables.cpp data/codepage.h
  data/dbf.cpp data/paradox.cpp data/bytes.h
  data/query.cpp
  data/sqlsource.cpp data/sqlsource.h data/sqlitesource.cpp
  data/values.cpp data/values.h
  data/textvalues.cpp data/textvalues.h)
target_include_directories(ledgerwick_data PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(ledgerwick_data PUBLIC ledgerwick_core Qt6::Core Qt6::Sql PRIVATE SQLite::SQLite3)
# PostgreSQL rows come from libpq itself on the connection Qt's driver opened.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(LW_DATA_LIBPQ IMPORTED_TARGET libpq)
endif()
if(LW_DATA_LIBPQ_FOUND)
  target_link_libraries(ledgerwick_data PRIVATE PkgConfig::LW_DATA_LIBPQ)
  target_compile_definitions(ledgerwick_data PRIVATE LW_HAVE_LIBPQ)
endif()
# ODBC statements are cancelled and timed through unixODBC's own calls (Debian unixodbc-dev).
find_path(LW_ODBC_INCLUDE sql.h)
find_library(LW_ODBC_LIBRARY odbc)
if(LW_ODBC_INCLUDE AND LW_ODBC_LIBRARY)
  target_include_directories(ledgerwick_data PRIVATE ${LW_ODBC_INCLUDE})
  target_link_libraries(ledgerwick_data PRIVATE ${LW_ODBC_LIBRARY})
  target_compile_definitions(ledgerwick_data PRIVATE LW_HAVE_ODBC)
endif()

add_library(lw_data_fixtures STATIC tests/data/fixtures.cpp tests/data/fixtures.h)
target_link_libraries(lw_data_fixtures PUBLIC ledgerwick_data)
foreach(t tabledata tablefiles textvalues)
  lw_add_test(tst_${t} tests/data/tst_${t}.cpp)
  target_link_libraries(tst_${t} PRIVATE lw_data_fixtures)
endforeach()
add_dependencies(tst_tabledata lw_demo)

# A helper that writes and reads Paradox tables with pxlib (Debian pxlib-dev): the other side of
# the Paradox reader's tests. Linked into nothing else.
if(PkgConfig_FOUND)
  pkg_check_modules(LW_PXLIB IMPORTED_TARGET pxlib)
endif()
if(LW_PXLIB_FOUND)
  add_executable(lw_pxfixture tests/data/pxfixture.cpp)
  target_link_libraries(lw_pxfixture PRIVATE PkgConfig::LW_PXLIB)
  add_dependencies(tst_tablefiles lw_pxfixture)
  target_compile_definitions(tst_tablefiles PRIVATE LW_PXFIXTURE="$<TARGET_FILE:lw_pxfixture>")
endif()

# A bounded libFuzzer run over each reader, when clang is there to build it. The readers are
# compiled again with clang and its fuzzing and address sanitizers; the program is not.
find_program(LW_CLANGXX NAMES clang++)
if(LW_CLANGXX)
  set(LW_FUZZ_SOURCES
    ${CMAKE_SOURCE_DIR}/tests/data/fuzz_tablefile.cpp ${CMAKE_SOURCE_DIR}/data/tablefile.cpp
    ${CMAKE_SOURCE_DIR}/data/dbf.cpp ${CMAKE_SOURCE_DIR}/data/paradox.cpp
    ${CMAKE_SOURCE_DIR}/data/codepage.cpp ${CMAKE_SOURCE_DIR}/data/codepage_tables.cpp)
  set(LW_FUZZ_INCLUDES "$<TARGET_PROPERTY:Qt6::Core,INTERFACE_INCLUDE_DIRECTORIES>")
  foreach(kind dbf paradox)
    if(kind STREQUAL "dbf")
      set(table "/T.DBF")
    else()
      set(table "/T.DB")
    endif()
    add_custom_command(
      OUTPUT ${CMAKE_BINARY_DIR}/fuzz_${kind}
      COMMAND ${LW_CLANGXX} -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fPIC
              -DLW_FUZZ_TABLE="${table}" -I${CMAKE_SOURCE_DIR}
              "-I$<JOIN:${LW_FUZZ_INCLUDES},;-I>"
              ${LW_FUZZ_SOURCES} $<TARGET_LINKER_FILE:Qt6::Core> -o ${CMAKE_BINARY_DIR}/fuzz_${kind}
      DEPENDS ${LW_FUZZ_SOURCES} ${CMAKE_SOURCE_DIR}/data/tablefile.h ${CMAKE_SOURCE_DIR}/data/tabledata.h
              ${CMAKE_SOURCE_DIR}/data/codepage.h
      COMMAND_EXPAND_LISTS
      COMMENT "Building the ${kind} fuzzer with clang"
      VERBATIM)
    add_custom_target(fuzz_${kind}_target ALL DEPENDS ${CMAKE_BINARY_DIR}/fuzz_${kind})
  endforeach()
  add_test(NAME fuzz_dbf COMMAND ${CMAKE_SOURCE_DIR}/tests/data/run-fuzz.sh ${CMAKE_BINARY_DIR}/fuzz_dbf 20
           ${CMAKE_BINARY_DIR}/fuzz-corpus/dbf ${CMAKE_BINARY_DIR}/demo/tables/CLIENTS.DBF
           ${CMAKE_BINARY_DIR}/demo/tables/ORDERS.DBF)
  set(LW_PX_SEED ${CMAKE_BINARY_DIR}/fuzz-corpus/seed.db)
  if(TARGET lw_pxfixture)
    add_custom_command(OUTPUT ${LW_PX_SEED}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/fuzz-corpus
      COMMAND lw_pxfixture make ${LW_PX_SEED} 70 1251 1 30 delete
      DEPENDS lw_pxfixture VERBATIM)
    add_custom_target(fuzz_paradox_seed ALL DEPENDS ${LW_PX_SEED})
  endif()
  add_test(NAME fuzz_paradox COMMAND ${CMAKE_SOURCE_DIR}/tests/data/run-fuzz.sh ${CMAKE_BINARY_DIR}/fuzz_paradox 20
           ${CMAKE_BINARY_DIR}/fuzz-corpus/paradox ${LW_PX_SEED})
  set_tests_properties(fuzz_dbf fuzz_paradox PROPERTIES LABELS fuzz TIMEOUT 120)
else()
  message(STATUS "clang++ not found: the table file fuzzers are not built")
endif()
