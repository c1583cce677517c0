// Configuration images: the configuration space of a set of PCI functions held in memory, as
// the hosted root bridges serve it and as dump files describe it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One present function: its address and the bytes of its configuration space that are known
// (64, 256 or 4096 of them, from offset 0).
struct ConfigFunction {
  uint32_t Segment = 0;
  uint8_t Bus = 0;
  uint8_t Device = 0;
  uint8_t Function = 0;
  std::vector<uint8_t> Bytes;
};

// The functions behind one root bridge (or one dump file), in the order they were listed.
using ConfigImage = std::vector<ConfigFunction>;

// Parses the text that `lspci -x`, `-xxx` or `-xxxx` prints, with or without decoded lines
// (`-v`, `-vv`, `-vvv`, `-k`, `-nn`): for each function a header line "[DDDD:]BB:DD.F
// description", then decoded lines indented with a tab or spaces (skipped), then lines
// "OFF: xx xx ...", 16 bytes each, offsets contiguous from 0, ending at 64, 256 or 4096 bytes.
// Blank lines separate functions; lines end in LF or CR LF. On error returns false and sets
// Error to "NAME:LINE: what is wrong".
bool ParseConfigDump(const std::string &Text, const std::string &Name, ConfigImage &Image,
                     std::string &Error);

// Receives each piece of text as it is read; false stops the reading (Error is then set by it).
using DumpChunkCopy = std::function<bool(std::string_view)>;

// Reads and parses the dump from Descriptor to its end, holding the functions, not the text: a
// fault stops the reading at its line. Errors name the dump Name and the line as above, or the
// read error. Copy, when set, is handed every piece of text read, in order.
bool ReadConfigDump(int Descriptor, const std::string &Name, ConfigImage &Image, std::string &Error,
                    const DumpChunkCopy &Copy);

// Reads and parses the dump file at Path; errors name the file and line as above.
bool LoadConfigDump(const std::string &Path, ConfigImage &Image, std::string &Error);
