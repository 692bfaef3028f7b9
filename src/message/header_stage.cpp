// teslo_header and teslo_eoh: the header checks.
#include "daemon/callbacks.hpp"

sfsistat teslo_header(SMFICTX*, char*, char*) { return SMFIS_CONTINUE; }
sfsistat teslo_eoh(SMFICTX*) { return SMFIS_CONTINUE; }
