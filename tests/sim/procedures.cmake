# The measurement procedures against the simulated bench attached in-process.
korvel_add_test(korvel_sim_procedure_tests sim
  ${CMAKE_CURRENT_LIST_DIR}/procedures/ProcedureTrafficTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/procedures/PhaseAccuracyTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/procedures/RunsTest.cpp
)
target_link_libraries(korvel_sim_procedure_tests PRIVATE korvel_sim korvel_core)
