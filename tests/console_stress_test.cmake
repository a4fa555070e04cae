# The ThreadSanitizer stage runs the tests labelled tsan.
list(APPEND ZUB_TEST_PROPERTIES LABELS tsan)
