// teslo_eom: the end-of-message stage.
#include "daemon/callbacks.hpp"

sfsistat teslo_eom(SMFICTX*) { return SMFIS_CONTINUE; }
