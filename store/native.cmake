# The store's core, built natively: unit tests under ASan/UBSan, and a fuzz target over
# whole stores (index, data file and new data file at once).
pagorex_native_sources(store/core/index_record.cpp store/core/moved_chain.cpp store/core/index_scan.cpp
                       store/core/blob_check.cpp store/core/store_survey.cpp store/core/parallel_gzip.cpp
                       store/core/blob_stream.cpp store/core/deflate_effort.cpp store/core/run_deflate.cpp
                       store/core/worker_pool.cpp store/core/page_mark.cpp store/core/indexed_gzip.cpp
                       store/core/blob_checks.cpp)
pagorex_native_tests(tests/store/native/index_record_test.cpp tests/compact/native/moved_chain_test.cpp
                     tests/store/native/blob_check_test.cpp tests/store/native/store_survey_test.cpp
                     tests/support/store_files.cpp tests/store/native/parallel_gzip_test.cpp
                     tests/store/native/blob_stream_test.cpp
                     tests/store/native/page_mark_test.cpp)
pagorex_fuzzer(store SOURCES tests/store/fuzz/fuzz_store.cpp CORPUS ${CMAKE_SOURCE_DIR}/tests/store/fuzz/corpus)
# The run-length deflate that stores noisy pages, inflated back by zlib.
pagorex_fuzzer(run_deflate SOURCES tests/store/fuzz/fuzz_run_deflate.cpp)
