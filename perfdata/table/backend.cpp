// Performance data answered from a table, for the test build of the program.
//
// The file named by VANTRIC_SIM_COUNTERS holds one counter per line:
//   <path without computer name> TAB <add status> TAB <value status> TAB <value>
//   ... [TAB <kind> [TAB <unit> [TAB <explanation> [TAB <collections>]]]]
// Statuses are decimal or hexadecimal with a 0x prefix; the value is a C
// floating literal (inf, nan and hexadecimal floats too); the kind is a word
// of kind_word() (gauge, rate, percent...) or empty for unknown. Empty lines
// and lines starting with '#' are ignored.
//
// <collections> says at which collections of a query (counted from 1) the
// row is in force: "3" that one only, "2-" from the second on, "1-2" the
// first two; empty or absent, all of them. Several rows of one path then
// describe an instance that appears, vanishes or fails between two
// collections; at each collection the first row in force counts, and a path
// with none in force has ended (value status INVALID_DATA). The add takes
// the first row of the path whatever its collections.
//
// A unit of "%" makes a percent counter: its values are held to 0..100
// unless the format has FMT_NOCAP100.
//
// Raw columns, after <collections>:
//   ... TAB <type> TAB <time base> TAB <first> TAB <first step>
//   ... TAB <second> [TAB <second step>]
// give the row a raw series of the counter type <type> (a TYPE_* number of
// perfdata/counter_types.h, decimal or 0x hex) with that time base: at
// collection k its record is {value status, time stamp k * 10^7 (100 ns: the
// collections one second apart), first + (k - f) * first step, second + (k -
// f) * second step} where f is the row's first collection; integers, steps
// possibly negative. Rows of one path for successive collections continue a
// series, wrap a 32-bit one or reset it. The formatted value of such a row
// is the type's formula over the records of the last two
// collections (perfdata/counter_types.h), its <value> column unused; an
// empty <kind> is the type's kind. A row without raw columns has no raw
// series (NOT_IMPLEMENTED) and formats its <value> as it always did.
//
// Arrays: add_array_counter matches the instance pattern, ASCII case folded,
// against the instances of the rows of the object and counter (as the paths
// write them, "svchost#1" included) at every read, in file order with
// "_Total" last. Items of gauge, count, fraction and elapsed rows are those
// in force at the latest collection; of every other kind, those in force at
// both of the last two. Before the first collection the read is
// CSTATUS_INVALID_DATA.
//
// Discovery derives from the paths of the rows whose add status is 0: the
// objects and counters in first-seen order, the instances as the paths write
// them ("svchost#1" included), expansion over exactly those paths.
//
// VANTRIC_SIM_FAULT (access, divzero, stack) provokes that fault when the
// query is opened, so the failure report can be tested end to end.
//
// VANTRIC_SIM_NO_ARRAYS (any value) makes add_array_counter NOT_IMPLEMENTED,
// as on a system without the array read. VANTRIC_SIM_TALLY (any value) makes
// close_query write "vantric-sim: A adds, B array adds, C array reads\n" to
// standard error: how often a program went to the source.
#include "perfdata/perfdata.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "perfdata/counter_types.h"
#include "perfdata/paths.h"
#include "platform/computer_name.h"
#include "platform/environment.h"

namespace {

struct Row {
  std::string path;
  uint32_t add_status;
  uint32_t value_status;
  double value;
  perfdata::CounterKind kind = perfdata::CounterKind::unknown;
  std::string unit, explanation;
  perfdata::ParsedPath parts;     // of `path`, for discovery
  int first = 1, last = INT_MAX;  // the collections the row is in force at
  uint32_t type = 0;              // the raw series' counter type; 0: none
  int64_t time_base = 0, first_value = 0, first_step = 0, second_value = 0, second_step = 0;

  bool in_force(int collection) const { return collection >= first && collection <= last; }
  bool has_raw() const { return type != 0; }
  perfdata::RawCounter raw_at(int collection) const {
    const int64_t k = collection - first;
    return perfdata::RawCounter{value_status, int64_t{collection} * 10'000'000,
                                first_value + k * first_step, second_value + k * second_step, 1};
  }
};

}  // namespace

// The handles are the table's own records.
struct perfdata::CounterHandle {
  const Row* row;  // the row added; null for an array
  int collections = 0;
  perfdata::ParsedPath pattern;  // an array's path, '*' in the instance
  perfdata::QueryHandle* query = nullptr;
};

struct perfdata::QueryHandle {
  std::vector<perfdata::CounterHandle*> counters;
  int adds = 0, array_adds = 0, array_reads = 0;
};

