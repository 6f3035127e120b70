// vantric-counter-reference: writes the Linux counter reference, as the
// manual page vantric-counters(7) and as Markdown, from the catalogue rows.
//
//   vantric-counter-reference OUT.7 OUT.md
//
// Every object and counter, with kind, unit, explanation and source, comes
// from the rows the Linux backend serves; only the prose on paths and
// instance names is written here. The output depends on nothing of the
// machine that builds it (no instance is listed), so the Markdown kept in
// the repository can be compared with a fresh one. Exit status 0, or 1 with
// a message on standard error when a file cannot be written or an object
// has no instance prose below.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "perfdata/counter_types.h"
#include "perfdata/linux/catalogue.h"

namespace {

namespace lb = perfdata::linux_backend;

// Prose is written once, with `code` spans, and rendered for both formats.
struct Block {
  enum Type { heading, paragraph, bullet } type;
  std::string_view text;
};

const Block kIntroduction[] = {
    {Block::paragraph,
     "On Linux, vantric and check_vantric serve the counters below from `/proc` and `/sys`, under "
     "the "
     "names Windows gives them. A counter is named by a path `\\Object\\Counter` or "
     "`\\Object(Instance)\\Counter`; on the command line the parts are given with `-C`, `-I` and "
     "`-P`. "
     "Object and counter names match ignoring ASCII case, with no trimming and no aliases."},
    {Block::paragraph,
     "vantric reads a counter twice, one second apart. Counters of the kinds rate, percent and "
     "average are computed from the two readings; the others show the second reading. Percent "
     "counters are capped to 0 to 100, as on Windows, although some would exceed 100 uncapped (a "
     "multithreaded process, Process `_Total`, `% Disk Time`). A counter that cannot be read (its "
     "source is missing, the instance went away, a count went backwards) has no value: vantric "
     "writes its not-found line."},
    {Block::heading, "Kinds"},
    {Block::bullet, "`gauge`: the value at the second reading."},
    {Block::bullet, "`count`: a cumulative count since boot, at the second reading."},
    {Block::bullet, "`rate`: the growth of a count between the readings, per second."},
    {Block::bullet, "`percent`: a share of the interval between the readings, in percent."},
    {Block::bullet,
     "`average`: growth of one count per growth of another (for example seconds per "
     "read); 0 when there was nothing to average."},
    {Block::bullet, "`fraction`: one quantity as a percentage of another, at the second reading."},
    {Block::bullet, "`elapsed`: seconds since an event (boot, process start)."},
    {Block::paragraph,
     "Units are the performance-data units: `%`, `B` (bytes), `s` (seconds), or none for counts "
     "and "
     "rates."},
    {Block::heading, "Raw forms"},
    {Block::paragraph,
     "Each counter also has a raw record, as on Windows: a first and a second value and the time "
     "stamp of the reading (100 ns units of a monotonic clock). The column Raw form names the "
     "Windows counter type whose formula turns two raw records into the value, and what the two "
     "values hold; the value shown is always that formula over the two readings, so two records "
     "kept minutes apart give the value over those minutes. Times are in 100 ns unless marked "
     "(ms), with the time base 10^7 per second; the disk time counts keep the kernel's "
     "milliseconds and a clock in ms (time base 1000). A `_Total` keeps counting across disks "
     "and processes that come and go while one query runs. A counter without a type has no raw "
     "series, and the column says why."},
    {Block::heading, "Instance names"},
    {Block::bullet,
     "Instance names are the Linux names with the characters that separate the parts of a path "
     "replaced: `(` by `[`, `)` by `]`, and `#`, `\\` and `/` by `_`. The kernel thread "
     "`kworker/0:0-events` is the instance `kworker_0:0-events`. LogicalDisk keeps `/`: its "
     "instances are mount points such as `/` and `/boot/efi`."},
    {Block::bullet,
     "Names that are equal ignoring ASCII case are duplicates: the first is `name` (or `name#0`), "
     "the "
     "k-th is `name#k`. Processes are ordered by start time, then process ID, so the numbers shift "
     "when an older namesake exits; other objects keep the order of their source."},
    {Block::bullet,
     "`_Total`, where an object serves it, is the aggregate of all instances; a real instance "
     "named "
     "`_Total` becomes `_Total#1`."},
    {Block::bullet,
     "A requested instance is matched byte for byte first, then ignoring ASCII case; `#k` picks "
     "among "
     "several names that match ignoring case. LogicalDisk ignores one trailing `/` (`/var/` is "
     "`/var`)."},
    {Block::bullet,
     "Process names are the kernel's command names, cut to 15 bytes; a longer request matches a "
     "15-byte name on its first 15 bytes (`systemd-journald` finds `systemd-journal`)."},
    {Block::bullet,
     "An instance is required for objects that have instances and refused for those that have none "
     "(Memory, System, TCPv4). A `*` is refused in a counter to check; `check_vantric --expand` "
     "and "
     "`check_vantric -p` expand it."},
};

// How each object's instances are formed; one entry per served object.
struct InstanceProse {
  std::string_view object;
  std::string_view text;
};

const InstanceProse kInstances[] = {
    {"Processor",
     "`_Total`, and one instance per online CPU, named by its number (`0`, `1`, ...); the numbers "
     "may "
     "have gaps."},
    {"Memory", "No instances. Values are for the whole host (not limited to a container)."},
    {"Paging File",
     "`_Total`, and one instance per swap area named by its file name with `/` replaced "
     "(`/dev/dm-1` is `_dev_dm-1`). Without swap the object has no instances at all, so even "
     "`_Total` is not found."},
    {"System", "No instances."},
    {"LogicalDisk",
     "`_Total`, and one instance per mount point of a local file system. Pseudo file systems "
     "(proc, "
     "sysfs, tmpfs, cgroup and the like), network file systems (nfs, cifs, ceph, 9p, virtiofs) and "
     "FUSE file systems (fuseblk included) are excluded, so that a check never waits on a dead "
     "server or a stuck FUSE daemon. When a mount point is mounted twice the visible (last) mount "
     "counts. `_Total` counts "
     "each device once."},
    {"PhysicalDisk",
     "`_Total`, and one instance per disk in `/sys/block` that is a device (not loop, zram, ram, "
     "dm "
     "or md devices, not optical drives, not disks of size 0)."},
    {"Network Interface",
     "One instance per interface of `/proc/net/dev`, `lo` included, with `/` replaced as for all "
     "names. There is no `_Total`."},
    {"Process",
     "One instance per process, named by its command name (15 bytes at most), duplicates as "
     "`name#k`; kernel threads and zombies included. `Idle` stands for the idle time of all CPUs "
     "(ID Process 0), and `_Total` is the sum over all processes and Idle."},
    {"TCPv4",
     "No instances. Only `Connections Established` is for IPv4 alone; the kernel keeps one set of "
     "TCP counts for IPv4 and IPv6, so the other counters include IPv6 connections."},
};

const Block kNotServed[] = {
    {Block::paragraph,
     "Any other object (for example Thread, Processor Information, IPv4, UDPv4, Cache, TCPv6) is "
     "not "
     "found, and so is any counter not listed, such as `% Usage Peak` of Paging File or the file "
     "operation counters of System, for which Linux has no system-wide source."},
};

// --- Markdown ----------------------------------------------------------------

std::string md_cell(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '|') out += '\\';
    out += c;
  }
  return out;
}

