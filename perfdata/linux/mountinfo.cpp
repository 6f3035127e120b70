#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/mountinfo.h"

#include <algorithm>
#include <unordered_map>
#include <array>

#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

bool parse_mountinfo_line(std::string_view line, MountEntry& entry) {
  // id parent maj:min root mount-point options [optional...] - fstype source ...
  std::vector<std::string_view> tok = split_ws(line);
  if (tok.size() < 5) return false;
  std::string_view dev = tok[2];
  size_t colon = dev.find(':');
  if (colon == std::string_view::npos) return false;
  MountEntry e;
  if (!parse_u32(dev.substr(0, colon), e.major) || !parse_u32(dev.substr(colon + 1), e.minor))
    return false;
  size_t sep = 6;
  while (sep < tok.size() && tok[sep] != "-") ++sep;
  if (sep >= tok.size() || sep + 1 >= tok.size()) return false;  // no "-", or no fstype after it
  e.mount_point = unescape_octal(tok[4]);
  e.fstype.assign(tok[sep + 1]);
  e.source = sep + 2 < tok.size() ? unescape_octal(tok[sep + 2]) : std::string();
  entry = std::move(e);
  return true;
}

bool is_local_mount(const MountEntry& m) {
  static constexpr std::array<std::string_view, 25> kPseudo = {
      "proc",     "sysfs",      "devtmpfs",  "devpts",  "tmpfs",       "ramfs",      "cgroup",
      "cgroup2",  "securityfs", "debugfs",   "tracefs", "pstore",      "bpf",        "configfs",
      "fusectl",  "mqueue",     "hugetlbfs", "autofs",  "binfmt_misc", "rpc_pipefs", "nsfs",
      "efivarfs", "selinuxfs",  "squashfs",  "erofs"};
  static constexpr std::array<std::string_view, 4> kLocalWithoutDevice = {"btrfs", "zfs",
                                                                          "bcachefs", "overlay"};
  auto listed = [&m](const auto& list) {
    return std::find(list.begin(), list.end(), m.fstype) != list.end();
  };
  // A FUSE daemon answers statfs when it likes, and a stuck one blocks the
  // caller where no signal ends it; fuseblk has a block device behind it but
  // the same daemon in front.
  std::string_view type = m.fstype;
  if (type == "fuse" || type == "fuseblk" || type.starts_with("fuse.")) return false;
  if (listed(kPseudo)) return false;
  return m.major != 0 || listed(kLocalWithoutDevice);
}

std::vector<MountEntry> parse_mountinfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  std::unordered_map<std::string, size_t> last;  // mount point -> its last entry
  for (std::string_view line : split_lines(text)) {
    MountEntry e;
    if (!parse_mountinfo_line(line, e) || !is_local_mount(e)) continue;
    last[e.mount_point] = mounts.size();
    mounts.push_back(std::move(e));
  }
  // A later mount on the same point hides the earlier one.
  std::vector<MountEntry> visible;
  visible.reserve(last.size());
  for (size_t i = 0; i < mounts.size(); ++i) {
    if (last[mounts[i].mount_point] == i) visible.push_back(std::move(mounts[i]));
  }
  return visible;
}

}  // namespace perfdata::linux_backend
