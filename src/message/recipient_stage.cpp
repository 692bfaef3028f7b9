// teslo_envrcpt: the recipient stage.
#include "daemon/callbacks.hpp"

sfsistat teslo_envrcpt(SMFICTX*, char**) { return SMFIS_CONTINUE; }
