// MODBUS RTU as the configuration tool speaks it to the module's slave side: the read request
// (function 03, Read Holding Registers) with its CRC-16.
#pragma once

#include <cstdint>
#include <vector>

// Slave, 03, start address and register count (high byte first), CRC (low byte first): 8 bytes.
std::vector<uint8_t> ReadHoldingRegistersRequest(uint8_t slave, uint16_t start, uint16_t count);
