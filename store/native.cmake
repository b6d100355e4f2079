# The store's core, built natively under ASan/UBSan.
pagorex_native_sources(store/core/index_record.cpp store/core/moved_chain.cpp)
pagorex_native_tests(tests/store/native/index_record_test.cpp tests/compact/native/moved_chain_test.cpp)