namespace {

using TableCounter = perfdata::CounterHandle;
using TableQuery = perfdata::QueryHandle;

bool parse_status(const std::string& text, uint32_t* out) {
  if (text.empty()) return false;
  const char* s = text.c_str();
  char* end = nullptr;
  unsigned long long v;
  if (text.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
    v = std::strtoull(s + 2, &end, 16);
  else
    v = std::strtoull(s, &end, 10);
  if (*end != '\0' || v > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

// A C floating literal, read the same whatever the user's locale says
// (strtod would take the locale's decimal separator once it is loaded).
bool parse_value(const std::string& text, double* out) {
  const char* first = text.data();
  const char* last = first + text.size();
  bool negative = false;
  if (first != last && (*first == '-' || *first == '+')) {
    negative = *first == '-';
    ++first;
  }
  auto format = std::chars_format::general;
  if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
    format = std::chars_format::hex;
    first += 2;
  }
  if (first == last || *first == '-' || *first == '+') return false;
  double v = 0;
  auto [end, ec] = std::from_chars(first, last, v, format);
  if (ec != std::errc() || end != last) return false;
  *out = negative ? -v : v;
  return true;
}

bool parse_integer(const std::string& text, int64_t* out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// The raw columns from field 8 on: type, time base, first, first step,
// second and an optional second step.
bool parse_raw(const std::vector<std::string>& fields, Row* row) {
  if (fields.size() <= 8) return true;
  if (fields.size() < 13 || !parse_status(fields[8], &row->type) || row->type == 0) return false;
  int64_t* const out[] = {&row->time_base, &row->first_value, &row->first_step, &row->second_value,
                          &row->second_step};
  for (size_t i = 9; i < fields.size(); ++i)
    if (!parse_integer(fields[i], out[i - 9])) return false;
  return true;
}

bool parse_count(const std::string& text, int* out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size() && *out > 0;
}

// "N", "N-" or "N-M"; empty is every collection.
bool parse_collections(const std::string& text, Row* row) {
  if (text.empty()) return true;
  const size_t dash = text.find('-');
  if (!parse_count(text.substr(0, dash), &row->first)) return false;
  if (dash == std::string::npos) {
    row->last = row->first;
    return true;
  }
  return dash + 1 == text.size() ||
         (parse_count(text.substr(dash + 1), &row->last) && row->last >= row->first);
}

std::vector<Row> load_rows() {
  std::vector<Row> rows;
  std::string name;
  if (!platform::get_environment("VANTRIC_SIM_COUNTERS", name)) return rows;
  FILE* f = std::fopen(name.c_str(), "rb");
  if (f == nullptr) return rows;
  std::string line;
  int c;
  auto take = [&rows](std::string& l) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    if (l.empty() || l[0] == '#') return;
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
      size_t tab = l.find('\t', start);
      fields.push_back(l.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    Row row{};
    if (fields.size() < 4 || fields.size() > 14 || !parse_status(fields[1], &row.add_status) ||
        !parse_status(fields[2], &row.value_status) ||
        (fields.size() > 7 && !parse_collections(fields[7], &row)) || !parse_raw(fields, &row)) {
      std::fprintf(stderr, "vantric-sim: bad table line: %s\n", l.c_str());
      std::exit(99);
    }
    if (!parse_value(fields[3], &row.value)) {
      std::fprintf(stderr, "vantric-sim: bad value: %s\n", l.c_str());
      std::exit(99);
    }
    if (fields.size() > 4 && !fields[4].empty()) {
      row.kind = perfdata::kind_from_word(fields[4]);
      if (row.kind == perfdata::CounterKind::unknown && fields[4] != "unknown") {
        std::fprintf(stderr, "vantric-sim: bad kind: %s\n", l.c_str());
        std::exit(99);
      }
    }
    if (row.has_raw() && (fields.size() <= 4 || fields[4].empty()))
      row.kind = perfdata::kind_of_type(row.type);
    if (fields.size() > 5) row.unit = fields[5];
    if (fields.size() > 6) row.explanation = fields[6];
    row.path = fields[0];
    perfdata::parse_path(row.path, row.parts);
    rows.push_back(std::move(row));
  };
  while ((c = std::fgetc(f)) != EOF) {
    if (c == '\n') {
      take(line);
      line.clear();
    } else {
      line.push_back(static_cast<char>(c));
    }
  }
  take(line);
  std::fclose(f);
  return rows;
}

const std::vector<Row>& rows() {
  static const std::vector<Row> table = load_rows();
  return table;
}

volatile int fault_zero = 0;

// Each frame keeps a page of stack alive, so the stack runs out long before
// depth could wrap.
__attribute__((noinline)) int recurse_forever(int depth) {
  if (depth < 0) return 0;
  volatile char pad[4096];
  pad[0] = static_cast<char>(depth);
  return recurse_forever(depth + 1) + pad[0];
}

void provoke_fault() {
  std::string fault;
  if (!platform::get_environment("VANTRIC_SIM_FAULT", fault)) return;
  if (fault == "access") {
    *static_cast<volatile int*>(nullptr) = 1;
  } else if (fault == "divzero") {
    volatile int n = 7;
    n = n / fault_zero;
    // Division does not trap on every processor (ARM gives 0); there the
    // fault is raised the way those processors' runtimes raise it.
    std::raise(SIGFPE);
  } else if (fault == "stack") {
    recurse_forever(0);
  }
}

// The rows a path can add: discovery shows only those.
const std::vector<const Row*>& served_rows() {
  static const std::vector<const Row*> served = [] {
    std::vector<const Row*> out;
    for (const Row& r : rows())
      if (r.add_status == 0 && !r.parts.object.empty()) out.push_back(&r);
    return out;
  }();
  return served;
}

bool contains(const std::vector<std::string>& list, const std::string& name) {
  for (const std::string& s : list)
    if (perfdata::iequals(s, name)) return true;
  return false;
}

// The instance as the path writes it, '#k' included.
std::string instance_of(const perfdata::ParsedPath& p) {
  return p.index == 0 ? p.instance : p.instance + "#" + std::to_string(p.index);
}

perfdata::CounterInfo info_of(const Row& r) {
  perfdata::CounterInfo info;
  info.name = r.parts.counter;
  info.kind = r.kind;
  info.unit = r.unit;
  info.explanation = r.explanation;
  info.type = r.type;
  info.time_base = r.time_base;
  return info;
}

std::string local_name() {
  char name[16];
  uint32_t size = sizeof name;
  return perfdata::get_computer_name(name, &size) ? std::string(name, size) : std::string();
}

// The row of `path` in force at a collection, or null where it has ended.
// The rows of each path in file order: a lookup costs the same whatever the
// size of the table, so the program's own growth shows in whole-run figures.
const std::vector<const Row*>* rows_of(std::string_view path) {
  static const auto index = [] {
    std::unordered_map<std::string_view, std::vector<const Row*>> by_path;
    for (const Row& r : rows()) by_path[r.path].push_back(&r);
    return by_path;
  }();
  const auto at = index.find(path);
  return at == index.end() ? nullptr : &at->second;
}

const Row* row_at(const std::string& path, int collection) {
  if (const auto* of = rows_of(path))
    for (const Row* r : *of)
      if (r->in_force(collection)) return r;
  return nullptr;
}

// Kinds read from the latest collection alone; the others need two.
bool one_sample(perfdata::CounterKind kind) {
  using K = perfdata::CounterKind;
  return kind == K::gauge || kind == K::count || kind == K::fraction || kind == K::elapsed;
}

double capped(const Row& r, uint32_t format) {
  if ((format & perfdata::FMT_NOCAP100) != 0 || r.unit != "%") return r.value;
  return std::clamp(r.value, 0.0, 100.0);
}

// The value of the row in force at `collection`: from its raw records where
// it has a raw series (the one in force at the collection before giving the
// older record), else its <value> column.
perfdata::CounterValue value_at(const Row& r, int collection, uint32_t format) {
  if (!r.has_raw()) return perfdata::CounterValue{r.value_status, capped(r, format)};
  const perfdata::RawCounter newer = r.raw_at(collection);
  const Row* before = row_at(r.path, collection - 1);
  perfdata::RawCounter older;
  if (before != nullptr && before->has_raw()) older = before->raw_at(collection - 1);
  perfdata::CounterValue v;
  perfdata::counter_value(r.type, r.time_base, format, &newer, before != nullptr ? &older : nullptr,
                          &v);
  return v;
}

Row status_row(uint32_t add_status) {
  Row r{};
  r.add_status = add_status;
  return r;
}
const Row unknown_row = status_row(perfdata::CSTATUS_NO_OBJECT);
const Row no_machine_row = status_row(perfdata::CSTATUS_NO_MACHINE);

// The rows an array counter reads at its latest collection: each path once,
// from the row in force now, in file order with "_Total" last.
perfdata::Status array_rows(perfdata::Counter counter, std::vector<const Row*>* out) {
  auto* c = static_cast<TableCounter*>(counter);
  if (c == nullptr || c->row != nullptr) return perfdata::INVALID_HANDLE;
  ++c->query->array_reads;
  const int n = c->collections;
  if (n == 0) return perfdata::CSTATUS_INVALID_DATA;
  const perfdata::ParsedPath& want = c->pattern;
  const std::string pattern = instance_of(want);
  for (int total = 0; total < 2; ++total) {
    for (const Row* r : served_rows()) {
      const std::string instance = instance_of(r->parts);
      if (!perfdata::iequals(r->parts.object, want.object) ||
          !perfdata::iequals(r->parts.counter, want.counter) ||
          r->parts.has_instance != want.has_instance ||
          perfdata::iequals(instance, "_Total") != (total == 1))
        continue;
      if (want.has_instance && !perfdata::wildcard_match(pattern, instance)) continue;
      if (row_at(r->path, n) == r) out->push_back(r);
    }
  }
  return 0;
}

}  // namespace

namespace perfdata {

Status open_query(Query* query) {
  provoke_fault();
  *query = new TableQuery;
  return 0;
}

Status add_counter(Query query, const char* full_path, Counter* counter) {
  *counter = nullptr;
  const std::string prefix = local_path("");
  const Row* row = &no_machine_row;
  if (std::strncmp(full_path, prefix.c_str(), prefix.size()) == 0) {
    row = &unknown_row;
    const char* path = full_path + prefix.size();
    if (const auto* of = rows_of(path)) row = of->front();
  }
  if (row->add_status != 0) return row->add_status;
  auto* c = new TableCounter{row, 0, {}, query};
  query->counters.push_back(c);
  ++query->adds;
  *counter = c;
  return 0;
}

Status collect_query_data(Query query) {
  for (TableCounter* c : query->counters) ++c->collections;
  return 0;
}

Status get_formatted_counter_value(Counter c, uint32_t format, CounterValue* value) {
  if (c == nullptr || c->row == nullptr) return INVALID_HANDLE;
  // Like a rate counter: a value exists only after two collections.
  const Row* row = c->collections < 2 ? nullptr : row_at(c->row->path, c->collections);
  if (row == nullptr) {
    value->c_status = CSTATUS_INVALID_DATA;
    return CSTATUS_INVALID_DATA;
  }
  *value = value_at(*row, c->collections, format);
  return 0;
}

Status add_array_counter(Query query, const char* full_path, Counter* counter) {
  if (counter == nullptr || full_path == nullptr) return INVALID_ARGUMENT;
  *counter = nullptr;
  std::string no_arrays;
  if (platform::get_environment("VANTRIC_SIM_NO_ARRAYS", no_arrays)) return NOT_IMPLEMENTED;
  ParsedPath want;
  if (Status st = parse_array_path(full_path, want); st != 0) return st;
  if (want.has_machine && !iequals(want.machine, local_name())) return CSTATUS_NO_MACHINE;
  Status st = CSTATUS_NO_OBJECT;
  for (const Row* r : served_rows()) {
    if (!iequals(r->parts.object, want.object)) continue;
    st = CSTATUS_NO_COUNTER;
    if (iequals(r->parts.counter, want.counter)) {
      st = 0;
      break;
    }
  }
  if (st != 0) return st;
  auto* c = new TableCounter{nullptr, 0, std::move(want), query};
  query->counters.push_back(c);
  ++query->array_adds;
  *counter = c;
  return 0;
}

Status get_formatted_counter_array(Counter counter, uint32_t format,
                                   std::vector<ArrayItem>* items) {
  if (items == nullptr) return INVALID_ARGUMENT;
  items->clear();
  std::vector<const Row*> found;
  if (Status st = array_rows(counter, &found); st != 0) return st;
  const int n = static_cast<TableCounter*>(counter)->collections;
  for (const Row* r : found) {
    // A rate needs the row before too.
    if (!one_sample(r->kind) && row_at(r->path, n - 1) == nullptr) continue;
    const perfdata::CounterValue v = value_at(*r, n, format);
    items->push_back(ArrayItem{instance_of(r->parts), v.c_status, v.value});
  }
  return 0;
}

Status get_raw_counter_value(Counter counter, RawCounter* raw) {
  auto* c = static_cast<TableCounter*>(counter);
  if (c == nullptr || c->row == nullptr) return INVALID_HANDLE;
  if (raw == nullptr) return INVALID_ARGUMENT;
  if (!c->row->has_raw()) return NOT_IMPLEMENTED;
  const Row* row = c->collections < 1 ? nullptr : row_at(c->row->path, c->collections);
  *raw = RawCounter{CSTATUS_INVALID_DATA, 0, 0, 0, 1};
  if (row != nullptr && row->has_raw()) *raw = row->raw_at(c->collections);
  return 0;
}

Status get_raw_counter_array(Counter counter, std::vector<RawArrayItem>* items) {
  if (items == nullptr) return INVALID_ARGUMENT;
  items->clear();
  std::vector<const Row*> found;
  if (Status st = array_rows(counter, &found); st != 0) return st;
  const int n = static_cast<TableCounter*>(counter)->collections;
  for (const Row* r : found) {
    if (!r->has_raw()) {
      items->clear();
      return NOT_IMPLEMENTED;
    }
    items->push_back(RawArrayItem{instance_of(r->parts), r->raw_at(n)});
  }
  return 0;
}

Status calculate_counter_from_raw(Counter counter, uint32_t format, const RawCounter* newer,
                                  const RawCounter* older, CounterValue* value) {
  CounterInfo info;
  if (Status st = get_counter_info(counter, &info); st != 0) return st;
  return calculate_from_raw(info, format, newer, older, value);
}

Status close_query(Query query) {
  auto* q = query;
  std::string tally;
  if (platform::get_environment("VANTRIC_SIM_TALLY", tally))
    std::fprintf(stderr, "vantric-sim: %d adds, %d array adds, %d array reads\n", q->adds,
                 q->array_adds, q->array_reads);
  for (TableCounter* c : q->counters) delete c;
  delete q;
  return 0;
}

bool get_computer_name(char* buffer, uint32_t* size) {
  return platform::computer_name(buffer, size);
}

void sleep_ms(uint32_t) {}

Status add_english_counter(Query query, const char* full_path, Counter* counter) {
  return add_counter(query, full_path, counter);
}

Status enum_objects(std::vector<std::string>* objects) {
  if (objects == nullptr) return INVALID_ARGUMENT;
  objects->clear();
  for (const Row* r : served_rows())
    if (!contains(*objects, r->parts.object)) objects->push_back(r->parts.object);
  return 0;
}

Status enum_object_items(const char* object, std::vector<CounterInfo>* counters,
                         std::vector<std::string>* instances) {
  if (object == nullptr || counters == nullptr || instances == nullptr) return INVALID_ARGUMENT;
  counters->clear();
  instances->clear();
  std::vector<std::string> names;
  bool found = false;
  for (const Row* r : served_rows()) {
    if (!iequals(r->parts.object, object)) continue;
    found = true;
    if (!contains(names, r->parts.counter)) {
      names.push_back(r->parts.counter);
      counters->push_back(info_of(*r));
    }
    if (r->parts.has_instance && !contains(*instances, instance_of(r->parts)))
      instances->push_back(instance_of(r->parts));
  }
  return found ? 0 : CSTATUS_NO_OBJECT;
}

Status expand_wildcard_path(const char* path, std::vector<std::string>* paths) {
  if (path == nullptr || paths == nullptr) return INVALID_ARGUMENT;
  paths->clear();
  ParsedPath want;
  if (Status st = parse_path(path, want, true); st != 0) return st;
  if (want.has_machine && !iequals(want.machine, local_name())) return CSTATUS_NO_MACHINE;
  const std::string instance = instance_of(want);
  bool object_found = false;
  for (const Row* r : served_rows()) {
    if (!iequals(r->parts.object, want.object)) continue;
    object_found = true;
    if (r->parts.has_instance != want.has_instance) continue;
    if (want.has_instance && !wildcard_match(instance, instance_of(r->parts))) continue;
    if (!wildcard_match(want.counter, r->parts.counter)) continue;
    // A path with rows for several collections is listed once.
    if (std::find(paths->begin(), paths->end(), r->path) == paths->end()) paths->push_back(r->path);
  }
  return object_found ? 0 : CSTATUS_NO_OBJECT;
}

Status get_counter_info(Counter counter, CounterInfo* info) {
  if (counter == nullptr) return INVALID_HANDLE;
  if (info == nullptr) return INVALID_ARGUMENT;
  const auto* c = counter;
  const Row* row = c->row;
  // An array tells what the first row of its object and counter tells.
  for (const Row* r : served_rows()) {
    if (row != nullptr) break;
    if (iequals(r->parts.object, c->pattern.object) &&
        iequals(r->parts.counter, c->pattern.counter))
      row = r;
  }
  if (row == nullptr) return CSTATUS_NO_COUNTER;
  *info = info_of(*row);
  return 0;
}

// The table says everything in its statuses.
std::string failure_detail(Query, Counter) { return ""; }

}  // namespace perfdata
