# The profile store: section/key=value files shared with the sibling tools, and its tests.
list(APPEND LW_CORE_SOURCES
  platform/profile.cpp platform/profile.h)
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/platform/tst_profile.cpp)
  lw_add_test(tst_profile tests/platform/tst_profile.cpp)
endif()
