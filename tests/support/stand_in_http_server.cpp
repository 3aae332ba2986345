// Everything is in the header; the benchmarks build this file as their support object.
#include "support/stand_in_http_server.h"
