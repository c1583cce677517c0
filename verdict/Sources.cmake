# The verdict engine: freestanding code that the boot image and rbar-survey both build (the
# BAR placement, the bridge windows and path, the verdict rules and their words, the
# firmware's apertures and their "@" lines, the reading of the driver's BAR line and the size
# words). It depends on firmware/ declarations only.
set(RBAR_VERDICT_SOURCES
  ${CMAKE_SOURCE_DIR}/verdict/Apertures.cpp
  ${CMAKE_SOURCE_DIR}/verdict/ApertureWords.cpp
  ${CMAKE_SOURCE_DIR}/verdict/BarPlacement.cpp
  ${CMAKE_SOURCE_DIR}/verdict/BridgePath.cpp
  ${CMAKE_SOURCE_DIR}/verdict/DescriptorList.cpp
  ${CMAKE_SOURCE_DIR}/verdict/FactsLines.cpp
  ${CMAKE_SOURCE_DIR}/verdict/FirmwareFacts.cpp
  ${CMAKE_SOURCE_DIR}/verdict/RebarEntries.cpp
  ${CMAKE_SOURCE_DIR}/verdict/ReportNotes.cpp
  ${CMAKE_SOURCE_DIR}/verdict/TextBuffer.cpp
  ${CMAKE_SOURCE_DIR}/verdict/Verdict.cpp
  ${CMAKE_SOURCE_DIR}/verdict/VerdictLine.cpp
)

# Runs once per BAR line, built for size in the images.
set_source_files_properties(${RBAR_VERDICT_SOURCES} PROPERTIES EFI_COMPILE_OPTIONS -Oz)
