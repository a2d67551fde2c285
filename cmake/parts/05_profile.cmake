# The profile store: section/key=value files shared with the sibling tools, and its tests.
list(APPEND LW_CORE_SOURCES
  platform/profile.cpp platform/profile.h
  platform/profile_lock.cpp platform/profile_lock.h
  platform/profile_scan.cpp platform/profile_scan.h)

# A second process for the tests: writes keys into a shared file, or holds its lock.
add_executable(profile_writer tests/platform/profile_writer.cpp)
target_link_libraries(profile_writer PRIVATE ledgerwick_core)

lw_add_test(tst_profile tests/platform/tst_profile.cpp)
add_dependencies(tst_profile profile_writer)
target_compile_definitions(tst_profile PRIVATE LW_PROFILE_WRITER="$<TARGET_FILE:profile_writer>")

# The store between users: shared folders, planted links, killed writers, groups, the size bound.
lw_add_test(tst_profile_shared tests/platform/tst_profile_shared.cpp)
add_dependencies(tst_profile_shared profile_writer)
target_compile_definitions(tst_profile_shared PRIVATE LW_PROFILE_WRITER="$<TARGET_FILE:profile_writer>")
