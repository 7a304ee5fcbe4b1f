// placeholder: replaced when this module lands
#include "corvale/cuesheet/routing.h"
void ReadRouting(const char*, int, int*, Routing&) {}
void ReadVcaAssignment(const char*, Routing&) {}
void RouteChannel(const std::string&, int, Routing&) {}
void RouteVCA(const std::string&, int, Routing&) {}
void CheckFeederMutes(const Routing&, int*, int) {}
