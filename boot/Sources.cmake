# Sources of the boot image's own part: the entry point, the count line and the countdown. The
# image adds the driver's and the print subsystem's sources to them.
set(RBAR_BOOT_SOURCES
  ${CMAKE_SOURCE_DIR}/boot/AnnotatedConsole.cpp
  ${CMAKE_SOURCE_DIR}/boot/BootCountdown.cpp
  ${CMAKE_SOURCE_DIR}/boot/BootEntry.cpp
  ${CMAKE_SOURCE_DIR}/boot/BootMode.cpp
  ${CMAKE_SOURCE_DIR}/boot/ConsolePager.cpp
  ${CMAKE_SOURCE_DIR}/boot/FactsScreen.cpp
  ${CMAKE_SOURCE_DIR}/boot/FirmwareQueries.cpp
  ${CMAKE_SOURCE_DIR}/boot/HeaderCapture.cpp
  ${CMAKE_SOURCE_DIR}/boot/RebarNotes.cpp
  ${CMAKE_SOURCE_DIR}/boot/ReportCapture.cpp
  ${CMAKE_SOURCE_DIR}/boot/ReportDump.cpp
  ${CMAKE_SOURCE_DIR}/boot/ReportFile.cpp
  ${CMAKE_SOURCE_DIR}/boot/ReportFileTarget.cpp
  ${CMAKE_SOURCE_DIR}/boot/ReportFileWriter.cpp
  ${CMAKE_SOURCE_DIR}/boot/ReportOutput.cpp
  ${CMAKE_SOURCE_DIR}/boot/RootBridgeRecorder.cpp
  ${CMAKE_SOURCE_DIR}/boot/VerdictScreen.cpp
)

# Code that runs once, built for size.
set_source_files_properties(${RBAR_BOOT_SOURCES} PROPERTIES EFI_COMPILE_OPTIONS -Oz)
