// Backends without a counter registry of their own (Linux, the table): an
// object they do not serve is simply not served, with nothing to repair, and
// discovery is theirs, behind no system call that could be missing.
#include "perfdata/perfdata.h"

namespace perfdata {

std::string describe_missing_object(const char*) { return ""; }

std::string missing_call(Discovery operation) { return discovery_words(operation); }

}  // namespace perfdata
