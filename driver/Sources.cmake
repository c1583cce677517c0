# Sources of the survey, shared by the host libraries and the EFI image.
set(RBAR_GLOBALS_SOURCES
  ${CMAKE_SOURCE_DIR}/driver/DriverGlobals.cpp
)
set(RBAR_SCAN_SOURCES
  ${CMAKE_SOURCE_DIR}/driver/DriverEntry.cpp
  ${CMAKE_SOURCE_DIR}/driver/ScanRootBridges.cpp
  ${CMAKE_SOURCE_DIR}/driver/PciConfigAccess.cpp
  ${CMAKE_SOURCE_DIR}/driver/ScanBusRange.cpp
  ${CMAKE_SOURCE_DIR}/driver/CapabilityWalk.cpp
)
set(RBAR_EVALUATION_SOURCES
  ${CMAKE_SOURCE_DIR}/driver/RebarEvaluation.cpp
)

# The survey's code runs a few times per function and waits on configuration reads: in the
# image it is built for size.
set_source_files_properties(${RBAR_SCAN_SOURCES} ${RBAR_EVALUATION_SOURCES}
                            PROPERTIES EFI_COMPILE_OPTIONS -Oz)
