// The ten libmilter callbacks of the filter, in SMTP order.
// libmilter calls those of one connection one after another on a worker
// thread; different connections run in parallel.
//
// SMTP order is not the only order they see. The ones they handle:
// - Close without connect. A connection refused at connect (blacklisted
//   client, no memory, smfi_setpriv failed) or dropped before it still gets
//   teslo_close, with no context attached: close answers SMFIS_ACCEPT and
//   frees nothing. Any other callback without a context logs
//   "smfi_getpriv failed!" and answers a temporary failure (teslo_helo
//   continues).
// - Abort, then a new MAIL FROM on the same connection. teslo_abort drops
//   the message record (and with it the message's unanswered DNS
//   questions); the next teslo_envfrom starts the message from the
//   connection's own state: every per-message verdict, exemption, Subject
//   and SPF result is cleared whether or not a record was left, and only
//   what connect decided (the DDNS flags, the client's exemption) stays.
// - Several HELOs. Each replaces the HELO name; the HELO check runs at
//   MAIL FROM on the latest one.
// - A refusal at a header with no abort after it. After teslo_header
//   refuses (undisclosed recipients under "eject") libmilter may call no
//   abort: the message record stays until the next MAIL FROM or close,
//   which release it.
// - A new MAIL FROM after the end of a message, with no abort between:
//   teslo_envfrom releases the finished message's record itself.
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
