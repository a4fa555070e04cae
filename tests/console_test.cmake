# The ThreadSanitizer stage runs the tests labelled tsan: the harness replay
# is the console's stress run there.
list(APPEND ZUB_TEST_PROPERTIES LABELS tsan)
