# The blank builder, started by the main program as "zarmek.exe": the program, its name in the build
# tree and in the installed tools directory, and its tests.
add_executable(ledgerwick-blank
  tools/blank/main.cpp
  tools/blank/blankbuilder.cpp tools/blank/blankbuilder.h
  tools/blank/blanklayout.cpp tools/blank/blanklayout.h
  tools/blank/blankscan.cpp tools/blank/blankscan.h
  tools/blank/waitwindow.cpp tools/blank/waitwindow.h)
target_link_libraries(ledgerwick-blank PRIVATE lw_toolkit)
add_custom_command(TARGET ledgerwick-blank POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E create_symlink ledgerwick-blank ${CMAKE_BINARY_DIR}/zarmek.exe
  VERBATIM)

# Until the workbook and table-data libraries are in the tree, the tool is not part of "all".
function(lw_blank_needs_libraries)
  if(NOT TARGET ledgerwick_workbook OR NOT TARGET ledgerwick_data)
    set_target_properties(ledgerwick-blank PROPERTIES EXCLUDE_FROM_ALL ON)
    return()
  endif()
  install(TARGETS ledgerwick-blank RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/ledgerwick)
  install(CODE "execute_process(COMMAND \"${CMAKE_COMMAND}\" -E create_symlink ledgerwick-blank
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/ledgerwick/zarmek.exe\")")

endfunction()
cmake_language(DEFER CALL lw_blank_needs_libraries)
