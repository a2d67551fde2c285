# Sibling tools: the launcher, the message port, ledgerwick-post and the two report commands.
list(APPEND LW_CORE_SOURCES
  platform/launcher.cpp platform/launcher.h
  platform/messageport.cpp platform/messageport.h)
list(APPEND LW_GUI_SOURCES
  tools/sibling.cpp tools/sibling.h)

add_executable(ledgerwick-post platform/post/main.cpp)
target_link_libraries(ledgerwick-post PRIVATE ledgerwick_core)
install(TARGETS ledgerwick-post RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

lw_add_test(tst_messageport tests/tools/tst_messageport.cpp)
lw_add_test(tst_launcher tests/tools/tst_launcher.cpp)
add_dependencies(tst_messageport ledgerwick-post)
lw_add_test(tst_sibling tests/tools/tst_sibling.cpp)
