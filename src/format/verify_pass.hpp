#pragma once
// The verify pass: reads back every region the write pass wrote, into the write pass's own
// buffer, and names each stretch that is not zero or cannot be read.
#include <cstdint>
#include <string>
#include <vector>

#include "core/clock.hpp"
#include "device/device_io.hpp"
#include "format/format_session.hpp"
#include "format/format_view.hpp"
#include "format/wipe_regions.hpp"

namespace fw {

// The verify pass names at most this many regions one by one, in the log and in the result.
inline constexpr int64_t kListedVerifyProblems = 100;

enum class VerifyOutcome { NotRun, Passed, Failed, Cancelled, Aborted };

// A region the verify pass found not zero (code 0) or could not read (the read's error code).
struct VerifyProblem {
  int64_t offset = 0;
  int64_t length = 0;
  uint32_t code = 0;
};

struct VerifyResult {
  VerifyOutcome outcome = VerifyOutcome::NotRun;
  int64_t bytesChecked = 0;  // read back and found zero or not
  int64_t nonZeroRegions = 0;
  int64_t unreadableRegions = 0;
  std::vector<VerifyProblem> problems;  // the first kListedVerifyProblems, in disk order
  int64_t position = 0;                 // where a stopped or aborted pass ended
  bool FoundProblems() const { return nonZeroRegions + unreadableRegions > 0; }
};

// Reads `regions` back through `handle` into `buffer` (kZeroBufferBytes, page-aligned), with
// progress and log lines in the session's format log; the session's stop request ends it as
// cancelled.
VerifyResult VerifyZeroRegions(DeviceIo& io, Handle handle, int64_t sectorSize,
                               FormatSession& session, uint8_t* buffer,
                               const std::vector<WipeRegion>& regions, FormatView& view,
                               Clock& clock);

// The same read-back, checking that every byte is `expected`: a drive's own erase may leave
// its erased state (FFh on some flash) rather than zeros. 0 checks and logs as the zero pass.
// "0x00".."0xFF": how the log and the report name the byte a disk reads back as.
std::string ByteText(uint8_t value);

VerifyResult VerifyUniformRegions(DeviceIo& io, Handle handle, int64_t sectorSize,
                                  FormatSession& session, uint8_t* buffer,
                                  const std::vector<WipeRegion>& regions, FormatView& view,
                                  Clock& clock, uint8_t expected);

}  // namespace fw
