// minimal_filter: the ceiling for any libmilter filter on this machine. It
// registers the same ten callbacks as the daemon (protocol version 2, the
// same modification rights) and every callback only continues, so a load
// run against it measures libmilter and the protocol alone.
//
// usage: minimal_filter SOCKET_PATH [PID_FILE]
// Runs in the foreground until SIGTERM/SIGINT/SIGHUP (libmilter's signal
// thread ends the main loop).
#include <cstdio>
#include <libmilter/mfapi.h>
#include <string>
#include <unistd.h>

namespace {

sfsistat on_connect(SMFICTX*, char*, _SOCK_ADDR*) { return SMFIS_CONTINUE; }
sfsistat on_helo(SMFICTX*, char*) { return SMFIS_CONTINUE; }
sfsistat on_envfrom(SMFICTX*, char**) { return SMFIS_CONTINUE; }
sfsistat on_envrcpt(SMFICTX*, char**) { return SMFIS_CONTINUE; }
sfsistat on_header(SMFICTX*, char*, char*) { return SMFIS_CONTINUE; }
sfsistat on_eoh(SMFICTX*) { return SMFIS_CONTINUE; }
sfsistat on_body(SMFICTX*, unsigned char*, size_t) { return SMFIS_CONTINUE; }
sfsistat on_eom(SMFICTX*) { return SMFIS_CONTINUE; }
sfsistat on_abort(SMFICTX*) { return SMFIS_CONTINUE; }
sfsistat on_close(SMFICTX*) { return SMFIS_CONTINUE; }

char filter_name[] = "MINIMAL";

smfiDesc minimal_description = {
    filter_name,
    2,
    SMFIF_ADDHDRS | SMFIF_ADDRCPT | SMFIF_DELRCPT | SMFIF_CHGHDRS | SMFIF_QUARANTINE,
    on_connect,
    on_helo,
    on_envfrom,
    on_envrcpt,
    on_header,
    on_eoh,
    on_body,
    on_eom,
    on_abort,
    on_close,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: minimal_filter SOCKET_PATH [PID_FILE]\n");
    return 64;
  }
  const std::string connection = std::string("unix:") + argv[1];
  if (smfi_register(minimal_description) != MI_SUCCESS) {
    std::fprintf(stderr, "minimal_filter: smfi_register failed\n");
    return 69;
  }
  if (smfi_setconn(const_cast<char*>(connection.c_str())) != MI_SUCCESS ||
      smfi_opensocket(true) != MI_SUCCESS) {
    std::fprintf(stderr, "minimal_filter: cannot listen on %s\n", argv[1]);
    return 69;
  }
  if (argc == 3) {
    FILE* pid_file = std::fopen(argv[2], "w");
    if (pid_file == nullptr) {
      std::fprintf(stderr, "minimal_filter: cannot write %s\n", argv[2]);
      return 73;
    }
    std::fprintf(pid_file, "%ld\n", static_cast<long>(getpid()));
    std::fclose(pid_file);
  }
  return smfi_main() == MI_SUCCESS ? 0 : 1;
}
