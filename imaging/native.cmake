# The clean-ups, built natively: unit tests under ASan/UBSan and a fuzz target that runs
# every command on hostile DIBs.
pagorex_native_sources(imaging/page_image.cpp imaging/threshold.cpp imaging/skew.cpp imaging/turn_small.cpp
                       imaging/paper.cpp imaging/crop.cpp imaging/page_commands.cpp imaging/blank_page.cpp)
pagorex_native_tests(tests/imaging/test_page.cpp tests/imaging/imaging_test.cpp)
pagorex_fuzzer(imaging SOURCES tests/imaging/fuzz/fuzz_imaging.cpp CORPUS ${CMAKE_SOURCE_DIR}/tests/dib/fuzz/corpus)
