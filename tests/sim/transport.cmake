# The transports over real sockets on loopback: scripted servers that misbehave, and (once the
# simulator's servers are built) the simulated bench in every wiring.
korvel_add_test(korvel_transport_sim_tests sim
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/Vxi11LyingServerTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/HiSlipLyingServerTest.cpp
)
target_link_libraries(korvel_transport_sim_tests PRIVATE korvel_visa korvel_instrument)