std::string md_code(std::string_view text) {
  return text.find('`') == std::string_view::npos ? "`" + std::string(text) + "`"
                                                  : "``" + std::string(text) + "``";
}

void md_blocks(std::ostream& out, const Block* begin, const Block* end) {
  for (const Block* b = begin; b != end; ++b) {
    switch (b->type) {
      case Block::heading:
        out << "\n## " << b->text << "\n\n";
        break;
      case Block::paragraph:
        out << b->text << "\n\n";
        break;
      case Block::bullet:
        out << "- " << b->text << "\n";
        if (b + 1 == end || b[1].type != Block::bullet) out << "\n";
        break;
    }
  }
}

// --- roff ----------------------------------------------------------------------

// Escapes text for a roff text line; `code` spans become bold.
std::string roff(std::string_view text) {
  std::string out;
  bool code = false;
  for (char c : text) {
    if (c == '`') {
      out += code ? "\\fR" : "\\fB";
      code = !code;
    } else if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

std::string upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

void roff_blocks(std::ostream& out, const Block* begin, const Block* end) {
  for (const Block* b = begin; b != end; ++b) {
    switch (b->type) {
      case Block::heading:
        out << ".SH " << roff(upper(std::string(b->text))) << "\n";
        break;
      case Block::paragraph:
        out << ".PP\n" << roff(b->text) << "\n";
        break;
      case Block::bullet:
        out << ".IP \\(bu 3\n" << roff(b->text) << "\n";
        break;
    }
  }
}

template <std::size_t N>
const Block* end_of(const Block (&blocks)[N]) {
  return blocks + N;
}

const InstanceProse* instance_prose(std::string_view object) {
  for (const InstanceProse& p : kInstances)
    if (p.object == object) return &p;
  return nullptr;
}

// The raw form of a row: its counter type by name and what its two values
// are, or why it has none.
std::string raw_text(const lb::CounterDef& row) {
  static constexpr std::pair<uint32_t, const char*> names[] = {
      {perfdata::TYPE_COUNTER_RAWCOUNT, "COUNTER_RAWCOUNT"},
      {perfdata::TYPE_COUNTER_LARGE_RAWCOUNT, "COUNTER_LARGE_RAWCOUNT"},
      {perfdata::TYPE_COUNTER_QUEUELEN_TYPE, "COUNTER_QUEUELEN_TYPE"},
      {perfdata::TYPE_COUNTER_COUNTER, "COUNTER_COUNTER"},
      {perfdata::TYPE_COUNTER_BULK_COUNT, "COUNTER_BULK_COUNT"},
      {perfdata::TYPE_LARGE_RAW_FRACTION, "LARGE_RAW_FRACTION"},
      {perfdata::TYPE_COUNTER_TIMER, "COUNTER_TIMER"},
      {perfdata::TYPE_100NSEC_TIMER, "100NSEC_TIMER"},
      {perfdata::TYPE_COUNTER_TIMER_INV, "COUNTER_TIMER_INV"},
      {perfdata::TYPE_100NSEC_TIMER_INV, "100NSEC_TIMER_INV"},
      {perfdata::TYPE_AVERAGE_TIMER, "AVERAGE_TIMER"},
      {perfdata::TYPE_ELAPSED_TIME, "ELAPSED_TIME"},
  };
  const char* form = row.raw.form != nullptr ? row.raw.form : "";
  if (row.raw.type == 0) return form;
  std::string text = "?";
  for (const auto& [type, name] : names)
    if (type == row.raw.type) text = name;
  if (row.raw.ulong) text += " (COUNTER_COUNTER on a 32-bit kernel)";
  return text + ": " + form;
}

std::string unit_text(const perfdata::CounterInfo& info) {
  return info.unit.empty() ? std::string("-") : info.unit;
}

void write_markdown(std::ostream& out) {
  out << "<!-- Generated from the Linux counter catalogue by doc/counter_reference.cpp; do not "
         "edit.\n"
         "     Rebuild with: cmake --build build/linux --target update-counter-reference -->\n"
         "# Linux counter reference\n\n";
  md_blocks(out, kIntroduction, end_of(kIntroduction));
  out << "\n## Objects\n\n";
  for (const lb::ObjectDef* obj : lb::all_objects()) {
    out << "### " << obj->name << "\n\n" << instance_prose(obj->name)->text << "\n\n";
    out << "| Counter | Kind | Unit | Explanation | Source | Raw form "
           "|\n|---|---|---|---|---|---|\n";
    for (const lb::CounterDef& row : obj->counters) {
      const perfdata::CounterInfo info = lb::counter_info(row);
      out << "| " << md_cell(info.name) << " | " << perfdata::kind_word(info.kind) << " | "
          << md_cell(unit_text(info)) << " | " << md_cell(info.explanation) << " | "
          << md_cell(md_code(info.source)) << " | " << md_cell(raw_text(row)) << " |\n";
    }
    out << "\n";
  }
  out << "## Not served\n\n";
  md_blocks(out, kNotServed, end_of(kNotServed));
}

void write_manual(std::ostream& out) {
  out << ".\\\" Generated from the Linux counter catalogue by doc/counter_reference.cpp; do not "
         "edit.\n"
         ".TH VANTRIC-COUNTERS 7 \"December 2026\" \"vantric\" \"vantric\"\n"
         ".SH NAME\nvantric-counters \\- the performance counters vantric serves on Linux\n"
         ".SH DESCRIPTION\n";
  roff_blocks(out, kIntroduction, end_of(kIntroduction));
  out << ".SH OBJECTS\n";
  for (const lb::ObjectDef* obj : lb::all_objects()) {
    out << ".SS " << roff(obj->name) << "\n.PP\n" << roff(instance_prose(obj->name)->text) << "\n";
    for (const lb::CounterDef& row : obj->counters) {
      const perfdata::CounterInfo info = lb::counter_info(row);
      out << ".TP\n.B " << roff(info.name) << "\n"
          << roff(std::string(perfdata::kind_word(info.kind)) +
                  (info.unit.empty() ? "" : ", unit " + info.unit) + ". " + info.explanation + ".")
          << "\n.br\nSource: " << roff(info.source) << "\n.br\nRaw form: " << roff(raw_text(row))
          << "\n";
    }
  }
  out << ".SH \"NOT SERVED\"\n";
  roff_blocks(out, kNotServed, end_of(kNotServed));
  out << ".SH \"SEE ALSO\"\n.BR vantric (1),\n.BR check_vantric (1)\n";
}

bool write_file(const char* path, void (*writer)(std::ostream&)) {
  std::ostringstream text;
  writer(text);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text.str();
  file.close();
  if (!file) {
    std::fprintf(stderr, "vantric-counter-reference: cannot write %s\n", path);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vantric-counter-reference OUT.7 OUT.md\n");
    return 1;
  }
  for (const lb::ObjectDef* obj : lb::all_objects()) {
    if (instance_prose(obj->name) == nullptr) {
      std::fprintf(stderr, "vantric-counter-reference: no instance prose for the object %s\n",
                   obj->name);
      return 1;
    }
  }
  return write_file(argv[1], &write_manual) && write_file(argv[2], &write_markdown) ? 0 : 1;
}
