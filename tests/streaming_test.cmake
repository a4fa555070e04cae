# The ring-buffer decoding example checks what it decoded; run it here (under
# the cross-compiling emulator on armhf).
if(TARGET ring_decode)
  add_test(NAME ring_decode_example COMMAND ring_decode)
endif()
