// The context of a connection, as every callback after connect fetches it.
#pragma once

#include <libmilter/mfapi.h>

#include "connection/connection_context.hpp"

// The context attached to `ctx` by connect, or null after logging
// "smfi_getpriv failed!" (LOG_CRIT); the callback then answers
// SMFIS_TEMPFAIL.
connection_context* context_of(SMFICTX* ctx);
