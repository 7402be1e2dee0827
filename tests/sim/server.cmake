# The VXI-11 and HiSLIP servers: codecs, and raw-byte clients over loopback sockets.
korvel_add_test(korvel_sim_server_tests sim
  ${CMAKE_CURRENT_LIST_DIR}/server/CodecTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/server/HiSlipServerTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/server/ServingTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/server/Vxi11ServerTest.cpp
)
target_link_libraries(korvel_sim_server_tests PRIVATE korvel_sim_server)

# The bench behind the servers, and the korvel-sim program itself.
korvel_add_test(korvel_sim_program_tests sim
  ${CMAKE_CURRENT_LIST_DIR}/server/ProgramTest.cpp
)
target_link_libraries(korvel_sim_program_tests PRIVATE korvel_sim korvel_sim_server)
target_compile_definitions(korvel_sim_program_tests PRIVATE
  KORVEL_SIM_PATH="$<TARGET_FILE:korvel-sim>")
add_dependencies(korvel_sim_program_tests korvel-sim)
