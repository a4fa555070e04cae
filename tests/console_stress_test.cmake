# The ThreadSanitizer stage runs the tests labelled tsan.
set_tests_properties(console_stress_test PROPERTIES LABELS tsan)
