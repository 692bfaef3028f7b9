// teslo_body: the body scan.
#include "daemon/callbacks.hpp"

sfsistat teslo_body(SMFICTX*, unsigned char*, size_t) { return SMFIS_CONTINUE; }
