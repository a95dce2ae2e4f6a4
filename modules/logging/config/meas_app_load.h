// Choice and loading of a measurement's configuration: the XML form when
// present, else the binary ".dat" form written by the configuration tool
// (big-endian, CRC-16 protected, versions 2 and 3).
#pragma once

#include <cstddef>
#include <cstdint>

#include "logging/config/meas_config.h"

// The configuration of measurement 0..2, or null; *size gets the byte length
// of the loaded file.
MEASConfiguration* meas_app_get_MEASConfiguration(unsigned measIdx, uint32_t* size);

// Parses a binary configuration of `length` bytes. Frees the buffer itself
// when it fails (null result); after success the caller frees it. Every
// offset, count and size of the file is checked against its length and the
// block-record limits before use.
MEASConfiguration* meas_app_load(unsigned measIdx, uint8_t* buffer, size_t length);

// Fills the block's measurement list from `numSeqs` copy sequences starting
// at `seqs` (which may use the `avail` bytes up to the end of the file).
// 0 on success, -1 (logged) when the sequences run past the file or the
// block record's limits.
int meas_app_convert_seq2MeasList(uint16_t blockNumber, const uint8_t* seqs, size_t avail, uint16_t numSeqs,
                                  BlkInfo* blk);

// Reads one big-endian constant of 2, 4 or (any other size) 1 byte; the
// position after it.
const uint8_t* parsePackedConst(const uint8_t* data, uint32_t size, uint32_t* value);
