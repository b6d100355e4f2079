# Byte-level container code: native unit tests under the sanitizers and a fuzz target.
pagorex_native_sources(twain/container_bytes.cpp twain/container_read.cpp twain/container_edit.cpp
                       twain/container_pixel.cpp)
pagorex_native_tests(tests/caps/native/container_bytes_test.cpp tests/caps/container_bytes.cpp)
pagorex_fuzzer(container SOURCES tests/twain/fuzz/fuzz_container.cpp
               CORPUS ${CMAKE_SOURCE_DIR}/tests/twain/fuzz/corpus_container)

# The memory transfer's strip arithmetic: native tests with a table of layouts and a
# fuzz target that feeds image info and a sequence of strips.
pagorex_native_sources(twain/strip_bytes.cpp)
pagorex_native_tests(tests/twain/native/strip_bytes_test.cpp tests/twain/page_model.cpp)
pagorex_fuzzer(strips SOURCES tests/twain/fuzz/fuzz_strips.cpp
               CORPUS ${CMAKE_SOURCE_DIR}/tests/twain/fuzz/corpus_strips)
