// The registration record the filter program hands to smfi_register once
// at its start.
#pragma once

#include <libmilter/mfapi.h>

// Name "KORVAL", protocol version 2, flags 0x3d (add headers, add and delete
// recipients, change headers, quarantine) and the ten callbacks.
extern struct smfiDesc filter_description;
