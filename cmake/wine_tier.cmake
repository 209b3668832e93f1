# The scenarios once more with the Windows program under Wine: the x86_64 program is cross-built
# into this build directory (32-bit programs cannot run on these machines) and run on one Wine
# prefix, which the tests share one after another. Every test of the tier reports itself skipped
# where Wine or the MinGW-w64 compiler is missing.
set(wine_prefix ${CMAKE_CURRENT_BINARY_DIR}/wine-prefix)
set(wine_program ${CMAKE_CURRENT_BINARY_DIR}/win64/reg7140.exe)
set(wine_backend ${CMAKE_CURRENT_SOURCE_DIR}/tests/scenarios/wine_backend.py)

add_test(NAME wine_tier_setup
  COMMAND ${Python3_EXECUTABLE} ${wine_backend} setup --prefix ${wine_prefix}
          --source ${CMAKE_CURRENT_SOURCE_DIR} --binary ${CMAKE_CURRENT_BINARY_DIR}/win64
          --cmake ${CMAKE_COMMAND})
set_tests_properties(wine_tier_setup PROPERTIES
  FIXTURES_SETUP wine_tier RESOURCE_LOCK wine_prefix SKIP_RETURN_CODE 77 TIMEOUT 900)

add_test(NAME wine_tier_cleanup
  COMMAND ${Python3_EXECUTABLE} ${wine_backend} cleanup --prefix ${wine_prefix})
set_tests_properties(wine_tier_cleanup PROPERTIES
  FIXTURES_CLEANUP wine_tier RESOURCE_LOCK wine_prefix SKIP_RETURN_CODE 77 TIMEOUT 120)

foreach(scenario_file IN LISTS scenario_files)
  get_filename_component(scenario_dir ${scenario_file} DIRECTORY)
  get_filename_component(scenario_name ${scenario_dir} NAME)
  add_test(NAME wine_scenario.${scenario_name}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/scenarios/run_scenarios.py
            --backend wine --program ${wine_program} ${scenario_dir})
  set_tests_properties(wine_scenario.${scenario_name} PROPERTIES
    FIXTURES_REQUIRED wine_tier RESOURCE_LOCK wine_prefix SKIP_RETURN_CODE 77 TIMEOUT 300
    ENVIRONMENT WINEPREFIX=${wine_prefix})
endforeach()
