// The counter sampler of vantric and its usage text.
//
//   sample_counter("\\Processor(_Total)\\% Processor Time")  -> "12.34568"
//   sample_counter("\\NoSuchObject\\X")  -> "\\NoSuchObject\\X - ERROR: 0xC0000BB8"
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "perfdata/perfdata.h"

// "<path> - ERROR: ITEM_NOT_VALIDATED" for 0x800007D3, else
// "<path> - ERROR: 0x<status as eight upper-case hex digits>".
std::string sample_error_text(std::string_view path, uint32_t status);

// Samples the counter at `path` (no computer name) twice, one second apart,
// and returns its value rendered with five decimals, or an error text that
// contains "ERROR". Never raises.
std::string sample_counter(std::string_view path);

// Writes the ten lines of the usage text to standard output.
void print_usage();
