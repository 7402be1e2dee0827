# The simulator: its SCPI engine and instrument models, and its VXI-11 and HiSLIP servers.
korvel_add_fuzzer(fuzz_scpi_engine SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzScpiEngine.cpp
                  LIBRARIES korvel_sim)
korvel_add_fuzzer(fuzz_vxi11_server SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzVxi11Server.cpp
                  LIBRARIES korvel_sim korvel_sim_server korvel_visa)
korvel_add_fuzzer(fuzz_hislip_server SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzHiSlipServer.cpp
                  LIBRARIES korvel_sim korvel_sim_server)
