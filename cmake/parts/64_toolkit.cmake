# What the blank builder and the report generator share: markers, notices, the completion message,
# the spreadsheet program.
add_library(lw_toolkit STATIC
  tools/common/markers.cpp tools/common/markers.h
  tools/common/toolkit.cpp tools/common/toolkit.h)
target_include_directories(lw_toolkit PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(lw_toolkit PUBLIC ledgerwick_gui ledgerwick_workbook ledgerwick_data)
