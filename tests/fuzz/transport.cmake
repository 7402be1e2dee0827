# The client side of the VISA layer: the VXI-11 record and reply codecs alone, and both
# transports over loopback against peers (on the simulator's sockets) that send arbitrary bytes.
korvel_add_fuzzer(fuzz_vxi11_client_codec SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzVxi11ClientCodec.cpp
                  LIBRARIES korvel_visa)
korvel_add_fuzzer(fuzz_vxi11_client_session SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzVxi11ClientSession.cpp
                  LIBRARIES korvel_visa korvel_sim_server)
korvel_add_fuzzer(fuzz_hislip_client SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzHiSlipClient.cpp
                  LIBRARIES korvel_visa korvel_sim_server)
