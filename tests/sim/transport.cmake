# The transports over real sockets on loopback: scripted servers that misbehave, the simulator's
# own servers with the bench behind them, and the korvel-scpi program against them.
korvel_add_test(korvel_transport_sim_tests sim
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/Vxi11LyingServerTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/HiSlipLyingServerTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/SimServingTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/ScpiToolTest.cpp
)
target_link_libraries(korvel_transport_sim_tests PRIVATE korvel_visa korvel_measure korvel_sim
                      korvel_sim_server)
target_compile_definitions(korvel_transport_sim_tests PRIVATE
  KORVEL_SCPI_PATH="$<TARGET_FILE:korvel-scpi>")
add_dependencies(korvel_transport_sim_tests korvel-scpi)
