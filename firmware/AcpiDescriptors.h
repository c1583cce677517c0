// ACPI address space descriptors, the form of a root bridge's resource list.
#pragma once

#include "firmware/UefiBase.h"

// Tag byte of a QWORD address space descriptor.
inline constexpr UINT8 ACPI_QWORD_ADDRESS_SPACE_DESCRIPTOR = 0x8A;
// Tag byte of the end tag that closes the list.
inline constexpr UINT8 ACPI_END_TAG_DESCRIPTOR = 0x79;

// Resource type byte values.
inline constexpr UINT8 ACPI_ADDRESS_SPACE_TYPE_MEM = 0;
inline constexpr UINT8 ACPI_ADDRESS_SPACE_TYPE_IO = 1;
inline constexpr UINT8 ACPI_ADDRESS_SPACE_TYPE_BUS = 2;

// Fixed size of one QWORD descriptor: tag, 2-byte length, then 43 bytes.
inline constexpr UINTN ACPI_QWORD_DESCRIPTOR_SIZE = 46;
// Value of the length field of a QWORD descriptor.
inline constexpr UINT16 ACPI_QWORD_DESCRIPTOR_LENGTH = 43;

// Byte offsets within a QWORD descriptor.
inline constexpr UINTN ACPI_DESCRIPTOR_TAG = 0;
inline constexpr UINTN ACPI_DESCRIPTOR_LENGTH = 1;
inline constexpr UINTN ACPI_DESCRIPTOR_RESOURCE_TYPE = 3;
inline constexpr UINTN ACPI_DESCRIPTOR_GENERAL_FLAGS = 4;
inline constexpr UINTN ACPI_DESCRIPTOR_TYPE_FLAGS = 5;
inline constexpr UINTN ACPI_DESCRIPTOR_GRANULARITY = 6;
inline constexpr UINTN ACPI_DESCRIPTOR_RANGE_MINIMUM = 14;
inline constexpr UINTN ACPI_DESCRIPTOR_RANGE_MAXIMUM = 22;
inline constexpr UINTN ACPI_DESCRIPTOR_TRANSLATION_OFFSET = 30;
inline constexpr UINTN ACPI_DESCRIPTOR_RANGE_LENGTH = 38;

// Size of the end tag: tag byte and checksum byte.
inline constexpr UINTN ACPI_END_TAG_SIZE = 2;
