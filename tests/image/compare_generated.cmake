# Runs the image generator into OUTPUT and fails unless it matches IMAGE byte for byte.
execute_process(COMMAND ${PYTHON} ${GENERATOR} --output ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the generator failed (${status})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${IMAGE}
                RESULT_VARIABLE different)
if(NOT different EQUAL 0)
    message(FATAL_ERROR "the generator no longer writes ${IMAGE} byte for byte")
endif()
