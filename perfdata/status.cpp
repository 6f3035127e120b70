// What every backend and every program means by a status and a kind.
#include "perfdata/perfdata.h"

namespace perfdata {

bool needs_two_samples(CounterKind kind) {
  return kind == CounterKind::rate || kind == CounterKind::average || kind == CounterKind::percent;
}

const char* discovery_words(Discovery operation) {
  switch (operation) {
    case Discovery::object_enumeration:
      return "object enumeration";
    case Discovery::counter_enumeration:
      return "counter enumeration";
    case Discovery::wildcard_expansion:
      break;
  }
  return "wildcard expansion";
}

std::string status_words(Status status) {
  switch (status) {
    case CSTATUS_NO_OBJECT:
      return "no such object";
    case CSTATUS_NO_COUNTER:
      return "no such counter";
    case CSTATUS_NO_INSTANCE:
      return "no such instance";
    case CSTATUS_NO_MACHINE:
      return "no such computer";
    case CSTATUS_ITEM_NOT_VALIDATED:
      return "counter not validated";
    case CSTATUS_INVALID_DATA:
      return "data not valid yet";
    case CSTATUS_BAD_COUNTERNAME:
      return "malformed counter path";
    case NOT_IMPLEMENTED:
      return "not provided by this system";
    default:
      break;
  }
  // The interface stays free of the number-text library: eight hex digits
  // need no more than this.
  std::string text = "status 0x";
  for (int shift = 28; shift >= 0; shift -= 4) text += "0123456789ABCDEF"[(status >> shift) & 0xF];
  return text;
}

}  // namespace perfdata
