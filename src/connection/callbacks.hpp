// The ten libmilter callbacks of the filter, in SMTP order.
// libmilter calls those of one connection one after another on a worker
// thread; different connections run in parallel.
#pragma once

#include <libmilter/mfapi.h>

sfsistat teslo_connect(SMFICTX* ctx, char* hostname, _SOCK_ADDR* hostaddr);
sfsistat teslo_helo(SMFICTX* ctx, char* helohost);
sfsistat teslo_envfrom(SMFICTX* ctx, char** argv);
sfsistat teslo_envrcpt(SMFICTX* ctx, char** argv);
sfsistat teslo_header(SMFICTX* ctx, char* name, char* value);
sfsistat teslo_eoh(SMFICTX* ctx);
sfsistat teslo_body(SMFICTX* ctx, unsigned char* chunk, size_t length);
sfsistat teslo_eom(SMFICTX* ctx);
sfsistat teslo_abort(SMFICTX* ctx);
sfsistat teslo_close(SMFICTX* ctx);
