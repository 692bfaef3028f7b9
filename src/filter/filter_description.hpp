// The registration record handed to smfi_register once at start-up.
#pragma once

#include <libmilter/mfapi.h>

// Name "KORVAL", protocol version 2, flags 0x3d (add headers, add and delete
// recipients, change headers, quarantine) and the ten callbacks.
extern struct smfiDesc filter_description;
