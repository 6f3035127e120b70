#include "platform/file.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "platform/file_calls.h"

namespace platform {

namespace {

// The temporary file of the replacement in progress, for the watchdog's
// ending: a fixed buffer and a lock-free flag, nothing a signal handler
// could find half-changed or need to allocate.
char pending_name[4096];
std::atomic<bool> pending{false};

bool fail(std::string* why, const char* step, int code) {
  *why = std::string(step) + ": " + file_calls.error_text(code);
  return false;
}

// Only a regular file or a link is replaced: a rename over a device, a FIFO
// or a socket (as root, --textfile=/dev/null) would turn it into a file.
bool replaceable(const std::string& path, std::string* why) {
  FileKind kind = FileKind::absent;
  if (const int code = file_calls.kind(path.c_str(), &kind); code != 0)
    return fail(why, "create", code);
  static constexpr const char* kWords[] = {nullptr,
                                           nullptr,
                                           nullptr,
                                           "a directory",
                                           "a character device",
                                           "a block device",
                                           "a FIFO",
                                           "a socket",
                                           "an unknown kind of file"};
  const char* words = kWords[static_cast<int>(kind)];
  if (words == nullptr) return true;
  *why = std::string(words) + " is there, not a regular file";
  return false;
}

// The longest name of one directory entry on the systems served (NAME_MAX,
// and the Windows component limit).
constexpr size_t kMaxNameBytes = 255;

}  // namespace

int read_file_code(const std::string& path, size_t limit, std::string& text) {
  text.clear();
  intptr_t handle;
  int code = file_calls.open_read(path.c_str(), &handle);
  if (code != 0) return code;
  const size_t most = limit < SIZE_MAX ? limit + 1 : limit;
  while (text.size() < most) {
    if (text.size() == text.capacity())
      text.reserve(text.capacity() < 2048 ? 4096 : 2 * text.capacity());
    const size_t at = text.size();
    const size_t room = std::min(text.capacity() - at, most - at);
    text.resize(at + room);
    size_t done = 0;
    code = file_calls.read(handle, text.data() + at, room, &done);
    text.resize(at + done);
    if (code != 0 && code == file_calls.interrupted_error) continue;
    if (code != 0 || done == 0) break;
  }
  file_calls.close(handle);
  if (code != 0) text.clear();
  return code;
}

bool read_file(const std::string& path, size_t limit, std::string* text, std::string* why) {
  std::string data;
  const int code = read_file_code(path, limit, data);
  if (code != 0) return *why = file_calls.error_text(code), false;
  if (data.size() > limit) return *why = "larger than " + std::to_string(limit) + " bytes", false;
  *text = std::move(data);
  return true;
}

namespace {

bool replace(const std::string& path, std::string_view content, bool owner_only, std::string* why) {
  const size_t cut = path.find_last_of(file_calls.separators);
  const std::string directory = cut == std::string::npos ? "" : path.substr(0, cut + 1);
  const std::string base = path.substr(directory.size());
  static unsigned sequence = 0;
  if (!replaceable(path, why)) return false;
  std::string temporary;
  intptr_t handle = 0;
  int code = file_calls.exists_error;
  for (int attempt = 0; attempt < 100 && code == file_calls.exists_error; ++attempt) {
    const std::string suffix =
        "." + std::to_string(file_calls.process_id()) + "." + std::to_string(sequence++) + ".tmp";
    // A long name is cut so that the temporary name is still one the
    // directory takes: it only has to be unique, which the suffix makes it.
    temporary = directory + "." + base.substr(0, kMaxNameBytes - 1 - suffix.size()) + suffix;
    if (temporary.size() >= sizeof pending_name) return *why = "create: path too long", false;
    // Recorded before the file exists: a time-out in between only removes a
    // name that is not there yet.
    std::memcpy(pending_name, temporary.c_str(), temporary.size() + 1);
    pending.store(true);
    code = (owner_only ? file_calls.create_private : file_calls.create_new)(temporary.c_str(),
                                                                            &handle);
    if (code != 0) pending.store(false);
  }
  if (code != 0) return fail(why, "create", code);
  const auto abandon = [&](const char* step, int failure, bool open) {
    if (open) file_calls.close(handle);
    file_calls.remove(temporary.c_str());
    pending.store(false);
    return fail(why, step, failure);
  };
  for (size_t at = 0; at < content.size();) {
    size_t done = 0;
    code = file_calls.write(handle, content.data() + at, content.size() - at, &done);
    if (code != 0) return abandon("write", code, true);
    at += done;
  }
  if ((code = file_calls.sync(handle)) != 0) return abandon("sync", code, true);
  // A close can still report a failed write (network file systems).
  if ((code = file_calls.close(handle)) != 0) return abandon("close", code, false);
  // Once more just before: a device may have been put there meanwhile.
  std::string refused;
  if (!replaceable(path, &refused)) {
    file_calls.remove(temporary.c_str());
    pending.store(false);
    return *why = refused, false;
  }
  if ((code = file_calls.rename(temporary.c_str(), path.c_str())) != 0)
    return abandon("rename", code, false);
  pending.store(false);
  file_calls.sync_directory(directory.empty() ? "." : directory.c_str());
  return true;
}

}  // namespace

bool replace_file(const std::string& path, std::string_view content, std::string* why) {
  return replace(path, content, false, why);
}

bool replace_private_file(const std::string& path, std::string_view content, std::string* why) {
  return replace(path, content, true, why);
}

void discard_pending_replacement() {
  if (pending.load()) file_calls.remove(pending_name);
}

}  // namespace platform
