#pragma once
// A scriptable DeviceIo for tests: it answers control codes from a table per path, fails opens
// and writes on request, and records every request it receives, so a test can assert what was
// sent, in which order, with which buffers.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/device_io.hpp"

namespace fw::test {

class FakeDevice : public DeviceIo {
 public:
  struct Reply {
    bool ok = true;
    uint32_t error = 0;               // LastError() after a failed request
    std::vector<uint8_t> bytes;       // copied into the output buffer (cut at its capacity)
    std::optional<uint32_t> returned; // byte count reported; default: bytes copied
  };
  struct Request {
    Handle handle;
    std::string path;
    uint32_t code;
    std::vector<uint8_t> input;
    uint32_t outCapacity;
  };
  struct WriteRecord {
    Handle handle;
    int64_t offset;
    int64_t count;
  };
  struct Target {
    uint32_t openError = 0;  // nonzero: Open fails with this code
    std::map<OpenMode, uint32_t> openErrorIn;  // the same, for one open mode only
    int64_t size = INT64_MAX;
    // Replies per control code, used in turn; the last one keeps answering. No reply: the
    // request fails with ERROR_INVALID_FUNCTION.
    std::map<uint32_t, std::deque<Reply>> replies;
  };

  // Physical drive N is drivePaths[N] (empty or missing: no such drive).
  std::vector<std::string> drivePaths;
  std::vector<std::string> logicalDrives;
  std::map<std::string, Target> targets;

  // Decides a write's fate: return 0 to let it succeed, or a Windows error code to fail it.
  std::function<uint32_t(int64_t offset, int64_t count)> writeError;
  // Decides a seek's fate the same way (0: the seek succeeds).
  std::function<uint32_t(int64_t offset)> seekError;
  // Runs after every successful write (a test can set StopRequested here, say).
  std::function<void(const WriteRecord&)> afterWrite;
  uint32_t flushError = 0;
  // Decides a read's fate (0: it succeeds) and, when it succeeds, what it reads: zeros unless
  // readContent changes them (a test plants what a lost write left behind).
  std::function<uint32_t(int64_t offset, int64_t count)> readError;
  std::function<void(int64_t offset, uint8_t* bytes, int64_t count)> readContent;
  // Runs before every read (a test can set StopRequested here).
  std::function<void(int64_t offset)> beforeRead;

  std::vector<std::pair<std::string, OpenMode>> opens;
  std::vector<Handle> closes;
  std::vector<Request> requests;
  std::vector<WriteRecord> writes;
  std::vector<WriteRecord> reads;  // count -1: the read failed
  std::vector<int> drivePathQueries;
  int flushes = 0;
  std::vector<size_t> flushedAfterWrites;  // writes.size() at every flush: where it came
  // The takeover's answers: `planned` refuses before anything is touched; `refusal` is handed
  // out once by the ending (Restore or Release); `claimedSize` is the size read on the claim.
  RefusalCause planned;
  RefusalCause refusal;
  std::optional<int64_t> claimedSize;
  std::vector<std::string> takeoverCalls;  // "begin PATH", "plan", "restore", "release"

  Target& At(const std::string& path) { return targets[path]; }
  void Answer(const std::string& path, uint32_t code, Reply reply) {
    targets[path].replies[code].push_back(std::move(reply));
  }
  // A successful reply carrying `bytes`.
  static Reply Ok(std::vector<uint8_t> bytes, std::optional<uint32_t> returned = std::nullopt) {
    return Reply{true, 0, std::move(bytes), returned};
  }
  void Refuse(const std::string& path, uint32_t code, uint32_t error) {
    Answer(path, code, Reply{false, error, {}, std::nullopt});
  }

  std::vector<uint32_t> CodesSent() const {
    std::vector<uint32_t> codes;
    for (const Request& r : requests) codes.push_back(r.code);
    return codes;
  }
  bool IsOpen(Handle h) const { return m_open.count(h) != 0; }
  size_t OpenCount() const { return m_open.size(); }

  std::string PhysicalDrivePath(int n) override {
    drivePathQueries.push_back(n);
    return n >= 0 && static_cast<size_t>(n) < drivePaths.size() ? drivePaths[n] : std::string();
  }
  std::vector<std::string> LogicalDrives() override { return logicalDrives; }

  Handle Open(const std::string& path, OpenMode mode) override {
    opens.emplace_back(path, mode);
    const auto it = targets.find(path);
    if (path.empty() || it == targets.end()) return Fail(win::ERROR_FILE_NOT_FOUND);
    if (it->second.openError != 0) return Fail(it->second.openError);
    if (const auto modeError = it->second.openErrorIn.find(mode);
        modeError != it->second.openErrorIn.end() && modeError->second != 0) {
      return Fail(modeError->second);
    }
    const Handle h = m_next++;
    m_open[h] = OpenFile{path, 0};
    m_lastError = 0;
    return h;
  }

