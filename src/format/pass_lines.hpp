#pragma once
// What the write pass and the verify pass both show: progress, speed, offsets with their LBA,
// and error codes with the texts users know them by.
#include <cstdint>
#include <string>

#include "core/clock.hpp"
#include "format/format_session.hpp"
#include "format/format_view.hpp"

namespace fw::pass_lines {

// a / b rounded to the nearest integer, ties to the even neighbour; a >= 0.
int64_t DivideRoundHalfEven(int64_t a, int64_t b);

// Whether a Windows error code means that the device has gone away.
bool MeansUnplugged(uint32_t code);

// ":   CODE - known text" after an error line's position.
std::string ErrorCodeSuffix(uint32_t code);

// Logs a failed block in the session's format log; true when the code means that the device has gone away.
bool ReportFailedBlock(const FormatSession& session, int64_t offset, uint32_t code);

// "OFFSET    LBA N", both grouped.
std::string OffsetAndLba(int64_t position, int64_t sectorSize);

// Percent, sector and byte position of the block about to be written or read: `reached` bytes
// of the pass's `total` once it is done, ending at `diskPosition` on the disk.
void ShowBlock(FormatView& view, int64_t reached, int64_t total, int64_t diskPosition,
               int64_t sectorSize);

// The average speed since `startTime` over `done` bytes, once time has passed.
void ShowSpeed(FormatView& view, Clock& clock, int64_t startTime, int64_t done);

}  // namespace fw::pass_lines
