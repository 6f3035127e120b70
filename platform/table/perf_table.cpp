// Performance data answered from a table, for the test build of the program.
//
// The file named by VANTRIC_SIM_COUNTERS holds one counter per line:
//   <path without computer name> TAB <add status> TAB <value status> TAB <value>
// Statuses are decimal or hexadecimal with a 0x prefix; the value is a C
// floating literal (inf, nan and hexadecimal floats too).
// Empty lines and lines starting with '#' are ignored.
//
// VANTRIC_SIM_FAULT (access, divzero, stack) provokes that fault when the
// query is opened, so the failure report can be tested end to end.
#include "platform/perfdata.h"

#include <charconv>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/computer_name.h"

namespace {

struct Row {
  std::string path;
  uint32_t add_status;
  uint32_t value_status;
  double value;
};

struct TableCounter {
  const Row* row;
  int collections = 0;
};

struct TableQuery {
  std::vector<TableCounter*> counters;
};

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

std::vector<Row> load_rows() {
  std::vector<Row> rows;
  const char* name = std::getenv("VANTRIC_SIM_COUNTERS");
  if (name == nullptr) return rows;
  FILE* f = std::fopen(name, "rb");
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
    if (fields.size() != 4 || !parse_status(fields[1], &row.add_status) ||
        !parse_status(fields[2], &row.value_status)) {
      std::fprintf(stderr, "vantric-sim: bad table line: %s\n", l.c_str());
      std::exit(99);
    }
    if (!parse_value(fields[3], &row.value)) {
      std::fprintf(stderr, "vantric-sim: bad value: %s\n", l.c_str());
      std::exit(99);
    }
    row.path = fields[0];
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
  const char* fault = std::getenv("VANTRIC_SIM_FAULT");
  if (fault == nullptr) return;
  if (std::strcmp(fault, "access") == 0) {
    *static_cast<volatile int*>(nullptr) = 1;
  } else if (std::strcmp(fault, "divzero") == 0) {
    volatile int n = 7;
    n = n / fault_zero;
    // Division does not trap on every processor (ARM gives 0); there the
    // fault is raised the way those processors' runtimes raise it.
    std::raise(SIGFPE);
  } else if (std::strcmp(fault, "stack") == 0) {
    recurse_forever(0);
  }
}

const Row unknown_row{"", pdh::CSTATUS_NO_OBJECT, 0, 0.0};
const Row no_machine_row{"", pdh::CSTATUS_NO_MACHINE, 0, 0.0};

}  // namespace

namespace pdh {

Status open_query(Query* query) {
  provoke_fault();
  *query = new TableQuery;
  return 0;
}

Status add_counter(Query query, const char* full_path, Counter* counter) {
  *counter = nullptr;
  char name[16];
  uint32_t size = sizeof name;
  std::string prefix = "\\\\";
  if (get_computer_name(name, &size)) prefix.append(name, size);
  const Row* row = &no_machine_row;
  if (std::strncmp(full_path, prefix.c_str(), prefix.size()) == 0) {
    row = &unknown_row;
    const char* path = full_path + prefix.size();
    for (const Row& r : rows())
      if (r.path == path) {
        row = &r;
        break;
      }
  }
  if (row->add_status != 0) return row->add_status;
  auto* c = new TableCounter{row};
  static_cast<TableQuery*>(query)->counters.push_back(c);
  *counter = c;
  return 0;
}

Status collect_query_data(Query query) {
  for (TableCounter* c : static_cast<TableQuery*>(query)->counters) ++c->collections;
  return 0;
}

Status get_formatted_counter_value(Counter counter, uint32_t, CounterValue* value) {
  auto* c = static_cast<TableCounter*>(counter);
  if (c == nullptr) return INVALID_HANDLE;
  // Like a rate counter: a value exists only after two collections.
  if (c->collections < 2) {
    value->c_status = CSTATUS_INVALID_DATA;
    return CSTATUS_INVALID_DATA;
  }
  value->c_status = c->row->value_status;
  value->value = c->row->value;
  return 0;
}

Status close_query(Query query) {
  auto* q = static_cast<TableQuery*>(query);
  for (TableCounter* c : q->counters) delete c;
  delete q;
  return 0;
}

bool get_computer_name(char* buffer, uint32_t* size) { return platform::computer_name(buffer, size); }

void sleep_ms(uint32_t) {}

}  // namespace pdh
