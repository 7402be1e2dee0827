# The VXI-11 and HiSLIP servers: codecs, and raw-byte clients over loopback sockets.
korvel_add_test(korvel_sim_server_tests sim
  ${CMAKE_CURRENT_LIST_DIR}/server/CodecTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/server/Vxi11ServerTest.cpp
)
target_link_libraries(korvel_sim_server_tests PRIVATE korvel_sim_server)
