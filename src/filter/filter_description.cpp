#include "filter/filter_description.hpp"

#include "common/joined_literal.hpp"
#include "common/paths.hpp"
#include "connection/callbacks.hpp"

namespace {

// libmilter takes the name as char*: a writable copy of the fixed name.
auto filter_name = join_literals(names::filter_name);

}  // namespace

struct smfiDesc filter_description = {
    filter_name.text,
    2,
    SMFIF_ADDHDRS | SMFIF_ADDRCPT | SMFIF_DELRCPT | SMFIF_CHGHDRS | SMFIF_QUARANTINE,
    teslo_connect,
    teslo_helo,
    teslo_envfrom,
    teslo_envrcpt,
    teslo_header,
    teslo_eoh,
    teslo_body,
    teslo_eom,
    teslo_abort,
    teslo_close,
    nullptr,  // unknown commands: not in protocol version 2
    nullptr,  // DATA
    nullptr,  // option negotiation
};

static_assert(SMFIF_ADDHDRS + SMFIF_ADDRCPT + SMFIF_DELRCPT + SMFIF_CHGHDRS + SMFIF_QUARANTINE ==
              0x3d);