  bool DeviceControl(Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                     uint32_t outCapacity, uint32_t* returned) override {
    if (returned != nullptr) *returned = 0;
    const auto file = m_open.find(handle);
    Request request{handle, file == m_open.end() ? std::string() : file->second.path, code, {},
                    outCapacity};
    if (in != nullptr && inSize > 0) {
      const auto* bytes = static_cast<const uint8_t*>(in);
      request.input.assign(bytes, bytes + inSize);
    }
    requests.push_back(request);
    if (file == m_open.end()) return Fail(win::ERROR_INVALID_HANDLE) != kInvalidHandle;
    auto& queue = targets[file->second.path].replies[code];
    if (queue.empty()) return Fail(win::ERROR_INVALID_FUNCTION) != kInvalidHandle;
    const Reply reply = queue.front();
    if (queue.size() > 1) queue.pop_front();
    if (!reply.ok) return Fail(reply.error) != kInvalidHandle;
    const size_t n = std::min<size_t>(reply.bytes.size(), out == nullptr ? 0 : outCapacity);
    if (n > 0) std::memcpy(out, reply.bytes.data(), n);
    if (returned != nullptr) *returned = reply.returned.value_or(static_cast<uint32_t>(n));
    m_lastError = 0;
    return true;
  }

  int64_t SeekDevice(Handle handle, int64_t offset) override {
    const auto file = m_open.find(handle);
    if (file == m_open.end()) return Fail(win::ERROR_INVALID_HANDLE);
    if (offset < 0 || offset > targets[file->second.path].size) {
      return Fail(win::ERROR_INVALID_PARAMETER);
    }
    if (seekError) {
      if (const uint32_t error = seekError(offset); error != 0) return Fail(error);
    }
    file->second.position = offset;
    return offset;
  }

  int64_t Write(Handle handle, const void* buffer, int64_t count) override {
    const auto file = m_open.find(handle);
    if (file == m_open.end() || buffer == nullptr) return Fail(win::ERROR_INVALID_HANDLE);
    const WriteRecord record{handle, file->second.position, count};
    if (writeError) {
      if (const uint32_t error = writeError(record.offset, count); error != 0) {
        writes.push_back(WriteRecord{handle, record.offset, -1});
        return Fail(error);
      }
    }
    writes.push_back(record);
    file->second.position += count;
    m_lastError = 0;
    if (afterWrite) afterWrite(record);
    return count;
  }

  int64_t ReadAt(Handle handle, int64_t offset, void* buffer, int64_t count) override {
    const auto file = m_open.find(handle);
    if (file == m_open.end() || buffer == nullptr) return Fail(win::ERROR_INVALID_HANDLE);
    if (beforeRead) beforeRead(offset);
    if (readError) {
      if (const uint32_t error = readError(offset, count); error != 0) {
        reads.push_back(WriteRecord{handle, offset, -1});
        return Fail(error);
      }
    }
    const int64_t size = targets[file->second.path].size;
    const int64_t n = std::max<int64_t>(0, std::min(count, size - offset));
    auto* bytes = static_cast<uint8_t*>(buffer);
    std::memset(bytes, 0, static_cast<size_t>(n));
    if (readContent) readContent(offset, bytes, n);
    reads.push_back(WriteRecord{handle, offset, n});
    m_lastError = 0;
    return n;
  }

  bool Flush(Handle handle) override {
    ++flushes;
    flushedAfterWrites.push_back(writes.size());
    if (m_open.count(handle) == 0) return Fail(win::ERROR_INVALID_HANDLE) != kInvalidHandle;
    if (flushError != 0) return Fail(flushError) != kInvalidHandle;
    return true;
  }

  void Close(Handle handle) override {
    closes.push_back(handle);
    m_open.erase(handle);
  }

  uint32_t LastError() const override { return m_lastError; }
  std::unique_ptr<DiskTakeover> BeginTakeover(const std::string& drivePath) override {
    takeoverCalls.push_back("begin " + drivePath);
    return std::make_unique<Takeover>(*this);
  }
  std::string ErrorText(uint32_t code) const override { return "error " + std::to_string(code); }

 private:
  class Takeover final : public DiskTakeover {
   public:
    explicit Takeover(FakeDevice& io) : m_io(io) {}
    RefusalCause Plan() override {
      m_io.takeoverCalls.push_back("plan");
      return m_io.planned;
    }
    std::optional<int64_t> ClaimedSize() override { return m_io.claimedSize; }
    RefusalCause Restore() override {
      m_io.takeoverCalls.push_back("restore");
      return std::exchange(m_io.refusal, RefusalCause{});
    }
    RefusalCause Release() override {
      m_io.takeoverCalls.push_back("release");
      return std::exchange(m_io.refusal, RefusalCause{});
    }

   private:
    FakeDevice& m_io;
  };

  struct OpenFile {
    std::string path;
    int64_t position;
  };
  // Records the error and yields the failure value of Open/Seek/Write (-1).
  int64_t Fail(uint32_t error) {
    m_lastError = error;
    return -1;
  }

  std::map<Handle, OpenFile> m_open;
  Handle m_next = 100;
  uint32_t m_lastError = 0;
};

}  // namespace fw::test
