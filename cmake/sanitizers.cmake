if(PLC_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
elseif(PLC_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(PLC_SANITIZE STREQUAL "fuzz")
  # Coverage for libFuzzer everywhere; the fuzz targets link the fuzzer's main themselves.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT PLC_SANITIZE STREQUAL "")
  message(FATAL_ERROR "PLC_SANITIZE must be empty, address, thread or fuzz")
endif()
