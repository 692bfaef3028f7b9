// Turning a check's configured action into its verdict flag.
#pragma once

#include <cstdint>

#include "spamconfig/spam_config.hpp"

// Raises the one flag that `action` names: header, eject or quarantine;
// ACTION_OFF raises none.
inline void raise_flag(check_action action, uint8_t& header, uint8_t& eject,
                       uint8_t& quarantine) {
  switch (action) {
    case ACTION_HEADER: header = 1; break;
    case ACTION_EJECT: eject = 1; break;
    case ACTION_QUARANTINE: quarantine = 1; break;
    case ACTION_OFF: break;
  }
}
