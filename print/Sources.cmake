# Sources of the print subsystem, shared by the host library and the EFI image.
set(RBAR_PRINT_SOURCES
  ${CMAKE_SOURCE_DIR}/print/ConsolePrint.cpp
  ${CMAKE_SOURCE_DIR}/print/DirectiveParse.cpp
  ${CMAKE_SOURCE_DIR}/print/ExtendedConversions.cpp
  ${CMAKE_SOURCE_DIR}/print/FormatCore.cpp
  ${CMAKE_SOURCE_DIR}/print/FormatOutput.cpp
  ${CMAKE_SOURCE_DIR}/print/IntegerConversion.cpp
  ${CMAKE_SOURCE_DIR}/print/SimpleInteger.cpp
  ${CMAKE_SOURCE_DIR}/print/StatusTexts.cpp
)
