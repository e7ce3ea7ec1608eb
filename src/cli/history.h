#pragma once

namespace vantorel {

class Options;

// `vantorel-cli history`: the records of the results database, filtered,
// in the --format asked. Returns the exit status.
int printHistory(const Options &o);

} // namespace vantorel
