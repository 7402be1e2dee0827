# The passthrough to an installed VISA library, against fake libraries built here: one with all six
# functions, one without viRead. The korvel-scpi runs show the setting as a user gives it.
foreach(fake korvel_fake_visa korvel_fake_visa_noread)
  add_library(${fake} MODULE ${CMAKE_CURRENT_SOURCE_DIR}/vendor/FakeVisa.cpp)
  target_include_directories(${fake} PRIVATE ${PROJECT_SOURCE_DIR}/src)
endforeach()
target_compile_definitions(korvel_fake_visa_noread PRIVATE FAKE_VISA_WITHOUT_READ)
if(WIN32)  # named as the installed library is
  set_target_properties(korvel_fake_visa PROPERTIES PREFIX "" OUTPUT_NAME visa64
                        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fake-visa)
endif()

korvel_add_test(korvel_vendor_visa_tests unit
  ${CMAKE_CURRENT_SOURCE_DIR}/vendor/VendorVisaTest.cpp
)
target_link_libraries(korvel_vendor_visa_tests PRIVATE korvel_visa ${CMAKE_DL_LIBS})
target_compile_definitions(korvel_vendor_visa_tests PRIVATE
  FAKE_VISA_PATH="$<TARGET_FILE:korvel_fake_visa>"
  FAKE_VISA_NOREAD_PATH="$<TARGET_FILE:korvel_fake_visa_noread>"
  KORVEL_SCPI_PATH="$<TARGET_FILE:korvel-scpi>")
add_dependencies(korvel_vendor_visa_tests korvel_fake_visa korvel_fake_visa_noread korvel-scpi)
