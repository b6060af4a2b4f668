// The sync floor of a commit, what any commit must do on the device: two
// small-file replacements, each written, synced, renamed and its directory
// synced; two appends, each synced; one unlink with a directory sync (seven
// full syncs).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace quintrel::bench {

// A commit's file operations alone, at its frame and intent sizes, on files
// of its own in the log's directory.
class SyncFloor {
 public:
  SyncFloor(const std::string& dir, size_t record, size_t verdict, size_t intent)
      : dir_(dir), record_(record, 'r'), verdict_(verdict, 'v'), intent_(intent, 'i'),
        target_(dir + "/floor.marker"), tmp_(dir + "/floor.marker.tmp"),
        log_(::open((dir + "/floor.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666)) {}
  ~SyncFloor() { ::close(log_); }

  bool run() {
    return log_ >= 0 && replace() && append(record_) && replace() && append(verdict_) &&
           ::unlink(target_.c_str()) == 0 && sync_dir();
  }

 private:
  bool sync_dir() {
    int d = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = d >= 0 && ::fsync(d) == 0;
    ::close(d);
    return ok;
  }
  bool replace() {
    int f = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool ok = f >= 0 && ::write(f, intent_.data(), intent_.size()) == static_cast<ssize_t>(intent_.size()) &&
              ::fsync(f) == 0;
    ::close(f);
    return ok && ::rename(tmp_.c_str(), target_.c_str()) == 0 && sync_dir();
  }
  bool append(const std::string& frame) {
    return ::write(log_, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size()) && ::fsync(log_) == 0;
  }

  std::string dir_, record_, verdict_, intent_, target_, tmp_;
  int log_;
};

}  // namespace quintrel::bench
