#include "support/stand_in_http_server.h"  // the benchmarks build this as their object
