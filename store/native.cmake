# Byte-level code of the image store, built natively under ASan/UBSan.
pagorex_native_sources(store/index_record.cpp)
pagorex_native_tests(tests/store/native/index_record_test.cpp)
pagorex_native_sources(store/moved_chain.cpp)
pagorex_native_tests(tests/compact/native/moved_chain_test.cpp)
