#include "platform/state_file.h"

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/file_calls.h"
#include "platform/state_file_calls.h"

namespace platform {

namespace {

constexpr size_t kStateLimit = 16u << 20;
constexpr int kPollMs = 10;

std::string reason(const std::string& path, int code) {
  switch (code) {
    case kStateLink:
      return path + " is a symbolic link: not followed";
    case kStateNotRegular:
      return path + " is not a regular file";
    case kStateForeignOwner:
      return path + " belongs to another user: refused";
    default:
      return path + ": " + file_calls.error_text(code);
  }
}

// A directory anyone may write lets another user put a link or a forged
// state of their own under the check's name, or remove the lock file under
// a run that holds it; the sticky bit keeps each entry its owner's.
bool usable_directory(const std::string& directory, std::string* why) {
  DirectoryFacts facts;
  if (const int code = state_file_calls.directory(directory.c_str(), &facts); code != 0)
    return *why = reason(directory, code), false;
  if (!facts.directory) return *why = directory + " is not a directory", false;
  if (facts.others_write && !facts.sticky)
    return *why = directory + " is writable by others and not sticky: refused", false;
  return true;
}

bool read_all(intptr_t handle, const std::string& path, std::string* text, std::string* why) {
  std::string data;
  char buffer[65536];
  for (;;) {
    size_t done = 0;
    if (const int code = file_calls.read(handle, buffer, sizeof buffer, &done); code != 0)
      return *why = reason(path, code), false;
    if (done == 0) break;
    data.append(buffer, done);
    if (data.size() > kStateLimit)
      return *why = path + " is larger than " + std::to_string(kStateLimit) + " bytes", false;
  }
  *text = std::move(data);
  return true;
}

}  // namespace

std::string state_directory(const std::string& requested) {
  if (!requested.empty()) return requested;
  std::string value;
  if (get_environment("NAGIOS_PLUGIN_STATE_DIRECTORY", value) && !value.empty()) return value;
  return state_file_calls.default_directory();
}

bool StateFile::open(const std::string& directory, const std::string& name, int wait_ms,
                     std::string* text, std::string* why) {
  close();
  if (!usable_directory(directory, why)) return false;
  std::string base = directory;
  if (!base.empty() && base.back() != '/' && base.back() != state_file_calls.separator)
    base += state_file_calls.separator;
  const std::string path = base + name;
  const std::string lock_path = path + ".lock";
  intptr_t lock = 0;
  if (const int code = state_file_calls.open(lock_path.c_str(), true, &lock); code != 0)
    return *why = reason(lock_path, code), false;
  for (int waited = 0;; waited += kPollMs) {
    const int code = state_file_calls.try_lock(lock);
    if (code == 0) break;
    if (code != kStateBusy || waited >= wait_ms) {
      state_file_calls.close(lock);
      *why = code == kStateBusy ? lock_path + " stays locked by another run after " +
                                      std::to_string(waited) + " ms"
                                : reason(lock_path, code);
      return false;
    }
    state_file_calls.sleep_ms(kPollMs);
  }
  intptr_t state = 0;
  const int code = state_file_calls.open(path.c_str(), false, &state);
  std::string content;
  if (code != 0 && code != state_file_calls.not_found_error) {
    state_file_calls.close(lock);
    return *why = reason(path, code), false;
  }
  if (code == 0) {
    const bool read = read_all(state, path, &content, why);
    state_file_calls.close(state);
    if (!read) return state_file_calls.close(lock), false;
  }
  lock_ = lock;
  path_ = path;
  *text = std::move(content);
  return true;
}

bool StateFile::replace(std::string_view content, std::string* why) {
  if (lock_ < 0) return *why = "not open", false;
  return replace_private_file(path_, content, why);
}

void StateFile::close() {
  if (lock_ < 0) return;
  state_file_calls.close(static_cast<intptr_t>(lock_));
  lock_ = -1;
  path_.clear();
}

bool read_boot_identity(std::string* identity, std::string* why) {
  if (const int code = state_file_calls.boot_identity(identity); code != 0)
    return *why = "boot identity: " + file_calls.error_text(code), false;
  return true;
}

}  // namespace platform
